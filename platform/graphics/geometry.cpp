#include "platform/graphics/geometry.hpp"

#include <algorithm>
#include <cmath>

namespace platform {

CGFloat CGRectGetMinX(CGRect r) {
  return r.size.width < 0 ? r.origin.x + r.size.width : r.origin.x;
}
CGFloat CGRectGetMaxX(CGRect r) {
  return r.size.width < 0 ? r.origin.x : r.origin.x + r.size.width;
}
CGFloat CGRectGetMidX(CGRect r) { return r.origin.x + r.size.width / 2; }
CGFloat CGRectGetMinY(CGRect r) {
  return r.size.height < 0 ? r.origin.y + r.size.height : r.origin.y;
}
CGFloat CGRectGetMaxY(CGRect r) {
  return r.size.height < 0 ? r.origin.y : r.origin.y + r.size.height;
}
CGFloat CGRectGetMidY(CGRect r) { return r.origin.y + r.size.height / 2; }
CGFloat CGRectGetWidth(CGRect r) { return std::fabs(r.size.width); }
CGFloat CGRectGetHeight(CGRect r) { return std::fabs(r.size.height); }

bool CGRectIsNull(CGRect r) {
  constexpr CGFloat inf = std::numeric_limits<CGFloat>::infinity();
  return r.origin.x == inf || r.origin.y == inf;
}

bool CGRectIsEmpty(CGRect r) { return CGRectIsNull(r) || r.size.width == 0 || r.size.height == 0; }

bool CGRectIsInfinite(CGRect r) { return r == CGRectInfinite; }

CGRect CGRectStandardize(CGRect r) {
  if (CGRectIsNull(r)) return CGRectNull;
  return CGRectMake(CGRectGetMinX(r), CGRectGetMinY(r), CGRectGetWidth(r), CGRectGetHeight(r));
}

CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy) {
  if (CGRectIsNull(r)) return CGRectNull;
  CGRect s = CGRectStandardize(r);
  s.origin.x += dx;
  s.origin.y += dy;
  s.size.width -= 2 * dx;
  s.size.height -= 2 * dy;
  if (s.size.width < 0 || s.size.height < 0) return CGRectNull;
  return s;
}

CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy) {
  if (CGRectIsNull(r)) return CGRectNull;
  CGRect s = CGRectStandardize(r);
  s.origin.x += dx;
  s.origin.y += dy;
  return s;
}

CGRect CGRectUnion(CGRect a, CGRect b) {
  if (CGRectIsNull(a)) return CGRectStandardize(b);
  if (CGRectIsNull(b)) return CGRectStandardize(a);
  const CGFloat x1 = std::min(CGRectGetMinX(a), CGRectGetMinX(b));
  const CGFloat y1 = std::min(CGRectGetMinY(a), CGRectGetMinY(b));
  const CGFloat x2 = std::max(CGRectGetMaxX(a), CGRectGetMaxX(b));
  const CGFloat y2 = std::max(CGRectGetMaxY(a), CGRectGetMaxY(b));
  return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

namespace {
bool hasNaN(CGRect r) {
  return std::isnan(r.origin.x) || std::isnan(r.origin.y) || std::isnan(r.size.width) ||
         std::isnan(r.size.height);
}
}  // namespace

CGRect CGRectIntersection(CGRect a, CGRect b) {
  // A NaN edge overlaps nothing; std::max/min would silently drop it.
  if (CGRectIsNull(a) || CGRectIsNull(b) || hasNaN(a) || hasNaN(b)) return CGRectNull;
  const CGFloat x1 = std::max(CGRectGetMinX(a), CGRectGetMinX(b));
  const CGFloat y1 = std::max(CGRectGetMinY(a), CGRectGetMinY(b));
  const CGFloat x2 = std::min(CGRectGetMaxX(a), CGRectGetMaxX(b));
  const CGFloat y2 = std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
  if (x1 > x2 || y1 > y2) return CGRectNull;
  return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

CGRect CGRectIntegral(CGRect r) {
  if (CGRectIsNull(r)) return CGRectNull;
  const CGFloat x1 = std::floor(CGRectGetMinX(r));
  const CGFloat y1 = std::floor(CGRectGetMinY(r));
  const CGFloat x2 = std::ceil(CGRectGetMaxX(r));
  const CGFloat y2 = std::ceil(CGRectGetMaxY(r));
  return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

bool CGRectContainsPoint(CGRect r, CGPoint p) {
  if (CGRectIsNull(r)) return false;
  return p.x >= CGRectGetMinX(r) && p.x < CGRectGetMaxX(r) && p.y >= CGRectGetMinY(r) &&
         p.y < CGRectGetMaxY(r);
}

bool CGRectContainsRect(CGRect a, CGRect b) { return CGRectEqualToRect(CGRectUnion(a, b), a); }

bool CGRectIntersectsRect(CGRect a, CGRect b) { return !CGRectIsNull(CGRectIntersection(a, b)); }

bool CGRectEqualToRect(CGRect a, CGRect b) {
  if (CGRectIsNull(a) || CGRectIsNull(b)) return CGRectIsNull(a) && CGRectIsNull(b);
  return CGRectStandardize(a) == CGRectStandardize(b);
}

bool CGPointEqualToPoint(CGPoint a, CGPoint b) { return a == b; }
bool CGSizeEqualToSize(CGSize a, CGSize b) { return a == b; }

CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
  return {t1.a * t2.a + t1.b * t2.c,         t1.a * t2.b + t1.b * t2.d,
          t1.c * t2.a + t1.d * t2.c,         t1.c * t2.b + t1.d * t2.d,
          t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformInvert(CGAffineTransform t) {
  const CGFloat det = t.a * t.d - t.b * t.c;
  if (det == 0 || !std::isfinite(det)) return t;
  return {t.d / det, -t.b / det, -t.c / det, t.a / det, (t.c * t.ty - t.d * t.tx) / det, (t.b * t.tx - t.a * t.ty) / det};
}

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
  return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t) {
  if (CGRectIsNull(r) || CGRectIsInfinite(r)) return r;
  r = CGRectStandardize(r);
  const CGPoint corners[] = {CGPointApplyAffineTransform(r.origin, t),
                             CGPointApplyAffineTransform({CGRectGetMaxX(r), r.origin.y}, t),
                             CGPointApplyAffineTransform({r.origin.x, CGRectGetMaxY(r)}, t),
                             CGPointApplyAffineTransform({CGRectGetMaxX(r), CGRectGetMaxY(r)}, t)};
  CGFloat x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
  for (const auto& p : corners) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

}  // namespace platform
