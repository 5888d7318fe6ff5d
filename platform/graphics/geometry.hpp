#pragma once

// Core Graphics geometry with the platform's semantics: rectangles may carry
// negative sizes (functions read them through their standardised form), the
// null rectangle is the "no rectangle" result and the identity of a union.

#include <limits>

namespace platform {

using CGFloat = double;

struct CGPoint {
  CGFloat x = 0, y = 0;
  bool operator==(const CGPoint&) const = default;
};

struct CGSize {
  CGFloat width = 0, height = 0;
  bool operator==(const CGSize&) const = default;
};

struct CGRect {
  CGPoint origin;
  CGSize size;
  bool operator==(const CGRect&) const = default;
};

constexpr CGPoint CGPointMake(CGFloat x, CGFloat y) { return {x, y}; }
constexpr CGSize CGSizeMake(CGFloat width, CGFloat height) { return {width, height}; }
constexpr CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return {{x, y}, {width, height}};
}

inline constexpr CGPoint CGPointZero{};
inline constexpr CGSize CGSizeZero{};
inline constexpr CGRect CGRectZero{};
// As on the platform: origin at +infinity, zero size.
inline constexpr CGRect CGRectNull{
    {std::numeric_limits<CGFloat>::infinity(), std::numeric_limits<CGFloat>::infinity()}, {0, 0}};
inline constexpr CGRect CGRectInfinite{
    {-std::numeric_limits<CGFloat>::max() / 2, -std::numeric_limits<CGFloat>::max() / 2},
    {std::numeric_limits<CGFloat>::max(), std::numeric_limits<CGFloat>::max()}};

// Min/max account for negative sizes; width and height are absolute values.
CGFloat CGRectGetMinX(CGRect r);
CGFloat CGRectGetMidX(CGRect r);
CGFloat CGRectGetMaxX(CGRect r);
CGFloat CGRectGetMinY(CGRect r);
CGFloat CGRectGetMidY(CGRect r);
CGFloat CGRectGetMaxY(CGRect r);
CGFloat CGRectGetWidth(CGRect r);
CGFloat CGRectGetHeight(CGRect r);

bool CGRectIsNull(CGRect r);
bool CGRectIsEmpty(CGRect r);  // null, or zero width or height
bool CGRectIsInfinite(CGRect r);

CGRect CGRectStandardize(CGRect r);
CGRect CGRectInset(CGRect r, CGFloat dx, CGFloat dy);  // negative result size -> null
CGRect CGRectOffset(CGRect r, CGFloat dx, CGFloat dy);
CGRect CGRectUnion(CGRect a, CGRect b);         // null is the identity
CGRect CGRectIntersection(CGRect a, CGRect b);  // disjoint -> null; touching -> zero size
CGRect CGRectIntegral(CGRect r);
// Half-open: min edges inclusive, max edges exclusive.
bool CGRectContainsPoint(CGRect r, CGPoint p);
// True when b adds nothing to a (so a null b is contained in anything).
bool CGRectContainsRect(CGRect a, CGRect b);
// True when the intersection is not null (rectangles that only touch intersect).
bool CGRectIntersectsRect(CGRect a, CGRect b);
bool CGRectEqualToRect(CGRect a, CGRect b);  // compares standardised forms
bool CGPointEqualToPoint(CGPoint a, CGPoint b);
bool CGSizeEqualToSize(CGSize a, CGSize b);

// An affine map of the plane: x' = a x + c y + tx, y' = b x + d y + ty.
struct CGAffineTransform {
  CGFloat a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
  bool operator==(const CGAffineTransform&) const = default;
};
inline constexpr CGAffineTransform CGAffineTransformIdentity{};
constexpr CGAffineTransform CGAffineTransformMakeScale(CGFloat sx, CGFloat sy) { return {sx, 0, 0, sy, 0, 0}; }
constexpr CGAffineTransform CGAffineTransformMakeTranslation(CGFloat tx, CGFloat ty) { return {1, 0, 0, 1, tx, ty}; }
// t1 first, then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// The inverse; the transform itself when it cannot be inverted.
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);
CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
// The smallest rectangle holding the mapped corners; null stays null, an
// infinite rectangle stays infinite.
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);

// AppKit names for the same types.
using NSPoint = CGPoint;
using NSSize = CGSize;
using NSRect = CGRect;
constexpr NSPoint NSMakePoint(CGFloat x, CGFloat y) { return {x, y}; }
constexpr NSSize NSMakeSize(CGFloat w, CGFloat h) { return {w, h}; }
constexpr NSRect NSMakeRect(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return {{x, y}, {w, h}}; }
inline constexpr NSPoint NSZeroPoint{};
inline constexpr NSSize NSZeroSize{};
inline constexpr NSRect NSZeroRect{};

}  // namespace platform
