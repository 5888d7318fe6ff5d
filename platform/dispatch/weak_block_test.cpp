#include "platform/dispatch/weak_block.hpp"

#include <gtest/gtest.h>

#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

struct Owner {
  int calls = 0;
};

class WeakBlockTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  std::shared_ptr<Owner> owner = std::make_shared<Owner>();
  std::weak_ptr<Owner> watch = owner;
};

TEST_F(WeakBlockTest, QueuedBlockDoesNothingOnceItsOwnerIsGone) {
  auto queue = DispatchQueue::make("mirt.vurle.weak");
  queue->async(weakBlock(owner, [](Owner& o) { ++o.calls; }));
  scope->runUntilIdle();
  EXPECT_EQ(owner->calls, 1);

  queue->async(weakBlock(owner, [](Owner& o) { ++o.calls; }));
  owner.reset();
  EXPECT_TRUE(watch.expired()) << "the block must not keep its owner alive";
  scope->runUntilIdle();
  EXPECT_EQ(scope->pendingCount(), 0u);
}

TEST_F(WeakBlockTest, TimersWhoseOwnerDiedFireHarmlessly) {
  int fired = 0;
  auto source = DispatchSourceTimer::make(DispatchQueue::global(QoS::userInteractive));
  source->setEventHandler(weakBlock(owner, [&](Owner& o) {
    ++o.calls;
    ++fired;
  }));
  source->schedule(DispatchTime::now() + 0.025, 0.025);
  source->resume();
  NSTimer::scheduledTimer(0.1, true, weakBlock(owner, [&](Owner& o, NSTimer& timer) {
    ++o.calls;
    ++fired;
    EXPECT_TRUE(timer.isValid());
  }));

  scope->advance(0.11);
  EXPECT_EQ(fired, 5);
  owner.reset();
  EXPECT_TRUE(watch.expired());
  scope->advance(1.0);
  EXPECT_EQ(fired, 5);
}

}  // namespace
}  // namespace platform
