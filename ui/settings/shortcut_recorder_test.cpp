#include "ui/settings/shortcut_recorder.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/appkit/workspace.hpp"
#include "platform/events/event_tap.hpp"

#include "ui/settings/shortcut_window_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class ShortcutRecorderTest : public ShortcutWindowTest {
 protected:
  void SetUp() override {
    ShortcutWindowTest::SetUp();
    open(VStack(HorizontalAlignment::leading, 8,
                {ShortcutRecorder(preferences, ShortcutAction::pause).frame(132.0, 28.0),
                 ShortcutRecorder(preferences, ShortcutAction::settings).frame(132.0, 28.0)}));
    pause = recorder(ShortcutAction::pause);
    settings = recorder(ShortcutAction::settings);
    ASSERT_TRUE(pause && settings);
  }
  std::optional<std::string> error(ShortcutAction action) const {
    const auto& errors = preferences->shortcutErrors();
    auto found = errors.find(action);
    if (found == errors.end()) return std::nullopt;
    return found->second;
  }

  std::shared_ptr<ShortcutRecorderButton> pause, settings;
};

TEST_F(ShortcutRecorderTest, EachKeyWhileRecordingEndsChangesOrKeepsTheRecordingAsItsRuleSays) {
  const GlobalShortcut initial = AppPreferences::defaultPauseShortcut;
  const char* const recordingTitle = ShortcutRecorderButton::recordingTitle;
  const std::string invalid = ShortcutRecorderButton::invalidMessage;
  const struct Case {
    const char* name;
    uint16_t code;
    NSEventModifierFlags flags;
    NSEventType type;
    std::optional<GlobalShortcut> stored;
    std::string title;
    std::optional<ShortcutAction> recording;
    std::optional<std::string> error;
  } cases[] = {
      {"Escape", kKeyEscape, 0, NSEventTypeKeyDown, initial, "⌃⌥.", std::nullopt, std::nullopt},
      {"Delete", kKeyDelete, 0, NSEventTypeKeyDown, std::nullopt, "None", std::nullopt, std::nullopt},
      {"Forward Delete", kKeyForwardDelete, 0, NSEventTypeKeyDown, std::nullopt, "None", std::nullopt, std::nullopt},
      {"a plain letter", kKeyA, 0, NSEventTypeKeyDown, initial, recordingTitle, ShortcutAction::pause, invalid},
      {"⌘Q", kKeyQ, kCommand, NSEventTypeKeyDown, initial, recordingTitle, ShortcutAction::pause, invalid},
      {"⌃⌥K", kKeyK, kControl | kOption, NSEventTypeKeyDown, GlobalShortcut{kKeyK, 0x1800, "K"}, "⌃⌥K", std::nullopt,
       std::nullopt},
      {"Tab", kKeyTab, 0, NSEventTypeKeyDown, initial, "⌃⌥.", std::nullopt, std::nullopt},
      {"Shift-Tab", kKeyTab, kShift, NSEventTypeKeyDown, initial, "⌃⌥.", std::nullopt, std::nullopt},
      {"⌃-Tab", kKeyTab, kControl, NSEventTypeKeyDown, GlobalShortcut{kKeyTab, 0x1000, "⇥"}, "⌃⇥", std::nullopt,
       std::nullopt},
      {"a key-up", kKeyK, kControl | kOption, NSEventTypeKeyUp, initial, recordingTitle, ShortcutAction::pause,
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    preferences->setShortcut(initial, ShortcutAction::pause);
    preferences->setShortcutErrors({});
    scope->runUntilIdle();
    pause->performClick();
    scope->runUntilIdle();
    ASSERT_TRUE(pause->isRecording());
    ASSERT_EQ(window->firstResponder(), pause);
    ASSERT_EQ(preferences->recordingAction(), ShortcutAction::pause);

    key(c.code, c.flags, c.type);
    EXPECT_EQ(stored("pauseShortcut"), c.stored);
    EXPECT_EQ(preferences->pauseShortcut(), c.stored);
    EXPECT_EQ(pause->title(), c.title);
    EXPECT_EQ(pause->isRecording(), c.recording.has_value());
    EXPECT_EQ(preferences->recordingAction(), c.recording);
    EXPECT_EQ(error(ShortcutAction::pause), c.error);
    EXPECT_EQ(stored("settingsShortcut"), AppPreferences::defaultSettingsShortcut) << "the other action's";
    EXPECT_FALSE(settings->isRecording());
    if (c.code == kKeyTab && !(c.flags & kControl)) {
      EXPECT_EQ(window->firstResponder(), settings) << "the focus moved on";
    }
    if (pause->isRecording()) key(kKeyEscape);
    ASSERT_FALSE(pause->isRecording());
  }
}

TEST_F(ShortcutRecorderTest, AClickOrSpaceOrReturnStartsRecordingAndOtherKeysGoOnAsForAnyButton) {
  click(pause);
  EXPECT_TRUE(pause->isRecording()) << "a click through the window";
  EXPECT_EQ(window->firstResponder(), pause);
  EXPECT_EQ(pause->title(), ShortcutRecorderButton::recordingTitle);
  click(pause);
  EXPECT_TRUE(pause->isRecording()) << "a click while recording changes nothing";
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::pause);
  key(kKeyEscape);
  ASSERT_FALSE(pause->isRecording());
  EXPECT_EQ(window->firstResponder(), pause) << "ending keeps the focus";

  for (uint16_t start : {kKeySpace, kKeyReturn}) {
    SCOPED_TRACE(start);
    key(start);
    EXPECT_TRUE(pause->isRecording());
    EXPECT_EQ(preferences->recordingAction(), ShortcutAction::pause);
    key(kKeyEscape);
    EXPECT_FALSE(pause->isRecording());
  }
  // Another key goes up the chain to the window: Tab moves the focus, a
  // letter does nothing.
  key(kKeyA);
  EXPECT_FALSE(pause->isRecording());
  EXPECT_EQ(window->firstResponder(), pause);
  key(kKeyTab);
  EXPECT_EQ(window->firstResponder(), settings);
  EXPECT_FALSE(settings->isRecording());
  EXPECT_EQ(preferences->recordingAction(), std::nullopt);
}

TEST_F(ShortcutRecorderTest, WithShortcutsOffTheButtonIsDisabledAndNothingStartsIt) {
  preferences->setShortcutsEnabled(false);
  scope->runUntilIdle();
  EXPECT_FALSE(pause->isEnabled());
  click(pause);
  pause->performClick();
  pause->beginRecording();
  ASSERT_TRUE(window->makeFirstResponder(pause)) << "it still takes the focus";
  key(kKeySpace);
  key(kKeyReturn);
  EXPECT_FALSE(pause->isRecording());
  EXPECT_EQ(pause->title(), "⌃⌥.");
  EXPECT_EQ(preferences->recordingAction(), std::nullopt);

  preferences->setShortcutsEnabled(true);
  scope->runUntilIdle();
  EXPECT_TRUE(pause->isEnabled());
  key(kKeySpace);
  EXPECT_TRUE(pause->isRecording()) << "enabled again";
}

TEST_F(ShortcutRecorderTest, ASecondRecorderTakesOverAndTheFirstEndsWithoutClearingIt) {
  click(pause);
  click(settings);
  EXPECT_TRUE(settings->isRecording());
  EXPECT_FALSE(pause->isRecording()) << "it lost the focus";
  EXPECT_EQ(pause->title(), "⌃⌥.");
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::settings) << "the first one's end left it";
  EXPECT_EQ(window->firstResponder(), settings);

  // Without a focus change, the next update ends a recording the
  // preferences no longer name.
  key(kKeyEscape);
  pause->beginRecording();
  ASSERT_TRUE(pause->isRecording());
  preferences->setRecordingAction(ShortcutAction::settings);
  scope->runUntilIdle();
  EXPECT_FALSE(pause->isRecording());
  EXPECT_EQ(pause->title(), "⌃⌥.");
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::settings);
  pause->beginRecording();
  preferences->setRecordingAction(std::nullopt);
  scope->runUntilIdle();
  EXPECT_FALSE(pause->isRecording());
}

TEST_F(ShortcutRecorderTest, LosingTheFocusTheWindowOrTheTreeEndsTheRecording) {
  const struct Case {
    const char* name;
    std::function<void()> leave;
  } cases[] = {
      {"the window takes the focus", [&] { window->makeFirstResponder(nullptr); }},
      {"the button leaves its window", [&] { pause->removeFromSuperview(); }},
      {"the view leaves the tree", [&] { graph().setRoot(Text("gone")); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    graph().setRoot(VStack(HorizontalAlignment::leading, 8,
                           {ShortcutRecorder(preferences, ShortcutAction::pause).frame(132.0, 28.0)}));
    scope->runUntilIdle();
    pause = recorder(ShortcutAction::pause);
    ASSERT_TRUE(pause);
    ASSERT_EQ(pause->window(), window);
    click(pause);
    ASSERT_TRUE(pause->isRecording());
    c.leave();
    scope->runUntilIdle();
    EXPECT_FALSE(pause->isRecording());
    EXPECT_EQ(pause->title(), "⌃⌥.");
    EXPECT_EQ(preferences->recordingAction(), std::nullopt);
    EXPECT_EQ(window->firstResponder(), nullptr);
    EXPECT_EQ(preferences->pauseShortcut(), AppPreferences::defaultPauseShortcut);
    graph().setRoot(Text("none"));
    scope->runUntilIdle();
  }
}

TEST_F(ShortcutRecorderTest, OnlyAKeyDownWhileRecordingReachesTheHandler) {
  const std::string text = keyboardLayoutCharacters(kKeyDelete, 0);
  auto down = NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, text, text, kKeyDelete);
  auto up = NSEvent::keyEventWithType(NSEventTypeKeyUp, 0, text, text, kKeyDelete);
  pause->handleRecordingKey(*down);
  EXPECT_FALSE(pause->performKeyEquivalent(*down)) << "idle: the base decides";
  scope->runUntilIdle();
  EXPECT_EQ(stored("pauseShortcut"), AppPreferences::defaultPauseShortcut) << "idle: a stray Delete removes nothing";

  pause->beginRecording();
  EXPECT_TRUE(pause->performKeyEquivalent(*up)) << "taken while recording";
  EXPECT_TRUE(pause->isRecording()) << "but a key-up does nothing";
  EXPECT_TRUE(pause->performKeyEquivalent(*down));
  scope->runUntilIdle();
  EXPECT_FALSE(pause->isRecording());
  EXPECT_EQ(stored("pauseShortcut"), std::nullopt);
  EXPECT_EQ(pause->title(), "None");
}

TEST_F(ShortcutRecorderTest, KeysTypedOnTheDesktopRecordOnlyWhileThisApplicationIsActive) {
  // As the user types them: through the event system to the key window.
  const auto type = [&](uint16_t code, NSEventModifierFlags flags) {
    for (bool down : {true, false}) {
      auto event = CGEventCreateKeyboardEvent(nullptr, code, down);
      CGEventSetFlags(event, flags);
      CGEventKeyboardSetUnicodeString(event, keyboardLayoutCharacters(code, flags));
      CGEventPost(kCGHIDEventTap, event);
    }
    scope->runUntilIdle();
  };
  pause->performClick();
  type(kKeyK, kControl | kOption);
  EXPECT_TRUE(pause->isRecording()) << "another application is frontmost";
  EXPECT_EQ(stored("pauseShortcut"), AppPreferences::defaultPauseShortcut);
  NSWorkspace::sharedWorkspace().activateApplication(::getpid());
  scope->runUntilIdle();
  type(kKeyK, kControl | kOption);
  EXPECT_FALSE(pause->isRecording());
  EXPECT_EQ(stored("pauseShortcut"), (GlobalShortcut{kKeyK, 0x1800, "K"}));
  EXPECT_EQ(pause->title(), "⌃⌥K");
}

TEST(ShortcutDisplayTextTest, ModifiersComeInTheirOrderBeforeTheKeyText) {
  const struct Case {
    std::optional<GlobalShortcut> shortcut;
    const char* text;
  } cases[] = {
      {std::nullopt, "None"},
      {GlobalShortcut{kKeyK, 0x1B00, "K"}, "⌃⌥⇧⌘K"},
      {GlobalShortcut{kKeyA, 0x0300, "a"}, "⇧⌘A"},         // the key's name, upper case
      {GlobalShortcut{43, 0x1200, "<"}, "⌃⇧,"},            // the key, not its shifted character
      {GlobalShortcut{kKeyA, 0x1000, "a"}, "⌃a"},          // no Shift: the stored text as it is
      {GlobalShortcut{47, 0x1800, "."}, "⌃⌥."},
      {GlobalShortcut{kKeyTab, 0x1200, "⇥"}, "⌃⇧⇥"},       // a named key keeps its name
      {GlobalShortcut{127, 0x0300, "x"}, "⇧⌘X"},           // the last code below 128
      {GlobalShortcut{128, 0x0300, "x"}, "⇧⌘x"},           // 128 and above: the stored text
      {GlobalShortcut{kKeyA, 0x0300, "\xff"}, "⇧⌘\xff"},   // no event of that text: the stored text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shortcutDisplayText(c.shortcut), c.text) << (c.shortcut ? c.shortcut->key : "none");
  }
}

}  // namespace
}  // namespace vurle
