#pragma once

// Views set their text on the graphics layer's pinned fonts
// (platform/graphics/text.hpp); these take a view's font and colour.
// Main thread only.

#include <cairo.h>

#include <optional>
#include <string>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/text.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

using TextMetrics = platform::TextMetrics;
using TextStyle = platform::TextStyle;

platform::TextFont textFont(const Font& font);
platform::TextColor textColor(const Color& color);

// Wraps at the width when one is given and the text is wider.
TextMetrics measureText(const std::string& text, const Font& font, std::optional<double> width,
                        const TextStyle& style = {});
// Draws the text with its top-left corner at the origin of `frame`,
// wrapped to the frame's width.
void drawText(cairo_t* cr, const std::string& text, const Font& font, CGRect frame, const Color& color,
              const TextStyle& style = {});
std::string resolvedFace(const Font& font, const std::string& text = "A");

}  // namespace platform::ui
