#include "platform/appkit/workspace.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

class WorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    for (const auto& name : {NSWorkspaceDidLaunchApplicationNotification, NSWorkspaceDidActivateApplicationNotification,
                             NSWorkspaceDidTerminateApplicationNotification}) {
      tokens.push_back(workspace().notificationCenter().addObserverForName(
          name, nullptr, nullptr, [this](const NSNotification& notification) {
            auto application = std::any_cast<std::shared_ptr<NSRunningApplication>>(
                notification.userInfo.at(NSWorkspaceApplicationKey));
            heard.push_back(notification.name + ":" + std::to_string(application->processIdentifier()));
          }));
    }
  }
  void TearDown() override {
    tokens.clear();
    resetProcessState();
  }
  static NSWorkspace& workspace() { return NSWorkspace::sharedWorkspace(); }

  SimulatedSchedulerScope scope;
  std::vector<NotificationToken> tokens;
  std::vector<std::string> heard;
};

TEST_F(WorkspaceTest, LaunchActivateAndLookUp) {
  ASSERT_EQ(workspace().runningApplications().size(), 1u);
  EXPECT_EQ(NSRunningApplication::currentApplication()->processIdentifier(), ::getpid());
  workspace().launchApplication(foreignPid(50), "com.apple.dock", "Dock", NSApplicationActivationPolicy::accessory);
  auto finder = workspace().launchApplication(foreignPid(60), "com.apple.finder", "Finder");
  EXPECT_THROW(workspace().launchApplication(foreignPid(60), "x", "Again"), std::invalid_argument);
  EXPECT_THROW(workspace().launchApplication(0, "x", "Zero"), std::invalid_argument);
  EXPECT_EQ(workspace().runningApplications().size(), 3u);

  auto docks = NSRunningApplication::runningApplicationsWithBundleIdentifier("com.apple.dock");
  ASSERT_EQ(docks.size(), 1u);
  EXPECT_EQ(docks[0]->activationPolicy(), NSApplicationActivationPolicy::accessory);
  EXPECT_EQ(NSRunningApplication::runningApplicationWithProcessIdentifier(foreignPid(60)), finder);
  EXPECT_EQ(NSRunningApplication::runningApplicationWithProcessIdentifier(foreignPid(61)), nullptr);

  workspace().activateApplication(foreignPid(50));
  workspace().activateApplication(foreignPid(60));
  EXPECT_EQ(workspace().frontmostApplication(), finder);
  EXPECT_TRUE(finder->isActive());
  EXPECT_FALSE(docks[0]->isActive());
  EXPECT_THROW(workspace().activateApplication(foreignPid(61)), std::invalid_argument);
  EXPECT_EQ(heard, (std::vector<std::string>{
                       NSWorkspaceDidLaunchApplicationNotification + ":" + std::to_string(foreignPid(50)),
                       NSWorkspaceDidLaunchApplicationNotification + ":" + std::to_string(foreignPid(60)),
                       NSWorkspaceDidActivateApplicationNotification + ":" + std::to_string(foreignPid(50)),
                       NSWorkspaceDidActivateApplicationNotification + ":" + std::to_string(foreignPid(60)),
                   }));
}

TEST_F(WorkspaceTest, TerminationIsNoticedOnTheMainRunLoop) {
  auto finder = workspace().launchApplication(foreignPid(60), "com.apple.finder", "Finder");
  workspace().activateApplication(foreignPid(60));
  heard.clear();
  workspace().terminateApplication(foreignPid(60));
  EXPECT_TRUE(finder->isTerminated());
  EXPECT_EQ(NSRunningApplication::runningApplicationWithProcessIdentifier(foreignPid(60)), finder);
  scope->runUntilIdle();
  EXPECT_EQ(NSRunningApplication::runningApplicationWithProcessIdentifier(foreignPid(60)), nullptr);
  EXPECT_EQ(workspace().frontmostApplication(), nullptr);
  EXPECT_EQ(heard, std::vector<std::string>{NSWorkspaceDidTerminateApplicationNotification + ":" +
                                            std::to_string(foreignPid(60))});
}

TEST_F(WorkspaceTest, OpenedURLsAreRecorded) {
  EXPECT_TRUE(workspace().openURL("x-apple.systempreferences:com.apple.preference.security"));
  EXPECT_FALSE(workspace().openURL(""));
  EXPECT_EQ(workspace().openedURLs(),
            std::vector<std::string>{"x-apple.systempreferences:com.apple.preference.security"});
}

TEST_F(WorkspaceTest, SessionSleepSpaceAndReduceMotionPostOnlyChanges) {
  std::vector<std::string> posted;
  std::vector<NotificationToken> more;
  for (const auto& name :
       {NSWorkspaceActiveSpaceDidChangeNotification, NSWorkspaceSessionDidResignActiveNotification,
        NSWorkspaceSessionDidBecomeActiveNotification, NSWorkspaceWillSleepNotification,
        NSWorkspaceDidWakeNotification, NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification}) {
    more.push_back(workspace().notificationCenter().addObserverForName(
        name, nullptr, nullptr, [&](const NSNotification& notification) {
          EXPECT_EQ(notification.object, &workspace());
          posted.push_back(notification.name);
        }));
  }
  EXPECT_FALSE(workspace().accessibilityDisplayShouldReduceMotion());
  workspace().setReduceMotion(true);
  workspace().setReduceMotion(true);
  EXPECT_TRUE(workspace().accessibilityDisplayShouldReduceMotion());
  workspace().setSessionActive(true);  // already active: nothing to tell
  workspace().setSessionActive(false);
  EXPECT_FALSE(workspace().isSessionActive());
  workspace().setSessionActive(true);
  workspace().sleep();
  workspace().wake();
  workspace().changeActiveSpace();
  EXPECT_EQ(posted, (std::vector<std::string>{
                        NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification,
                        NSWorkspaceSessionDidResignActiveNotification,
                        NSWorkspaceSessionDidBecomeActiveNotification,
                        NSWorkspaceWillSleepNotification,
                        NSWorkspaceDidWakeNotification,
                        NSWorkspaceActiveSpaceDidChangeNotification,
                    }));
  resetProcessState();
  EXPECT_FALSE(workspace().accessibilityDisplayShouldReduceMotion());
  EXPECT_TRUE(workspace().isSessionActive());
}

TEST_F(WorkspaceTest, MouseLocationIsFlippedAboutTheFirstScreen) {
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2),
                        NSScreen::make(CGRectMake(1440, 100, 800, 1000), 1)});
  CursorState::shared().setCursorLocation(CGPointMake(1500, -150));
  EXPECT_EQ(NSEvent::mouseLocation(), NSMakePoint(1500, 1050));
  NSScreen::setScreens({});
  EXPECT_EQ(NSEvent::mouseLocation(), NSMakePoint(1500, 150));
}

}  // namespace
}  // namespace platform
