#include "platform/ui/text.hpp"

namespace platform::ui {

platform::TextFont textFont(const Font& font) {
  platform::TextWeight weight = platform::TextWeight::regular;
  if (font.weight == FontWeight::medium) weight = platform::TextWeight::medium;
  if (font.weight == FontWeight::semibold) weight = platform::TextWeight::semibold;
  if (font.weight == FontWeight::bold) weight = platform::TextWeight::bold;
  return {font.size, weight, font.design == FontDesign::monospaced};
}

platform::TextColor textColor(const Color& color) { return {color.red, color.green, color.blue, color.opacity}; }

TextMetrics measureText(const std::string& text, const Font& font, std::optional<double> width,
                        const TextStyle& style) {
  return platform::measureText({text, textFont(font), {}, style, {}}, width);
}

void drawText(cairo_t* cr, const std::string& text, const Font& font, CGRect frame, const Color& color,
              const TextStyle& style) {
  platform::drawText(cr, {text, textFont(font), textColor(color), style, {}}, frame);
}

std::string resolvedFamily(const Font& font) { return platform::resolvedFamily(textFont(font)); }

}  // namespace platform::ui
