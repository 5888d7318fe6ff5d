#include "platform/ui/text.hpp"

#include <map>
#include <tuple>

namespace platform::ui {

platform::TextFont textFont(const Font& font) {
  platform::TextWeight weight = platform::TextWeight::regular;
  if (font.weight == FontWeight::medium) weight = platform::TextWeight::medium;
  if (font.weight == FontWeight::semibold) weight = platform::TextWeight::semibold;
  if (font.weight == FontWeight::bold) weight = platform::TextWeight::bold;
  return {font.size, weight, font.design == FontDesign::monospaced};
}

platform::TextColor textColor(const Color& color) { return {color.red, color.green, color.blue, color.opacity}; }

namespace {

// Layout asks for the same text at the same width many times in one pass
// (a stack measures each child at several proposals), and again on every
// render; the fonts are pinned, so a measurement never changes. Main
// thread only, as views are. Bounded: long texts are not kept, and the
// whole memo is dropped when it grows past its limit.
constexpr size_t kMemoLimit = 4096;
constexpr size_t kLongestMemoText = 1024;
using MemoKey = std::tuple<std::string, double, int, bool, bool, double, double, bool, int, double>;
std::map<MemoKey, TextMetrics>& memo() {
  static std::map<MemoKey, TextMetrics> measured;
  return measured;
}

}  // namespace

TextMetrics measureText(const std::string& text, const Font& font, std::optional<double> width,
                        const TextStyle& style) {
  const platform::TextFont resolved = textFont(font);
  if (text.size() > kLongestMemoText) return platform::measureText({text, resolved, {}, style, {}}, width);
  MemoKey key{text,          resolved.size, int(resolved.weight), resolved.monospaced, width.has_value(),
              width.value_or(0), style.lineSpacing, style.underline, style.lineLimit.value_or(0), style.tracking};
  auto& measured = memo();
  if (auto found = measured.find(key); found != measured.end()) return found->second;
  const TextMetrics metrics = platform::measureText({text, resolved, {}, style, {}}, width);
  if (measured.size() >= kMemoLimit) measured.clear();
  measured.emplace(std::move(key), metrics);
  return metrics;
}

void drawText(cairo_t* cr, const std::string& text, const Font& font, CGRect frame, const Color& color,
              const TextStyle& style) {
  platform::drawText(cr, {text, textFont(font), textColor(color), style, {}}, frame);
}

std::string resolvedFace(const Font& font, const std::string& text) {
  return platform::resolvedFace(textFont(font), text);
}

}  // namespace platform::ui
