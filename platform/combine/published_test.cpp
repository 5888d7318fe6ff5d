#include "platform/combine/published.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"

namespace platform {
namespace {

class PublishedTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
};

TEST_F(PublishedTest, AnnouncesBeforeStoringAndGreetsNewSubscribers) {
  Published<int> value(1);
  std::vector<std::pair<int, int>> seen;  // (received, stored at that moment)
  auto subscription = value.publisher().sink([&](const int& v) { seen.emplace_back(v, value.value()); });
  value.set(2);
  EXPECT_EQ(value.value(), 2);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 1}, {2, 1}}));
}

TEST_F(PublishedTest, MainRunLoopSubscribersReadTheNewValueInALaterPass) {
  Published<std::string> value("old");
  std::vector<std::string> seen;
  auto subscription = value.publisher().receive(RunLoop::main()).sink([&](const std::string& v) {
    seen.push_back(v + "/" + value.value());
  });
  value.set("new");
  EXPECT_TRUE(seen.empty());  // nothing at once, not even the current value
  scope->drainMain();
  EXPECT_EQ(seen, (std::vector<std::string>{"old/new", "new/new"}));
}

TEST_F(PublishedTest, CancellingDropsQueuedDeliveriesAndFurtherValues) {
  Published<int> value(0);
  int delivered = 0;
  auto queued = value.publisher().receive(RunLoop::main()).sink([&](const int&) { ++delivered; });
  auto direct = value.publisher().sink([&](const int&) { ++delivered; });
  EXPECT_EQ(delivered, 1);
  value.set(1);
  queued.cancel();
  direct = AnyCancellable();  // replacing a subscription ends it
  value.set(2);
  scope->runUntilIdle();
  EXPECT_EQ(delivered, 2);
}

TEST_F(PublishedTest, SubscribersMayCancelWhileBeingCalled) {
  Published<int> value(0);
  std::vector<std::string> seen;
  AnyCancellable first;
  first = value.publisher().sink([&](const int& v) {
    seen.push_back("first" + std::to_string(v));
    if (v == 1) first.cancel();
  });
  auto second = value.publisher().sink([&](const int& v) { seen.push_back("second" + std::to_string(v)); });
  value.set(1);
  value.set(2);
  EXPECT_EQ(seen, (std::vector<std::string>{"first0", "second0", "first1", "second1", "second2"}));
}

TEST_F(PublishedTest, CombineLatestPairsBothSidesOnceEachHasAValue) {
  Published<bool> resume(false);
  Published<bool> accepted(false);
  std::vector<std::pair<bool, bool>> seen;
  auto subscription = combineLatest(resume.publisher(), accepted.publisher())
                          .receive(RunLoop::main())
                          .sink([&](const std::pair<bool, bool>& pair) { seen.push_back(pair); });
  resume.set(true);
  accepted.set(true);
  scope->drainMain();
  EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{false, false}, {true, false}, {true, true}}));
  subscription.cancel();
  resume.set(false);
  scope->drainMain();
  EXPECT_EQ(seen.size(), 3u);
}

TEST_F(PublishedTest, SubscriptionsOutliveTheirPublisherSafely) {
  AnyCancellable subscription;
  int calls = 0;
  {
    Published<int> value(5);
    subscription = value.publisher().receive(RunLoop::main()).sink([&](const int&) { ++calls; });
  }
  scope->drainMain();  // the greeting queued before the property went
  EXPECT_EQ(calls, 1);
  subscription.cancel();
}

}  // namespace
}  // namespace platform
