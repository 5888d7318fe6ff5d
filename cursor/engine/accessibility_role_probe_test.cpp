#include "cursor/engine/accessibility_role_probe.hpp"

#include <gtest/gtest.h>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;

class AccessibilityRoleProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
  }
  void TearDown() override { resetProcessState(); }

  static NSWorkspace& workspace() { return NSWorkspace::sharedWorkspace(); }

  SimulatedSchedulerScope scope;
};

TEST(AccessibilityRoleProbeAnswers, TheRoleReadOverridesTheTrustAnswerOnlyWhenDecisive) {
  struct Case {
    bool trusted;
    std::optional<pid_t> target;
    AXError read;
    bool expected;
  } cases[] = {
      {false, 10, kAXErrorSuccess, true},
      {true, 10, kAXErrorAPIDisabled, false},
      {true, 10, kAXErrorCannotComplete, true},
      {false, 10, kAXErrorInvalidUIElement, false},
      {true, std::nullopt, kAXErrorAPIDisabled, true},
      {false, std::nullopt, kAXErrorSuccess, false},
  };
  for (const auto& c : cases) {
    AccessibilityRoleProbe probe([&] { return c.target; }, [&](pid_t) { return c.read; }, [] { return 0.0; });
    EXPECT_EQ(probe.check(c.trusted), c.expected) << "trusted " << c.trusted << " read " << c.read;
  }
}

TEST(AccessibilityRoleProbeAnswers, KeepsTheTargetForFiveSecondsUnlessAReadFails) {
  double now = 100;
  int choices = 0;
  AXError answer = kAXErrorSuccess;
  std::vector<pid_t> read;
  AccessibilityRoleProbe probe([&] { return std::optional<pid_t>(++choices); },
                               [&](pid_t pid) {
                                 read.push_back(pid);
                                 return answer;
                               },
                               [&] { return now; });
  probe.check(false);
  now = 104.9;
  probe.check(false);
  EXPECT_EQ(choices, 1);
  now = 105;
  probe.check(false);
  EXPECT_EQ(choices, 2);
  answer = kAXErrorCannotComplete;
  probe.check(false);  // drops target 2 at once
  probe.check(false);
  EXPECT_EQ(read, (std::vector<pid_t>{1, 1, 2, 2, 3}));
}

TEST_F(AccessibilityRoleProbeTest, TargetsFinderThenSystemSettingsThenARegularApplication) {
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), std::nullopt);  // only this process runs
  workspace().launchApplication(foreignPid(30), "com.example.agent", "Agent", NSApplicationActivationPolicy::accessory);
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), std::nullopt);
  workspace().launchApplication(foreignPid(40), "com.example.editor", "Editor");
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), foreignPid(40));
  workspace().launchApplication(foreignPid(50), "com.apple.systempreferences", "System Settings",
                                NSApplicationActivationPolicy::accessory);
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), foreignPid(50));
  workspace().launchApplication(foreignPid(60), "com.apple.finder", "Finder");
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), foreignPid(60));
  workspace().terminateApplication(foreignPid(60));  // still listed, but gone
  EXPECT_EQ(AccessibilityRoleProbe::targetApplication(), foreignPid(50));
}

TEST_F(AccessibilityRoleProbeTest, AQuittingTargetIsReplacedAtTheNextCheck) {
  workspace().launchApplication(foreignPid(60), "com.apple.finder", "Finder");
  workspace().launchApplication(foreignPid(40), "com.example.editor", "Editor");
  auto probe = AccessibilityRoleProbe::shared();
  AccessibilityServer::shared().setProcessTrusted(false);
  EXPECT_TRUE(probe->check(AXIsProcessTrusted()));
  workspace().terminateApplication(foreignPid(60));
  scope->runUntilIdle();
  EXPECT_FALSE(probe->check(false));  // the read fails: the trust answer stands
  AccessibilityServer::shared().setAPIEnabled(false);
  EXPECT_FALSE(probe->check(true));  // the editor refuses at once, no 5 s wait
  EXPECT_EQ(AccessibilityServer::shared().attributeReads(), 3);
}

TEST_F(AccessibilityRoleProbeTest, ReadsTheRoleWithTheShortTimeout) {
  workspace().launchApplication(foreignPid(60), "com.apple.finder", "Finder");
  AccessibilityServer::shared().setResponseTime(foreignPid(60), 0.014);
  EXPECT_EQ(AccessibilityRoleProbe::readRole(foreignPid(60)), kAXErrorSuccess);
  AccessibilityServer::shared().setResponseTime(foreignPid(60), 0.016);
  EXPECT_EQ(AccessibilityRoleProbe::readRole(foreignPid(60)), kAXErrorCannotComplete);
}

TEST(AccessibilityRoleProbeMessage, NamesThePaneOfTheRunningSystemTwice) {
  const std::string middle =
      " permission is required for cursor animations. Allow vurle in System Settings \xE2\x86\x92 Privacy & "
      "Security \xE2\x86\x92 ";
  ASSERT_EQ(middle.size(), 105u);
  for (int major : {14, 26, 27, 28}) {
    ProcessInfo::setOperatingSystemVersion({major, 0, 0});
    const std::string pane = major >= 27 ? "Device Control and Data Access" : "Accessibility";
    EXPECT_EQ(AccessibilityRoleProbe::permissionMessage(), pane + middle + pane + ".") << major;
  }
  resetProcessState();
}

}  // namespace
}  // namespace vurle
