#include "ui/settings/success_mark.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/picture_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class SuccessMarkTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

// What one frame shows of the mark.
struct MarkFrame {
  double scale = 0, trimTo = -1, lineWidth = 0, inset = 0;
  std::string lineCap, lineJoin;
};

MarkFrame readFrame(ViewGraph& graph) {
  MarkFrame f;
  const Node& mark = graph.findKind("GeometryReader")->node();
  f.scale = mark.modifier("scaleEffect")->number("value");
  const Node& tick = graph.findKind("SuccessTick")->node();
  f.trimTo = tick.modifier("trim")->number("to");
  f.lineWidth = tick.modifier("stroke")->number("lineWidth");
  f.lineCap = tick.modifier("stroke")->string("lineCap");
  f.lineJoin = tick.modifier("stroke")->string("lineJoin");
  f.inset = tick.modifier("inset")->number("amount");
  return f;
}

TEST_F(SuccessMarkTest, TheTickIsDrawnInTheWidthAndHeightOfTheRectangleItIsGiven) {
  struct Case {
    CGRect rect;
    std::vector<CGPoint> points;
  };
  const std::vector<Case> cases{
      {CGRectMake(12.88, 12.88, 30.24, 30.24), {{15.2992, 28}, {24.3712, 38.584}, {41.608, 17.416}}},
      // Not square: x follows the width, y the height.
      {CGRectMake(10, 20, 100, 50), {{18, 45}, {48, 62.5}, {105, 27.5}}},
  };
  for (const auto& c : cases) {
    const Path path = successTickPath(c.rect);
    ASSERT_EQ(path.elements.size(), 3u);
    EXPECT_EQ(path.elements[0].op, Path::Op::move);
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_NEAR(path.elements[i].point.x, c.points[i].x, 1e-9) << i;
      EXPECT_NEAR(path.elements[i].point.y, c.points[i].y, 1e-9) << i;
    }
  }
}

TEST_F(SuccessMarkTest, TheMarkRevealsItselfInOneEaseOutOrAtOnceUnderReduceMotion) {
  struct Case {
    double width;
    bool reduceMotion;
    double lineWidth, inset;
  };
  for (const Case& c : std::vector<Case>{{56, false, 3.36, 12.88},
                                         {30, false, 2, 6.9},
                                         {56, true, 3.36, 12.88},
                                         {30, true, 2, 6.9}}) {
    SCOPED_TRACE(std::to_string(c.width) + (c.reduceMotion ? " with Reduce Motion" : ""));
    NSWorkspace::sharedWorkspace().setReduceMotion(c.reduceMotion);
    auto graph = ViewGraph::make(SuccessMark().frame(c.width, c.width));
    graph->setSize({c.width, c.width});
    std::vector<MarkFrame> frames;
    graph->setFrameObserver([&](ViewGraph& g) { frames.push_back(readFrame(g)); });
    scope->runUntilIdle();
    ASSERT_GE(frames.size(), 1u);
    const MarkFrame first = frames.front(), last = readFrame(*graph);
    EXPECT_EQ(first.scale, c.reduceMotion ? 1.0 : 0.88);
    EXPECT_EQ(first.trimTo, c.reduceMotion ? 1.0 : 0.0);
    EXPECT_EQ(last.scale, 1.0);
    EXPECT_EQ(last.trimTo, 1.0);
    for (const MarkFrame& f : {first, last}) {
      EXPECT_NEAR(f.lineWidth, c.lineWidth, 1e-9);
      EXPECT_NEAR(f.inset, c.inset, 1e-9);
      EXPECT_EQ(f.lineCap, "round");
      EXPECT_EQ(f.lineJoin, "round");
    }
    ASSERT_EQ(graph->animations().size(), 1u);
    EXPECT_EQ(graph->animations()[0].identity, graph->findKind("SuccessMark")->identity());
    EXPECT_TRUE(graph->animations()[0].transaction);
    EXPECT_EQ(graph->animations()[0].animation,
              c.reduceMotion ? std::nullopt : std::optional<Animation>(Animation::easeOut(0.3)));
    EXPECT_FALSE(graph->findKind("Circle")->accessibility().isElement && !graph->findKind("Circle")->accessibility().hidden);
    EXPECT_TRUE(graph->findKind("GeometryReader")->accessibility().hidden);
  }
}

TEST_F(SuccessMarkTest, AMarkShownAgainStartsOverAndItsFramesMatchTheirPictures) {
  auto root = [](bool shown) { return If(shown, SuccessMark().frame(56, 56)).padding(12); };
  auto graph = ViewGraph::make(root(true));
  graph->setSize({80, 80});
  bool first = true;
  std::vector<double> trims;
  graph->setFrameObserver([&](ViewGraph& g) {
    auto tick = g.findKind("SuccessTick");
    trims.push_back(tick ? tick->modifier("trim")->number("to") : -1);
    if (first && tick) {
      first = false;
      expectMatchesStoredPicture(g, VURLE_PICTURES_DIR, "success_mark_first");
      // The disc is at 88 % (radius 24.64 around 40, 40): its top row at
      // full size is still the window.
      EXPECT_EQ(pixelOf(g, 40, 13), pixelOf(g, 1, 1));
    }
  });
  scope->runUntilIdle();
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "success_mark_last");
  EXPECT_NE(pixelOf(*graph, 40, 13), pixelOf(*graph, 1, 1)) << "the full-size disc";
  // On the tick's first stroke, halfway between its first two points.
  const auto onTick = pixelOf(*graph, 12 + 30, 12 + 33);
  ASSERT_TRUE(onTick);
  EXPECT_GT((*onTick)[1], 150);
  EXPECT_LT((*onTick)[0], 120) << "green";

  graph->setRoot(root(false));
  scope->runUntilIdle();
  graph->setRoot(root(true));
  scope->runUntilIdle();
  EXPECT_EQ(trims, (std::vector<double>{0, 1, -1, 0, 1})) << "drawn in again from its start";
  EXPECT_EQ(graph->animations().size(), 2u);
}

}  // namespace
}  // namespace vurle
