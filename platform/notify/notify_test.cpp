#include "platform/notify/notify.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class NotifyTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }

  int registerName(const char* name) {
    int token = -1;
    EXPECT_EQ(notify_register_dispatch(name, &token, DispatchQueue::main(), [this](int t) { calls.push_back(t); }),
              NOTIFY_STATUS_OK);
    return token;
  }

  SimulatedSchedulerScope scope;
  std::vector<int> calls;
};

TEST_F(NotifyTest, StatesArePerNameAndPostsReachTheQueueLater) {
  const int a = registerName("x.a");
  const int b = registerName("x.b");
  ASSERT_NE(a, b);
  NotifyCenter::shared().setState("x.a", 7);
  EXPECT_TRUE(calls.empty());  // never inside the post
  scope->runUntilIdle();
  EXPECT_EQ(calls, std::vector<int>{a});

  std::uint64_t value = 99;
  EXPECT_EQ(notify_get_state(a, &value), NOTIFY_STATUS_OK);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(notify_get_state(b, &value), NOTIFY_STATUS_OK);
  EXPECT_EQ(value, 0u);  // a name never set reads 0
  EXPECT_EQ(notify_set_state(b, 3), NOTIFY_STATUS_OK);
  const int b2 = registerName("x.b");
  EXPECT_EQ(notify_get_state(b2, &value), NOTIFY_STATUS_OK);
  EXPECT_EQ(value, 3u);  // the state belongs to the name, not the token
  EXPECT_EQ(NotifyCenter::shared().stateReads(), 3);
}

TEST_F(NotifyTest, CancelDropsQueuedCallsAndInvalidatesTheToken) {
  const int a = registerName("x.a");
  EXPECT_EQ(notify_post("x.a"), NOTIFY_STATUS_OK);
  EXPECT_EQ(notify_cancel(a), NOTIFY_STATUS_OK);
  scope->runUntilIdle();
  EXPECT_TRUE(calls.empty());
  std::uint64_t value = 0;
  EXPECT_EQ(notify_get_state(a, &value), NOTIFY_STATUS_INVALID_TOKEN);
  EXPECT_EQ(notify_cancel(a), NOTIFY_STATUS_INVALID_TOKEN);
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations(), 0);
}

TEST_F(NotifyTest, RefusalsLeaveTheTokenSlotAndTheStateAlone) {
  NotifyCenter::shared().setRegistrationFails("x.bad", true);
  int token = -1;
  EXPECT_NE(notify_register_dispatch("x.bad", &token, DispatchQueue::main(), [](int) {}), NOTIFY_STATUS_OK);
  EXPECT_NE(notify_register_dispatch("", &token, DispatchQueue::main(), [](int) {}), NOTIFY_STATUS_OK);
  EXPECT_NE(notify_register_dispatch("x.ok", &token, nullptr, [](int) {}), NOTIFY_STATUS_OK);
  EXPECT_EQ(token, -1);
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations("x.bad"), 0);

  const int ok = registerName("x.ok");
  NotifyCenter::shared().setState("x.ok", 1, false);
  NotifyCenter::shared().setStateReadsFail(true);
  std::uint64_t value = 42;
  EXPECT_EQ(notify_get_state(ok, &value), NOTIFY_STATUS_FAILED);
  EXPECT_EQ(value, 42u);
  NotifyCenter::shared().setStateReadsFail(false);
  EXPECT_EQ(notify_get_state(ok, &value), NOTIFY_STATUS_OK);
  EXPECT_EQ(value, 1u);
}

}  // namespace
}  // namespace platform
