#include "platform/graphics/context.hpp"
#include "platform/ui/drawing.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/appkit/color.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/appkit/window.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/gaussian_blur.hpp"
#include "platform/ui/layout.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {

namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// The scheme of the node being painted: named colours resolve against it.
thread_local ColorScheme paintingScheme = ColorScheme::light;

void setColor(cairo_t* cr, const Color& named) {
  const Color c = resolvedColor(named, paintingScheme);
  cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.opacity);
}

Color colorParam(const Modifier& m) {
  return Color{m.number("red"), m.number("green"), m.number("blue"), m.number("opacity", 1), m.string("color")};
}

// Symbols: our own vector drawings in a square of the rect.
void drawSymbol(cairo_t* cr, const std::string& name, CGRect rect, const Color& color) {
  const double side = std::min(rect.size.width, rect.size.height);
  const double cx = CGRectGetMidX(rect), cy = CGRectGetMidY(rect), r = side * 0.45;
  setColor(cr, color);
  cairo_set_line_width(cr, std::max(1.0, side * 0.09));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  const bool filled = name.ends_with(".fill");
  const bool circled = name.find("circle") != std::string::npos;
  if (circled) {
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    filled ? cairo_fill(cr) : cairo_stroke(cr);
  }
  // Marks inside the circle are cut out of a filled one.
  if (filled && circled) cairo_set_source_rgba(cr, 1, 1, 1, 1);
  const double u = circled ? r * 0.55 : r;
  if (name.starts_with("exclamationmark.triangle")) {
    // A warning triangle with rounded corners; the mark is cut out of a
    // filled one.
    const double top = cy - u * 0.95, base = cy + u * 0.8, half = u;
    cairo_move_to(cr, cx, top);
    cairo_line_to(cr, cx + half, base);
    cairo_line_to(cr, cx - half, base);
    cairo_close_path(cr);
    if (filled) {
      cairo_stroke_preserve(cr);
      cairo_fill(cr);
      cairo_set_source_rgba(cr, 1, 1, 1, 1);
    } else {
      cairo_stroke(cr);
    }
    cairo_set_line_width(cr, std::max(1.0, side * 0.1));
    cairo_move_to(cr, cx, cy - u * 0.35);
    cairo_line_to(cr, cx, cy + u * 0.2);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy + u * 0.5, std::max(0.7, side * 0.06), 0, 2 * M_PI);
    cairo_fill(cr);
  } else if (name.starts_with("ladybug")) {
    // A round beetle seen from above: head, shell split down the middle,
    // spots and feelers.
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy - u * 0.62, u * 0.3, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_move_to(cr, cx - u * 0.15, cy - u * 0.85);
    cairo_line_to(cr, cx - u * 0.4, cy - u);
    cairo_move_to(cr, cx + u * 0.15, cy - u * 0.85);
    cairo_line_to(cr, cx + u * 0.4, cy - u);
    cairo_stroke(cr);
    cairo_save(cr);
    cairo_translate(cr, cx, cy + u * 0.15);
    cairo_scale(cr, u * 0.78, u * 0.8);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
    filled ? cairo_fill(cr) : cairo_stroke(cr);
    cairo_set_source_rgba(cr, 1, 1, 1, filled ? 1 : 0);
    if (!filled) setColor(cr, color);
    cairo_set_line_width(cr, std::max(0.8, side * 0.05));
    cairo_move_to(cr, cx, cy - u * 0.6);
    cairo_line_to(cr, cx, cy + u * 0.95);
    cairo_stroke(cr);
    for (const auto& [sx, sy] : {std::pair{-0.38, -0.05}, std::pair{0.38, -0.05}, std::pair{-0.35, 0.45}, std::pair{0.35, 0.45}}) {
      cairo_arc(cr, cx + u * sx, cy + u * sy, u * 0.12, 0, 2 * M_PI);
      cairo_fill(cr);
    }
  } else if (name.starts_with("exclamationmark")) {
    cairo_move_to(cr, cx, cy - u);
    cairo_line_to(cr, cx, cy + u * 0.25);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy + u * 0.75, std::max(0.8, side * 0.06), 0, 2 * M_PI);
    cairo_fill(cr);
  } else if (name.starts_with("checkmark")) {
    cairo_move_to(cr, cx - u, cy);
    cairo_line_to(cr, cx - u * 0.25, cy + u * 0.7);
    cairo_line_to(cr, cx + u, cy - u * 0.7);
    cairo_stroke(cr);
  } else if (name.starts_with("xmark")) {
    cairo_move_to(cr, cx - u * 0.7, cy - u * 0.7);
    cairo_line_to(cr, cx + u * 0.7, cy + u * 0.7);
    cairo_move_to(cr, cx + u * 0.7, cy - u * 0.7);
    cairo_line_to(cr, cx - u * 0.7, cy + u * 0.7);
    cairo_stroke(cr);
  } else if (name.starts_with("info")) {
    cairo_move_to(cr, cx, cy - u * 0.1);
    cairo_line_to(cr, cx, cy + u);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy - u * 0.65, std::max(0.8, side * 0.06), 0, 2 * M_PI);
    cairo_fill(cr);
  } else if (name.starts_with("play")) {
    // A triangle pointing right, its centre of mass a little left of the middle.
    cairo_move_to(cr, cx - u * 0.6, cy - u * 0.8);
    cairo_line_to(cr, cx + u * 0.8, cy);
    cairo_line_to(cr, cx - u * 0.6, cy + u * 0.8);
    cairo_close_path(cr);
    filled ? cairo_fill(cr) : cairo_stroke(cr);
  } else if (name.starts_with("pause")) {
    const double bar = u * 0.38, gap = u * 0.22;
    if (filled && !circled) {
      cairo_rectangle(cr, cx - gap - bar, cy - u * 0.8, bar, u * 1.6);
      cairo_rectangle(cr, cx + gap, cy - u * 0.8, bar, u * 1.6);
      cairo_fill(cr);
    } else {
      cairo_move_to(cr, cx - gap - bar / 2, cy - u * 0.7);
      cairo_line_to(cr, cx - gap - bar / 2, cy + u * 0.7);
      cairo_move_to(cr, cx + gap + bar / 2, cy - u * 0.7);
      cairo_line_to(cr, cx + gap + bar / 2, cy + u * 0.7);
      cairo_stroke(cr);
    }
  } else if (name.starts_with("doc")) {
    // A page with a folded corner and, for doc.text, three lines of text.
    const double w = r * 1.4, h = r * 1.8, x = cx - w / 2, y = cy - h / 2, fold = w * 0.32;
    cairo_set_line_width(cr, std::max(1.0, side * 0.07));
    cairo_move_to(cr, x, y);
    cairo_line_to(cr, x + w - fold, y);
    cairo_line_to(cr, x + w, y + fold);
    cairo_line_to(cr, x + w, y + h);
    cairo_line_to(cr, x, y + h);
    cairo_close_path(cr);
    cairo_move_to(cr, x + w - fold, y);
    cairo_line_to(cr, x + w - fold, y + fold);
    cairo_line_to(cr, x + w, y + fold);
    if (name == "doc.text") {
      for (int i = 0; i < 3; ++i) {
        const double ly = y + h * (0.45 + 0.17 * i);
        cairo_move_to(cr, x + w * 0.22, ly);
        cairo_line_to(cr, x + w * (i == 2 ? 0.58 : 0.78), ly);
      }
    }
    cairo_stroke(cr);
  } else if (name == "arrow.right" || name == "arrow.up.right") {
    // A shaft and an open head, along x or up to the right.
    const double ux = 1 / (name == "arrow.right" ? 1 : std::sqrt(2.0)), uy = name == "arrow.right" ? 0 : -ux;
    const double tipX = cx + u * 0.8 * ux, tipY = cy + u * 0.8 * uy;
    cairo_move_to(cr, cx - u * 0.8 * ux, cy - u * 0.8 * uy);
    cairo_line_to(cr, tipX, tipY);
    const double head = u * 0.55;
    for (const double turn : {0.75 * M_PI, -0.75 * M_PI}) {
      const double c = std::cos(turn), sn = std::sin(turn);
      cairo_move_to(cr, tipX, tipY);
      cairo_line_to(cr, tipX + head * (ux * c - uy * sn), tipY + head * (ux * sn + uy * c));
    }
    cairo_stroke(cr);
  } else if (name == "accessibility") {
    // A figure with open arms in a ring.
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy - r * 0.48, r * 0.14, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_move_to(cr, cx - r * 0.5, cy - r * 0.2);
    cairo_line_to(cr, cx + r * 0.5, cy - r * 0.2);
    cairo_move_to(cr, cx, cy - r * 0.2);
    cairo_line_to(cr, cx, cy + r * 0.15);
    cairo_line_to(cr, cx - r * 0.28, cy + r * 0.6);
    cairo_move_to(cr, cx, cy + r * 0.15);
    cairo_line_to(cr, cx + r * 0.28, cy + r * 0.6);
    cairo_stroke(cr);
  } else if (name == "battery.100percent") {
    // A full battery: the case, its cap and the charge filling it.
    const double w = side * 0.8, h = side * 0.42, x = cx - w / 2 - side * 0.04, y = cy - h / 2;
    cairo_set_line_width(cr, std::max(1.0, side * 0.06));
    cairoRoundedRectPath(cr, {{x, y}, {w, h}}, h * 0.25);
    cairo_stroke(cr);
    const double inset = std::max(1.5, side * 0.07);
    cairoRoundedRectPath(cr, {{x + inset, y + inset}, {w - 2 * inset, h - 2 * inset}}, h * 0.12);
    cairo_fill(cr);
    cairo_rectangle(cr, x + w + side * 0.03, cy - h * 0.2, side * 0.05, h * 0.4);
    cairo_fill(cr);
  } else if (name == "wifi") {
    // Three arcs over a dot, opening upwards.
    const double base = cy + r * 0.55;
    for (int i = 1; i <= 3; ++i) {
      cairo_new_path(cr);
      cairo_arc(cr, cx, base, r * 0.36 * i, -M_PI * 0.75, -M_PI * 0.25);
      cairo_stroke(cr);
    }
    cairo_arc(cr, cx, base, std::max(0.8, side * 0.07), 0, 2 * M_PI);
    cairo_fill(cr);
  } else if (name == "switch.2") {
    // Two switches: one on (knob right, filled), one off (knob left).
    const double w = side * 0.7, h = side * 0.3, x = cx - w / 2;
    cairo_set_line_width(cr, std::max(1.0, side * 0.06));
    for (int i = 0; i < 2; ++i) {
      const double y = cy - side * 0.38 + i * side * 0.46;
      cairoRoundedRectPath(cr, {{x, y}, {w, h}}, h / 2);
      if (i == 0) {
        cairo_fill(cr);
      } else {
        cairo_stroke(cr);
        cairo_arc(cr, x + h / 2, y + h / 2, h * 0.32, 0, 2 * M_PI);
        cairo_fill(cr);
      }
    }
  } else if (name.starts_with("circle")) {
    // The circle alone.
  } else {
    // No shape of our own: a box with the name's first letter.
    cairo_rectangle(cr, rect.origin.x + 0.5, rect.origin.y + 0.5, side - 1, side - 1);
    cairo_stroke(cr);
    Font f = Font::system(std::max(6.0, side * 0.6));
    auto m = measureText(name.substr(0, 1), f, std::nullopt);
    drawText(cr, name.substr(0, 1), f,
             {{cx - m.size.width / 2, cy - m.size.height / 2}, m.size}, color);
  }
}

double layerNumber(const CALayer& layer, const char* key) {
  auto v = layer.valueForKey(key);
  const double* d = v ? std::get_if<double>(&*v) : nullptr;
  return d ? *d : 0;
}

bool masksToBounds(const CALayer& layer) {
  auto v = layer.valueForKey("masksToBounds");
  const bool* b = v ? std::get_if<bool>(&*v) : nullptr;
  return b && *b;
}

// A layer's background and its sublayers' (the view's own drawing comes on
// top). Named colours are the light appearance's: the label colour is black.
// The background follows the layer's corner radius; a layer that masks to
// its bounds clips its sublayers to that rounded shape as well.
void paintLayer(cairo_t* cr, const CALayer& layer, CGRect rect) {
  if (layer.isHidden()) return;
  const double radius = layerNumber(layer, "cornerRadius");
  auto name = layer.valueForKey("backgroundColor");
  auto alpha = layer.valueForKey("backgroundColorAlpha");
  auto opacity = layer.valueForKey("opacity");
  if (name && alpha) {
    const double a = std::get<double>(*alpha) * (opacity ? std::get<double>(*opacity) : 1.0);
    cairo_set_source_rgba(cr, 0, 0, 0, a);
    cairoRoundedRectPath(cr, rect, radius);
    cairo_fill(cr);
  }
  if (layer.sublayers().empty()) return;
  cairo_save(cr);
  if (masksToBounds(layer)) {
    cairoRoundedRectPath(cr, rect, radius);
    cairo_clip(cr);
  }
  for (const auto& sub : layer.sublayers()) {
    const CGRect f = sub->frame();
    paintLayer(cr, *sub, CGRectOffset(f, rect.origin.x, rect.origin.y));
  }
  cairo_restore(cr);
}

// A bitmap rep of rect × scale pixels whose size is the rect's, for AppKit
// drawing at the picture's scale; null when it cannot be made.
std::shared_ptr<NSBitmapImageRep> repFor(CGRect rect, double scale) {
  const int w = int(std::ceil(rect.size.width * scale)), h = int(std::ceil(rect.size.height * scale));
  if (w <= 0 || h <= 0) return nullptr;
  auto rep = NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * w, 32);
  if (rep) rep->setSize(rect.size);
  return rep;
}

SurfacePtr surfaceOf(const NSBitmapImageRep& rep) {
  const int w = rep.pixelsWide(), h = rep.pixelsHigh();
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_surface_flush(surface.get());
  unsigned char* dst = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  const uint8_t* src = rep.bitmapData();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* s = src + y * rep.bytesPerRow() + 4 * x;
      auto* d = reinterpret_cast<uint32_t*>(dst + y * stride + 4 * x);
      *d = (uint32_t(s[3]) << 24) | (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 8) | s[2];
    }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

// The view's rect (in its own coordinates) as it draws it, `size` points
// at `scale` pixels a point; null when there is nothing to draw into.
SurfacePtr displayed(NSView& view, CGRect rect, CGSize size, double scale) {
  auto rep = repFor({CGPointZero, size}, scale);
  if (!rep) return nullptr;
  view.cacheDisplayInRect(rect, rep);
  return surfaceOf(*rep);
}

// A picture drawn at `scale` pixels a point, its top-left corner at `origin`.
void paintPicture(cairo_t* cr, cairo_surface_t* picture, CGPoint origin, double scale) {
  cairo_save(cr);
  cairo_translate(cr, origin.x, origin.y);
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
}

// An NSImage drawn into the rect at the picture's scale (a vector image
// from its vector); a template image through its alpha in `tint`.
void paintImage(cairo_t* cr, const NSImage& image, CGRect rect, double scale, std::optional<NSImageInterpolation> quality,
                const Color& tint) {
  auto rep = repFor(rect, scale);
  if (!rep) return;
  auto context = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
  if (!context) return;
  NSGraphicsContext::saveGraphicsState();
  NSGraphicsContext::setCurrentContext(context);
  image.drawInRect(CGRectMake(0, 0, rect.size.width, rect.size.height), NSZeroRect, NSCompositingOperationSourceOver, 1,
                   false, NSImageHints{quality});
  NSGraphicsContext::restoreGraphicsState();
  SurfacePtr surface = surfaceOf(*rep);
  cairo_save(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  if (image.isTemplate()) {
    setColor(cr, tint);
    cairo_mask_surface(cr, surface.get(), 0, 0);
  } else {
    cairo_set_source_surface(cr, surface.get(), 0, 0);
    cairo_paint(cr);
  }
  cairo_restore(cr);
}

void paintHosted(cairo_t* cr, NSView& view, CGRect rect, double scale) {
  auto layer = view.layer();
  if (layer) paintLayer(cr, *layer, rect);
  SurfacePtr surface = displayed(view, view.bounds(), rect.size, scale);
  if (!surface) return;
  cairo_save(cr);
  // The view draws into its layer, which a masking layer clips too.
  if (layer && masksToBounds(*layer)) {
    cairoRoundedRectPath(cr, rect, layerNumber(*layer, "cornerRadius"));
    cairo_clip(cr);
  }
  paintPicture(cr, surface.get(), rect.origin, scale);
  cairo_restore(cr);
}

// The foreground as the node's scheme shows it.
Color ink(const Node& n) { return resolvedColor(n.environment.foreground, n.environment.colorScheme); }

// The outline of a named shape (as modifiers record it) in the rect.
void shapePath(cairo_t* cr, const std::string& shape, double cornerRadius, CGRect r) {
  cairo_new_path(cr);
  const double side = std::min(r.size.width, r.size.height);
  if (shape == "circle") {
    cairo_arc(cr, CGRectGetMidX(r), CGRectGetMidY(r), side / 2, 0, 2 * M_PI);
  } else if (shape == "capsule") {
    cairoRoundedRectPath(cr, r, side / 2);
  } else if (shape == "roundedRectangle") {
    cairoRoundedRectPath(cr, r, cornerRadius);
  } else {
    cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
  }
}

// Blurs a group's pixels in place: premultiplied ARGB through the one
// Gaussian, pixels beyond the group's surface clear, so edges fade.
void blurSurface(cairo_surface_t* surface, double sigma) {
  if (!(sigma > 0) || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32)
    return;
  cairo_surface_flush(surface);
  const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  if (!data || w <= 0 || h <= 0) return;
  std::vector<float> pixels(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride))[x];
      float* p = &pixels[(size_t(y) * size_t(w) + size_t(x)) * 4];
      for (int c = 0; c < 4; ++c) p[c] = float(v >> (8 * c) & 255);
    }
  gaussianBlur(pixels.data(), w, h, 4, sigma, sigma);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float* p = &pixels[(size_t(y) * size_t(w) + size_t(x)) * 4];
      uint32_t v = 0;
      const float alpha = std::clamp(p[3], 0.0f, 255.0f);
      for (int c = 0; c < 4; ++c)
        v |= uint32_t(std::lround(std::clamp(p[c], 0.0f, c == 3 ? 255.0f : alpha))) << (8 * c);
      reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride))[x] = v;
    }
  cairo_surface_mark_dirty(surface);
}

// What `draw` paints, blurred by `sigma` device pixels before it reaches
// the context.
void paintBlurred(cairo_t* cr, double sigma, const std::function<void()>& draw) {
  cairo_push_group(cr);
  draw();
  cairo_pattern_t* group = cairo_pop_group(cr);
  cairo_surface_t* surface = nullptr;
  if (cairo_pattern_get_surface(group, &surface) == CAIRO_STATUS_SUCCESS) blurSurface(surface, sigma);
  cairo_set_source(cr, group);
  cairo_paint(cr);
  cairo_pattern_destroy(group);
}

// The group's silhouette in one colour, on a surface placed as the group's.
cairo_surface_t* silhouette(cairo_surface_t* group, const Color& color) {
  if (cairo_surface_get_type(group) != CAIRO_SURFACE_TYPE_IMAGE) return nullptr;
  cairo_surface_flush(group);
  const int w = cairo_image_surface_get_width(group), h = cairo_image_surface_get_height(group);
  cairo_surface_t* shadow = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  double dx = 0, dy = 0;
  cairo_surface_get_device_offset(group, &dx, &dy);
  cairo_surface_set_device_offset(shadow, dx, dy);
  const unsigned char* from = cairo_image_surface_get_data(group);
  unsigned char* to = cairo_image_surface_get_data(shadow);
  const int fs = cairo_image_surface_get_stride(group), ts = cairo_image_surface_get_stride(shadow);
  const double opacity = std::clamp(color.opacity, 0.0, 1.0);
  for (int y = 0; y < h && from && to; ++y)
    for (int x = 0; x < w; ++x) {
      const double a = double(reinterpret_cast<const uint32_t*>(from + size_t(y) * size_t(fs))[x] >> 24) * opacity;
      const auto channel = [&](double v, int shift) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * a)) << shift; };
      reinterpret_cast<uint32_t*>(to + size_t(y) * size_t(ts))[x] =
          uint32_t(std::lround(a)) << 24 | channel(color.red, 16) | channel(color.green, 8) | channel(color.blue, 0);
    }
  cairo_surface_mark_dirty(shadow);
  return shadow;
}

struct Painter {
  struct Popover {
    const Node* content;
    CGRect anchor;
  };
  cairo_t* cr;
  double scale;
  std::vector<Popover> popovers;
  const Node* focused = nullptr;
  bool selectedAll = false;

  static bool flag(const Node& n, const char* key, bool fallback) {
    auto it = n.environment.values.find(key);
    if (it == n.environment.values.end()) return fallback;
    const bool* b = std::any_cast<bool>(&it->second);
    return b ? *b : fallback;
  }

  // A text field (its box when rounded-bordered, the focus ring) or a text
  // editor (its white page unless hidden): the text or, while it is empty,
  // the prompt; the selection behind it; the caret at its end.
  void field(const Node& n) {
    const ViewDesc& d = n.view.desc();
    const CGRect r = n.frame;
    const bool editor = d.kind == "TextEditor";
    const bool isFocused = &n == focused;
    const bool enabled = n.environment.isEnabled;
    auto style = n.environment.values.find("textFieldStyle");
    const bool bordered = !editor && style != n.environment.values.end();
    if (!enabled) cairo_push_group(cr);
    if (bordered || (editor && flag(n, "scrollContentBackground", true))) {
      cairo_set_source_rgba(cr, 1, 1, 1, 1);
      cairoRoundedRectPath(cr, r, bordered ? 3 : 0);
      cairo_fill(cr);
    }
    if (bordered) {
      cairo_set_source_rgba(cr, 0, 0, 0, 0.22);
      cairo_set_line_width(cr, 0.75);
      cairoRoundedRectPath(cr, CGRectInset(r, 0.375, 0.375), 3);
      cairo_stroke(cr);
      if (isFocused) {
        setColor(cr, n.environment.accentColor.withOpacity(0.55));
        cairo_set_line_width(cr, 3);
        cairoRoundedRectPath(cr, CGRectInset(r, -1.5, -1.5), 4.5);
        cairo_stroke(cr);
      }
    }
    const std::string text = d.editedText ? d.editedText->get() : std::string();
    const Font& font = n.environment.font;
    const double line = measureText("Xg", font, std::nullopt).size.height;
    const CGRect inner = editor ? CGRectInset(r, 5, 4)
                                : CGRect{{r.origin.x + 6, r.origin.y + (r.size.height - line) / 2},
                                         {std::max(0.0, r.size.width - 12), line}};
    // One line stays one line: laid out unwrapped, cut at the box.
    const std::optional<double> wrap = editor ? std::optional<double>(inner.size.width) : std::nullopt;
    cairo_save(cr);
    cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    cairo_clip(cr);
    if (text.empty()) {
      if (!d.prompt.empty())
        drawText(cr, d.prompt, font, {inner.origin, {editor ? inner.size.width : 1e6, inner.size.height}},
                 Color::secondary().withOpacity(0.7));
    } else {
      const auto m = measureText(text, font, wrap);
      if (isFocused && selectedAll) {
        setColor(cr, n.environment.accentColor.withOpacity(0.3));
        cairo_rectangle(cr, inner.origin.x, inner.origin.y, m.size.width, m.size.height);
        cairo_fill(cr);
      }
      drawText(cr, text, font, {inner.origin, {editor ? inner.size.width : 1e6, m.size.height}}, n.environment.foreground);
    }
    if (isFocused && !selectedAll) {
      // The caret after the last character: the end of the last line.
      const auto all = measureText(text.empty() ? std::string("X") : text, font, wrap);
      const size_t lastBreak = text.rfind('\n');
      const std::string tail = lastBreak == std::string::npos ? text : text.substr(lastBreak + 1);
      const double tailWidth = measureText(tail, font, std::nullopt).size.width;
      double x = inner.origin.x + (text.empty() ? 0 : tailWidth);
      double y = inner.origin.y + (text.empty() ? 0 : all.size.height - line);
      if (editor && tailWidth > inner.size.width) x = inner.origin.x + std::fmod(tailWidth, inner.size.width);
      if (!text.empty() && text.back() == '\n') {
        x = inner.origin.x;
        y = inner.origin.y + all.size.height;
      }
      setColor(cr, Color::black());
      cairo_rectangle(cr, x, y, 1, line);
      cairo_fill(cr);
    }
    cairo_restore(cr);
    if (!enabled) {
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, 0.5);
    }
  }

  void node(const Node& n) {
    if (n.levelFrames.empty()) return;
    const ColorScheme outer = std::exchange(paintingScheme, n.environment.colorScheme);
    level(n, n.view.desc().modifiers.size());
    paintingScheme = outer;
  }

  void level(const Node& n, size_t k) {
    if (k == 0) return content(n);
    const Modifier& m = n.view.desc().modifiers[k - 1];
    const CGRect rect = n.levelFrames[k];
    auto child = n.modifierChildren.find(k - 1);
    if (m.name == "opacity") {
      cairo_push_group(cr);
      level(n, k - 1);
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, std::clamp(m.number("value", 1), 0.0, 1.0));
    } else if (m.name == "scaleEffect") {
      const double s = m.number("value", 1);
      cairo_save(cr);
      cairo_translate(cr, CGRectGetMidX(rect), CGRectGetMidY(rect));
      cairo_scale(cr, s, s);
      cairo_translate(cr, -CGRectGetMidX(rect), -CGRectGetMidY(rect));
      level(n, k - 1);
      cairo_restore(cr);
    } else if (m.name == "blur" && m.number("radius") > 0) {
      paintBlurred(cr, m.number("radius") * scale, [&] { level(n, k - 1); });
    } else if (m.name == "shadow") {
      cairo_push_group(cr);
      level(n, k - 1);
      cairo_pattern_t* group = cairo_pop_group(cr);
      cairo_surface_t* surface = nullptr;
      if (cairo_pattern_get_surface(group, &surface) == CAIRO_STATUS_SUCCESS) {
        if (cairo_surface_t* shadow = silhouette(surface, colorParam(m))) {
          blurSurface(shadow, m.number("radius") / 2 * scale);
          cairo_pattern_t* under = cairo_pattern_create_for_surface(shadow);
          cairo_matrix_t matrix;
          cairo_pattern_get_matrix(group, &matrix);
          // Moved by (x, y) points: the pattern maps user space to the surface.
          cairo_matrix_translate(&matrix, -m.number("x"), -m.number("y"));
          cairo_pattern_set_matrix(under, &matrix);
          cairo_set_source(cr, under);
          cairo_paint(cr);
          cairo_pattern_destroy(under);
          cairo_surface_destroy(shadow);
        }
      }
      cairo_set_source(cr, group);
      cairo_paint(cr);
      cairo_pattern_destroy(group);
    } else if (m.name == "clipShape") {
      cairo_save(cr);
      shapePath(cr, m.string("shape"), m.number("cornerRadius"), rect);
      cairo_clip(cr);
      level(n, k - 1);
      cairo_restore(cr);
    } else if (m.name == "glassEffect") {
      cairo_save(cr);
      shapePath(cr, m.string("shape"), m.number("cornerRadius"), rect);
      setColor(cr, Color::windowBackground().withOpacity(0.72));
      cairo_fill(cr);
      cairo_restore(cr);
      level(n, k - 1);
    } else if (m.name == "background" && child != n.modifierChildren.end()) {
      node(*child->second);
      level(n, k - 1);
    } else if (m.name == "overlay" && child != n.modifierChildren.end()) {
      level(n, k - 1);
      node(*child->second);
    } else if (m.name == "popover" && child != n.modifierChildren.end()) {
      level(n, k - 1);
      popovers.push_back({child->second.get(), rect});
    } else {
      level(n, k - 1);
    }
  }

  void children(const Node& n) {
    for (const auto& c : n.children) node(*c);
  }

  // The outline of the shape in the rect (inset by the shape's own inset
  // and `extra`), cut to its trim.
  void outline(const Node& n, double extra) {
    const ViewDesc& d = n.view.desc();
    double amount = extra;
    if (auto i = n.modifier("inset")) amount += i->number("amount");
    CGRect r = n.frame;
    r = CGRectInset(r, std::min(amount, r.size.width / 2), std::min(amount, r.size.height / 2));
    cairo_new_path(cr);
    if (d.path) {
      for (const auto& e : d.path(r).elements) {
        switch (e.op) {
          case Path::Op::move: cairo_move_to(cr, e.point.x, e.point.y); break;
          case Path::Op::line: cairo_line_to(cr, e.point.x, e.point.y); break;
          case Path::Op::curve:
            cairo_curve_to(cr, e.control1.x, e.control1.y, e.control2.x, e.control2.y, e.point.x, e.point.y);
            break;
          case Path::Op::close: cairo_close_path(cr); break;
        }
      }
    } else if (d.shape == ShapeKind::circle) {
      // From the top, clockwise on screen.
      const double radius = std::min(r.size.width, r.size.height) / 2;
      cairo_arc(cr, CGRectGetMidX(r), CGRectGetMidY(r), radius, -M_PI / 2, 3 * M_PI / 2);
    } else if (d.shape == ShapeKind::capsule) {
      cairoRoundedRectPath(cr, r, std::min(r.size.width, r.size.height) / 2);
    } else if (d.shape == ShapeKind::roundedRectangle) {
      cairoRoundedRectPath(cr, r, d.cornerRadius);
    } else {
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    }
    if (auto t = n.modifier("trim")) trimPath(std::clamp(t->number("from"), 0.0, 1.0), std::clamp(t->number("to", 1), 0.0, 1.0));
  }

  // Replaces the current path by the part from `from` to `to` of its
  // length, measured along its flattened segments (a closed subpath
  // includes its closing segment).
  void trimPath(double from, double to) {
    if (from <= 0 && to >= 1) return;
    cairo_path_t* flat = cairo_copy_path_flat(cr);
    struct Segment {
      CGPoint a, b;
      bool starts;  // the first of a subpath
    };
    std::vector<Segment> segments;
    CGPoint start{}, at{};
    bool fresh = true;
    for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
      const cairo_path_data_t* d = &flat->data[i];
      if (d->header.type == CAIRO_PATH_MOVE_TO) {
        start = at = {d[1].point.x, d[1].point.y};
        fresh = true;
      } else if (d->header.type == CAIRO_PATH_LINE_TO || d->header.type == CAIRO_PATH_CLOSE_PATH) {
        const CGPoint to2 = d->header.type == CAIRO_PATH_LINE_TO ? CGPoint{d[1].point.x, d[1].point.y} : start;
        segments.push_back({at, to2, fresh});
        fresh = false;
        at = to2;
      }
    }
    cairo_path_destroy(flat);
    double total = 0;
    for (const auto& seg : segments) total += std::hypot(seg.b.x - seg.a.x, seg.b.y - seg.a.y);
    cairo_new_path(cr);
    // Nothing to draw: round caps would otherwise leave a dot.
    if (total <= 0 || to <= from) return;
    const double lo = from * total, hi = to * total;
    double walked = 0;
    bool drawing = false;
    for (const auto& seg : segments) {
      const double length = std::hypot(seg.b.x - seg.a.x, seg.b.y - seg.a.y);
      const double s0 = walked, s1 = walked + length;
      walked = s1;
      if (seg.starts) drawing = false;
      if (length <= 0 || s1 < lo || s0 > hi) continue;
      auto point = [&](double sAt) {
        const double f = std::clamp((sAt - s0) / length, 0.0, 1.0);
        return CGPoint{seg.a.x + (seg.b.x - seg.a.x) * f, seg.a.y + (seg.b.y - seg.a.y) * f};
      };
      const CGPoint p0 = point(std::max(lo, s0)), p1 = point(std::min(hi, s1));
      if (!drawing) cairo_move_to(cr, p0.x, p0.y);
      cairo_line_to(cr, p1.x, p1.y);
      drawing = true;
    }
  }

  void strokeWith(const Modifier& m) {
    setColor(cr, colorParam(m));
    cairo_set_line_width(cr, m.number("lineWidth", 1));
    const std::string cap = m.string("lineCap"), join = m.string("lineJoin");
    cairo_set_line_cap(cr, cap == "round" ? CAIRO_LINE_CAP_ROUND : cap == "square" ? CAIRO_LINE_CAP_SQUARE : CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, join == "round" ? CAIRO_LINE_JOIN_ROUND : join == "bevel" ? CAIRO_LINE_JOIN_BEVEL : CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, m.number("miterLimit", 10));
    cairo_stroke(cr);
  }

  void shape(const Node& n) {
    const Modifier* fill = n.modifier("fill");
    const Modifier* stroke = n.modifier("stroke");
    const Modifier* border = n.modifier("strokeBorder");
    cairo_save(cr);
    if (fill || (!stroke && !border)) {
      outline(n, 0);
      setColor(cr, fill ? colorParam(*fill) : ink(n));
      cairo_fill(cr);
    }
    if (stroke) {
      outline(n, 0);
      strokeWith(*stroke);
    }
    if (border) {
      // Inset by half the line, so the whole line lies inside the frame.
      outline(n, border->number("lineWidth", 1) / 2);
      strokeWith(*border);
    }
    cairo_restore(cr);
  }

  void content(const Node& n) {
    const ViewDesc& d = n.view.desc();
    const std::string& k = d.kind;
    const CGRect r = n.frame;
    const bool control = k == "Button" || k == "Toggle" || k == "Link";
    if (control && !n.environment.isEnabled) cairo_push_group(cr);
    if (k == "Text") {
      drawText(cr, d.text, n.environment.font, r, ink(n),
               TextStyle{n.environment.lineSpacing, n.environment.underline, n.environment.lineLimit, n.environment.tracking});
    } else if (k == "Color") {
      setColor(cr, d.color);
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
      cairo_fill(cr);
    } else if (k == "Rectangle" || k == "RoundedRectangle" || k == "Circle" || k == "Capsule" || d.path) {
      shape(n);
    } else if (k == "Image" && d.image) {
      std::optional<NSImageInterpolation> quality;
      if (auto q = n.modifier("interpolation")) {
        const std::string name = q->string("quality");
        quality = name == "none" ? NSImageInterpolationNone
                  : name == "low" ? NSImageInterpolationLow
                  : name == "medium" ? NSImageInterpolationMedium
                                     : NSImageInterpolationHigh;
      }
      paintImage(cr, *d.image, r, scale, quality, ink(n));
    } else if (k == "Image") {
      drawSymbol(cr, d.systemImage.empty() ? d.text : d.systemImage, r, ink(n));
    } else if (k == "Label") {
      const double icon = std::ceil(n.environment.font.size * 1.2);
      drawSymbol(cr, d.systemImage, {r.origin, {icon, icon}}, ink(n));
      drawText(cr, d.text, n.environment.font, {{r.origin.x + icon + 6, r.origin.y}, {r.size.width - icon - 6, r.size.height}},
               ink(n));
    } else if (k == "Divider") {
      setColor(cr, Color::separator());
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, 1);
      cairo_fill(cr);
    } else if (k == "ProgressView") {
      if (d.progress) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0.1);
        cairoRoundedRectPath(cr, r, 3);
        cairo_fill(cr);
        setColor(cr, Color::accent());
        cairoRoundedRectPath(cr, {r.origin, {r.size.width * std::clamp(*d.progress, 0.0, 1.0), r.size.height}}, 3);
        cairo_fill(cr);
      } else {
        for (int i = 0; i < 8; ++i) {
          const double a = i * M_PI / 4, cx = CGRectGetMidX(r), cy = CGRectGetMidY(r);
          cairo_set_source_rgba(cr, 0, 0, 0, 0.15 + 0.08 * i);
          cairo_set_line_width(cr, 1.6);
          cairo_move_to(cr, cx + std::cos(a) * 3.5, cy + std::sin(a) * 3.5);
          cairo_line_to(cr, cx + std::cos(a) * 7, cy + std::sin(a) * 7);
          cairo_stroke(cr);
        }
      }
    } else if (k == "Toggle" && n.environment.toggleStyle == ToggleStyle::checkbox) {
      const bool on = d.isOn && d.isOn->get();
      constexpr double kBox = 14;
      const CGRect box{{r.origin.x + 0.5, CGRectGetMidY(r) - kBox / 2 + 0.5}, {kBox - 1, kBox - 1}};
      cairoRoundedRectPath(cr, box, 3);
      if (on) {
        setColor(cr, n.environment.controlTint());
        cairo_fill(cr);
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_set_line_width(cr, 1.8);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_move_to(cr, box.origin.x + 3, CGRectGetMidY(box));
        cairo_line_to(cr, box.origin.x + 5.6, CGRectGetMaxY(box) - 3.2);
        cairo_line_to(cr, CGRectGetMaxX(box) - 2.8, box.origin.y + 3);
        cairo_stroke(cr);
      } else {
        cairo_set_source_rgba(cr, 1, 1, 1, 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.3);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
      }
      if (!n.environment.values.count("labelsHidden")) children(n);
    } else if (k == "Toggle") {
      const bool on = d.isOn && d.isOn->get();
      const bool small = n.environment.values.count("controlSize") &&
                         std::any_cast<std::string>(n.environment.values.at("controlSize")) != "regular";
      const CGSize sw = small ? CGSize{28, 16} : CGSize{38, 22};
      const CGRect track{{CGRectGetMaxX(r) - sw.width, CGRectGetMidY(r) - sw.height / 2}, sw};
      setColor(cr, on ? n.environment.controlTint() : Color::offSwitchTrack());
      cairoRoundedRectPath(cr, track, sw.height / 2);
      cairo_fill(cr);
      const double knob = sw.height - 2;
      const double kx = on ? CGRectGetMaxX(track) - knob - 1 : track.origin.x + 1;
      cairo_set_source_rgba(cr, 1, 1, 1, 1);
      cairo_arc(cr, kx + knob / 2, CGRectGetMidY(track), knob / 2, 0, 2 * M_PI);
      cairo_fill(cr);
      if (!n.environment.values.count("labelsHidden")) children(n);
    } else if (k == "Button" && !(n.children.size() == 1 && n.children.front()->identity.ends_with("/style")) &&
               n.environment.buttonStyle != ButtonStyleKind::plain) {
      if (n.environment.buttonStyle == ButtonStyleKind::borderedProminent && n.environment.isEnabled) {
        setColor(cr, n.environment.controlTint());
        cairoRoundedRectPath(cr, r, 5);
        cairo_fill(cr);
        if (n.pressed) {
          cairo_set_source_rgba(cr, 0, 0, 0, 0.15);
          cairoRoundedRectPath(cr, r, 5);
          cairo_fill(cr);
        }
      } else {
        // In the dark appearance a translucent light face, so the light
        // title shows on it.
        const bool dark = n.environment.colorScheme == ColorScheme::dark;
        cairo_set_source_rgba(cr, 1, 1, 1, dark ? (n.pressed ? 0.4 : 0.25) : (n.pressed ? 0.6 : 1));
        cairoRoundedRectPath(cr, r, 5);
        cairo_fill_preserve(cr);
        const double line = dark ? 1 : 0;
        cairo_set_source_rgba(cr, line, line, line, dark ? 0.12 : 0.18);
        cairo_set_line_width(cr, 0.5);
        cairo_stroke(cr);
      }
      children(n);
    } else if (k == "TextField" || k == "TextEditor") {
      field(n);
    } else if (k == "ScrollView") {
      cairo_save(cr);
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
      cairo_clip(cr);
      children(n);
      cairo_restore(cr);
    } else if (n.hosted) {
      paintHosted(cr, *n.hosted, r, scale);
    } else {
      children(n);
    }
    if (control && !n.environment.isEnabled) {
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, 0.45);
    }
  }

  // The popover's outline: the rounded body with the arrow spliced into
  // its edge, one path, so the border runs round both and not across the
  // arrow's base.
  void popoverShape(CGRect body, const std::optional<PopoverArrow>& arrow) {
    const double r = std::min({kPopoverCornerRadius, body.size.width / 2, body.size.height / 2});
    const double x = body.origin.x, y = body.origin.y, w = body.size.width, h = body.size.height;
    const auto spike = [&](double first, double base) {
      cairo_line_to(cr, arrow->tip.x + first, base);
      cairo_line_to(cr, arrow->tip.x, arrow->tip.y);
      cairo_line_to(cr, arrow->tip.x - first, base);
    };
    cairo_new_path(cr);
    cairo_move_to(cr, x + r, y);
    if (arrow && arrow->onTop) spike(-kPopoverArrowHalfBase, y);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    if (arrow && !arrow->onTop) spike(kPopoverArrowHalfBase, y + h);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
  }

  // As the platform draws a popover, in the appearance of its content: a
  // soft shadow all round, the body and arrow in the popover background
  // (lighter than the window in the dark appearance, apart from the cards
  // of either), a hairline border, then the content.
  void popover(Popover p) {
    const bool dark = p.content->environment.colorScheme == ColorScheme::dark;
    const CGRect body = p.content->outerFrame;
    const auto arrow = popoverArrow(body, p.anchor);
    constexpr double kShadowRadius = 8, kShadowDrop = 2;
    cairo_save(cr);
    // The shadow's group only as large as the shadow.
    constexpr double kOut = kPopoverArrowHeight + 2 * kShadowRadius;
    const CGRect reach = CGRectInset(body, -kOut, -kOut);
    cairo_rectangle(cr, reach.origin.x, reach.origin.y, reach.size.width, reach.size.height);
    cairo_clip(cr);
    paintBlurred(cr, kShadowRadius / 2 * scale, [&] {
      cairo_translate(cr, 0, kShadowDrop);
      popoverShape(body, arrow);
      cairo_set_source_rgba(cr, 0, 0, 0, dark ? 0.5 : 0.22);
      cairo_fill(cr);
    });
    cairo_restore(cr);
    popoverShape(body, arrow);
    const double fill = dark ? 0.235 : 0.965;
    cairo_set_source_rgba(cr, fill, fill, fill, 1);
    cairo_fill_preserve(cr);
    const double line = dark ? 1 : 0;
    cairo_set_source_rgba(cr, line, line, line, dark ? 0.2 : 0.16);
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
    node(*p.content);
  }
};

// The window's content view over the window's background, its top-left
// corner at `origin`.
bool paintWindow(cairo_t* cr, const NSWindow& window, CGPoint origin, double scale) {
  const auto content = window.contentView();
  if (!content) return false;
  const CGRect bounds = content->bounds();
  const NSColor background = window.backgroundColor().value_or(NSColor::windowBackgroundColor());
  cairo_save(cr);
  cairo_translate(cr, origin.x, origin.y);
  cairo_rectangle(cr, 0, 0, bounds.size.width, bounds.size.height);
  cairo_set_source_rgba(cr, background.redComponent(), background.greenComponent(), background.blueComponent(),
                        background.alphaComponent());
  cairo_fill(cr);
  const bool drawn = drawWindowContentView(cr, window, scale);
  cairo_restore(cr);
  return drawn;
}

}  // namespace

bool hasSymbolShape(const std::string& name) {
  return name.starts_with("exclamationmark") || name.starts_with("checkmark") || name.starts_with("xmark") ||
         name.starts_with("info") || name.starts_with("circle") || name == "play.fill" || name == "pause.fill" ||
         name == "pause.circle" || name == "doc.text" || name == "arrow.right" || name == "arrow.up.right" ||
         name == "accessibility" || name == "battery.100percent" || name == "wifi" || name == "switch.2" ||
         name.starts_with("ladybug");
}

bool drawGraph(ViewGraph& graph, cairo_t* cr, double scale) {
  if (graph.needsRender() || !graph.root()) graph.render();
  if (!graph.root()) return false;
  const CGSize size = graph.size();
  cairo_save(cr);
  paintingScheme = graph.root()->environment.colorScheme;
  cairo_rectangle(cr, 0, 0, size.width, size.height);
  setColor(cr, graph.root()->environment.reduceTransparency ? Color::white() : Color::windowBackground());
  cairo_fill(cr);
  Painter painter{cr, scale, {}};
  if (auto focused = graph.focusedField()) painter.focused = &focused->node();
  painter.selectedAll = graph.hasSelection();
  painter.node(*graph.root());
  // A popover's content may hold popovers of its own: they come after it.
  for (size_t i = 0; i < painter.popovers.size(); ++i) painter.popover(painter.popovers[i]);
  cairo_restore(cr);
  return true;
}

bool writePNG(ViewGraph& graph, const std::string& path, double scale) {
  if (graph.needsRender() || !graph.root()) graph.render();
  if (!graph.root()) return false;
  const CGSize size = graph.size();
  const int w = std::max(1, int(std::ceil(size.width * scale))), h = std::max(1, int(std::ceil(size.height * scale)));
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_t* cr = cairo_create(surface.get());
  cairo_scale(cr, scale, scale);
  drawGraph(graph, cr, scale);
  cairo_destroy(cr);
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

bool drawWindowContentView(cairo_t* cr, const NSWindow& window, double scale) {
  const auto content = window.contentView();
  if (!content || !(scale > 0)) return false;
  const CGRect bounds = content->bounds();
  // Only the part the context shows is drawn (a screen picture shows a
  // small region around the pointer), in whole points from the top left.
  double x1, y1, x2, y2;
  cairo_clip_extents(cr, &x1, &y1, &x2, &y2);
  const CGRect visible =
      CGRectIntersection(CGRectMake(0, 0, bounds.size.width, bounds.size.height), CGRectMake(x1, y1, x2 - x1, y2 - y1));
  if (CGRectIsEmpty(visible)) return true;
  const CGRect shown = CGRectIntegral(visible);
  const double top = content->isFlipped() ? shown.origin.y : bounds.size.height - CGRectGetMaxY(shown);
  const CGRect rect{{bounds.origin.x + shown.origin.x, bounds.origin.y + top}, shown.size};
  SurfacePtr drawn = displayed(*content, rect, shown.size, scale);
  if (!drawn) return false;
  paintPicture(cr, drawn.get(), shown.origin, scale);
  return true;
}

bool writeWindowPNG(NSWindow& window, const std::string& path, double scale) {
  const auto content = window.contentView();
  if (!content || !(scale > 0)) return false;
  const CGRect bounds = content->bounds();
  const int w = std::max(1, int(std::ceil(bounds.size.width * scale)));
  const int h = std::max(1, int(std::ceil(bounds.size.height * scale)));
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_t* cr = cairo_create(surface.get());
  cairo_scale(cr, scale, scale);
  bool drawn = paintWindow(cr, window, {0, 0}, scale);
  if (const auto sheet = window.attachedSheet(); drawn && sheet)
    drawn = paintWindow(cr, *sheet, drawAttachedSheetEdge(cr, window, *sheet), scale);
  cairo_destroy(cr);
  return drawn && cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

CGPoint drawAttachedSheetEdge(cairo_t* cr, const NSWindow& window, const NSWindow& sheet) {
  const CGSize size = sheet.frame().size;
  const CGPoint origin{std::round((window.frame().size.width - size.width) / 2),
                       window.frame().size.height - window.contentLayoutRect().size.height};
  cairo_save(cr);
  cairo_rectangle(cr, origin.x - 0.5, origin.y - 0.5, size.width + 1, size.height + 1);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.3);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_restore(cr);
  return origin;
}

PictureComparison comparePNG(const std::string& expected, const std::string& actual, int tolerance) {
  PictureComparison result;
  SurfacePtr a(cairo_image_surface_create_from_png(expected.c_str()));
  SurfacePtr b(cairo_image_surface_create_from_png(actual.c_str()));
  if (cairo_surface_status(a.get()) != CAIRO_STATUS_SUCCESS || cairo_surface_status(b.get()) != CAIRO_STATUS_SUCCESS)
    return result;
  result.loaded = true;
  const int w = cairo_image_surface_get_width(a.get()), h = cairo_image_surface_get_height(a.get());
  if (w != cairo_image_surface_get_width(b.get()) || h != cairo_image_surface_get_height(b.get())) return result;
  result.sameSize = true;
  cairo_surface_flush(a.get());
  cairo_surface_flush(b.get());
  const unsigned char* pa = cairo_image_surface_get_data(a.get());
  const unsigned char* pb = cairo_image_surface_get_data(b.get());
  const int sa = cairo_image_surface_get_stride(a.get()), sb = cairo_image_surface_get_stride(b.get());
  long differing = 0;
  int largest = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int worst = 0;
      for (int c = 0; c < 4; ++c) worst = std::max(worst, std::abs(int(pa[y * sa + 4 * x + c]) - int(pb[y * sb + 4 * x + c])));
      largest = std::max(largest, worst);
      if (worst > tolerance) ++differing;
    }
  result.largestDifference = largest;
  result.differingFraction = w * h > 0 ? double(differing) / double(w * h) : 0;
  return result;
}

bool isBlankPNG(const std::string& path) {
  SurfacePtr picture(cairo_image_surface_create_from_png(path.c_str()));
  if (cairo_surface_status(picture.get()) != CAIRO_STATUS_SUCCESS) return false;
  cairo_surface_flush(picture.get());
  const int w = cairo_image_surface_get_width(picture.get()), h = cairo_image_surface_get_height(picture.get());
  const int stride = cairo_image_surface_get_stride(picture.get());
  const unsigned char* data = cairo_image_surface_get_data(picture.get());
  // PNG reads back as 32-bit pixels; without alpha the top byte is unused.
  const uint32_t used = cairo_image_surface_get_format(picture.get()) == CAIRO_FORMAT_RGB24 ? 0xffffffu : 0xffffffffu;
  const auto pixel = [&](int x, int y) { return reinterpret_cast<const uint32_t*>(data + y * stride)[x] & used; };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (pixel(x, y) != pixel(0, 0)) return false;
  return true;
}

bool reportWrittenPicture(const char* tool, bool written, const std::string& path) {
  if (!written) {
    std::fprintf(stderr, "%s: cannot write %s\n", tool, path.c_str());
    return false;
  }
  if (isBlankPNG(path)) {
    std::fprintf(stderr, "%s: %s is blank: one colour all over\n", tool, path.c_str());
    return false;
  }
  std::printf("%s\n", path.c_str());
  return true;
}

}  // namespace platform::ui
