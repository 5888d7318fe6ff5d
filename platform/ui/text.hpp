#pragma once

// Text set with pango on the project's own pinned fonts, so that a window
// measures and draws the same on every machine: a private fontconfig
// configuration that knows only the DejaVu folder (no system or user
// configuration is read), the DejaVu Sans families, 72 dots per inch (a
// point is a pixel at scale 1), grey antialiasing and no hinting, with
// unhinted metrics so a layout does not change with the drawing scale.
// Main thread only.

#include <optional>
#include <string>

#include <cairo.h>

#include "platform/graphics/geometry.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

struct TextMetrics {
  CGSize size;
  double baseline = 0;  // from the top of the first line
};

// What a text's environment adds to its font: room between lines (not
// after the last), a solid underline, a most number of lines (the last
// one cut with an ellipsis) and room between letters.
struct TextStyle {
  double lineSpacing = 0;
  bool underline = false;
  std::optional<int> lineLimit;
  double tracking = 0;
};

// Wraps at the width when one is given and the text is wider.
TextMetrics measureText(const std::string& text, const Font& font, std::optional<double> width,
                        const TextStyle& style = {});
// Draws the text with its top-left corner at the origin of `frame`,
// wrapped to the frame's width.
void drawText(cairo_t* cr, const std::string& text, const Font& font, CGRect frame, const Color& color,
              const TextStyle& style = {});
// The family every font resolves to, e.g. "DejaVu Sans", for checks that
// the pinned fonts were found.
std::string resolvedFamily(const Font& font);

}  // namespace platform::ui
