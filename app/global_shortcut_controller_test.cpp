#include "app/global_shortcut_controller.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "platform/appkit/event.hpp"
#include "platform/desktop/simulated_desktop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using platform::HotKeySystem;
constexpr std::uint32_t kControlOption = GlobalShortcut::controlKey | GlobalShortcut::optionKey;
constexpr platform::CGEventFlags kControlOptionFlags = platform::kCGEventFlagMaskControl | platform::kCGEventFlagMaskAlternate;

class ShortcutControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::WindowServer::shared();
    platform::resetProcessState();
  }
  void TearDown() override {
    controller.reset();
    platform::resetProcessState();
  }

  void make() {
    controller = GlobalShortcutController::make(preferences, [this](ShortcutAction action) { performed.push_back(action); });
  }
  static size_t keyDownsDelivered() {
    size_t count = 0;
    for (const auto& event : platform::EventSystem::shared().deliveredEvents()) {
      count += event->type == platform::kCGEventKeyDown;
    }
    return count;
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<AppPreferences> preferences =
      AppPreferences::make(platform::NSUserDefaults::makeInMemory("test.shortcuts"));
  std::shared_ptr<GlobalShortcutController> controller;
  std::vector<ShortcutAction> performed;
};

// Each action's outcome for the shortcuts and switches delivered.
TEST_F(ShortcutControllerTest, RegistrationFollowsThePreferencesWithASentencePerProblem) {
  const GlobalShortcut period{47, kControlOption, "."};
  const GlobalShortcut comma{43, kControlOption, ","};
  const GlobalShortcut shiftOnly{47, GlobalShortcut::shiftKey, "."};
  const GlobalShortcut commandQ{12, GlobalShortcut::cmdKey, "Q"};
  const GlobalShortcut periodOtherText{47, kControlOption, ">"};
  const GlobalShortcut commandPeriod{47, GlobalShortcut::cmdKey, "."};
  const std::string invalid = GlobalShortcutController::invalidMessage;
  const std::string duplicate = GlobalShortcutController::duplicateMessage;
  const std::string refused = GlobalShortcutController::refusedMessage;
  const std::string unavailable = GlobalShortcutController::unavailableMessage;
  struct Case {
    const char* what;
    std::optional<GlobalShortcut> pause, settings;
    bool enabled = true, recording = false, handlerFails = false, periodTaken = false;
    bool pauseRegistered, settingsRegistered;
    std::map<ShortcutAction, std::string> errors;
  };
  const Case cases[] = {
      {"both", period, comma, true, false, false, false, true, true, {}},
      {"the same", period, period, true, false, false, false, true, false, {{ShortcutAction::settings, duplicate}}},
      {"the same but for the text", period, periodOtherText, true, false, false, false, true, false,
       {{ShortcutAction::settings, duplicate}}},
      {"the same key with other modifiers", period, commandPeriod, true, false, false, false, true, true, {}},
      {"pause cleared", std::nullopt, comma, true, false, false, false, false, true, {}},
      {"both cleared", std::nullopt, std::nullopt, true, false, false, false, false, false, {}},
      {"shift alone", shiftOnly, comma, true, false, false, false, false, true, {{ShortcutAction::pause, invalid}}},
      {"command-Q", comma, commandQ, true, false, false, false, true, false, {{ShortcutAction::settings, invalid}}},
      {"both invalid", shiftOnly, shiftOnly, true, false, false, false, false, false,
       {{ShortcutAction::pause, invalid}, {ShortcutAction::settings, invalid}}},
      {"held by another application", period, comma, true, false, false, true, false, true,
       {{ShortcutAction::pause, refused}}},
      {"the same as a refused one", period, period, true, false, false, true, false, false,
       {{ShortcutAction::pause, refused}, {ShortcutAction::settings, duplicate}}},
      {"no handler", period, std::nullopt, true, false, true, false, false, false,
       {{ShortcutAction::pause, unavailable}}},
      {"switched off", period, period, false, false, false, false, false, false, {}},
      {"recording", period, period, true, true, false, false, false, false, {}},
  };
  for (const auto& c : cases) {
    platform::resetProcessState();
    performed.clear();
    preferences = AppPreferences::make(platform::NSUserDefaults::makeInMemory("test.shortcuts"));
    HotKeySystem::shared().setHandlerInstallationFails(c.handlerFails);
    if (c.periodTaken) HotKeySystem::shared().giveToApplication(4242, 47, kControlOption);
    preferences->setShortcutErrors({{ShortcutAction::pause, "stale"}});
    make();
    preferences->setPauseShortcut(c.pause);
    preferences->setSettingsShortcut(c.settings);
    preferences->setShortcutsEnabled(c.enabled);
    if (c.recording) preferences->setRecordingAction(ShortcutAction::pause);
    EXPECT_FALSE(controller->isRegistered(ShortcutAction::pause)) << "before the run loop: " << c.what;
    scope->runUntilIdle();
    EXPECT_EQ(controller->isRegistered(ShortcutAction::pause), c.pauseRegistered) << c.what;
    EXPECT_EQ(controller->isRegistered(ShortcutAction::settings), c.settingsRegistered) << c.what;
    EXPECT_EQ(preferences->shortcutErrors(), c.errors) << c.what;
    size_t ours = 0;
    for (const auto& registration : HotKeySystem::shared().registrations()) {
      if (registration.owner != ::getpid()) continue;
      ++ours;
      EXPECT_EQ(registration.identity.signature, platform::fourCharCode("VRLE"));
      const bool isPause = c.pauseRegistered && registration.keyCode == c.pause->keyCode &&
                           registration.modifiers == c.pause->modifiers;
      EXPECT_EQ(registration.identity.id, isPause ? 1u : 2u) << c.what;
    }
    EXPECT_EQ(ours, size_t{c.pauseRegistered} + size_t{c.settingsRegistered}) << c.what;
    controller.reset();
    EXPECT_EQ(HotKeySystem::shared().installedHandlers(), 0u) << c.what;
  }
}

// Keys the user presses on the simulated desktop.
TEST_F(ShortcutControllerTest, DesktopPressesPerformTheirActionAndReachNoApplication) {
  platform::Scenario scenario;
  scenario.screens.push_back({platform::CGRectMake(0, 0, 1440, 900), 2.0, 0.0, std::nullopt});
  platform::SimulatedDesktop desktop(scenario);
  make();
  scope->runUntilIdle();
  struct Press {
    const char* what;
    std::function<void()> before;
    platform::CGKeyCode key;
    platform::CGEventFlags flags;
    std::vector<ShortcutAction> performed;
  };
  const Press presses[] = {
      {"pause", [] {}, 47, kControlOptionFlags, {ShortcutAction::pause}},
      {"settings", [] {}, 43, kControlOptionFlags, {ShortcutAction::settings}},
      {"with caps lock", [] {}, 47, kControlOptionFlags | platform::kCGEventFlagMaskAlphaShift, {ShortcutAction::pause}},
      {"with shift too", [] {}, 47, kControlOptionFlags | platform::kCGEventFlagMaskShift, {}},
      {"control alone", [] {}, 47, platform::kCGEventFlagMaskControl, {}},
      {"while recording", [this] { preferences->setRecordingAction(ShortcutAction::settings); }, 47,
       kControlOptionFlags, {}},
      {"recording ended", [this] { preferences->setRecordingAction(std::nullopt); }, 47, kControlOptionFlags,
       {ShortcutAction::pause}},
      {"switched off", [this] { preferences->setShortcutsEnabled(false); }, 47, kControlOptionFlags, {}},
      {"switched on", [this] { preferences->setShortcutsEnabled(true); }, 43, kControlOptionFlags,
       {ShortcutAction::settings}},
      {"changed", [this] { preferences->setPauseShortcut(GlobalShortcut{0, GlobalShortcut::cmdKey, "A"}); }, 0,
       platform::kCGEventFlagMaskCommand, {ShortcutAction::pause}},
      {"the old one", [] {}, 47, kControlOptionFlags, {}},
  };
  for (const auto& press : presses) {
    press.before();
    scope->runUntilIdle();
    performed.clear();
    const size_t delivered = keyDownsDelivered();
    desktop.pressKey(press.key, press.flags);
    scope->runUntilIdle();
    EXPECT_EQ(performed, press.performed) << press.what;
    // A press that became a hot key's reaches no application; any other does.
    EXPECT_EQ(keyDownsDelivered() - delivered, press.performed.empty() ? 1u : 0u) << press.what;
    desktop.releaseKey(press.key, press.flags);
  }

  // A press still queued when the controller goes is dropped with it.
  performed.clear();
  desktop.pressKey(0, platform::kCGEventFlagMaskCommand);
  desktop.pressKey(0, platform::kCGEventFlagMaskCommand);
  scope->runUntilIdle();
  EXPECT_EQ(performed.size(), 2u);
  desktop.pressKey(0, platform::kCGEventFlagMaskCommand);
  platform::RunLoop::main().perform([this] { controller.reset(); });  // after the key reaches the hot key
  scope->runUntilIdle();
  EXPECT_EQ(performed.size(), 2u);
  EXPECT_TRUE(HotKeySystem::shared().registrations().empty());
}

TEST_F(ShortcutControllerTest, OnlyAHotKeyEventOfOursForARegisteredActionIsHandled) {
  make();
  scope->runUntilIdle();
  auto event = [](std::optional<platform::OSType> type, const void* data, std::size_t size) {
    platform::EventRef made;
    platform::CreateEvent(nullptr, platform::kEventClassKeyboard, platform::kEventHotKeyPressed, 0, 0, &made);
    if (type) platform::SetEventParameter(made, platform::kEventParamDirectObject, *type, size, data);
    return made;
  };
  const platform::EventHotKeyID pause{GlobalShortcutController::signature, 1};
  const platform::EventHotKeyID settings{GlobalShortcutController::signature, 2};
  const platform::EventHotKeyID unknown{GlobalShortcutController::signature, 3};
  const platform::EventHotKeyID other{platform::fourCharCode("XXXX"), 1};
  const std::uint32_t shortValue = 1;
  struct Case {
    const char* what;
    platform::EventRef event;
    bool withController;
    platform::OSStatus status;
  };
  const Case cases[] = {
      {"no event", nullptr, true, platform::eventNotHandledErr},
      {"no controller", event(platform::typeEventHotKeyID, &pause, sizeof pause), false, platform::eventNotHandledErr},
      {"no parameter", event(std::nullopt, nullptr, 0), true, platform::eventNotHandledErr},
      {"a short parameter", event(platform::typeEventHotKeyID, &shortValue, sizeof shortValue), true,
       platform::eventNotHandledErr},
      {"another type", event(platform::fourCharCode("long"), &pause, sizeof pause), true, platform::eventNotHandledErr},
      {"another signature", event(platform::typeEventHotKeyID, &other, sizeof other), true,
       platform::eventNotHandledErr},
      {"an unknown number", event(platform::typeEventHotKeyID, &unknown, sizeof unknown), true,
       platform::eventNotHandledErr},
      {"pause", event(platform::typeEventHotKeyID, &pause, sizeof pause), true, platform::noErr},
      {"settings", event(platform::typeEventHotKeyID, &settings, sizeof settings), true, platform::noErr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GlobalShortcutController::handleHotKey(c.event, c.withController ? controller.get() : nullptr), c.status)
        << c.what;
  }
  EXPECT_EQ(performed, (std::vector<ShortcutAction>{ShortcutAction::pause, ShortcutAction::settings}));
  // Unregistered in between: a late press is passed on.
  controller->unregisterAll();
  EXPECT_EQ(GlobalShortcutController::handleHotKey(event(platform::typeEventHotKeyID, &pause, sizeof pause),
                                                   controller.get()),
            platform::eventNotHandledErr);
  EXPECT_EQ(performed.size(), 2u);
}

// Key events as the desktop types them on its US layout, and as the
// recorder makes them.
TEST_F(ShortcutControllerTest, KeyEventsBecomeShortcutsWithTheirDisplayText) {
  using platform::kCGEventFlagMaskAlphaShift;
  using platform::kCGEventFlagMaskCommand;
  using platform::kCGEventFlagMaskControl;
  using platform::kCGEventFlagMaskShift;
  struct Case {
    platform::CGKeyCode key;
    platform::CGEventFlags flags;
    std::string name;
    std::optional<std::uint32_t> modifiers;  // none: no shortcut
  };
  const Case cases[] = {
      {96, kCGEventFlagMaskCommand, "F5", GlobalShortcut::cmdKey},
      {47, kControlOptionFlags, ".", kControlOption},
      {43, kControlOptionFlags, ",", kControlOption},
      {0, kCGEventFlagMaskControl, "A", GlobalShortcut::controlKey},  // typed as a control character
      {0, kCGEventFlagMaskControl | kCGEventFlagMaskAlphaShift, "A", GlobalShortcut::controlKey},
      {18, kCGEventFlagMaskShift | kCGEventFlagMaskCommand, "1", GlobalShortcut::shiftKey | GlobalShortcut::cmdKey},
      {49, kControlOptionFlags, "Space", kControlOption},
      {36, kCGEventFlagMaskCommand, "↩", GlobalShortcut::cmdKey},
      {126, kCGEventFlagMaskControl, "↑", GlobalShortcut::controlKey},
      {121, kCGEventFlagMaskControl, "⇟", GlobalShortcut::controlKey},
      {111, kCGEventFlagMaskControl, "F12", GlobalShortcut::controlKey},
      {12, kCGEventFlagMaskControl, "Q", GlobalShortcut::controlKey},  // control-Q is allowed
      {12, kCGEventFlagMaskCommand, "Q", std::nullopt},
      {12, kCGEventFlagMaskCommand | kCGEventFlagMaskShift, "Q", std::nullopt},
      {0, kCGEventFlagMaskShift, "A", std::nullopt},  // shift is not enough
      {0, 0, "A", std::nullopt},
      {53, kCGEventFlagMaskControl, "\x1B", std::nullopt},  // Escape types a control character
      {51, kCGEventFlagMaskCommand, "\x7F", std::nullopt},
      {56, kCGEventFlagMaskCommand, "", std::nullopt},  // a modifier key types nothing
  };
  platform::Scenario scenario;
  scenario.screens.push_back({platform::CGRectMake(0, 0, 1440, 900), 2.0, 0.0, std::nullopt});
  platform::SimulatedDesktop desktop(scenario);
  std::vector<std::shared_ptr<platform::NSEvent>> seen;
  auto monitor = platform::NSEvent::addGlobalMonitorForEventsMatchingMask(
      platform::NSEventMaskFromType(platform::kCGEventKeyDown), [&](const auto& event) { seen.push_back(event); });
  for (const auto& c : cases) {
    seen.clear();
    desktop.pressKey(c.key, c.flags);
    scope->runUntilIdle();
    ASSERT_EQ(seen.size(), 1u) << c.key;
    const auto& event = *seen.front();
    EXPECT_EQ(GlobalShortcut::keyDisplayName(event), c.name) << c.key;
    const auto shortcut = GlobalShortcut::fromEvent(event);
    EXPECT_EQ(shortcut.has_value(), c.modifiers.has_value()) << c.key;
    if (shortcut && c.modifiers) {
      EXPECT_EQ(*shortcut, (GlobalShortcut{c.key, *c.modifiers, c.name})) << c.key;
    }
  }
  // Text beyond the layout falls back to the characters, uppercased by the
  // full mapping.
  auto made = platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, platform::NSEventModifierFlagControl,
                                                  "ß", "ß", 93);
  EXPECT_EQ(GlobalShortcut::keyDisplayName(*made), "SS");
  EXPECT_EQ(GlobalShortcut::fromEvent(*made), (GlobalShortcut{93, GlobalShortcut::controlKey, "SS"}));
  auto zeroWidth = platform::NSEvent::keyEventWithType(platform::NSEventTypeKeyDown, platform::NSEventModifierFlagControl,
                                                       "a\u200d", "a\u200d", 94);
  EXPECT_FALSE(GlobalShortcut::fromEvent(*zeroWidth));  // a format character counts as a control character
  auto mouse = platform::NSEvent::eventWithCGEvent(
      platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventMouseMoved, {}, 0));
  EXPECT_EQ(GlobalShortcut::keyDisplayName(*mouse), "");
  EXPECT_FALSE(GlobalShortcut::fromEvent(*mouse));
}

}  // namespace
}  // namespace vurle
