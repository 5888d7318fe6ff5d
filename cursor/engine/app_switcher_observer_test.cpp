#include "cursor/engine/app_switcher_observer.hpp"

#include <gtest/gtest.h>

#include "cursor/native/cursor_trace.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;

const pid_t kDock = foreignPid(50);
constexpr CGWindowID kSwitcherWindow = 77;
// The one default screen, 1512 × 982 points, in window-server coordinates.
constexpr CGRect kScreen = CGRectMake(0, 0, 1512, 982);

void setCommand(bool held) {
  auto event = CGEventCreate(nullptr);
  event->type = kCGEventFlagsChanged;
  event->flags = held ? kCGEventFlagMaskCommand : 0;
  CGEventPost(kCGHIDEventTap, event);
}

WindowRecord dockWindow(CGWindowID number, CGRect bounds) {
  return {.number = number, .ownerPID = kDock, .ownerName = "Dock",
          .layer = CGWindowLevelForKey(kCGDockWindowLevelKey), .bounds = bounds};
}

class AppSwitcherObserverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    CursorTrace::shared()->enable(1, false);
    NSWorkspace::sharedWorkspace().launchApplication(kDock, "com.apple.dock", "Dock",
                                                     NSApplicationActivationPolicy::accessory);
    WindowTable::shared().setWindows({dockWindow(kSwitcherWindow, kScreen)});
    switcher = switcherElement();
    setCommand(true);
    observer = AppSwitcherCursorObserver::make();
    observer->setOnChange([this](const std::optional<AppSwitcherCursorScope>& scope) { published.push_back(scope); });
  }
  void TearDown() override {
    observer.reset();
    resetProcessState();
  }

  static AXUIElementRef switcherElement(const std::string& subrole = "AXProcessSwitcherList") {
    auto element = AccessibilityServer::shared().makeElement(kDock);
    AccessibilityServer::shared().setAttribute(element, kAXSubroleAttribute, subrole);
    return element;
  }
  void announce(const AXUIElementRef& element, const std::string& name = kAXCreatedNotification) {
    AccessibilityServer::shared().postNotification(element, name);
  }
  static std::vector<std::string> traced() {
    std::vector<std::string> result;
    for (const auto& event : CursorTrace::shared()->events()) {
      result.push_back(event.kind + (event.detail ? ":" + *event.detail : ""));
    }
    return result;
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<AppSwitcherCursorObserver> observer;
  AXUIElementRef switcher;
  std::vector<std::optional<AppSwitcherCursorScope>> published;
};

TEST_F(AppSwitcherObserverTest, StartNeedsTheDockAndOneNotification) {
  NSWorkspace::sharedWorkspace().terminateApplication(kDock);
  scope->runUntilIdle();
  observer->start();
  EXPECT_FALSE(observer->isObserving());

  NSWorkspace::sharedWorkspace().launchApplication(foreignPid(51), "com.apple.dock", "Dock");
  for (const auto& name :
       {kAXCreatedNotification, kAXSelectedChildrenChangedNotification, kAXUIElementDestroyedNotification}) {
    AccessibilityServer::shared().setNotificationError(foreignPid(51), name, kAXErrorNotificationUnsupported);
  }
  observer->start();
  EXPECT_FALSE(observer->isObserving());
  AccessibilityServer::shared().setNotificationError(foreignPid(51), kAXCreatedNotification, kAXErrorSuccess);
  observer->start();
  EXPECT_TRUE(observer->isObserving());
  EXPECT_EQ(observer->dockPID(), foreignPid(51));
  EXPECT_EQ(mainRunLoopSourceCount(), 1u);
  observer.reset();  // going away takes its source off the run loop
  EXPECT_EQ(mainRunLoopSourceCount(), 0u);
}

TEST_F(AppSwitcherObserverTest, PublishesTheVerifiedSwitcherUntilItIsDestroyed) {
  observer->start();
  announce(switcher);
  scope->runUntilIdle();
  ASSERT_EQ(published.size(), 1u);
  ASSERT_TRUE(published[0].has_value());
  EXPECT_EQ(published[0]->regions, std::vector<CGRect>{kScreen});
  EXPECT_TRUE(published[0]->isValid());
  EXPECT_TRUE(CFEqual(observer->activeElement(), switcher));

  // While a scope is in force further announcements are ignored.
  announce(switcherElement());
  AccessibilityServer::shared().destroyElement(switcherElement());
  scope->runUntilIdle();
  EXPECT_EQ(published.size(), 1u);

  const auto epoch = observer->epoch();
  AccessibilityServer::shared().destroyElement(switcher);
  scope->runUntilIdle();
  ASSERT_EQ(published.size(), 2u);
  EXPECT_FALSE(published[1].has_value());
  EXPECT_EQ(observer->epoch(), epoch + 1);
  EXPECT_EQ(traced(), (std::vector<std::string>{"app-switcher-verified", "app-switcher-closed"}));
}

TEST_F(AppSwitcherObserverTest, TheScopeStaysValidOnlyWhileTheSwitcherShows) {
  observer->start();
  announce(switcher);
  scope->runUntilIdle();
  ASSERT_TRUE(published.at(0).has_value());
  const auto isValid = published[0]->isValid;
  CursorState::shared().setCursorLocation(CGPointMake(1600, 10));  // off the switcher window
  EXPECT_FALSE(isValid());
  CursorState::shared().setCursorLocation(CGPointMake(10, 10));
  EXPECT_TRUE(isValid());
  WindowTable::shared().updateWindow(dockWindow(kSwitcherWindow, CGRectMake(0, 0, 1512, 981)));
  EXPECT_FALSE(isValid());  // other bounds than recorded
  WindowTable::shared().setWindows({dockWindow(kSwitcherWindow + 1, kScreen)});
  EXPECT_FALSE(isValid());
  WindowTable::shared().setWindows({dockWindow(kSwitcherWindow, kScreen)});
  setCommand(false);
  EXPECT_FALSE(isValid());
}

TEST_F(AppSwitcherObserverTest, RejectsWrongRolesAndMissingOrAmbiguousWindows) {
  observer->start();
  announce(switcherElement("AXList"));
  scope->runUntilIdle();
  WindowTable::shared().setWindows({});
  announce(switcher);
  scope->runUntilIdle();
  WindowTable::shared().setWindows({dockWindow(kSwitcherWindow, kScreen), dockWindow(kSwitcherWindow + 1, kScreen)});
  announce(switcher);
  scope->runUntilIdle();
  EXPECT_TRUE(published.empty());
  EXPECT_FALSE(observer->lookupPending());
  EXPECT_EQ(traced(), (std::vector<std::string>{"app-switcher-rejected:unverified-role",
                                                "app-switcher-rejected:no-onscreen-dock-surface",
                                                "app-switcher-rejected:no-onscreen-dock-surface"}));
}

TEST_F(AppSwitcherObserverTest, AnswersOfAnotherEpochOrWithoutCommandAreDropped) {
  observer->start();
  announce(switcher);
  scope->drainMain();  // the notification is handled; the role check waits on its queue
  EXPECT_TRUE(observer->lookupPending());
  setCommand(false);
  scope->runUntilIdle();
  EXPECT_TRUE(published.empty());
  EXPECT_FALSE(observer->lookupPending());

  setCommand(true);
  announce(switcher);
  scope->drainMain();
  observer->stop();
  observer->start();
  scope->runUntilIdle();
  ASSERT_EQ(published.size(), 1u);  // only stop's "no scope"
  EXPECT_FALSE(published[0].has_value());
  EXPECT_EQ(observer->activeElement(), nullptr);

  // Without Command nothing is even checked.
  setCommand(false);
  announce(switcher);
  scope->runUntilIdle();
  EXPECT_EQ(AccessibilityServer::shared().attributeReads(), 2);
}

TEST_F(AppSwitcherObserverTest, AnElementAnnouncedDuringACheckIsExaminedRightAfter) {
  observer->start();
  auto list = switcherElement("AXList");
  announce(list);
  scope->drainMain();
  announce(switcher, kAXSelectedChildrenChangedNotification);
  scope->drainMain();
  EXPECT_TRUE(published.empty());
  scope->runUntilIdle();
  ASSERT_EQ(published.size(), 1u);
  EXPECT_TRUE(CFEqual(observer->activeElement(), switcher));
  EXPECT_EQ(traced(), (std::vector<std::string>{"app-switcher-rejected:unverified-role", "app-switcher-verified"}));
}

TEST_F(AppSwitcherObserverTest, AnObserverGoneBeforeTheAnswerIsLeftAlone) {
  observer->start();
  announce(switcher);
  scope->drainMain();
  observer.reset();
  scope->runUntilIdle();
  EXPECT_TRUE(published.empty());
}

TEST(SwitcherWindowMatch, EveryCheckOfAnEntry) {
  const CGPoint point = CGPointMake(100, 100);
  const auto entryFor = [](WindowRecord window) {
    WindowTable::shared().setWindows({std::move(window)});
    return (*CGWindowListCopyWindowInfo(kCGWindowListOptionAll, 0)).at(0);
  };
  const auto match = [&](WindowRecord window, std::optional<CGWindowID> number = std::nullopt) {
    return AppSwitcherCursorObserver::matchSwitcherWindow(entryFor(std::move(window)), kDock, number, point, kScreen);
  };
  auto found = match(dockWindow(5, kScreen));
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, (AppSwitcherCursorObserver::SwitcherWindowMatch{5, kDock, 20, kScreen}));
  EXPECT_TRUE(match(dockWindow(5, CGRectInset(kScreen, 1, 1))).has_value());
  EXPECT_FALSE(match(dockWindow(5, CGRectInset(kScreen, 2, 2))).has_value());
  EXPECT_TRUE(match(dockWindow(5, kScreen), 5).has_value());
  EXPECT_FALSE(match(dockWindow(5, kScreen), 6).has_value());
  EXPECT_FALSE(match(dockWindow(5, CGRectMake(200, 0, 1512, 982))).has_value());  // point outside

  const auto broken = [&](auto change) {
    auto window = dockWindow(5, kScreen);
    change(window);
    return match(window).has_value();
  };
  EXPECT_FALSE(broken([](WindowRecord& w) { w.ownerPID = foreignPid(51); }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.layer = 0; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.onScreen = false; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.alpha = 0; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.entryOverrides = {{kCGWindowNumber, std::nullopt}}; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.entryOverrides = {{kCGWindowNumber, CFValue(-1)}}; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.entryOverrides = {{kCGWindowBounds, CFValue("all")}}; }));
  EXPECT_FALSE(broken([](WindowRecord& w) { w.entryOverrides = {{kCGWindowIsOnscreen, CFValue(0)}}; }));

  WindowTable::shared().setListFailure(true);
  EXPECT_FALSE(AppSwitcherCursorObserver::switcherWindow(kDock, std::nullopt, point, kScreen).has_value());
  resetProcessState();
}

}  // namespace
}  // namespace vurle
