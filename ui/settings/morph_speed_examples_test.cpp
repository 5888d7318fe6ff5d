#include "ui/settings/morph_speed_examples.hpp"

#include <gtest/gtest.h>

#include "ui/onboarding/window_test_support.hpp"

#include <cmath>

#include "cursor/art/native_cursor_library.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/ui/graph.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;

class MorphSpeedExamplesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = testing::freshProcessWithWindow();
    window->orderFront();
    examples = MorphSpeedExamples::make({150, 60, 220}, true);
    for (int slot = 0; slot < 3; ++slot) {
      views.push_back(std::make_shared<SpeedExampleDrawingView>(CGRectMake(160.0 * slot, 0, 160, 160)));
      views.back()->setPointerScale(2.1);
      window->contentView()->addSubview(views.back());
      examples->attachView(views.back(), slot);
    }
  }
  void TearDown() override {
    examples.reset();
    views.clear();
    window.reset();
    resetProcessState();
  }
  int64_t identityOf(const std::shared_ptr<NSCursor>& cursor) {
    return NativeCursorLibrary::shared()->match(cursor)->identity();
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSWindow> window;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::vector<std::shared_ptr<SpeedExampleDrawingView>> views;
};

TEST_F(MorphSpeedExamplesTest, EveryViewMorphsThroughTheCatalogEveryPointNineSecondsAtItsOwnDuration) {
  examples->reset();
  EXPECT_EQ(examples->targetName(), "Pointer");
  examples->step(0.0);
  EXPECT_EQ(examples->targetName(), "Add") << "the first step already morphs";
  const double durations[] = {0.15, 0.06, 0.22};
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_DOUBLE_EQ(examples->animation(slot).duration, durations[slot]);
    EXPECT_EQ(examples->animation(slot).to->identity(), identityOf(NSCursor::dragCopyCursor()));
    EXPECT_TRUE(views[size_t(slot)]->image());
  }
  // Steps of 1/16 s add exactly; the next change is due at 0.9 s.
  for (int k = 1; k <= 14; ++k) examples->step(0.0625 * k);
  struct Step {
    double now;
    double clock;
    const char* target;
  } steps[] = {
      {std::nextafter(0.9, 0.0), std::nextafter(0.9, 0.0), "Add"},  // just before the change
      {0.9, 0.9, "Open hand"},                                      // at it
      {1.15, 1.0, "Open hand"},                                     // a 0.25 s gap counts 0.1 s
      {1.05, 1.0, "Open hand"},                                     // a negative gap counts nothing
      {1.10, 1.05, "Open hand"},
  };
  for (const auto& s : steps) {
    examples->step(s.now);
    EXPECT_NEAR(examples->clock(), s.clock, 1e-12) << s.now;
    EXPECT_EQ(examples->targetName(), s.target) << s.now;
  }
  EXPECT_NEAR(examples->nextChange(), 1.8, 1e-12);
  examples->setCurrentMilliseconds(120);
  for (double now = 1.2; examples->targetName() == "Open hand" && now < 3; now += 0.1) examples->step(now);
  EXPECT_EQ(examples->targetName(), "Closed hand");
  EXPECT_DOUBLE_EQ(examples->animation(0).duration, 0.12) << "slot 0 follows the current setting";
}

TEST_F(MorphSpeedExamplesTest, PlaysOnlyWhileVisibleAndStopsUnderReduceMotion) {
  examples->start();
  ASSERT_TRUE(examples->link());
  EXPECT_TRUE(examples->isPlaying());
  EXPECT_FALSE(examples->link()->isPaused());
  window->setOccluded(true);
  EXPECT_TRUE(examples->link()->isPaused());
  window->setOccluded(false);
  EXPECT_FALSE(examples->link()->isPaused());
  scope->advance(1.0 / 60);
  CADisplayLink::fireAll(scope->now());
  EXPECT_EQ(examples->clock(), 0) << "the first frame after a start or an occlusion advances nothing";
  scope->advance(1.0 / 60);
  CADisplayLink::fireAll(scope->now());
  EXPECT_NEAR(examples->clock(), 1.0 / 60, 1e-9);

  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  CADisplayLink::fireAll(scope->now());
  EXPECT_FALSE(examples->isPlaying()) << "a running link stops at its next tick";
  EXPECT_FALSE(examples->link());
  examples->start();
  EXPECT_FALSE(examples->isPlaying()) << "no start under Reduce Motion";
  examples->hover(NSCursor::IBeamCursor(), "Text", true);
  EXPECT_FALSE(examples->animation(1).isRunning(examples->clock())) << "the hovered art shows at once";

  NSWorkspace::sharedWorkspace().setReduceMotion(false);
  examples->setAnimationsEnabled(false);
  examples->start();
  EXPECT_FALSE(examples->isPlaying()) << "disabled examples never play";
  examples->setAnimationsEnabled(true);
  EXPECT_TRUE(examples->isPlaying());
  window->orderOut();
  CADisplayLink::fireAll(scope->now());
  EXPECT_FALSE(examples->isPlaying()) << "a hidden window stops playback";
}

TEST_F(MorphSpeedExamplesTest, HoverRetargetsEveryViewAndEndingItResumesCyclingLater) {
  examples->start();
  examples->step(5.0);
  examples->step(5.3);
  const int index = examples->index();
  examples->hover(NSCursor::IBeamCursor(), std::nullopt, true);
  EXPECT_EQ(examples->targetName(), "cursor") << "a hover without a name";
  EXPECT_TRUE(examples->animation(2).isRunning(examples->clock())) << "animated while playing";
  const auto before = examples->animation(0).started;
  examples->hover(NSCursor::IBeamCursor(), "Text", true);
  EXPECT_EQ(examples->animation(0).started, before) << "the same art again changes nothing";
  EXPECT_EQ(examples->targetName(), "cursor");
  examples->step(6.3);
  EXPECT_EQ(examples->targetName(), "cursor") << "no cycling while hovered";
  examples->hover(nullptr, std::nullopt, true);
  const double resumeAt = examples->clock() + 0.9;
  EXPECT_NEAR(examples->nextChange(), resumeAt, 1e-9);
  examples->step(6.35);
  EXPECT_EQ(examples->targetName(), "cursor") << "the views stay on the hovered art until then";
  double now = 6.4;
  for (int guard = 0; examples->index() == index && guard < 100; ++guard, now += 0.05) examples->step(now);
  EXPECT_EQ(examples->index(), index + 1) << "cycling resumes from the same catalog position";
  EXPECT_GE(examples->clock(), resumeAt);
  EXPECT_LT(examples->clock(), resumeAt + 0.05 + 1e-9) << "at the first step that reaches it";
  examples->reset();
  EXPECT_EQ(examples->targetName(), "Pointer");
}

TEST_F(MorphSpeedExamplesTest, ABackingChangeRebuildsEachSlotOnceAndTheLabelFollowsTheDuration) {
  examples->start();
  const int before[] = {examples->preparations(0), examples->preparations(1), examples->preparations(2)};
  window->setBackingScaleFactor(1);
  examples->step(1.0);
  examples->step(1.1);
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_EQ(examples->preparations(slot), before[slot] + 1) << slot;
    EXPECT_DOUBLE_EQ(*examples->renderScale(slot), 2.1);
  }

  auto graph = ui::ViewGraph::make(ui::HStack(ui::VerticalAlignment::center, 0,
                                              {SpeedExampleCanvas(examples, 0), SpeedExampleCanvas(examples, 2)}));
  scope->runUntilIdle();
  EXPECT_TRUE(graph->findLabel("150 millisecond cursor morph"));
  EXPECT_TRUE(graph->findLabel("220 millisecond cursor morph"));
  examples->setCurrentMilliseconds(180.5);
  graph->setNeedsRender();
  scope->runUntilIdle();
  EXPECT_TRUE(graph->findLabel("181 millisecond cursor morph")) << "whole milliseconds, halves away from zero";
}

TEST_F(MorphSpeedExamplesTest, ThreeCanvasesPartwayThroughTheirMorphsMatchTheStoredPicture) {
  auto fresh = MorphSpeedExamples::make({150, 60, 220}, true);
  auto graph = ui::ViewGraph::make(ui::HStack(
      ui::VerticalAlignment::center, 0,
      {SpeedExampleCanvas(fresh, 0), SpeedExampleCanvas(fresh, 1), SpeedExampleCanvas(fresh, 2)}));
  graph->setSize({480, 160});
  scope->runUntilIdle();
  fresh->reset();
  fresh->step(0);
  fresh->step(0.07);
  EXPECT_FALSE(fresh->animation(1).isRunning(fresh->clock())) << "60 ms: done";
  EXPECT_TRUE(fresh->animation(0).isRunning(fresh->clock()) && fresh->animation(2).isRunning(fresh->clock()));
  expectMatchesStoredPicture(*graph, VURLE_PICTURES_DIR, "speed_examples");
}

TEST_F(MorphSpeedExamplesTest, TheCatalogFitsInsideTheCanvas) {
  const CGRect c = speedExampleCatalogBounds();
  EXPECT_LT(CGRectGetMinX(c), 0);
  EXPECT_GT(CGRectGetWidth(c), 20);
  const auto wide = fitCatalog(CGRectMake(0, 0, 160, 160), 2.5);
  const auto small = fitCatalog(CGRectMake(0, 0, 60, 60), 2.5);
  const auto empty = fitCatalog(CGRectMake(0, 0, 20, 20), 2.5);
  EXPECT_LE(wide.scale, 2.5);
  EXPECT_NEAR(small.scale, std::min(28 / CGRectGetWidth(c), 28 / CGRectGetHeight(c)), 1e-9);
  EXPECT_EQ(empty.scale, 0) << "no room inside the 16-point inset";
  EXPECT_NEAR(wide.x + CGRectGetMidX(c) * wide.scale, 80, 1e-9) << "centred";
  EXPECT_THROW(MorphSpeedExamples::make({150, 60}, false), std::invalid_argument);
}

}  // namespace
}  // namespace vurle
