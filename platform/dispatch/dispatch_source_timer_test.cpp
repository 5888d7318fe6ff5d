#include "platform/dispatch/dispatch_source_timer.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/scheduler.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;

// Firing times are read back relative to the start uptime.
auto Near(double seconds) { return ::testing::DoubleNear(seconds, 1e-9); }

class DispatchSourceTimerTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  double start = scope->now();
  std::shared_ptr<DispatchQueue> queue = DispatchQueue::make("mirt.vurle.sampler", QoS::userInteractive);
  std::shared_ptr<DispatchSourceTimer> timer = DispatchSourceTimer::make(queue);
  std::vector<double> firings;

  void recordFirings() {
    timer->setEventHandler([this] {
      EXPECT_TRUE(queue->isCurrent());
      firings.push_back(systemUptime() - start);
    });
  }
};

TEST_F(DispatchSourceTimerTest, OneShotFiresOnceAtItsDeadlineOnItsQueue) {
  recordFirings();
  timer->schedule(DispatchTime::now() + 0.05);
  timer->resume();
  scope->advance(0.049);
  EXPECT_TRUE(firings.empty());
  scope->advance(1.0);
  EXPECT_THAT(firings, ElementsAre(Near(0.05)));
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(DispatchSourceTimerTest, RepeatingFiresAtDeadlinePlusMultiplesOfTheInterval) {
  recordFirings();
  timer->schedule(DispatchTime{start + 0.025}, 0.025, 0.0);
  timer->resume();
  scope->advance(0.11);
  ASSERT_EQ(firings.size(), 4u);
  for (int k = 0; k < 4; ++k) EXPECT_NEAR(firings[k], 0.025 + k * 0.025, 1e-9) << k;
  EXPECT_EQ(scope->pendingCount(), 1u);
}

TEST_F(DispatchSourceTimerTest, RescheduleReplacesThePendingDeadline) {
  recordFirings();
  timer->schedule(DispatchTime{start + 0.05}, 0.05);
  timer->resume();
  scope->advance(0.06);
  timer->schedule(DispatchTime{start + 0.5}, kIntervalNever, 0.001);
  scope->advance(1.0);
  EXPECT_THAT(firings, ElementsAre(Near(0.05), Near(0.5)));
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(DispatchSourceTimerTest, HandlerMayRescheduleItsOwnTimer) {
  // The sampler's pattern: a quick phase that slows itself down.
  timer->setEventHandler([this] {
    firings.push_back(systemUptime() - start);
    if (firings.size() == 2) timer->schedule(DispatchTime::now() + 0.004, 0.004, 0.0005);
  });
  timer->schedule(DispatchTime{start}, 0.001, 0.0001);
  timer->resume();
  scope->advance(0.0125);
  EXPECT_THAT(firings, ElementsAre(Near(0.0), Near(0.001), Near(0.005), Near(0.009)));
}

TEST_F(DispatchSourceTimerTest, SuspendedTimerWaitsForResume) {
  recordFirings();
  timer->schedule(DispatchTime{start + 0.1});
  scope->advance(1.0);
  EXPECT_TRUE(firings.empty());
  EXPECT_EQ(scope->pendingCount(), 0u);
  // Its deadline has passed: it fires as soon as it is resumed.
  timer->resume();
  scope->runUntilIdle();
  EXPECT_THAT(firings, ElementsAre(Near(1.0)));
  EXPECT_THROW(timer->resume(), std::logic_error);
}

TEST_F(DispatchSourceTimerTest, CancelledTimerNeverFiresAgain) {
  int count = 0;
  timer->setEventHandler([&] {
    if (++count == 2) timer->cancel();
  });
  timer->schedule(DispatchTime{start}, 0.01);
  timer->resume();
  scope->advance(1.0);
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(timer->isCancelled());
  EXPECT_EQ(scope->pendingCount(), 0u);
  // Neither scheduling nor resuming brings it back.
  timer->schedule(DispatchTime{scope->now()}, 0.01);
  timer->resume();
  scope->advance(1.0);
  EXPECT_EQ(count, 2);
}

TEST_F(DispatchSourceTimerTest, DestroyingTheTimerCancelsIt) {
  int count = 0;
  timer->setEventHandler([&] { ++count; });
  timer->schedule(DispatchTime{start + 0.01}, 0.01);
  timer->resume();
  scope->advance(0.015);
  timer.reset();
  EXPECT_EQ(scope->pendingCount(), 0u);
  scope->advance(1.0);
  EXPECT_EQ(count, 1);
}

TEST_F(DispatchSourceTimerTest, LastScheduleIsReadableAndBadValuesKeepIt) {
  EXPECT_FALSE(timer->lastSchedule().has_value());
  timer->schedule(DispatchTime{start + 0.05}, 0.05, 0.005);
  const DispatchSourceTimer::Schedule expected{DispatchTime{start + 0.05}, 0.05, 0.005};
  EXPECT_EQ(timer->lastSchedule(), expected);

  EXPECT_THROW(timer->schedule(DispatchTime{start}, 0.0), std::invalid_argument);
  EXPECT_THROW(timer->schedule(DispatchTime{start}, -1.0), std::invalid_argument);
  EXPECT_THROW(timer->schedule(DispatchTime{start}, 0.01, -0.001), std::invalid_argument);
  EXPECT_THROW(timer->schedule(DispatchTime{std::nan("")}), std::invalid_argument);
  EXPECT_EQ(timer->lastSchedule(), expected);
  EXPECT_THROW(DispatchSourceTimer::make(nullptr), std::invalid_argument);

  // Still armed with the kept schedule.
  recordFirings();
  timer->resume();
  scope->advance(0.06);
  EXPECT_THAT(firings, ElementsAre(Near(0.05)));
}

TEST_F(DispatchSourceTimerTest, ParkedInTheDistantFutureItNeverFires) {
  recordFirings();
  timer->schedule(DispatchTime{start}, 0.001);
  timer->resume();
  timer->schedule(DispatchTime::distantFuture(), 0.001, 0.0001);
  EXPECT_EQ(scope->pendingCount(), 0u);
  scope->advance(100.0);
  EXPECT_TRUE(firings.empty());
  EXPECT_TRUE(timer->lastSchedule()->deadline.isDistantFuture());
}

TEST(TimerGridTest, MissedFiringsCollapseIntoOne) {
  // On time: the next slot.
  EXPECT_EQ(detail::nextGridIndex(10.0, 1.0, 0, 10.0), 1);
  EXPECT_EQ(detail::nextGridIndex(10.0, 1.0, 3, 13.0), 4);
  // Late by 2.5 intervals: slots 1 to 3 are skipped, never fired in a burst.
  EXPECT_EQ(detail::nextGridIndex(10.0, 1.0, 0, 13.5), 4);
  // A slot exactly at now has been served by the firing running now.
  EXPECT_EQ(detail::nextGridIndex(10.0, 1.0, 0, 13.0), 4);
  // A one-shot timer has no next slot.
  EXPECT_TRUE(std::isinf(detail::gridTime(10.0, kIntervalNever, detail::nextGridIndex(10.0, kIntervalNever, 0, 11.0))));
}

}  // namespace
}  // namespace platform
