#include "platform/appkit/display_link.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class DisplayLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override {
    resetProcessState();
    EXPECT_EQ(CADisplayLink::scheduledCount(), 0u);
  }
  SimulatedSchedulerScope scope;
};

// A target that records the frames it saw.
struct Target {
  std::vector<double> frames;
  std::function<void(CADisplayLink&)> during;
  void tick(CADisplayLink& link) {
    frames.push_back(link.timestamp());
    if (during) during(link);
  }
  int plain = 0;
  void step() { ++plain; }
};

TEST_F(DisplayLinkTest, OnlyAddedUnpausedLinksInALiveModeFire) {
  auto screen = NSScreen::screens().front();
  auto target = std::make_shared<Target>();
  auto idle = displayLinkWithTarget(screen, target, &Target::tick);
  auto common = displayLinkWithTarget(screen, target, &Target::tick);
  auto standard = displayLinkWithTarget(screen, target, &Target::tick);
  common->addToRunLoop(RunLoop::main(), RunLoopMode::common);
  standard->addToRunLoop(RunLoop::main(), RunLoopMode::default_);
  standard->addToRunLoop(RunLoop::main(), RunLoopMode::default_);  // once only

  // Not added: never fires. Both added links fire in the default mode.
  EXPECT_EQ(CADisplayLink::fireAll(1000.5), 2u);
  EXPECT_EQ(target->frames, (std::vector<double>{1000.5, 1000.5}));
  EXPECT_EQ(idle->frameCount(), 0);
  EXPECT_EQ(common->timestamp(), 1000.5);
  EXPECT_DOUBLE_EQ(common->targetTimestamp(), 1000.5 + 1.0 / 120.0);

  // While a menu tracks, only the common-mode link fires.
  RunLoop::main().setCurrentMode(RunLoopMode::eventTracking);
  EXPECT_EQ(CADisplayLink::fireAll(1000.6), 1u);
  EXPECT_EQ(common->timestamp(), 1000.6);
  EXPECT_EQ(standard->timestamp(), 1000.5);
  RunLoop::main().setCurrentMode(RunLoopMode::default_);

  // Paused links skip frames and resume where they are.
  common->setPaused(true);
  EXPECT_EQ(CADisplayLink::fireAll(1000.7), 1u);
  common->setPaused(false);
  EXPECT_EQ(CADisplayLink::fireAll(1000.8), 2u);
  EXPECT_EQ(common->frameCount(), 3);

  // An invalidated link never fires again and cannot be re-added.
  standard->invalidate();
  standard->addToRunLoop(RunLoop::main(), RunLoopMode::common);
  EXPECT_FALSE(standard->isValid());
  EXPECT_EQ(CADisplayLink::fireAll(1000.9), 1u);
  EXPECT_EQ(CADisplayLink::scheduledCount(), 1u);
  common->invalidate();
}

TEST_F(DisplayLinkTest, TheTargetIsHeldWeaklyAndTheRunLoopKeepsTheLink) {
  auto screen = NSScreen::screens().front();
  auto target = std::make_shared<Target>();
  std::weak_ptr<CADisplayLink> weakLink;
  {
    auto link = displayLinkWithTarget(screen, target, &Target::step);
    link->addToRunLoop(RunLoop::main(), RunLoopMode::common);
    weakLink = link;
  }
  // Nobody holds the link but the run loop: it still fires.
  EXPECT_EQ(CADisplayLink::fireAll(1.0), 1u);
  EXPECT_EQ(target->plain, 1);
  ASSERT_FALSE(weakLink.expired());

  // The link does not keep its target alive; the next frame finds it gone
  // and ends the link, which the run loop then lets go.
  std::weak_ptr<Target> weakTarget = target;
  target.reset();
  EXPECT_TRUE(weakTarget.expired());
  CADisplayLink::fireAll(2.0);
  EXPECT_TRUE(weakLink.expired());
  EXPECT_EQ(CADisplayLink::scheduledCount(), 0u);
}

TEST_F(DisplayLinkTest, CallbacksMayEndTheirLinkOrMakeNewOnesAndScreensMustBeConnected) {
  auto primary = NSScreen::screens().front();
  auto external = NSScreen::make(CGRectMake(1512, 0, 1920, 1080), 1.0);
  external->setMaximumFramesPerSecond(60);
  NSScreen::setScreens({primary, external});

  auto target = std::make_shared<Target>();
  std::shared_ptr<CADisplayLink> made;
  auto first = displayLinkWithTarget(primary, target, &Target::tick);
  first->addToRunLoop(RunLoop::main(), RunLoopMode::common);
  target->during = [&](CADisplayLink& link) {
    // The pointer moved to the other screen: end this link, follow it.
    link.invalidate();
    made = displayLinkWithTarget(external, target, &Target::tick);
    made->addToRunLoop(RunLoop::main(), RunLoopMode::common);
    target->during = nullptr;
  };
  EXPECT_EQ(CADisplayLink::fireAll(5.0), 1u);  // the new link waits for the next pass
  ASSERT_TRUE(made);
  EXPECT_FALSE(first->isValid());
  EXPECT_DOUBLE_EQ(made->duration(), 1.0 / 60.0);
  EXPECT_EQ(CADisplayLink::fireAll(5.1), 1u);
  EXPECT_EQ(made->timestamp(), 5.1);

  // A disconnected screen's link stays valid but gets no frames.
  NSScreen::setScreens({primary});
  EXPECT_EQ(CADisplayLink::fireAll(5.2), 0u);
  EXPECT_TRUE(made->isValid());
  NSScreen::setScreens({primary, external});
  EXPECT_EQ(CADisplayLink::fireAll(5.3), 1u);
  made->invalidate();
}

TEST_F(DisplayLinkTest, TheRefreshTimerDrivesLinksOnTheVirtualClockAndBadInputIsRefused) {
  auto target = std::make_shared<Target>();
  auto link = displayLinkWithTarget(NSScreen::screens().front(), target, &Target::tick);
  link->addToRunLoop(RunLoop::main(), RunLoopMode::default_);
  auto refresh = CADisplayLink::scheduleRefresh(0.01);
  scope->advance(0.035);
  ASSERT_EQ(target->frames.size(), 3u);
  EXPECT_DOUBLE_EQ(target->frames[0], 1000.01);
  EXPECT_DOUBLE_EQ(target->frames[2], 1000.03);
  refresh->invalidate();
  scope->advance(0.1);
  EXPECT_EQ(target->frames.size(), 3u);
  link->invalidate();

  EXPECT_THROW(CADisplayLink::make(nullptr, [](CADisplayLink&) { return true; }), std::invalid_argument);
  EXPECT_THROW(CADisplayLink::make(NSScreen::screens().front(), nullptr), std::invalid_argument);
  EXPECT_THROW(CADisplayLink::scheduleRefresh(0), std::invalid_argument);
}

// The refresh wakes the run loop only while a link would fire; stopped and
// started again it keeps its grid and never gives one frame time twice.
TEST_F(DisplayLinkTest, TheRefreshTicksOnlyWhileSomeLinkWouldFireAndKeepsItsPhase) {
  auto screen = NSScreen::screens().front();
  auto refresh = CADisplayLink::scheduleRefresh(0.01);  // frames at 1000.01 + k × 0.01
  EXPECT_FALSE(refresh->isTicking());
  scope->advance(1.0);
  EXPECT_EQ(scope->pendingCount(), 0u) << "no link: nothing to wake for";

  auto target = std::make_shared<Target>();
  auto link = displayLinkWithTarget(screen, target, &Target::tick);
  EXPECT_FALSE(refresh->isTicking()) << "not added";
  link->setPaused(true);
  link->addToRunLoop(RunLoop::main(), RunLoopMode::common);
  EXPECT_FALSE(refresh->isTicking()) << "paused";
  link->setPaused(false);
  EXPECT_TRUE(refresh->isTicking());
  // Resumed on a frame's own time (1001.00), it gets that frame.
  scope->advance(0.025);  // to 1001.025
  ASSERT_EQ(target->frames.size(), 3u);
  EXPECT_NEAR(target->frames[0], 1001.00, 1e-9);
  EXPECT_NEAR(target->frames[2], 1001.02, 1e-9);

  // A callback that pauses and resumes its own link gets the next frame,
  // not the same one again.
  // (Bounded, so a refresh that repeats a frame fails instead of looping.)
  target->during = [seen = &target->frames](CADisplayLink& self) {
    if (seen->size() > 20) return;
    self.setPaused(true);
    self.setPaused(false);
  };
  scope->advance(0.02);  // to 1001.045
  ASSERT_EQ(target->frames.size(), 5u);
  EXPECT_NEAR(target->frames[3], 1001.03, 1e-9);
  EXPECT_NEAR(target->frames[4], 1001.04, 1e-9);
  target->during = nullptr;

  // Resting, it costs nothing; resumed between frames, the next comes on
  // the grid.
  link->setPaused(true);
  EXPECT_FALSE(refresh->isTicking());
  scope->advance(0.5);  // to 1001.545
  EXPECT_EQ(scope->pendingCount(), 0u);
  link->setPaused(false);
  scope->advance(0.01);
  ASSERT_EQ(target->frames.size(), 6u);
  EXPECT_NEAR(target->frames[5], 1001.55, 1e-9);

  // Its screen gone, it stops; back, the frames come back.
  auto other = NSScreen::make(CGRectMake(0, 0, 800, 600), 1.0);
  NSScreen::setScreens({other});
  EXPECT_FALSE(refresh->isTicking());
  NSScreen::setScreens({screen, other});
  EXPECT_TRUE(refresh->isTicking());
  link->invalidate();
  EXPECT_FALSE(refresh->isTicking());

  // A later refresh replaces this one.
  auto next = CADisplayLink::scheduleRefresh(0.02);
  EXPECT_FALSE(refresh->isValid());
  EXPECT_TRUE(next->isValid());
  next->invalidate();
}

}  // namespace
}  // namespace platform
