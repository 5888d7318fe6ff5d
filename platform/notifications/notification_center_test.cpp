#include "platform/notifications/notification_center.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

class NotificationCenterTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  NSNotificationCenter& center = NSNotificationCenter::defaultCenter();
};

TEST_F(NotificationCenterTest, MatchesByNameAndOptionalPoster) {
  int sender = 0;
  int other = 0;
  std::vector<std::string> seen;
  auto any = center.addObserverForName("changed", nullptr, nullptr,
                                       [&](const NSNotification&) { seen.push_back("any"); });
  auto one = center.addObserverForName("changed", &sender, nullptr,
                                       [&](const NSNotification&) { seen.push_back("one"); });
  center.postNotificationName("changed", &other);
  center.postNotificationName("changed", &sender);
  center.postNotificationName("unrelated", &sender);
  EXPECT_EQ(seen, (std::vector<std::string>{"any", "any", "one"}));
}

TEST_F(NotificationCenterTest, UserInfoTravelsWithThePost) {
  std::string received;
  auto token = center.addObserverForName("app", nullptr, nullptr, [&](const NSNotification& n) {
    received = std::any_cast<std::string>(n.userInfo.at("bundle"));
  });
  center.postNotificationName("app", nullptr, {{"bundle", std::string("mirt.vurle.app")}});
  EXPECT_EQ(received, "mirt.vurle.app");
}

TEST_F(NotificationCenterTest, DroppedOrRemovedObserversAreNeverCalled) {
  int calls = 0;
  auto token = center.addObserverForName("n", nullptr, nullptr, [&](const NSNotification&) { ++calls; });
  const size_t before = center.observerCount();
  token.reset();
  EXPECT_EQ(center.observerCount(), before - 1);
  auto again = center.addObserverForName("n", nullptr, nullptr, [&](const NSNotification&) { ++calls; });
  center.removeObserver(again);
  center.postNotificationName("n", nullptr);
  EXPECT_EQ(calls, 0);
}

TEST_F(NotificationCenterTest, MainQueueObserversRunOnTheMainRunLoop) {
  auto worker = DispatchQueue::make("test.worker");
  std::vector<bool> onMain;
  auto token = center.addObserverForName("n", nullptr, DispatchQueue::main(),
                                         [&](const NSNotification&) { onMain.push_back(isMainThread()); });
  // Posted on the main thread: delivered before the post returns.
  center.postNotificationName("n", nullptr);
  EXPECT_EQ(onMain.size(), 1u);

  // Posted from a worker: handed to the main run loop.
  worker->async([&] { center.postNotificationName("n", nullptr); });
  scope->drain(*worker);
  EXPECT_EQ(onMain.size(), 1u);
  scope->drainMain();
  ASSERT_EQ(onMain.size(), 2u);
  EXPECT_TRUE(onMain[1]);
}

TEST_F(NotificationCenterTest, QueuedDeliveryIsDroppedOnceTheObserverIsGone) {
  auto worker = DispatchQueue::make("test.worker");
  int calls = 0;
  auto token = center.addObserverForName("n", nullptr, DispatchQueue::main(),
                                         [&](const NSNotification&) { ++calls; });
  worker->async([&] { center.postNotificationName("n", nullptr); });
  scope->drain(*worker);
  token.reset();
  scope->runUntilIdle();
  EXPECT_EQ(calls, 0);
}

TEST_F(NotificationCenterTest, ObserverMayRemoveItselfWhileBeingCalled) {
  NotificationToken token;
  int calls = 0;
  token = center.addObserverForName("n", nullptr, nullptr, [&](const NSNotification&) {
    ++calls;
    center.removeObserver(token);
  });
  center.postNotificationName("n", nullptr);
  center.postNotificationName("n", nullptr);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace platform
