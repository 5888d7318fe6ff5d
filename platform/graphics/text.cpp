#include "platform/graphics/text.hpp"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>
#include <pango/pangofc-fontmap.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define VURLE_FONT_CACHES_SCOPE __lsan::ScopedDisabler fontCaches
#else
#define VURLE_FONT_CACHES_SCOPE
#endif

#ifndef VURLE_INTER_FONT_DIR
#define VURLE_INTER_FONT_DIR "/usr/share/fonts/opentype/inter"
#endif
#ifndef VURLE_DEJAVU_FONT_DIR
#define VURLE_DEJAVU_FONT_DIR "/usr/share/fonts/truetype/dejavu"
#endif

#if defined(__SANITIZE_ADDRESS__)
// Pango matches fonts on a thread of its own and can drop a match that
// another lookup made at the same time; those caches are the libraries',
// not ours. Weak, so a program whose compute driver lists its own
// suppressions (platform/metal, which lists these too) keeps that list.
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libpangoft2\n";
}
#endif

namespace platform {

namespace {

// fontconfig and pango fill caches of their own that live as long as the
// process; the leak checker is told to ignore what text calls allocate
// (VURLE_FONT_CACHES_SCOPE), nothing else.

// One font map and context for the process, made on first use and kept:
// fontconfig and pango keep caches of their own for the life of the
// process anyway.
struct Fonts {
  PangoFontMap* map = nullptr;
  PangoContext* context = nullptr;

  Fonts() {
    VURLE_FONT_CACHES_SCOPE;
    // Loaded here, so the font map's own start-up finds it done.
    FcInit();
    // Only the project's two folders, and the user's ordinary font cache so
    // the folders are not scanned again by every process.
    FcConfig* config = FcConfigCreate();
    const std::string conf = std::string("<?xml version=\"1.0\"?><fontconfig><dir>") + VURLE_INTER_FONT_DIR +
                             "</dir><dir>" + VURLE_DEJAVU_FONT_DIR +
                             "</dir><cachedir prefix=\"xdg\">fontconfig</cachedir></fontconfig>";
    FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(conf.c_str()), FcTrue);
    FcConfigBuildFonts(config);
    map = pango_cairo_font_map_new_for_font_type(CAIRO_FONT_TYPE_FT);
    pango_fc_font_map_set_config(PANGO_FC_FONT_MAP(map), config);
    FcConfigDestroy(config);  // the font map holds its own reference
    pango_cairo_font_map_set_resolution(PANGO_CAIRO_FONT_MAP(map), 72.0);
    context = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(context, FALSE);
  }
};

std::atomic<bool> fontsMade{false};

Fonts& fonts() {
  static Fonts* shared = [] {
    fontsMade = true;
    return new Fonts();
  }();
  return *shared;
}

struct LayoutDeleter {
  void operator()(PangoLayout* l) const { g_object_unref(l); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, LayoutDeleter>;

// The system font is Inter, in its Display cut from 20 points (as the
// system's own font changes cut there), each weight in a face of its own;
// DejaVu Sans, named after it, draws what Inter has no glyph for (the
// first family that has one wins), so nothing falls to a missing-glyph box.
PangoFontDescription* description(const TextFont& font) {
  PangoFontDescription* d = pango_font_description_new();
  const double size = std::isfinite(font.size) && font.size > 0 ? font.size : 13;
  const char* family = font.monospaced ? "DejaVu Sans Mono,DejaVu Sans"
                       : size >= 20    ? "Inter Display,DejaVu Sans"
                                       : "Inter,DejaVu Sans";
  pango_font_description_set_family(d, family);
  PangoWeight weight = PANGO_WEIGHT_NORMAL;
  if (font.weight == TextWeight::medium) weight = PANGO_WEIGHT_MEDIUM;
  if (font.weight == TextWeight::semibold) weight = PANGO_WEIGHT_SEMIBOLD;
  if (font.weight == TextWeight::bold) weight = PANGO_WEIGHT_BOLD;
  pango_font_description_set_weight(d, weight);
  pango_font_description_set_absolute_size(d, size * PANGO_SCALE);
  return d;
}

guint16 channel(double value) {
  const double v = std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
  return static_cast<guint16>(std::lround(v * 65535));
}

LayoutPtr makeLayout(const TextBlock& block, std::optional<double> width) {
  LayoutPtr layout(pango_layout_new(fonts().context));
  PangoFontDescription* d = description(block.font);
  pango_layout_set_font_description(layout.get(), d);
  pango_font_description_free(d);
  const std::string& text = block.text;
  pango_layout_set_text(layout.get(), text.c_str(), int(text.size()));
  if (std::isfinite(block.style.lineSpacing) && block.style.lineSpacing > 0)
    pango_layout_set_spacing(layout.get(), int(std::lround(block.style.lineSpacing * PANGO_SCALE)));
  const bool tracked = std::isfinite(block.style.tracking) && block.style.tracking != 0;
  if (block.style.underline || tracked || !block.runs.empty()) {
    PangoAttrList* attributes = pango_attr_list_new();
    if (block.style.underline) pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    if (tracked)
      pango_attr_list_insert(attributes,
                             pango_attr_letter_spacing_new(int(std::lround(block.style.tracking * PANGO_SCALE))));
    const auto add = [&](PangoAttribute* attribute, const TextRun& run) {
      attribute->start_index = static_cast<guint>(run.begin);
      attribute->end_index = static_cast<guint>(run.end);
      pango_attr_list_insert(attributes, attribute);
    };
    for (TextRun run : block.runs) {
      run.end = std::min(run.end, text.size());
      if (run.begin >= run.end) continue;
      if (run.font) {
        PangoFontDescription* f = description(*run.font);
        add(pango_attr_font_desc_new(f), run);
        pango_font_description_free(f);
      }
      if (run.color) {
        add(pango_attr_foreground_new(channel(run.color->red), channel(run.color->green), channel(run.color->blue)),
            run);
        add(pango_attr_foreground_alpha_new(channel(run.color->alpha)), run);
      }
      if (run.underline) add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE), run);
    }
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
  }
  if (width && std::isfinite(*width) && *width >= 0) {
    pango_layout_set_width(layout.get(), int(std::ceil(*width * PANGO_SCALE)));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  }
  if (block.style.lineLimit && *block.style.lineLimit > 0) {
    // A negative height counts lines; the last kept line ends in "…".
    pango_layout_set_height(layout.get(), -*block.style.lineLimit);
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  }
  return layout;
}

void show(cairo_t* cr, const TextBlock& block, CGRect frame) {
  LayoutPtr layout = makeLayout(block, frame.size.width + 0.5);
  cairo_save(cr);
  cairo_set_source_rgba(cr, block.color.red, block.color.green, block.color.blue, block.color.alpha);
  cairo_move_to(cr, frame.origin.x, frame.origin.y);
  pango_cairo_show_layout(cr, layout.get());
  cairo_restore(cr);
}

}  // namespace

bool textFontsMade() { return fontsMade; }

TextMetrics measureText(const TextBlock& block, std::optional<double> width) {
  VURLE_FONT_CACHES_SCOPE;
  LayoutPtr layout = makeLayout(block, std::nullopt);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  if (width && std::isfinite(*width) && double(logical.width) / PANGO_SCALE > *width) {
    layout = makeLayout(block, width);
    pango_layout_get_extents(layout.get(), nullptr, &logical);
  }
  TextMetrics m;
  m.size = {std::ceil(double(logical.width) / PANGO_SCALE), std::ceil(double(logical.height) / PANGO_SCALE)};
  m.baseline = double(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
  return m;
}

void drawText(cairo_t* cr, const TextBlock& block, CGRect frame) {
  VURLE_FONT_CACHES_SCOPE;
  show(cr, block, frame);
}

std::optional<size_t> textIndexAtPoint(const TextBlock& block, double width, CGPoint point) {
  VURLE_FONT_CACHES_SCOPE;
  if (!std::isfinite(point.x) || !std::isfinite(point.y) || point.x < 0 || point.y < 0) return std::nullopt;
  LayoutPtr layout = makeLayout(block, width + 0.5);
  PangoRectangle logical;
  pango_layout_get_extents(layout.get(), nullptr, &logical);
  if (point.y * PANGO_SCALE >= logical.height) return std::nullopt;
  int index = 0, trailing = 0;
  // Off either end of a line pango answers its nearest character; that is
  // no character under the point.
  const bool inside = pango_layout_xy_to_index(layout.get(), int(std::lround(point.x * PANGO_SCALE)),
                                               int(std::lround(point.y * PANGO_SCALE)), &index, &trailing);
  if (!inside) return std::nullopt;
  return static_cast<size_t>(index);
}

void CGContextDrawTextInRect(const CGContextRef& c, const TextBlock& block, CGRect rect) {
  if (!c || block.text.empty()) return;
  CGContextDrawWithCairo(c, rect, [&](cairo_t* cr, double) {
    VURLE_FONT_CACHES_SCOPE;
    show(cr, block, CGRectMake(0, 0, CGRectGetWidth(rect), CGRectGetHeight(rect)));
  });
}

std::string resolvedFace(const TextFont& font, const std::string& text) {
  VURLE_FONT_CACHES_SCOPE;
  if (text.empty()) return {};
  LayoutPtr layout = makeLayout({text, font, {}, {}, {}}, std::nullopt);
  // Left to right, the first run of the first line holds the first character.
  const GSList* runs = pango_layout_get_line_readonly(layout.get(), 0)->runs;
  const auto* run = runs ? static_cast<const PangoLayoutRun*>(runs->data) : nullptr;
  PangoFontFace* face = run ? pango_font_get_face(run->item->analysis.font) : nullptr;
  if (!face) return {};
  return std::string(pango_font_family_get_name(pango_font_face_get_family(face))) + " " +
         pango_font_face_get_face_name(face);
}

}  // namespace platform
