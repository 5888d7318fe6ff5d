#include "platform/dispatch/run_loop.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;

class RunLoopTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  double start = scope->now();
  std::vector<std::string> log;

  NSTimer::TimerBlock note(std::string entry) {
    return [this, entry](NSTimer&) { log.push_back(entry); };
  }
};

TEST_F(RunLoopTest, ScheduledTimerFiresOnTheMainThreadAndThenInvalidatesItself) {
  bool onMain = false;
  double firedAt = 0;
  auto timer = NSTimer::scheduledTimer(0.2, false, [&](NSTimer&) {
    onMain = isMainThread() && DispatchQueue::main()->isCurrent();
    firedAt = systemUptime();
  });
  EXPECT_EQ(timer->fireDate(), start + 0.2);
  EXPECT_EQ(timer->timeInterval(), 0.0);
  scope->advance(1.0);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(firedAt, start + 0.2);
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(RunLoopTest, RepeatingTimerAdvancesItsFireDateUntilInvalidated) {
  int count = 0;
  auto timer = NSTimer::scheduledTimer(0.2, true, [&](NSTimer& self) {
    if (++count == 3) self.invalidate();
  });
  timer->setTolerance(0.05);
  EXPECT_EQ(timer->tolerance(), 0.05);
  EXPECT_EQ(timer->timeInterval(), 0.2);
  scope->advance(0.45);
  EXPECT_EQ(count, 2);
  EXPECT_NEAR(timer->fireDate(), start + 0.6, 1e-9);
  scope->advance(10.0);
  EXPECT_EQ(count, 3);
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(RunLoopTest, InvalidateFromOutsideStopsTheTimerAndReleasesItsBlock) {
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  auto timer = NSTimer::scheduledTimer(0.1, true, [token](NSTimer&) { ++*token; });
  token.reset();
  scope->advance(0.25);
  EXPECT_EQ(*watch.lock(), 2);
  timer->invalidate();
  EXPECT_TRUE(watch.expired());
  scope->advance(1.0);
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(RunLoopTest, DefaultModeTimerWaitsWhileTheLoopTracksEvents) {
  NSTimer::scheduledTimer(0.1, true, note("default"));
  auto common = NSTimer::make(0.1, true, note("common"));
  RunLoop::main().add(common, RunLoopMode::common);
  auto tracking = NSTimer::make(0.1, false, note("tracking"));
  RunLoop::main().add(tracking, RunLoopMode::eventTracking);

  RunLoop::main().setCurrentMode(RunLoopMode::eventTracking);
  EXPECT_EQ(RunLoop::main().currentMode(), RunLoopMode::eventTracking);
  scope->advance(0.35);
  EXPECT_THAT(log, ElementsAre("common", "tracking", "common", "common"));

  // Back in the default mode the waiting timer fires once for all it missed.
  log.clear();
  RunLoop::main().setCurrentMode(RunLoopMode::default_);
  scope->runUntilIdle();
  EXPECT_THAT(log, ElementsAre("default"));
  scope->advance(0.1);
  // Both are due at 0.4; the common timer was re-armed first.
  EXPECT_THAT(log, ElementsAre("default", "common", "default"));
}

TEST_F(RunLoopTest, AddingInAnotherModeWidensTheTimersModes) {
  auto timer = NSTimer::make(0.1, true, note("tick"));
  RunLoop::main().add(timer, RunLoopMode::default_);
  RunLoop::main().add(timer, RunLoopMode::eventTracking);
  RunLoop::main().setCurrentMode(RunLoopMode::eventTracking);
  scope->advance(0.15);
  EXPECT_THAT(log, ElementsAre("tick"));
  EXPECT_EQ(scope->pendingCount(), 1u);

  timer->invalidate();
  RunLoop::main().add(timer, RunLoopMode::default_);
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(RunLoopTest, TimerMadeEarlierAndAddedLateFiresAtOnce) {
  auto timer = NSTimer::make(0.1, false, note("late"));
  scope->advance(1.0);
  EXPECT_TRUE(log.empty());
  RunLoop::main().add(timer, RunLoopMode::default_);
  scope->runUntilIdle();
  EXPECT_THAT(log, ElementsAre("late"));
}

TEST_F(RunLoopTest, PerformAndMainQueueShareOneFifo) {
  auto main = DispatchQueue::main();
  RunLoop::main().perform([&] { log.push_back("perform-1"); });
  main->async([&] { log.push_back("main-1"); });
  RunLoop::main().perform([&] {
    log.push_back("perform-2");
    main->async([&] { log.push_back("main-3"); });
  });
  main->async([&] { log.push_back("main-2"); });
  scope->drainMain();
  EXPECT_THAT(log, ElementsAre("perform-1", "main-1", "perform-2", "main-2", "main-3"));
}

TEST_F(RunLoopTest, RunUntilServesTheLoopAndStopEndsIt) {
  NSTimer::scheduledTimer(0.5, true, [&](NSTimer&) {
    log.push_back("tick");
    if (log.size() == 3) RunLoop::main().stop();
  });
  EXPECT_EQ(RunLoop::main().runUntil(start + 1.2), RunLoop::RunResult::timedOut);
  EXPECT_EQ(scope->now(), start + 1.2);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_EQ(RunLoop::main().runUntil(start + 100.0), RunLoop::RunResult::stopped);
  EXPECT_EQ(scope->now(), start + 1.5);

  // A stop sent while the loop is not running ends the next run at once.
  RunLoop::main().stop();
  EXPECT_EQ(RunLoop::main().runUntil(start + 100.0), RunLoop::RunResult::stopped);
  EXPECT_EQ(scope->now(), start + 1.5);
}

TEST_F(RunLoopTest, BadInputIsRefused) {
  EXPECT_THROW(NSTimer::scheduledTimer(NAN, true, note("x")), std::invalid_argument);
  EXPECT_THROW(NSTimer::scheduledTimer(INFINITY, false, note("x")), std::invalid_argument);
  EXPECT_THROW(NSTimer::make(0.1, true, NSTimer::TimerBlock{}), std::invalid_argument);
  EXPECT_THROW(RunLoop::main().add(nullptr, RunLoopMode::default_), std::invalid_argument);
  EXPECT_THROW(RunLoop::main().setCurrentMode(RunLoopMode::common), std::invalid_argument);
  EXPECT_THROW(RunLoop::main().perform(Block{}), std::invalid_argument);
  EXPECT_THROW(RunLoop::main().runUntil(NAN), std::invalid_argument);
  auto timer = NSTimer::make(0.1, true, note("x"));
  EXPECT_THROW(timer->setTolerance(-0.01), std::invalid_argument);
  EXPECT_EQ(timer->tolerance(), 0.0);
  EXPECT_EQ(scope->pendingCount(), 0u);

  // Like the platform, a non-positive interval is taken as 0.1 ms.
  auto immediate = NSTimer::scheduledTimer(0.0, false, note("soon"));
  EXPECT_EQ(immediate->fireDate(), start + 0.0001);
}

}  // namespace
}  // namespace platform
