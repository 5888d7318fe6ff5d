#include "platform/ui/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform::ui {
namespace {

// Measurements are remembered: asking again, in any order, gives what a
// first measurement of that text, font, width and style gives.
TEST(TextMeasureTest, EachTextFontWidthAndStyleKeepsItsOwnMeasurement) {
  const std::string text = "Include steps to reproduce it and what you expected.";
  struct Case {
    Font font;
    std::optional<double> width;
    TextStyle style;
  };
  const std::vector<Case> cases = {
      {Font::system(12), std::nullopt, {}},
      {Font::system(12), 120.0, {}},
      {Font::system(12), 60.0, {}},
      {Font::system(12, FontWeight::semibold), std::nullopt, {}},
      {Font::system(14), std::nullopt, {}},
      {Font::system(12, FontWeight::regular, FontDesign::monospaced), std::nullopt, {}},
      {Font::system(12), 120.0, {6, false, std::nullopt, 0}},
      {Font::system(12), 120.0, {6, false, 2, 0}},
      {Font::system(12), 120.0, {6, false, 2, 1.5}},
  };
  std::vector<TextMetrics> first;
  for (const auto& c : cases) first.push_back(measureText(text, c.font, c.width, c.style));
  for (size_t i = 1; i < cases.size(); ++i) {
    const bool differs = first[i].size != first[i - 1].size;
    EXPECT_TRUE(differs) << "case " << i << " measures like the one before it";
  }
  for (size_t i = cases.size(); i-- > 0;) {
    const auto again = measureText(text, cases[i].font, cases[i].width, cases[i].style);
    EXPECT_EQ(again.size, first[i].size) << i;
    EXPECT_EQ(again.baseline, first[i].baseline) << i;
  }
  // Long texts are measured every time, and alike.
  const std::string longText(5000, 'x');
  EXPECT_EQ(measureText(longText, Font::system(12), 200.0).size, measureText(longText, Font::system(12), 200.0).size);
  EXPECT_GT(measureText(longText, Font::system(12), 200.0).size.height, measureText("x", Font::system(12), 200.0).size.height);
}

}  // namespace
}  // namespace platform::ui
