// The production scheduler on real threads. Nothing here measures time:
// each test waits for an outcome (with a generous limit that only guards
// against a hang) and checks what happened, not how fast.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/test_hang_guard.hpp"

namespace platform {
namespace {

TEST(RealSchedulerTest, SerialQueueRunsBlocksOneAtATimeInOrder) {
  auto queue = DispatchQueue::make("mirt.vurle.real-serial", QoS::userInitiated);
  std::vector<int> order;
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      if (active.fetch_add(1) != 0) overlapped = true;
      order.push_back(i);
      active.fetch_sub(1);
    });
  }
  // sync waits for everything queued before it.
  std::size_t seen = 0;
  queue->sync([&] {
    EXPECT_TRUE(queue->isCurrent());
    seen = order.size();
  });
  ASSERT_EQ(seen, 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
}

TEST(RealSchedulerTest, SyncPassesOnExceptionsAndRefusesToDeadlock) {
  auto queue = DispatchQueue::make("mirt.vurle.real-sync");
  EXPECT_THROW(queue->sync([] { throw std::runtime_error("inside"); }), std::runtime_error);
  // The queue is usable after a block threw.
  std::promise<bool> refused;
  queue->async([&] {
    try {
      queue->sync([] {});
      refused.set_value(false);
    } catch (const std::logic_error&) {
      refused.set_value(true);
    }
  });
  auto result = refused.get_future();
  ASSERT_EQ(result.wait_for(kTestHangGuard), std::future_status::ready);
  EXPECT_TRUE(result.get());
  EXPECT_TRUE(isMainThread());
  EXPECT_THROW(DispatchQueue::main()->sync([] {}), std::logic_error);
}

TEST(RealSchedulerTest, GlobalQueueAndAsyncAfterRunOffTheMainThread) {
  std::promise<bool> mainThread;
  DispatchQueue::global(QoS::utility)->async([&] { mainThread.set_value(isMainThread()); });
  auto first = mainThread.get_future();
  ASSERT_EQ(first.wait_for(kTestHangGuard), std::future_status::ready);
  EXPECT_FALSE(first.get());

  const DispatchTime deadline = DispatchTime::now() + 0.02;
  std::promise<double> ranAt;
  DispatchQueue::make("mirt.vurle.real-after")->asyncAfter(deadline, [&] { ranAt.set_value(systemUptime()); });
  auto second = ranAt.get_future();
  ASSERT_EQ(second.wait_for(kTestHangGuard), std::future_status::ready);
  EXPECT_GE(second.get(), deadline.uptime);
}

TEST(RealSchedulerTest, TimerFiresRepeatedlyOnItsQueueUntilCancelled) {
  auto queue = DispatchQueue::make("mirt.vurle.real-timer", QoS::userInteractive);
  auto timer = DispatchSourceTimer::make(queue);
  std::mutex mutex;
  int count = 0;
  bool alwaysOnQueue = true;
  std::promise<void> thirdFiring;
  timer->setEventHandler([&] {
    std::lock_guard<std::mutex> lock(mutex);
    alwaysOnQueue = alwaysOnQueue && queue->isCurrent();
    if (++count == 3) thirdFiring.set_value();
  });
  timer->schedule(DispatchTime::now(), 0.005, 0.001);
  timer->resume();
  ASSERT_EQ(thirdFiring.get_future().wait_for(kTestHangGuard), std::future_status::ready);
  timer->cancel();
  // Once cancel() has returned, a firing still on its way does nothing: the
  // count is final as soon as any running handler has finished.
  queue->sync([] {});
  int final = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    final = count;
    EXPECT_TRUE(alwaysOnQueue);
  }
  std::promise<void> later;
  queue->asyncAfter(DispatchTime::now() + 0.03, [&] { later.set_value(); });
  ASSERT_EQ(later.get_future().wait_for(kTestHangGuard), std::future_status::ready);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(count, final);
}

TEST(RealSchedulerTest, MainRunLoopServesOtherThreadsUntilStopped) {
  auto loopRunning = std::make_shared<std::promise<void>>();
  std::vector<bool> onMain;
  std::thread worker([&] {
    loopRunning->get_future().wait();
    // Work handed from another thread runs on the main thread, in order.
    DispatchQueue::main()->sync([&] { onMain.push_back(isMainThread()); });
    DispatchQueue::main()->async([&] { onMain.push_back(isMainThread()); });
    RunLoop::main().perform([&] { onMain.push_back(DispatchQueue::main()->isCurrent()); });
    RunLoop::main().stop();
  });
  auto timer = NSTimer::scheduledTimer(0.001, false, [&](NSTimer&) { loopRunning->set_value(); });
  const auto result = RunLoop::main().runUntil(systemUptime() + kTestHangGuardSeconds);
  worker.join();
  EXPECT_EQ(result, RunLoop::RunResult::stopped);
  EXPECT_FALSE(timer->isValid());
  // stop() may overtake the two queued blocks; give them a pass to run.
  drainMainRunLoop();
  ASSERT_EQ(onMain.size(), 3u);
  EXPECT_EQ(onMain, std::vector<bool>({true, true, true}));
}

TEST(RealSchedulerTest, RunUntilReturnsAtItsDeadlineWhenIdle) {
  EXPECT_EQ(RunLoop::main().runUntil(systemUptime() + 0.01), RunLoop::RunResult::timedOut);
  const double deadline = systemUptime() + 0.01;
  sleepUntil(deadline);
  EXPECT_GE(systemUptime(), deadline);
}

}  // namespace
}  // namespace platform
