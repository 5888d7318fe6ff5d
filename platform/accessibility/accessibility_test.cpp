#include "platform/accessibility/accessibility.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

const pid_t kDock = foreignPid(50);

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    NSWorkspace::sharedWorkspace().launchApplication(kDock, "com.apple.dock", "Dock");
  }
  void TearDown() override { resetProcessState(); }

  static AccessibilityServer& server() { return AccessibilityServer::shared(); }

  static AXError read(const AXUIElementRef& element, const std::string& attribute, AXAttributeValue* value) {
    return AXUIElementCopyAttributeValue(element, attribute, value);
  }

  SimulatedSchedulerScope scope;
};

TEST_F(AccessibilityTest, AttributeReadsAndTheirErrors) {
  auto application = AXUIElementCreateApplication(kDock);
  AXAttributeValue value;
  EXPECT_EQ(read(application, kAXRoleAttribute, &value), kAXErrorSuccess);
  EXPECT_EQ(std::get<std::string>(value), "AXApplication");
  EXPECT_EQ(read(application, kAXRoleAttribute, nullptr), kAXErrorIllegalArgument);

  auto window = server().makeElement(kDock);
  const CGPoint position = CGPointMake(10, 20);
  server().setAttribute(window, kAXPositionAttribute, AXValueCreate(kAXValueCGPointType, &position));
  server().setAttribute(application, kAXWindowsAttribute, std::vector<AXUIElementRef>{window});
  server().setAttributeError(window, kAXSubroleAttribute, kAXErrorCannotComplete);

  ASSERT_EQ(read(application, kAXWindowsAttribute, &value), kAXErrorSuccess);
  EXPECT_TRUE(CFEqual(std::get<std::vector<AXUIElementRef>>(value).at(0), window));
  ASSERT_EQ(read(window, kAXPositionAttribute, &value), kAXErrorSuccess);
  CGPoint read_back;
  EXPECT_TRUE(AXValueGetValue(std::get<AXValueRef>(value), kAXValueCGPointType, &read_back));
  EXPECT_EQ(read_back, position);
  EXPECT_EQ(read(window, kAXSubroleAttribute, &value), kAXErrorCannotComplete);
  EXPECT_EQ(read(window, kAXSizeAttribute, &value), kAXErrorNoValue);

  server().setAPIEnabled(false);
  EXPECT_EQ(read(application, kAXRoleAttribute, &value), kAXErrorAPIDisabled);
  EXPECT_TRUE(AXIsProcessTrusted());  // the trust answer is kept apart
  server().setAPIEnabled(true);
  server().setProcessTrusted(false);
  EXPECT_FALSE(AXIsProcessTrusted());
  EXPECT_EQ(read(application, kAXRoleAttribute, &value), kAXErrorSuccess);

  EXPECT_EQ(read(AXUIElementCreateApplication(foreignPid(51)), kAXRoleAttribute, &value), kAXErrorCannotComplete);
  NSWorkspace::sharedWorkspace().terminateApplication(kDock);
  EXPECT_EQ(read(application, kAXRoleAttribute, &value), kAXErrorCannotComplete);
}

TEST_F(AccessibilityTest, MessagingTimeoutDecidesWhetherASlowApplicationAnswers) {
  server().setResponseTime(kDock, 0.02);
  auto slow = AXUIElementCreateApplication(kDock);
  AXAttributeValue value;
  EXPECT_EQ(read(slow, kAXRoleAttribute, &value), kAXErrorSuccess);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(slow, 0.015f), kAXErrorSuccess);
  EXPECT_EQ(read(slow, kAXRoleAttribute, &value), kAXErrorCannotComplete);
  // Another reference to the same element keeps the default.
  EXPECT_EQ(read(AXUIElementCreateApplication(kDock), kAXRoleAttribute, &value), kAXErrorSuccess);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(AXUIElementCreateSystemWide(), 0.01f), kAXErrorSuccess);
  EXPECT_EQ(read(AXUIElementCreateApplication(kDock), kAXRoleAttribute, &value), kAXErrorCannotComplete);
  EXPECT_EQ(AXUIElementSetMessagingTimeout(slow, -1), kAXErrorIllegalArgument);
  EXPECT_EQ(slow->messagingTimeout(), 0.015f);
}

TEST_F(AccessibilityTest, ElementAtPositionFindsTheFirstRegionUnderThePoint) {
  auto application = AXUIElementCreateApplication(kDock);
  auto button = server().makeElement(kDock);
  auto foreign = server().makeElement(foreignPid(51));
  server().addElementRegion(kDock, CGRectMake(0, 0, 100, 100), button);
  server().addElementRegion(kDock, CGRectMake(50, 50, 100, 100), foreign);
  AXUIElementRef hit;
  ASSERT_EQ(AXUIElementCopyElementAtPosition(application, 60, 60, &hit), kAXErrorSuccess);
  EXPECT_TRUE(CFEqual(hit, button));
  ASSERT_EQ(AXUIElementCopyElementAtPosition(application, 120, 120, &hit), kAXErrorSuccess);
  EXPECT_EQ(hit->pid(), foreignPid(51));
  EXPECT_EQ(AXUIElementCopyElementAtPosition(application, 500, 500, &hit), kAXErrorNoValue);
  EXPECT_EQ(AXUIElementCopyElementAtPosition(application, NAN, 5, &hit), kAXErrorIllegalArgument);
  EXPECT_EQ(AXUIElementCopyElementAtPosition(AXUIElementCreateSystemWide(), 5, 5, &hit), kAXErrorIllegalArgument);

  // A slow application times out like an attribute read; a scripted error wins.
  server().setResponseTime(kDock, 0.02);
  AXUIElementSetMessagingTimeout(application, 0.015f);
  EXPECT_EQ(AXUIElementCopyElementAtPosition(application, 5, 5, &hit), kAXErrorCannotComplete);
  server().setResponseTime(kDock, 0);
  server().setHitTestError(kDock, kAXErrorFailure);
  EXPECT_EQ(AXUIElementCopyElementAtPosition(application, 5, 5, &hit), kAXErrorFailure);
  EXPECT_EQ(AXUIElementCopyElementAtPosition(AXUIElementCreateApplication(foreignPid(51)), 5, 5, &hit),
            kAXErrorCannotComplete);
}

struct Heard {
  std::vector<std::string> names;
  std::vector<AXUIElementRef> elements;
};

void remember(AXObserverRef, AXUIElementRef element, const std::string& notification, void* refcon) {
  static_cast<Heard*>(refcon)->names.push_back(notification);
  static_cast<Heard*>(refcon)->elements.push_back(element);
}

TEST_F(AccessibilityTest, ObserversHearTheirApplicationOnTheMainRunLoop) {
  Heard heard;
  AXObserverRef observer;
  ASSERT_EQ(AXObserverCreate(kDock, &remember, &observer), kAXErrorSuccess);
  auto application = AXUIElementCreateApplication(kDock);
  EXPECT_EQ(AXObserverAddNotification(observer, application, kAXCreatedNotification, &heard), kAXErrorSuccess);
  EXPECT_EQ(AXObserverAddNotification(observer, application, kAXCreatedNotification, &heard),
            kAXErrorNotificationAlreadyRegistered);
  EXPECT_EQ(AXObserverAddNotification(observer, AXUIElementCreateApplication(foreignPid(51)), kAXCreatedNotification,
                                      &heard),
            kAXErrorIllegalArgument);
  server().setNotificationError(kDock, kAXSelectedChildrenChangedNotification, kAXErrorNotificationUnsupported);
  EXPECT_EQ(AXObserverAddNotification(observer, application, kAXSelectedChildrenChangedNotification, &heard),
            kAXErrorNotificationUnsupported);
  EXPECT_EQ(AXObserverAddNotification(observer, application, kAXUIElementDestroyedNotification, &heard),
            kAXErrorSuccess);

  auto list = server().makeElement(kDock);
  server().postNotification(list, kAXCreatedNotification);
  scope->runUntilIdle();
  EXPECT_TRUE(heard.names.empty());  // the source is not on the run loop yet

  auto source = AXObserverGetRunLoopSource(observer);
  CFRunLoopAddSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
  server().postNotification(list, kAXCreatedNotification);
  server().postNotification(list, kAXSelectedChildrenChangedNotification);
  server().destroyElement(list);
  EXPECT_TRUE(heard.names.empty());
  scope->runUntilIdle();
  EXPECT_EQ(heard.names, (std::vector<std::string>{kAXCreatedNotification, kAXUIElementDestroyedNotification}));
  EXPECT_TRUE(CFEqual(heard.elements.at(0), list));
  AXAttributeValue value;
  EXPECT_EQ(read(list, kAXRoleAttribute, &value), kAXErrorInvalidUIElement);

  server().postNotification(application, kAXCreatedNotification);
  CFRunLoopRemoveSource(CFRunLoopGetMain(), source, kCFRunLoopCommonModes);
  scope->runUntilIdle();
  EXPECT_EQ(heard.names.size(), 2u);

  server().setAPIEnabled(false);
  AXObserverRef refused;
  EXPECT_EQ(AXObserverCreate(kDock, &remember, &refused), kAXErrorAPIDisabled);
  EXPECT_EQ(refused, nullptr);
}

}  // namespace
}  // namespace platform
