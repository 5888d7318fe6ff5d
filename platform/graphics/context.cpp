#include "platform/graphics/context.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <vector>

#include "platform/graphics/context_internal.hpp"
#include "platform/graphics/pixels.hpp"
#include "platform/graphics/scratch_memory.hpp"

namespace platform {
namespace {

// Device space below is cairo's: x right, y DOWN, one unit per pixel, row 0 at
// the top of memory. The CTM maps user space straight into it.

struct Box {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool empty() const { return !(x1 < x2 && y1 < y2); }
  bool finite() const {
    return std::isfinite(x1) && std::isfinite(y1) && std::isfinite(x2) && std::isfinite(y2);
  }
};

Box intersect(Box a, Box b) {
  return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

Box unite(Box a, Box b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
}

// The CTM only ever translates and scales, so this box is the exact device rect.
Box deviceBox(const cairo_matrix_t& m, CGRect r) {
  double xs[2] = {CGRectGetMinX(r), CGRectGetMaxX(r)};
  double ys[2] = {CGRectGetMinY(r), CGRectGetMaxY(r)};
  cairo_matrix_transform_point(&m, &xs[0], &ys[0]);
  cairo_matrix_transform_point(&m, &xs[1], &ys[1]);
  return {std::min(xs[0], xs[1]), std::min(ys[0], ys[1]), std::max(xs[0], xs[1]),
          std::max(ys[0], ys[1])};
}

bool finiteRect(CGRect r) {
  return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
         std::isfinite(r.size.height);
}

struct GState {
  cairo_matrix_t ctm{};
  Box clip;
  double fill[4] = {0, 0, 0, 1};
  double stroke[4] = {0, 0, 0, 1};
  double lineWidth = 1;
  CGLineJoin join = kCGLineJoinMiter;
  CGLineCap cap = kCGLineCapButt;
  double alpha = 1;
  CGBlendMode blend = kCGBlendModeNormal;
  CGInterpolationQuality quality = kCGInterpolationDefault;
  bool antialias = true;
  bool shadow = false;
  CGSize shadowOffset;
  double shadowBlur = 0;
  double shadowColor[4] = {0, 0, 0, 0};
};

enum class Seg { Move, Line, Curve, Close };
struct PathElem {
  Seg kind;
  CGPoint p[3];  // device space
};
using Path = std::vector<PathElem>;

// Gives the surface's memory back to the scratch count (ScratchMemory) too.
struct SurfaceDeleter {
  size_t held = 0;
  void operator()(cairo_surface_t* s) const {
    cairo_surface_destroy(s);
    ScratchMemory::release(held);
  }
};
struct CairoDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Cairo = std::unique_ptr<cairo_t, CairoDeleter>;

Surface makeSurface(cairo_format_t format, int w, int h) {
  const size_t bytes = size_t(std::max(cairo_format_stride_for_width(format, w), 0)) * size_t(std::max(h, 0));
  if (!ScratchMemory::hold(bytes)) return nullptr;
  Surface s(cairo_image_surface_create(format, w, h), SurfaceDeleter{bytes});
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return s;
}

uint32_t* surfaceRow(cairo_surface_t* s, int y) {
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                     static_cast<size_t>(y) * cairo_image_surface_get_stride(s));
}

// The cairo filter of each quality; see context.hpp. High enlargements do
// not get here: enlargedHigh below interpolates them.
cairo_filter_t resamplingFilter(CGInterpolationQuality q) {
  switch (q) {
    case kCGInterpolationNone: return CAIRO_FILTER_NEAREST;
    case kCGInterpolationLow: return CAIRO_FILTER_FAST;
    case kCGInterpolationDefault:
    case kCGInterpolationMedium:
    case kCGInterpolationHigh: break;
  }
  return CAIRO_FILTER_GOOD;
}

// Catmull-Rom taps of one output pixel (device pixel `pixel`) along one
// axis: the four source pixels around its centre, clamped to the image (its
// edges extend), and their weights.
struct Tap {
  std::array<int, 4> index;
  std::array<float, 4> weight;
};

Tap cubicTap(int pixel, double scale, double offset, int size) {
  // The output pixel's centre in source pixels, whose centres are at k + 0.5.
  const double u = scale * (pixel + 0.5) + offset - 0.5;
  const double base = std::floor(u), t = u - base;
  const double t2 = t * t, t3 = t2 * t;
  Tap tap{{}, {float((-t3 + 2 * t2 - t) / 2), float((3 * t3 - 5 * t2 + 2) / 2), float((-3 * t3 + 4 * t2 + t) / 2),
               float((t3 - t2) / 2)}};
  for (int k = 0; k < 4; ++k) tap.index[size_t(k)] = int(std::clamp(base - 1 + k, 0.0, size - 1.0));
  return tap;
}

// sum[n] += weight × from[n]. Out of line: inlined, the vectoriser loses
// the restrict and the loop runs scalar, three times slower.
[[gnu::noinline]] void addScaled(float* __restrict sum, const float* __restrict from, float weight, size_t count) {
  for (size_t n = 0; n < count; ++n) sum[n] += weight * from[n];
}

// A share of the scratch memory (ScratchMemory), held while it lives;
// refused as the allocator refuses, by throwing.
class ScratchHold {
 public:
  explicit ScratchHold(size_t bytes) : bytes_(bytes) {
    if (!ScratchMemory::hold(bytes)) throw std::bad_alloc();
  }
  ScratchHold(const ScratchHold&) = delete;
  ScratchHold& operator=(const ScratchHold&) = delete;
  ~ScratchHold() { ScratchMemory::release(bytes_); }

 private:
  size_t bytes_;
};

// The image enlarged by Catmull-Rom (bicubic) interpolation onto the device
// pixels of `area` (rounded out to whole pixels), whose origin it returns in
// `origin`; `toImage` maps device space to image pixels and only scales.
// Two passes, across then down, over premultiplied pixels; the kernel's
// small overshoot is clamped, colour within alpha. Nothing when the area is
// larger than any canvas, the mapping turns or memory runs short. Beside
// the enlarged picture it works in a few rows: the taps across, four rows
// interpolated across, a row of sums and the source columns a row reads.
//
// An output row reads four source rows, each interpolated across once. Rows
// are kept in a ring of four slots, source row r in slot r mod 4: the four
// rows an output row reads are consecutive (clamped ones repeat), so they
// never share a slot, and as output rows step through the source in one
// direction, a row is interpolated once. Each output pixel depends only on
// its own device position, never on the area, so any area gives the same
// pixels where it covers them.
Surface enlargedHigh(cairo_surface_t* image, const cairo_matrix_t& toImage, Box area, int origin[2]) try {
  const int x0 = int(std::floor(area.x1)), y0 = int(std::floor(area.y1));
  const double wd = std::ceil(area.x2) - x0, hd = std::ceil(area.y2) - y0;
  if (!(wd >= 1 && hd >= 1 && wd <= double(detail::kMaxPixelSide) && hd <= double(detail::kMaxPixelSide)) ||
      toImage.xy != 0 || toImage.yx != 0)
    return nullptr;
  const int w = int(wd), h = int(hd);
  cairo_surface_flush(image);
  const int sw = cairo_image_surface_get_width(image), sh = cairo_image_surface_get_height(image);
  if (sw < 1 || sh < 1 || GraphicsFaults::consume(GraphicsFault::Enlargement)) return nullptr;
  const ScratchHold tapsHeld(sizeof(Tap) * size_t(w));
  std::vector<Tap> across;
  across.reserve(size_t(w));
  int first = sw - 1, last = 0;  // the source columns the area reads
  for (int i = 0; i < w; ++i) {
    across.push_back(cubicTap(x0 + i, toImage.xx, toImage.x0, sw));
    first = std::min(first, *std::min_element(across.back().index.begin(), across.back().index.end()));
    last = std::max(last, *std::max_element(across.back().index.begin(), across.back().index.end()));
  }
  const size_t rowFloats = size_t(w) * 4, columns = size_t(last - first + 1);
  const ScratchHold rowsHeld(sizeof(float) * (5 * rowFloats + 4 * columns));
  std::vector<float> ring(4 * rowFloats), source(4 * columns), sum(rowFloats);
  int held[4] = {-1, -1, -1, -1};  // the source row in each slot
  // Source row r interpolated across, in its slot. Channel c of a pixel is
  // its byte 8c up: blue ... alpha.
  const auto row = [&](int r) -> const float* {
    float* dst = ring.data() + size_t(r % 4) * rowFloats;
    if (held[r % 4] == r) return dst;
    held[r % 4] = r;
    const uint32_t* src = surfaceRow(image, r);
    for (int x = first; x <= last; ++x)
      for (int c = 0; c < 4; ++c) source[size_t(4 * (x - first) + c)] = float(src[x] >> (8 * c) & 255);
    for (int i = 0; i < w; ++i) {
      const Tap& tap = across[size_t(i)];
      float pixel[4] = {0, 0, 0, 0};
      for (int k = 0; k < 4; ++k) {
        const float* p = source.data() + 4 * size_t(tap.index[size_t(k)] - first);
        for (int c = 0; c < 4; ++c) pixel[c] += tap.weight[size_t(k)] * p[c];
      }
      std::copy(pixel, pixel + 4, dst + 4 * i);
    }
    return dst;
  };
  Surface out = makeSurface(CAIRO_FORMAT_ARGB32, w, h);
  if (!out) return nullptr;
  // Down: whole rows at a time.
  for (int j = 0; j < h; ++j) {
    const Tap down = cubicTap(y0 + j, toImage.yy, toImage.y0, sh);
    std::fill(sum.begin(), sum.end(), 0.0f);
    for (int k = 0; k < 4; ++k) addScaled(sum.data(), row(down.index[size_t(k)]), down.weight[size_t(k)], sum.size());
    uint32_t* dst = surfaceRow(out.get(), j);
    // Levels rounded and clamped, colour within alpha.
    const auto level = [](float v, uint32_t most) { return v <= 0 ? 0u : std::min(uint32_t(v + 0.5f), most); };
    for (int i = 0; i < w; ++i) {
      const float* p = sum.data() + 4 * size_t(i);
      const uint32_t a = level(p[3], 255);
      dst[i] = a << 24 | level(p[2], a) << 16 | level(p[1], a) << 8 | level(p[0], a);
    }
  }
  cairo_surface_mark_dirty(out.get());
  origin[0] = x0;
  origin[1] = y0;
  return out;
} catch (const std::bad_alloc&) {
  return nullptr;
}

cairo_operator_t operatorFor(CGBlendMode m) {
  switch (m) {
    case kCGBlendModeCopy: return CAIRO_OPERATOR_SOURCE;
    case kCGBlendModeClear: return CAIRO_OPERATOR_CLEAR;
    default: return CAIRO_OPERATOR_OVER;
  }
}

// Draws the shape into `cr` with the given operator and global alpha.
using Painter = std::function<void(cairo_t*, cairo_operator_t, double)>;

void addBox(cairo_t* cr, Box b) { cairo_rectangle(cr, b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1); }

void appendPath(cairo_t* cr, const Path& path) {
  for (const auto& e : path) {
    switch (e.kind) {
      case Seg::Move: cairo_move_to(cr, e.p[0].x, e.p[0].y); break;
      case Seg::Line: cairo_line_to(cr, e.p[0].x, e.p[0].y); break;
      case Seg::Curve:
        cairo_curve_to(cr, e.p[0].x, e.p[0].y, e.p[1].x, e.p[1].y, e.p[2].x, e.p[2].y);
        break;
      case Seg::Close: cairo_close_path(cr); break;
    }
  }
}

// Three passes of a (2r + 1) box along one line; outside the line counts as 0.
void boxBlurLine(uint8_t* p, int len, size_t step, int r, std::vector<uint8_t>& line) {
  const int n = 2 * r + 1;
  for (int pass = 0; pass < 3; ++pass) {
    for (int i = 0; i < len; ++i) line[static_cast<size_t>(i)] = p[i * step];
    int sum = 0;
    for (int i = 0; i <= r && i < len; ++i) sum += line[static_cast<size_t>(i)];
    for (int i = 0; i < len; ++i) {
      p[i * step] = static_cast<uint8_t>((sum + n / 2) / n);
      if (i + r + 1 < len) sum += line[static_cast<size_t>(i + r + 1)];
      if (i - r >= 0) sum -= line[static_cast<size_t>(i - r)];
    }
  }
}

void blurAlpha(cairo_surface_t* mask, int w, int h, int r) {
  if (r <= 0) return;
  cairo_surface_flush(mask);
  uint8_t* data = cairo_image_surface_get_data(mask);
  const auto stride = static_cast<size_t>(cairo_image_surface_get_stride(mask));
  std::vector<uint8_t> line(static_cast<size_t>(std::max(w, h)));
  for (int y = 0; y < h; ++y) boxBlurLine(data + y * stride, w, 1, r, line);
  for (int x = 0; x < w; ++x) boxBlurLine(data + x, h, stride, r, line);
  cairo_surface_mark_dirty(mask);
}

// Blur radius in device pixels; capped, as wider blurs only cost time on cursor-sized canvases.
int shadowRadius(double blur) { return static_cast<int>(std::lround(std::min(blur, 128.0) / 2)); }

}  // namespace

struct CGContext {
  uint8_t* data = nullptr;
  std::vector<uint8_t> owned;
  int width = 0, height = 0;
  size_t bytesPerRow = 0;
  CGColorSpaceRef space;
  CGBitmapInfo info = 0;
  GState gs;
  std::vector<GState> saved;
  Path path;
  std::optional<CGPoint> current, subpathStart;  // device space

  Box canvas() const { return {0, 0, double(width), double(height)}; }

  bool invertible() const {
    cairo_matrix_t m = gs.ctm;
    return cairo_matrix_invert(&m) == CAIRO_STATUS_SUCCESS;
  }

  // The part of a user-space rectangle that can change the canvas.
  CGRect clampToCanvas(CGRect r) const {
    cairo_matrix_t inv = gs.ctm;
    if (cairo_matrix_invert(&inv) != CAIRO_STATUS_SUCCESS) return CGRectNull;
    const Box reach = reachable();
    const Box b =
        deviceBox(inv, CGRectMake(reach.x1, reach.y1, reach.x2 - reach.x1, reach.y2 - reach.y1));
    return CGRectIntersection(r, CGRectMake(b.x1, b.y1, b.x2 - b.x1, b.y2 - b.y1));
  }

  std::optional<CGPoint> toDevice(CGFloat x, CGFloat y) const {
    cairo_matrix_transform_point(&gs.ctm, &x, &y);
    if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    return CGPoint{x, y};
  }

  void importRegion(cairo_surface_t* s, int x0, int y0, int w, int h) const {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = data + static_cast<size_t>(y0 + y) * bytesPerRow + size_t(x0) * 4;
      detail::rowToArgb32(src, detail::PixelFormat::RGBA, surfaceRow(s, y), w);
    }
    cairo_surface_mark_dirty(s);
  }

  void exportRegion(cairo_surface_t* s, int x0, int y0, int w, int h) {
    cairo_surface_flush(s);
    for (int y = 0; y < h; ++y) {
      uint8_t* dst = data + static_cast<size_t>(y0 + y) * bytesPerRow + size_t(x0) * 4;
      detail::rowFromArgb32(surfaceRow(s, y), dst, detail::PixelFormat::RGBA, w);
    }
  }

  // Converts the pixels the operation can touch into a scratch surface, draws
  // the shadow (if any) and the shape there, and converts them back. Asked
  // to draw in place, it converts them where they are, in the caller's
  // memory, when its alignment lets cairo draw there, and needs no scratch
  // surface. False when memory for that surface runs short.
  bool render(Box extents, bool castsShadow, const Painter& paint, bool inPlace = false) {
    const GState& g = gs;
    const bool shadow = castsShadow && g.shadow && g.blend != kCGBlendModeClear;
    int radius = 0;
    double sdx = 0, sdy = 0;
    Box box = extents;
    if (shadow) {
      radius = shadowRadius(g.shadowBlur);
      sdx = g.shadowOffset.width;
      sdy = -g.shadowOffset.height;  // offsets are y-up, device space is y-down
      const double grow = 3.0 * radius + 1;
      box = unite(box, {extents.x1 + sdx - grow, extents.y1 + sdy - grow, extents.x2 + sdx + grow,
                        extents.y2 + sdy + grow});
    }
    box = intersect(intersect(box, g.clip), canvas());
    if (!box.finite() || box.empty()) return true;
    const int x0 = static_cast<int>(std::floor(box.x1));
    const int y0 = static_cast<int>(std::floor(box.y1));
    const int w = static_cast<int>(std::ceil(box.x2)) - x0;
    const int h = static_cast<int>(std::ceil(box.y2)) - y0;
    if (w <= 0 || h <= 0) return true;
    box = {double(x0), double(y0), double(x0 + w), double(y0 + h)};

    Surface dst = inPlace ? regionInPlace(x0, y0, w, h) : nullptr;
    if (!dst) dst = makeSurface(CAIRO_FORMAT_ARGB32, w, h);
    if (!dst) return false;
    importRegion(dst.get(), x0, y0, w, h);
    cairo_surface_set_device_offset(dst.get(), -x0, -y0);
    const cairo_antialias_t aa = g.antialias ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE;
    {
      Cairo cr(cairo_create(dst.get()));
      cairo_set_antialias(cr.get(), aa);
      addBox(cr.get(), g.clip);
      cairo_clip(cr.get());
      if (shadow) drawShadow(cr.get(), extents, box, radius, sdx, sdy, paint);
      paint(cr.get(), operatorFor(g.blend), g.alpha);
    }
    exportRegion(dst.get(), x0, y0, w, h);
    return true;
  }

  // A cairo surface over the caller's own memory of the region, for
  // importRegion and exportRegion to convert in place (both read a pixel
  // before they write it); nothing where cairo cannot draw there.
  Surface regionInPlace(int x0, int y0, int w, int h) const {
    if (reinterpret_cast<uintptr_t>(data) % 4 != 0 || bytesPerRow % 4 != 0 || bytesPerRow > size_t(INT_MAX))
      return nullptr;
    Surface s(cairo_image_surface_create_for_data(data + size_t(y0) * bytesPerRow + size_t(x0) * 4,
                                                  CAIRO_FORMAT_ARGB32, w, h, int(bytesPerRow)));
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return s;
  }

  // Renders the shape's alpha wherever it can cast a shadow into `region`
  // (inside the canvas or not), blurs it and composites it beneath, in the
  // shadow colour at the shadow offset.
  void drawShadow(cairo_t* cr, Box extents, Box region, int radius, double sdx, double sdy,
                  const Painter& paint) const {
    const double grow = 3.0 * radius + 1;
    const Box m =
        intersect({extents.x1 - grow, extents.y1 - grow, extents.x2 + grow, extents.y2 + grow},
                  {region.x1 - sdx - grow, region.y1 - sdy - grow, region.x2 - sdx + grow,
                   region.y2 - sdy + grow});
    if (!m.finite() || m.empty()) return;
    const int mx = static_cast<int>(std::floor(m.x1)), my = static_cast<int>(std::floor(m.y1));
    const int mw = static_cast<int>(std::ceil(m.x2)) - mx;
    const int mh = static_cast<int>(std::ceil(m.y2)) - my;
    Surface mask = makeSurface(CAIRO_FORMAT_A8, mw, mh);
    if (!mask) return;
    cairo_surface_set_device_offset(mask.get(), -mx, -my);
    {
      Cairo mcr(cairo_create(mask.get()));
      cairo_set_antialias(mcr.get(), cairo_get_antialias(cr));
      paint(mcr.get(), CAIRO_OPERATOR_OVER, gs.alpha);
    }
    blurAlpha(mask.get(), mw, mh, radius);
    cairo_surface_set_device_offset(mask.get(), 0, 0);
    cairo_identity_matrix(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_set_source_rgba(cr, gs.shadowColor[0], gs.shadowColor[1], gs.shadowColor[2],
                          gs.shadowColor[3]);
    cairo_mask_surface(cr, mask.get(), mx + sdx, my + sdy);
  }

  // Device area whose pixels an operation can change, shadow included; shapes
  // are cut to it before they reach cairo, whose fixed-point coordinates
  // cannot hold huge values.
  Box reachable() const { return around(canvas()); }
  // The same within the clip, which holds every pixel an operation can change.
  Box reachableInClip() const { return gs.clip.empty() ? Box{} : around(gs.clip); }
  // A box with the room a shape (or its shadow) needs to reach into it.
  Box around(Box b) const {
    double reach = 2;
    if (gs.shadow)
      reach += std::min(std::fabs(gs.shadowOffset.width) + std::fabs(gs.shadowOffset.height) +
                            3.0 * shadowRadius(gs.shadowBlur) + 1,
                        65536.0);
    return {b.x1 - reach, b.y1 - reach, b.x2 + reach, b.y2 + reach};
  }

  // Extent of filling and/or stroking `p`, in device space.
  Box pathExtents(const Path& p, bool fill, bool evenOdd, bool stroke) const {
    Surface probe = makeSurface(CAIRO_FORMAT_A8, 1, 1);
    if (!probe || p.empty()) return {};
    Cairo cr(cairo_create(probe.get()));
    appendPath(cr.get(), p);
    Box box;
    if (fill) {
      cairo_set_fill_rule(cr.get(), evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
      cairo_fill_extents(cr.get(), &box.x1, &box.y1, &box.x2, &box.y2);
    }
    if (stroke) {
      setStrokeStyle(cr.get());
      double x1, y1, x2, y2;
      cairo_stroke_extents(cr.get(), &x1, &y1, &x2, &y2);
      box = unite(box, deviceBox(gs.ctm, CGRectMake(x1, y1, x2 - x1, y2 - y1)));
    }
    return box;
  }

  // Line width and style are read in user space at stroke time, as on the platform.
  void setStrokeStyle(cairo_t* cr) const {
    cairo_set_matrix(cr, &gs.ctm);
    cairo_set_line_width(cr, gs.lineWidth);
    static constexpr cairo_line_join_t joins[] = {CAIRO_LINE_JOIN_MITER, CAIRO_LINE_JOIN_ROUND,
                                                  CAIRO_LINE_JOIN_BEVEL};
    static constexpr cairo_line_cap_t caps[] = {CAIRO_LINE_CAP_BUTT, CAIRO_LINE_CAP_ROUND,
                                                CAIRO_LINE_CAP_SQUARE};
    cairo_set_line_join(cr, joins[gs.join]);
    cairo_set_line_cap(cr, caps[gs.cap]);
  }

  void paintPath(const Path& p, bool fill, bool evenOdd, bool stroke) {
    // Fills need only the device-space path; strokes read the CTM.
    if (p.empty() || (stroke && !invertible())) return;
    render(pathExtents(p, fill, evenOdd, stroke), true,
           [&](cairo_t* cr, cairo_operator_t op, double alpha) {
             cairo_set_operator(cr, op);
             if (fill) {
               cairo_identity_matrix(cr);
               appendPath(cr, p);
               cairo_set_fill_rule(cr,
                                   evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
               cairo_set_source_rgba(cr, gs.fill[0], gs.fill[1], gs.fill[2], gs.fill[3] * alpha);
               cairo_fill(cr);
             }
             if (stroke) {
               cairo_identity_matrix(cr);
               appendPath(cr, p);
               setStrokeStyle(cr);
               cairo_set_source_rgba(cr, gs.stroke[0], gs.stroke[1], gs.stroke[2],
                                     gs.stroke[3] * alpha);
               cairo_stroke(cr);
             }
           });
  }

  void moveTo(CGFloat x, CGFloat y) {
    auto p = toDevice(x, y);
    if (!p) return;
    path.push_back({Seg::Move, {*p}});
    current = subpathStart = p;
  }
  void lineTo(CGFloat x, CGFloat y) {
    auto p = toDevice(x, y);
    if (!current || !p) return;
    path.push_back({Seg::Line, {*p}});
    current = p;
  }
  void curveTo(CGPoint c1, CGPoint c2, CGPoint to) {  // device space
    if (!current) return;
    path.push_back({Seg::Curve, {c1, c2, to}});
    current = to;
  }
  void closePath() {
    if (!current) return;
    path.push_back({Seg::Close, {}});
    current = subpathStart;
  }
};

namespace detail {

CGContextRef makeBitmapContext(void* data, size_t width, size_t height, size_t bytesPerRow,
                               CGColorSpaceRef space) {
  if (!space || width == 0 || height == 0 || width > kMaxPixelSide || height > kMaxPixelSide ||
      bytesPerRow < 4 * width || bytesPerRow > kMaxPixelBytes / height)
    return nullptr;
  auto c = std::make_shared<CGContext>();
  if (data == nullptr) {
    try {
      c->owned.assign(bytesPerRow * height, 0);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    data = c->owned.data();
  }
  c->data = static_cast<uint8_t*>(data);
  c->width = static_cast<int>(width);
  c->height = static_cast<int>(height);
  c->bytesPerRow = bytesPerRow;
  c->space = std::move(space);
  c->info = kCGImageAlphaPremultipliedLast;
  // User space y up with the origin at the bottom-left: flip into device space.
  cairo_matrix_init(&c->gs.ctm, 1, 0, 0, -1, 0, double(height));
  c->gs.clip = c->canvas();
  return c;
}

void drawPixels(const CGContextRef& c, CGRect rect, const PixelSource& src) {
  if (!c || !finiteRect(rect) || CGRectIsEmpty(rect)) return;
  const CGRect r = CGRectStandardize(rect);
  const Box dev = deviceBox(c->gs.ctm, r);
  if (dev.empty()) return;
  Surface image = makeSurface(CAIRO_FORMAT_ARGB32, src.width, src.height);
  if (!image) return;
  for (int y = 0; y < src.height; ++y)
    rowToArgb32(src.data + static_cast<size_t>(y) * src.bytesPerRow, src.format,
                surfaceRow(image.get(), y), src.width);
  cairo_surface_mark_dirty(image.get());

  // User space -> image pixels: the image's top row lies along the rect's maxY.
  const double sx = src.width / r.size.width, sy = src.height / r.size.height;
  cairo_matrix_t toImage;
  cairo_matrix_init(&toImage, sx, 0, 0, -sy, -r.origin.x * sx, (r.origin.y + r.size.height) * sy);
  // Only what the clip lets through is resampled (a high-quality enlargement
  // allocates its whole area).
  const Box area = intersect(dev, c->reachableInClip());
  const CGInterpolationQuality quality = c->gs.quality;
  // Device space -> image pixels, for a resampler that works in device pixels.
  cairo_matrix_t deviceToImage = c->gs.ctm;
  const bool invertible = cairo_matrix_invert(&deviceToImage) == CAIRO_STATUS_SUCCESS;
  cairo_matrix_multiply(&deviceToImage, &deviceToImage, &toImage);
  // Enlarging on one axis at least and reducing on neither (the CTM only
  // scales): a reduction keeps the box filter's average.
  const double across = std::fabs(deviceToImage.xx), down = std::fabs(deviceToImage.yy);
  const bool enlarges = invertible && across <= 1 && down <= 1 && (across < 1 || down < 1);
  int origin[2] = {0, 0};
  Surface interpolated = quality == kCGInterpolationHigh && enlarges && !area.empty()
                             ? enlargedHigh(image.get(), deviceToImage, area, origin)
                             : nullptr;

  const Painter paint = [&](cairo_t* cr, cairo_operator_t op, double alpha) {
    cairo_save(cr);
    if (interpolated) {
      cairo_identity_matrix(cr);
      cairo_set_source_surface(cr, interpolated.get(), origin[0], origin[1]);
      cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    } else {
      cairo_set_matrix(cr, &c->gs.ctm);
      cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image.get());
      cairo_pattern_set_matrix(pattern, &toImage);
      cairo_pattern_set_filter(pattern, resamplingFilter(quality));
      cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
      cairo_set_source(cr, pattern);  // locks the pattern to the CTM's user space
      cairo_pattern_destroy(pattern);
    }
    cairo_identity_matrix(cr);
    addBox(cr, area);
    if (op == CAIRO_OPERATOR_CLEAR || alpha >= 1) {
      cairo_set_operator(cr, op);
      cairo_fill(cr);
    } else {
      // Copy with alpha a leaves source × a: clear the area, then blend onto it.
      if (op == CAIRO_OPERATOR_SOURCE) {
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_fill_preserve(cr);
      }
      cairo_clip(cr);
      cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
      cairo_paint_with_alpha(cr, alpha);
    }
    cairo_restore(cr);
  };
  // The enlarged picture takes the room of render's scratch surface: the
  // draw happens in the canvas's own memory, so High needs a few rows more
  // than Medium. Where it cannot and memory for that surface beside the
  // picture runs short, the picture goes and the draw is Medium's.
  if (!c->render(dev, true, paint, interpolated != nullptr) && interpolated) {
    interpolated.reset();
    c->render(dev, true, paint);
  }
}

CGFloat contextAlpha(const CGContextRef& c) { return c ? c->gs.alpha : 1; }

}  // namespace detail

// ---- creation --------------------------------------------------------------

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space,
                                   CGBitmapInfo bitmapInfo) {
  if (bitsPerComponent != 8 || detail::pixelFormatFor(bitmapInfo) != detail::PixelFormat::RGBA)
    return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::BitmapContext)) return nullptr;
  auto c = detail::makeBitmapContext(data, width, height, bytesPerRow, std::move(space));
  if (c) c->info = bitmapInfo;
  return c;
}

void* CGBitmapContextGetData(const CGContextRef& c) { return c ? c->data : nullptr; }

CGImageRef CGBitmapContextCreateImage(const CGContextRef& c) {
  if (!c) return nullptr;
  auto bytes = CFDataCreate(c->data, c->bytesPerRow * size_t(c->height));
  return CGImageCreate(size_t(c->width), size_t(c->height), 8, 32, c->bytesPerRow, c->space,
                       c->info, CGDataProviderCreateWithCFData(bytes), nullptr, true,
                       kCGRenderingIntentDefault);
}

// ---- state -------------------------------------------------------------------

void CGContextSaveGState(const CGContextRef& c) {
  if (c) c->saved.push_back(c->gs);
}

void CGContextRestoreGState(const CGContextRef& c) {
  if (!c || c->saved.empty()) return;
  c->gs = c->saved.back();
  c->saved.pop_back();
}

void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty) {
  if (c && std::isfinite(tx) && std::isfinite(ty)) cairo_matrix_translate(&c->gs.ctm, tx, ty);
}

void CGContextScaleCTM(const CGContextRef& c, CGFloat sx, CGFloat sy) {
  if (c && std::isfinite(sx) && std::isfinite(sy)) cairo_matrix_scale(&c->gs.ctm, sx, sy);
}

void CGContextClipToRect(const CGContextRef& c, CGRect rect) {
  if (!c) return;
  // A null or non-finite rectangle leaves nothing drawable.
  const Box box = finiteRect(rect) && !CGRectIsNull(rect) ? deviceBox(c->gs.ctm, rect) : Box{};
  c->gs.clip = intersect(c->gs.clip, box);
  if (c->gs.clip.empty()) c->gs.clip = Box{};
}

void CGContextSetInterpolationQuality(const CGContextRef& c, CGInterpolationQuality q) {
  if (!c) return;
  switch (q) {
    case kCGInterpolationDefault:
    case kCGInterpolationNone:
    case kCGInterpolationLow:
    case kCGInterpolationMedium:
    case kCGInterpolationHigh: c->gs.quality = q; break;
  }
}

CGInterpolationQuality CGContextGetInterpolationQuality(const CGContextRef& c) {
  return c ? c->gs.quality : kCGInterpolationDefault;
}

void CGContextSetBlendMode(const CGContextRef& c, CGBlendMode mode) {
  if (c && (mode == kCGBlendModeNormal || mode == kCGBlendModeCopy || mode == kCGBlendModeClear))
    c->gs.blend = mode;
}

void CGContextSetAlpha(const CGContextRef& c, CGFloat alpha) {
  if (c && !std::isnan(alpha)) c->gs.alpha = std::clamp(alpha, 0.0, 1.0);
}

void CGContextSetShouldAntialias(const CGContextRef& c, bool antialias) {
  if (c) c->gs.antialias = antialias;
}

namespace {
bool setColor(double* out, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  const CGFloat in[4] = {r, g, b, a};
  for (CGFloat v : in)
    if (std::isnan(v)) return false;
  for (int i = 0; i < 4; ++i) out[i] = std::clamp(in[i], 0.0, 1.0);
  return true;
}
}  // namespace

void CGContextSetRGBFillColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  if (c) setColor(c->gs.fill, r, g, b, a);
}

void CGContextSetRGBStrokeColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a) {
  if (c) setColor(c->gs.stroke, r, g, b, a);
}

void CGContextSetLineWidth(const CGContextRef& c, CGFloat width) {
  if (c && std::isfinite(width) && width >= 0) c->gs.lineWidth = width;
}

void CGContextSetLineJoin(const CGContextRef& c, CGLineJoin join) {
  if (c && join >= kCGLineJoinMiter && join <= kCGLineJoinBevel) c->gs.join = join;
}

void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap) {
  if (c && cap >= kCGLineCapButt && cap <= kCGLineCapSquare) c->gs.cap = cap;
}

void CGContextSetShadowWithColor(const CGContextRef& c, CGSize offset, CGFloat blur, CGFloat r,
                                 CGFloat g, CGFloat b, CGFloat a) {
  if (!c || !std::isfinite(offset.width) || !std::isfinite(offset.height) || std::isnan(blur))
    return;
  double color[4];
  if (!setColor(color, r, g, b, a)) return;
  auto& gs = c->gs;
  gs.shadow = color[3] > 0;
  gs.shadowOffset = offset;
  gs.shadowBlur = std::max(blur, 0.0);
  std::copy(color, color + 4, gs.shadowColor);
}

// ---- painting ----------------------------------------------------------------

void CGContextClearRect(const CGContextRef& c, CGRect rect) {
  if (!c || !finiteRect(rect) || CGRectIsEmpty(rect)) return;
  const Box dev = deviceBox(c->gs.ctm, rect);
  const Box area = intersect(dev, c->reachable());
  c->render(dev, false, [&](cairo_t* cr, cairo_operator_t, double) {
    cairo_identity_matrix(cr);
    addBox(cr, area);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_fill(cr);
  });
}

void CGContextDrawImage(const CGContextRef& c, CGRect rect, const CGImageRef& image) {
  if (c && image) detail::drawPixels(c, rect, detail::pixelSourceOf(*image));
}

void CGContextBeginPath(const CGContextRef& c) {
  if (!c) return;
  c->path.clear();
  c->current.reset();
  c->subpathStart.reset();
}

void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
  if (c) c->moveTo(x, y);
}

void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y) {
  if (c) c->lineTo(x, y);
}

void CGContextAddCurveToPoint(const CGContextRef& c, CGFloat cp1x, CGFloat cp1y, CGFloat cp2x,
                              CGFloat cp2y, CGFloat x, CGFloat y) {
  if (!c) return;
  auto c1 = c->toDevice(cp1x, cp1y), c2 = c->toDevice(cp2x, cp2y), to = c->toDevice(x, y);
  if (c1 && c2 && to) c->curveTo(*c1, *c2, *to);
}

void CGContextAddQuadCurveToPoint(const CGContextRef& c, CGFloat cpx, CGFloat cpy, CGFloat x,
                                  CGFloat y) {
  if (!c || !c->current) return;
  auto q = c->toDevice(cpx, cpy), to = c->toDevice(x, y);
  if (!q || !to) return;
  // The cubic with the same curve: control points 2/3 of the way to the quad's.
  const CGPoint from = *c->current;
  const CGPoint c1{from.x + 2.0 / 3.0 * (q->x - from.x), from.y + 2.0 / 3.0 * (q->y - from.y)};
  const CGPoint c2{to->x + 2.0 / 3.0 * (q->x - to->x), to->y + 2.0 / 3.0 * (q->y - to->y)};
  c->curveTo(c1, c2, *to);
}

void CGContextClosePath(const CGContextRef& c) {
  if (c) c->closePath();
}

void CGContextAddRect(const CGContextRef& c, CGRect rect) {
  if (!c || CGRectIsNull(rect)) return;
  const CGRect r = CGRectStandardize(rect);
  c->moveTo(CGRectGetMinX(r), CGRectGetMinY(r));
  c->lineTo(CGRectGetMaxX(r), CGRectGetMinY(r));
  c->lineTo(CGRectGetMaxX(r), CGRectGetMaxY(r));
  c->lineTo(CGRectGetMinX(r), CGRectGetMaxY(r));
  c->closePath();
}

void CGContextAddEllipseInRect(const CGContextRef& c, CGRect rect) {
  if (!c || CGRectIsNull(rect)) return;
  const CGRect r = CGRectStandardize(rect);
  const CGFloat cx = CGRectGetMidX(r), cy = CGRectGetMidY(r);
  const CGFloat rx = r.size.width / 2, ry = r.size.height / 2;
  constexpr CGFloat k = 0.5522847498307936;  // four cubics approximating a circle
  c->moveTo(cx + rx, cy);
  CGContextAddCurveToPoint(c, cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
  CGContextAddCurveToPoint(c, cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
  CGContextAddCurveToPoint(c, cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
  CGContextAddCurveToPoint(c, cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
  c->closePath();
}

void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode) {
  if (!c) return;
  Path path;
  path.swap(c->path);
  c->current.reset();
  c->subpathStart.reset();
  switch (mode) {
    case kCGPathFill: c->paintPath(path, true, false, false); break;
    case kCGPathEOFill: c->paintPath(path, true, true, false); break;
    case kCGPathStroke: c->paintPath(path, false, false, true); break;
    case kCGPathFillStroke: c->paintPath(path, true, false, true); break;
    case kCGPathEOFillStroke: c->paintPath(path, true, true, true); break;
  }
}

void CGContextFillPath(const CGContextRef& c) { CGContextDrawPath(c, kCGPathFill); }
void CGContextEOFillPath(const CGContextRef& c) { CGContextDrawPath(c, kCGPathEOFill); }
void CGContextStrokePath(const CGContextRef& c) { CGContextDrawPath(c, kCGPathStroke); }

namespace {
// Paints a temporary shape, leaving the caller's current path as it was.
void fillShape(const CGContextRef& c, CGRect rect, void (*add)(const CGContextRef&, CGRect)) {
  if (!c || !finiteRect(rect)) return;
  Path saved;
  saved.swap(c->path);
  const auto current = c->current, start = c->subpathStart;
  add(c, rect);
  CGContextDrawPath(c, kCGPathFill);
  c->path.swap(saved);
  c->current = current;
  c->subpathStart = start;
}
}  // namespace

void CGContextFillRect(const CGContextRef& c, CGRect rect) {
  if (c) fillShape(c, c->clampToCanvas(rect), CGContextAddRect);
}

void CGContextFillEllipseInRect(const CGContextRef& c, CGRect rect) {
  fillShape(c, rect, CGContextAddEllipseInRect);
}

}  // namespace platform

namespace platform {

void CGContextDrawWithCairo(const CGContextRef& c, CGRect rect,
                            const std::function<void(cairo_t* cr, double pixelsPerPoint)>& paint) {
  if (!c || !paint || !finiteRect(rect) || CGRectIsEmpty(rect)) return;
  const CGRect r = CGRectStandardize(rect);
  const Box box = intersect(deviceBox(c->gs.ctm, r), c->reachable());
  if (box.empty() || !box.finite()) return;
  // The CTM only translates and scales: its diagonal is the scale each way.
  const double sx = std::fabs(c->gs.ctm.xx), sy = std::fabs(c->gs.ctm.yy);
  if (!(sx > 0) || !(sy > 0)) return;
  const Box whole = deviceBox(c->gs.ctm, r);
  c->render(box, false, [&](cairo_t* cr, cairo_operator_t op, double alpha) {
    cairo_save(cr);
    addBox(cr, box);
    cairo_clip(cr);
    cairo_push_group(cr);
    cairo_translate(cr, whole.x1, whole.y1);
    cairo_scale(cr, sx, sy);
    paint(cr, sx);
    cairo_pop_group_to_source(cr);
    cairo_set_operator(cr, op);
    cairo_paint_with_alpha(cr, alpha);
    cairo_restore(cr);
  });
}

void cairoRoundedRectPath(cairo_t* cr, CGRect r, double radius) {
  radius = std::max(0.0, std::min(radius, std::min(r.size.width, r.size.height) / 2));
  const double x = r.origin.x, y = r.origin.y, w = r.size.width, h = r.size.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + w - radius, y + h - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + h - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

}  // namespace platform
