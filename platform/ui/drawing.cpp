#include "platform/ui/drawing.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "platform/appkit/layer.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {

namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

void setColor(cairo_t* cr, const Color& c) { cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.opacity); }

Color colorParam(const Modifier& m) {
  return Color{m.number("red"), m.number("green"), m.number("blue"), m.number("opacity", 1), m.string("color")};
}

void roundedRect(cairo_t* cr, CGRect r, double radius) {
  radius = std::max(0.0, std::min(radius, std::min(r.size.width, r.size.height) / 2));
  const double x = r.origin.x, y = r.origin.y, w = r.size.width, h = r.size.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - radius, y + radius, radius, -M_PI / 2, 0);
  cairo_arc(cr, x + w - radius, y + h - radius, radius, 0, M_PI / 2);
  cairo_arc(cr, x + radius, y + h - radius, radius, M_PI / 2, M_PI);
  cairo_arc(cr, x + radius, y + radius, radius, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
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
  if (name.starts_with("exclamationmark")) {
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
    roundedRect(cr, rect, radius);
    cairo_fill(cr);
  }
  if (layer.sublayers().empty()) return;
  cairo_save(cr);
  if (masksToBounds(layer)) {
    roundedRect(cr, rect, radius);
    cairo_clip(cr);
  }
  for (const auto& sub : layer.sublayers()) {
    const CGRect f = sub->frame();
    paintLayer(cr, *sub, CGRectOffset(f, rect.origin.x, rect.origin.y));
  }
  cairo_restore(cr);
}

void paintHosted(cairo_t* cr, NSView& view, CGRect rect, double scale) {
  auto layer = view.layer();
  if (layer) paintLayer(cr, *layer, rect);
  const int w = int(std::ceil(rect.size.width * scale)), h = int(std::ceil(rect.size.height * scale));
  if (w <= 0 || h <= 0) return;
  auto rep = NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false, NSDeviceRGBColorSpace, 4 * w, 32);
  if (!rep) return;
  rep->setSize(rect.size);
  view.cacheDisplayInRect(view.bounds(), rep);
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_surface_flush(surface.get());
  unsigned char* dst = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  const uint8_t* src = rep->bitmapData();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* s = src + y * rep->bytesPerRow() + 4 * x;
      auto* d = reinterpret_cast<uint32_t*>(dst + y * stride + 4 * x);
      *d = (uint32_t(s[3]) << 24) | (uint32_t(s[0]) << 16) | (uint32_t(s[1]) << 8) | s[2];
    }
  cairo_surface_mark_dirty(surface.get());
  cairo_save(cr);
  // The view draws into its layer, which a masking layer clips too.
  if (layer && masksToBounds(*layer)) {
    roundedRect(cr, rect, layerNumber(*layer, "cornerRadius"));
    cairo_clip(cr);
  }
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, 1.0 / scale, 1.0 / scale);
  cairo_set_source_surface(cr, surface.get(), 0, 0);
  cairo_paint(cr);
  cairo_restore(cr);
}

struct Painter {
  struct Popover {
    const Node* content;
    CGRect anchor;
  };
  cairo_t* cr;
  double scale;
  std::vector<Popover> popovers;

  void node(const Node& n) {
    if (n.levelFrames.empty()) return;
    level(n, n.view.desc().modifiers.size());
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

  void shape(const Node& n) {
    const ViewDesc& d = n.view.desc();
    const CGRect r = n.frame;
    double from = 0, to = 1;
    if (auto t = n.modifier("trim")) from = t->number("from"), to = t->number("to", 1);
    cairo_new_path(cr);
    if (d.shape == ShapeKind::circle) {
      const double radius = std::min(r.size.width, r.size.height) / 2;
      cairo_arc(cr, CGRectGetMidX(r), CGRectGetMidY(r), radius, -M_PI / 2 + 2 * M_PI * from, -M_PI / 2 + 2 * M_PI * to);
    } else if (d.shape == ShapeKind::capsule) {
      roundedRect(cr, r, std::min(r.size.width, r.size.height) / 2);
    } else if (d.shape == ShapeKind::roundedRectangle) {
      roundedRect(cr, r, d.cornerRadius);
    } else {
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    }
    const Modifier* fill = n.modifier("fill");
    const Modifier* stroke = n.modifier("stroke");
    if (fill || !stroke) {
      setColor(cr, fill ? colorParam(*fill) : n.environment.foreground);
      stroke ? cairo_fill_preserve(cr) : cairo_fill(cr);
    }
    if (stroke) {
      setColor(cr, colorParam(*stroke));
      cairo_set_line_width(cr, stroke->number("lineWidth", 1));
      cairo_stroke(cr);
    }
  }

  void content(const Node& n) {
    const ViewDesc& d = n.view.desc();
    const std::string& k = d.kind;
    const CGRect r = n.frame;
    const bool control = k == "Button" || k == "Toggle" || k == "Link";
    if (control && !n.environment.isEnabled) cairo_push_group(cr);
    if (k == "Text") {
      drawText(cr, d.text, n.environment.font, r, n.environment.foreground);
    } else if (k == "Color") {
      setColor(cr, d.color);
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
      cairo_fill(cr);
    } else if (k == "Rectangle" || k == "RoundedRectangle" || k == "Circle" || k == "Capsule") {
      shape(n);
    } else if (k == "Image") {
      drawSymbol(cr, d.systemImage.empty() ? d.text : d.systemImage, r, n.environment.foreground);
    } else if (k == "Label") {
      const double icon = std::ceil(n.environment.font.size * 1.2);
      drawSymbol(cr, d.systemImage, {r.origin, {icon, icon}}, n.environment.foreground);
      drawText(cr, d.text, n.environment.font, {{r.origin.x + icon + 6, r.origin.y}, {r.size.width - icon - 6, r.size.height}},
               n.environment.foreground);
    } else if (k == "Divider") {
      cairo_set_source_rgba(cr, 0, 0, 0, 0.1);
      cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, 1);
      cairo_fill(cr);
    } else if (k == "ProgressView") {
      if (d.progress) {
        cairo_set_source_rgba(cr, 0, 0, 0, 0.1);
        roundedRect(cr, r, 3);
        cairo_fill(cr);
        setColor(cr, Color::accent());
        roundedRect(cr, {r.origin, {r.size.width * std::clamp(*d.progress, 0.0, 1.0), r.size.height}}, 3);
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
    } else if (k == "Toggle") {
      const bool on = d.isOn && d.isOn->get();
      const bool small = n.environment.values.count("controlSize") &&
                         std::any_cast<std::string>(n.environment.values.at("controlSize")) != "regular";
      const CGSize sw = small ? CGSize{28, 16} : CGSize{38, 22};
      const CGRect track{{CGRectGetMaxX(r) - sw.width, CGRectGetMidY(r) - sw.height / 2}, sw};
      on ? setColor(cr, Color::accent()) : cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
      roundedRect(cr, track, sw.height / 2);
      cairo_fill(cr);
      const double knob = sw.height - 2;
      const double kx = on ? CGRectGetMaxX(track) - knob - 1 : track.origin.x + 1;
      cairo_set_source_rgba(cr, 1, 1, 1, 1);
      cairo_arc(cr, kx + knob / 2, CGRectGetMidY(track), knob / 2, 0, 2 * M_PI);
      cairo_fill(cr);
      if (!n.environment.values.count("labelsHidden")) children(n);
    } else if (k == "Button" && !(n.children.size() == 1 && n.children.front()->identity.ends_with("/style"))) {
      cairo_set_source_rgba(cr, 1, 1, 1, n.pressed ? 0.6 : 1);
      roundedRect(cr, r, 5);
      cairo_fill_preserve(cr);
      cairo_set_source_rgba(cr, 0, 0, 0, 0.18);
      cairo_set_line_width(cr, 0.5);
      cairo_stroke(cr);
      children(n);
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

  // The popover's body with its arrow on the edge that faces the anchor,
  // its tip on the anchor's edge at the anchor's middle (kept clear of the
  // rounded corners); no arrow when the body covers the anchor.
  void popoverShape(CGRect body, CGRect anchor) {
    constexpr double kRadius = 10, kHalfBase = 9, kHeight = 8;
    roundedRect(cr, body, kRadius);
    const double lo = body.origin.x + kRadius + kHalfBase, hi = CGRectGetMaxX(body) - kRadius - kHalfBase;
    if (lo > hi) return;
    const double x = std::clamp(CGRectGetMidX(anchor), lo, hi);
    double base, tip;
    if (CGRectGetMinY(body) >= CGRectGetMaxY(anchor)) {
      base = CGRectGetMinY(body), tip = std::max(CGRectGetMaxY(anchor), base - kHeight);
    } else if (CGRectGetMaxY(body) <= CGRectGetMinY(anchor)) {
      base = CGRectGetMaxY(body), tip = std::min(CGRectGetMinY(anchor), base + kHeight);
    } else {
      return;
    }
    if (tip == base) return;
    // The base reaches a little into the body so the two fill as one; the
    // triangle turns the way the body's outline does (clockwise on screen),
    // so under the winding rule their overlap stays filled.
    const bool up = tip < base;
    const double into = up ? 1 : -1, first = up ? -kHalfBase : kHalfBase;
    cairo_new_sub_path(cr);
    cairo_move_to(cr, x + first, base + into);
    cairo_line_to(cr, x, tip);
    cairo_line_to(cr, x - first, base + into);
    cairo_close_path(cr);
  }

  void popover(Popover p) {
    const CGRect r = CGRectInset(p.content->outerFrame, -1, -1);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_save(cr);
    cairo_translate(cr, 0, 1);
    popoverShape(r, p.anchor);
    cairo_restore(cr);
    cairo_set_source_rgba(cr, 0, 0, 0, 0.2);
    cairo_fill(cr);
    popoverShape(r, p.anchor);
    cairo_set_source_rgba(cr, 0.98, 0.98, 0.98, 1);
    cairo_fill(cr);
    node(*p.content);
  }
};

}  // namespace

bool hasSymbolShape(const std::string& name) {
  return name.starts_with("exclamationmark") || name.starts_with("checkmark") || name.starts_with("xmark") ||
         name.starts_with("info") || name.starts_with("circle");
}

bool writePNG(ViewGraph& graph, const std::string& path, double scale) {
  if (graph.needsRender() || !graph.root()) graph.render();
  if (!graph.root()) return false;
  const CGSize size = graph.size();
  const int w = std::max(1, int(std::ceil(size.width * scale))), h = std::max(1, int(std::ceil(size.height * scale)));
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
  cairo_t* cr = cairo_create(surface.get());
  cairo_scale(cr, scale, scale);
  setColor(cr, graph.root()->environment.reduceTransparency ? Color::white() : Color::windowBackground());
  cairo_paint(cr);
  Painter painter{cr, scale, {}};
  painter.node(*graph.root());
  // A popover's content may hold popovers of its own: they come after it.
  for (size_t i = 0; i < painter.popovers.size(); ++i) painter.popover(painter.popovers[i]);
  cairo_destroy(cr);
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
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

}  // namespace platform::ui
