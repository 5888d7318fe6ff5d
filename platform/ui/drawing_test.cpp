#include "platform/ui/drawing.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {
namespace {

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

TEST_F(DrawingTest, TextIsSetInThePinnedFontsWithStableMetrics) {
  EXPECT_EQ(resolvedFamily(Font::system(13)), "DejaVu Sans");
  EXPECT_EQ(resolvedFamily(Font::system(11, FontWeight::regular, FontDesign::monospaced)), "DejaVu Sans Mono");
  const auto one = measureText("Transition duration", Font::system(13, FontWeight::semibold), std::nullopt);
  const auto wrapped = measureText("Transition duration", Font::system(13, FontWeight::semibold), 60.0);
  EXPECT_GT(one.size.width, 60);
  EXPECT_LE(wrapped.size.width, 60);
  EXPECT_GT(wrapped.size.height, one.size.height) << "too wide for the proposal: wrapped";
  EXPECT_GT(one.baseline, 0);
  EXPECT_LT(one.baseline, one.size.height);
}

TEST_F(DrawingTest, ASampleWindowMatchesItsStoredPicture) {
  bool on = true;
  auto graph = ViewGraph::make(
      VStack(HorizontalAlignment::leading, 10,
             {HStack(VerticalAlignment::center, 6,
                     {ImageSystem("exclamationmark.circle.fill").foregroundStyle(Color::orange()),
                      ImageSystem("checkmark.circle").foregroundStyle(Color::accent()), ImageSystem("gearshape"),
                      Text("Symbols").font(Font::system(13, FontWeight::semibold))}),
              Toggle("Animate the pointer", {[&] { return on; }, [&](bool v) { on = v; }}).controlSize("small"),
              HStack(VerticalAlignment::center, 8, {Button("Cancel", [] {}), Button("Done", [] {}).disabled(true)}),
              ZStack({Shape(ShapeKind::roundedRectangle, 14).fill(Color::controlBackground().withOpacity(0.74)),
                      Shape(ShapeKind::circle).trim(0, 0.75).stroke(Color::accent(), 3).frame(30, 30)})
                  .frame(std::nullopt, 60.0),
              ProgressView(0.4), Divider(),
              Text("Secondary text wraps when the window is narrower than the sentence it shows.")
                  .font(Font::system(11))
                  .foregroundStyle(Color::secondary())})
          .padding(16));
  graph->setSize({240, 300});
  EXPECT_TRUE(hasSymbolShape("exclamationmark.circle.fill"));
  EXPECT_FALSE(hasSymbolShape("gearshape"));
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "sample_window");
}

TEST_F(DrawingTest, APopoverPointsItsArrowAtTheEdgeOfItsAnchor) {
  bool shown = true;
  auto graph = ViewGraph::make(
      VStack(HorizontalAlignment::leading, 0,
             {Button("?", [] {}).popover({[&] { return shown; }, [&](bool v) { shown = v; }},
                                         Text("Details of the failure").padding(16))})
          .padding(20)
          .frame(0.0, std::numeric_limits<double>::infinity(), 0.0, std::numeric_limits<double>::infinity(),
                 Alignment::topLeading()));
  graph->setSize({240, 120});
  graph->render();
  const CGRect anchor = graph->findKind("Button")->frame();
  const CGRect body = graph->findText("Details of the failure")->node().outerFrame;
  ASSERT_GT(body.origin.y, CGRectGetMaxY(anchor)) << "below its anchor, with a gap for the arrow";
  const auto window = pixelOf(*graph, 1, 1);
  const auto fill = pixelOf(*graph, int(CGRectGetMidX(body)), int(body.origin.y) + 4);  // the top padding
  ASSERT_TRUE(window && fill);
  EXPECT_NE(*window, *fill);
  // Halfway down the gap: the arrow under the anchor's middle, the window
  // beside it.
  const int x = int(CGRectGetMidX(anchor)), y = int(CGRectGetMaxY(anchor)) + 3;
  EXPECT_EQ(pixelOf(*graph, x, y), fill) << "the arrow";
  EXPECT_EQ(pixelOf(*graph, x - 9, y), window) << "left of the arrow";
  EXPECT_EQ(pixelOf(*graph, x + 9, y), window) << "right of the arrow";
}

TEST_F(DrawingTest, ComparisonToleratesSmallDifferencesOnly) {
  auto dir = std::filesystem::temp_directory_path() / ("vurle-ui-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto draw = [&](Color c, const std::string& name) {
    auto graph = ViewGraph::make(ColorView(c));
    graph->setSize({10, 10});
    EXPECT_TRUE(writePNG(*graph, (dir / name).string(), 1));
  };
  draw(Color::sRGB(0.5, 0.5, 0.5), "a.png");
  draw(Color::sRGB(0.51, 0.5, 0.5), "b.png");
  draw(Color::sRGB(0.7, 0.5, 0.5), "c.png");
  auto near = comparePNG((dir / "a.png").string(), (dir / "b.png").string(), 4);
  auto far = comparePNG((dir / "a.png").string(), (dir / "c.png").string(), 4);
  EXPECT_TRUE(near.loaded && near.sameSize);
  EXPECT_EQ(near.differingFraction, 0);
  EXPECT_EQ(far.differingFraction, 1);
  EXPECT_FALSE(comparePNG((dir / "a.png").string(), (dir / "missing.png").string(), 4).loaded);
  EXPECT_FALSE(writePNG(*ViewGraph::make(Text("x")), (dir / "no-such-folder" / "x.png").string()));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace platform::ui
