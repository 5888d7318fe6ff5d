#include "platform/dispatch/dispatch_queue.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

using ::testing::ElementsAre;

class SimulatedQueueTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  std::vector<std::string> log;

  Block note(std::string entry) {
    return [this, entry] { log.push_back(entry); };
  }
};

TEST_F(SimulatedQueueTest, NothingRunsUntilTheTestDrivesTheScheduler) {
  DispatchQueue::main()->async(note("main"));
  DispatchQueue::global()->async(note("global"));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(scope->pendingCount(), 2u);
  scope->runUntilIdle();
  EXPECT_THAT(log, ElementsAre("main", "global"));
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(SimulatedQueueTest, WorkRunsByDeadlineWithTiesInEnqueueOrder) {
  auto serial = DispatchQueue::make("mirt.vurle.test", QoS::utility);
  const DispatchTime start = DispatchTime::now();
  serial->asyncAfter(start + 0.2, note("serial@0.2"));
  DispatchQueue::main()->asyncAfter(start + 0.1, note("main@0.1"));
  DispatchQueue::global(QoS::background)->asyncAfter(start + 0.2, note("global@0.2"));
  serial->async(note("serial-now"));
  DispatchQueue::main()->asyncAfter(start, note("main-now"));
  // A deadline already past queues behind the work queued before it.
  DispatchQueue::main()->asyncAfter(start + -5.0, note("main-past"));

  scope->advance(1.0);
  EXPECT_THAT(log, ElementsAre("serial-now", "main-now", "main-past", "main@0.1", "serial@0.2", "global@0.2"));
}

TEST_F(SimulatedQueueTest, AdvanceMovesTheClockToEachDeadlineAndStopsAtTheTarget) {
  const double start = scope->now();
  EXPECT_EQ(systemUptime(), start);
  std::vector<double> seen;
  auto queue = DispatchQueue::make("mirt.vurle.clock");
  queue->asyncAfter(DispatchTime{start + 0.25}, [&] { seen.push_back(systemUptime()); });
  queue->asyncAfter(DispatchTime{start + 0.5}, [&] { seen.push_back(systemUptime()); });
  queue->asyncAfter(DispatchTime{start + 0.5000001}, [&] { seen.push_back(systemUptime()); });

  scope->advance(0.5);
  EXPECT_THAT(seen, ElementsAre(start + 0.25, start + 0.5));
  EXPECT_EQ(scope->now(), start + 0.5);
  EXPECT_EQ(scope->pendingCount(), 1u);

  scope->advance(0.0);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(SimulatedQueueTest, FollowOnWorkRunsInTheSamePassWithoutMovingTime) {
  const double start = scope->now();
  auto queue = DispatchQueue::make("mirt.vurle.nested");
  queue->async([&] {
    log.push_back("outer");
    DispatchQueue::main()->async([&] {
      log.push_back("inner");
      queue->async(note("innermost"));
    });
    queue->asyncAfter(DispatchTime::now() + 1.0, note("later"));
  });
  scope->runUntilIdle();
  EXPECT_THAT(log, ElementsAre("outer", "inner", "innermost"));
  EXPECT_EQ(scope->now(), start);
  EXPECT_EQ(scope->pendingCount(), 1u);
}

TEST_F(SimulatedQueueTest, DrainRunsOnlyTheGivenQueue) {
  auto a = DispatchQueue::make("mirt.vurle.a");
  auto b = DispatchQueue::make("mirt.vurle.b");
  a->async(note("a1"));
  b->async(note("b1"));
  DispatchQueue::main()->async(note("main"));
  a->async([&] {
    log.push_back("a2");
    a->async(note("a3"));
  });

  scope->drain(*a);
  EXPECT_THAT(log, ElementsAre("a1", "a2", "a3"));
  scope->drainMain();
  EXPECT_THAT(log, ElementsAre("a1", "a2", "a3", "main"));
  EXPECT_EQ(scope->pendingCount(), 1u);
}

TEST_F(SimulatedQueueTest, DistantFutureWorkIsNeverQueued) {
  DispatchQueue::main()->asyncAfter(DispatchTime::distantFuture(), note("never"));
  EXPECT_EQ(scope->pendingCount(), 0u);
  scope->advance(1e6);
  EXPECT_TRUE(log.empty());
}

TEST_F(SimulatedQueueTest, SyncWaitsForEarlierBlocksOfASerialQueue) {
  auto queue = DispatchQueue::make("mirt.vurle.sync");
  queue->async(note("queued"));
  bool onQueue = false;
  queue->sync([&] {
    log.push_back("sync");
    onQueue = queue->isCurrent();
  });
  EXPECT_THAT(log, ElementsAre("queued", "sync"));
  EXPECT_TRUE(onQueue);
  EXPECT_FALSE(queue->isCurrent());

  EXPECT_THROW(queue->sync([] { throw std::runtime_error("inside"); }), std::runtime_error);
}

TEST_F(SimulatedQueueTest, SyncThatCouldNeverFinishIsRefused) {
  auto queue = DispatchQueue::make("mirt.vurle.self");
  EXPECT_THROW(DispatchQueue::main()->sync([] {}), std::logic_error);

  bool refused = false;
  queue->async([&] {
    try {
      queue->sync([] {});
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  scope->runUntilIdle();
  EXPECT_TRUE(refused);

  // Off the main thread, the main queue may be waited on.
  bool ranOnMain = false;
  queue->async([&] { DispatchQueue::main()->sync([&] { ranOnMain = isMainThread(); }); });
  scope->runUntilIdle();
  EXPECT_TRUE(ranOnMain);
}

TEST_F(SimulatedQueueTest, MainThreadIsTheTestBodyAndMainQueueWork) {
  EXPECT_TRUE(isMainThread());
  EXPECT_TRUE(DispatchQueue::main()->isCurrent());
  auto serial = DispatchQueue::make("mirt.vurle.where");
  std::vector<bool> main;
  serial->async([&] {
    main.push_back(isMainThread());
    main.push_back(DispatchQueue::main()->isCurrent());
    main.push_back(serial->isCurrent());
  });
  DispatchQueue::global(QoS::userInteractive)->async([&] { main.push_back(isMainThread()); });
  DispatchQueue::main()->async([&] { main.push_back(isMainThread()); });
  RunLoop::main().perform([&] { main.push_back(isMainThread()); });
  scope->runUntilIdle();
  EXPECT_THAT(main, ElementsAre(false, false, true, false, true, true));
}

TEST_F(SimulatedQueueTest, WallClockMovesWithUptime) {
  SimulatedSchedulerScope inner({.startUptime = 50.0, .startWallTime = 1'000'000.0});
  EXPECT_EQ(systemUptime(), 50.0);
  EXPECT_EQ(wallClockTime(), 1'000'000.0);
  inner->advance(2.5);
  EXPECT_EQ(systemUptime(), 52.5);
  EXPECT_EQ(wallClockTime(), 1'000'002.5);
}

// A thread that sleeps runs nothing meanwhile: only the clock moves.
TEST_F(SimulatedQueueTest, SleepingMovesTheClockAndRunsNothing) {
  const double start = scope->now();
  DispatchQueue::main()->asyncAfter(DispatchTime{start + 1.0}, note("due"));
  sleepUntil(start + 2.5);
  sleepUntil(start);  // already past
  EXPECT_EQ(systemUptime(), start + 2.5);
  EXPECT_TRUE(log.empty());
  scope->runUntilIdle();
  EXPECT_THAT(log, ElementsAre("due"));
  EXPECT_THROW(sleepUntil(std::numeric_limits<double>::infinity()), std::invalid_argument);
}

TEST_F(SimulatedQueueTest, BadInputIsRefusedAndQueuesNothing) {
  auto queue = DispatchQueue::make("mirt.vurle.bad");
  EXPECT_THROW(queue->async(Block{}), std::invalid_argument);
  EXPECT_THROW(queue->asyncAfter(DispatchTime{std::nan("")}, note("nan")), std::invalid_argument);
  EXPECT_THROW(DispatchQueue::global(static_cast<QoS>(9)), std::invalid_argument);
  EXPECT_THROW(scope->advance(-1.0), std::invalid_argument);
  EXPECT_THROW(scope->advance(std::numeric_limits<double>::infinity()), std::invalid_argument);
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST(SimulatedSchedulerScopeTest, ObjectsThatOutliveTheirScopeDropWorkSafely) {
  std::shared_ptr<DispatchQueue> survivor;
  std::shared_ptr<DispatchQueue> simulatedMain;
  std::shared_ptr<DispatchSourceTimer> timer;
  std::shared_ptr<NSTimer> runLoopTimer;
  int runs = 0;
  {
    SimulatedSchedulerScope scope;
    survivor = DispatchQueue::make("mirt.vurle.survivor");
    simulatedMain = DispatchQueue::main();
    survivor->async([&] { ++runs; });  // dropped with the scope
    timer = DispatchSourceTimer::make(survivor);
    timer->setEventHandler([&] { ++runs; });
    timer->schedule(DispatchTime::now() + 1.0, 1.0);
    timer->resume();
    runLoopTimer = NSTimer::scheduledTimer(1.0, true, [&](NSTimer&) { ++runs; });
  }
  EXPECT_NE(DispatchQueue::main(), simulatedMain);
  survivor->async([&] { ++runs; });
  EXPECT_THROW(survivor->sync([&] { ++runs; }), std::logic_error);
  timer->schedule(DispatchTime::now(), 1.0);
  timer.reset();
  runLoopTimer->invalidate();
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace platform
