#include "app/automatic_pause_monitor.hpp"

#include <gtest/gtest.h>

#include "cursor/native/trace_test_support.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notify/notify.hpp"

namespace vurle {
namespace {

using platform::IORegistry;
using platform::NotifyCenter;
using platform::PropertyListArray;
using platform::PropertyListDictionary;
using Reason = std::optional<AutomaticPauseReason>;

constexpr const char* kConsoleMode = "com.apple.system.console_mode_changed";
constexpr const char* kGameModeStatus = "com.apple.system.game_mode_status_changed";

PropertyListDictionary usage(int page, int usage) { return {{"DeviceUsagePage", page}, {"DeviceUsage", usage}}; }

PropertyListDictionary usbMouse() {
  return {{"Transport", "USB"}, {"Product", "Wheel Mouse"}, {"DeviceUsagePairs", PropertyListArray{usage(1, 2)}}};
}

class AutomaticPauseMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::resetProcessState();
    CursorTrace::shared()->enable(1, false);
  }
  void TearDown() override {
    monitor.reset();
    platform::resetProcessState();
  }

  void start(bool monitoring = true) {
    monitor = AutomaticPauseMonitor::make(preferences, monitoring);
    scope->runUntilIdle();
  }
  // Sets the console-mode state and announces it under another of the
  // Game Mode names, as the system does for one change.
  void setGameMode(std::uint64_t state) {
    NotifyCenter::shared().setState(kConsoleMode, state, false);
    platform::notify_post(kGameModeStatus);
    scope->runUntilIdle();
  }
  void postWorkspace(const std::string& name) {
    platform::NSWorkspace::sharedWorkspace().notificationCenter().postNotificationName(name, nullptr);
    scope->runUntilIdle();
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<AppPreferences> preferences =
      AppPreferences::make(platform::NSUserDefaults::makeInMemory("mirt.vurle.test"));
  std::shared_ptr<AutomaticPauseMonitor> monitor;
};

TEST_F(AutomaticPauseMonitorTest, GameModeStatesPauseOnlyUnderTheirPreferenceAndTraceEachNewState) {
  preferences->setPauseInGameMode(true);
  start();
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations(), 5);
  struct Case {
    std::uint64_t state;
    Reason expected;
  };
  const Case cases[] = {
      {1, AutomaticPauseReason::gameMode},
      {1, AutomaticPauseReason::gameMode},  // applied twice, traced once
      {2, AutomaticPauseReason::gameMode},  // no meaning: unchanged
      {0, std::nullopt},
      {7, std::nullopt},
      {1, AutomaticPauseReason::gameMode},
  };
  for (const auto& c : cases) {
    setGameMode(c.state);
    EXPECT_EQ(monitor->reason(), c.expected) << c.state;
  }
  std::vector<double> traced;
  for (const auto& event : traceEvents("game-mode-state")) traced.push_back(event.value.value_or(-1));
  EXPECT_EQ(traced, (std::vector<double>{0, 1, 0, 1}));  // the reading at creation, then each change

  // Without the preference Game Mode is still read, but pauses nothing.
  preferences->setPauseInGameMode(false);
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), std::nullopt);
}

TEST_F(AutomaticPauseMonitorTest, ThePollReadsEverySecondOnlyWhilePausingInGameModeIsOn) {
  preferences->setPauseInGameMode(true);
  start();
  NotifyCenter::shared().setState(kConsoleMode, 1, false);  // changed with no notification
  scope->advance(0.99);
  EXPECT_EQ(monitor->reason(), std::nullopt);
  scope->advance(0.02);
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::gameMode);

  // Off: the reason clears at once and the poll stops.
  preferences->setPauseInGameMode(false);
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), std::nullopt);
  const int reads = NotifyCenter::shared().stateReads();
  scope->advance(5.0);
  EXPECT_EQ(NotifyCenter::shared().stateReads(), reads);
}

TEST_F(AutomaticPauseMonitorTest, AFailedFirstRegistrationMeansGameModeIsNeverReadAndAFailedReadChangesNothing) {
  preferences->setPauseInGameMode(true);
  NotifyCenter::shared().setState(kConsoleMode, 1, false);
  NotifyCenter::shared().setRegistrationFails(kConsoleMode, true);
  start();
  scope->advance(3.0);
  setGameMode(1);
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations(), 4);  // the others still registered
  EXPECT_EQ(NotifyCenter::shared().stateReads(), 0);
  EXPECT_EQ(monitor->reason(), std::nullopt);

  monitor.reset();
  NotifyCenter::shared().setRegistrationFails(kConsoleMode, false);
  start();
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::gameMode);
  NotifyCenter::shared().setStateReadsFail(true);
  setGameMode(0);
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::gameMode);
}

TEST_F(AutomaticPauseMonitorTest, WhatCountsAsAnExternalMouse) {
  struct Case {
    const char* name;
    PropertyListDictionary properties;
    bool expected;
  };
  auto with = [](PropertyListDictionary base, const char* key, platform::PropertyListValue value) {
    base.insert_or_assign(key, std::move(value));
    return base;
  };
  const Case cases[] = {
      {"usb mouse", usbMouse(), true},
      {"bluetooth low energy", with(usbMouse(), "Transport", "Bluetooth Low Energy"), true},
      {"spi", with(usbMouse(), "Transport", "SPI"), false},
      {"transport of another type", with(usbMouse(), "Transport", 1), false},
      {"no transport", [] { auto p = usbMouse(); p.erase("Transport"); return p; }(), false},
      {"built in", with(usbMouse(), "Built-In", true), false},
      {"built in as 1", with(usbMouse(), "Built-In", 1), false},
      {"built in false", with(usbMouse(), "Built-In", 0), true},
      {"built in as text", with(usbMouse(), "Built-In", "yes"), true},
      {"virtual", with(usbMouse(), "VirtualHIDDevice", true), false},
      {"trackpad in any case", with(usbMouse(), "Product", "Magic TrackPad"), false},
      {"product of another type", with(usbMouse(), "Product", 3), true},
      {"mouse and touch pad usages",
       with(usbMouse(), "DeviceUsagePairs", PropertyListArray{usage(1, 2), usage(13, 5)}), false},
      {"keyboard only", with(usbMouse(), "DeviceUsagePairs", PropertyListArray{usage(1, 6)}), false},
      {"usage as real", with(usbMouse(), "DeviceUsagePairs", PropertyListArray{PropertyListDictionary{
                                                                  {"DeviceUsagePage", 1.0}, {"DeviceUsage", 2.0}}}),
       true},
      {"usage as text", with(usbMouse(), "DeviceUsagePairs", PropertyListArray{PropertyListDictionary{
                                                                  {"DeviceUsagePage", "1"}, {"DeviceUsage", 2}}}),
       false},
      {"pairs of another type", with(usbMouse(), "DeviceUsagePairs", usage(1, 2)), false},
      {"a pair that is no map", with(usbMouse(), "DeviceUsagePairs", PropertyListArray{usage(1, 2), 5}), false},
      {"no properties", {}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(AutomaticPauseMonitor::isExternalMouse(c.properties), c.expected) << c.name;
}

TEST_F(AutomaticPauseMonitorTest, MiceComingAndGoingAreNoticedAndGameModeWinsOverThem) {
  preferences->setPauseWithExternalMouse(true);
  preferences->setPauseInGameMode(true);
  auto& registry = IORegistry::shared();
  registry.addDevice("IOHIDDevice", {{"Built-In", true}, {"Transport", "SPI"}, {"Product", "Trackpad"}});
  start();
  EXPECT_EQ(monitor->reason(), std::nullopt);

  const auto mouse = registry.addDevice("IOHIDDevice", usbMouse());
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::externalMouse);
  setGameMode(1);
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::gameMode);
  setGameMode(0);
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::externalMouse);
  // A second burst after the first was drained is noticed too.
  registry.removeDevice(mouse);
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), std::nullopt);
  registry.addDevice("IOHIDDevice", usbMouse());
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::externalMouse);

  preferences->setPauseWithExternalMouse(false);
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), std::nullopt);
}

TEST_F(AutomaticPauseMonitorTest, WithoutANotificationPortTheWorkspaceNotificationsRescan) {
  preferences->setPauseWithExternalMouse(true);
  IORegistry::shared().setPortCreationFails(true);
  start();
  const auto mouse = IORegistry::shared().addDevice("IOHIDDevice", usbMouse());
  scope->runUntilIdle();
  EXPECT_EQ(monitor->reason(), std::nullopt);
  postWorkspace(platform::NSWorkspaceDidWakeNotification);
  EXPECT_EQ(monitor->reason(), AutomaticPauseReason::externalMouse);
  IORegistry::shared().removeDevice(mouse);
  for (const auto& name : {platform::NSWorkspaceSessionDidBecomeActiveNotification,
                           platform::NSWorkspaceDidActivateApplicationNotification,
                           platform::NSWorkspaceActiveSpaceDidChangeNotification}) {
    IORegistry::shared().addDevice("IOHIDDevice", usbMouse());
    postWorkspace(name);
    EXPECT_EQ(monitor->reason(), AutomaticPauseReason::externalMouse) << name;
    IORegistry::shared().reset();
    postWorkspace(name);
    EXPECT_EQ(monitor->reason(), std::nullopt) << name;
  }
}

TEST_F(AutomaticPauseMonitorTest, ReleasingTheMonitorGivesEverythingBackAndDropsQueuedDeliveries) {
  preferences->setPauseInGameMode(true);
  preferences->setPauseWithExternalMouse(true);
  start();
  EXPECT_EQ(IORegistry::shared().liveObjects(), 2);  // the two armed notification iterators
  EXPECT_EQ(IORegistry::shared().livePorts(), 1);

  // Deliveries queued for the monitor, then the monitor goes.
  IORegistry::shared().addDevice("IOHIDDevice", usbMouse());
  NotifyCenter::shared().setState(kConsoleMode, 1);
  postWorkspace(platform::NSWorkspaceDidWakeNotification);
  monitor.reset();
  scope->advance(2.0);
  EXPECT_EQ(IORegistry::shared().liveObjects(), 0);
  EXPECT_EQ(IORegistry::shared().livePorts(), 0);
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations(), 0);
  EXPECT_EQ(scope->pendingCount(), 0u);  // no poll left behind
}

TEST_F(AutomaticPauseMonitorTest, AMonitorThatDoesNotMonitorWatchesNothing) {
  preferences->setPauseInGameMode(true);
  preferences->setPauseWithExternalMouse(true);
  NotifyCenter::shared().setState(kConsoleMode, 1, false);
  IORegistry::shared().addDevice("IOHIDDevice", usbMouse());
  start(false);
  postWorkspace(platform::NSWorkspaceDidWakeNotification);
  scope->advance(2.0);
  EXPECT_EQ(monitor->reason(), std::nullopt);
  EXPECT_EQ(NotifyCenter::shared().liveRegistrations(), 0);
  EXPECT_EQ(IORegistry::shared().livePorts(), 0);
  EXPECT_EQ(NotifyCenter::shared().stateReads(), 0);
}

}  // namespace
}  // namespace vurle
