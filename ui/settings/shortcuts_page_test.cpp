#include "ui/settings/shortcuts_page.hpp"

#include <gtest/gtest.h>

#include "app/global_shortcut_controller.hpp"
#include "ui/settings/shortcut_window_test_support.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class ShortcutsPageTest : public ShortcutWindowTest {
 protected:
  void SetUp() override {
    ShortcutWindowTest::SetUp();
    open(ShortcutsPage(preferences).padding(16), {460, 300});
  }
  std::optional<ViewRef> removeButton(ShortcutAction action) {
    return graph().findLabel(std::string("Remove shortcut for ") + shortcutActionTitle(action));
  }
  double top(const std::string& text) {
    auto found = graph().findText(text);
    return found ? found->frame().origin.y : -1;
  }
};

TEST_F(ShortcutsPageTest, TheHintAndTheRowsFollowTheSwitchAndTheRecording) {
  const struct Case {
    bool enabled;
    std::optional<ShortcutAction> recording;
    const char* hint;
  } cases[] = {
      {false, std::nullopt, "No global shortcuts are active."},
      {false, ShortcutAction::settings, "No global shortcuts are active."},
      {true, std::nullopt, "Click a shortcut to change it. Delete clears it."},
      {true, ShortcutAction::settings, "Press a key combination. Escape cancels; Delete clears it."},
      {true, ShortcutAction::pause, "Press a key combination. Escape cancels; Delete clears it."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hint);
    preferences->setShortcutsEnabled(c.enabled);
    preferences->setRecordingAction(c.recording);
    scope->runUntilIdle();
    EXPECT_EQ(shortcutsHint(*preferences), c.hint);
    auto hint = graph().findText(c.hint);
    ASSERT_TRUE(hint);
    EXPECT_EQ(hint->node().environment.foreground, Color::secondary());
    EXPECT_TRUE(graph().findText("Keyboard shortcuts") && graph().findText("Works in any app"));
    EXPECT_EQ(graph().findKind("Toggle")->accessibility().value, c.enabled ? "1" : "0");
    // Rows only while shortcuts are on; pause always first.
    EXPECT_EQ(graph().findKind("ShortcutRecorder", 1).has_value(), c.enabled);
    EXPECT_EQ(removeButton(ShortcutAction::pause).has_value(), c.enabled);
    EXPECT_EQ(graph().findText("Open settings").has_value(), c.enabled);
    if (c.enabled) {
      EXPECT_LT(top("Toggle animations"), top("Open settings"));
      EXPECT_EQ(graph().findLabel("Shortcut for Open settings")->accessibility().help,
                "Click to record. Escape cancels; Delete removes the shortcut.");
      EXPECT_LT(recorder(ShortcutAction::pause)->frame().origin.y, recorder(ShortcutAction::settings)->frame().origin.y);
      EXPECT_LT(top("Open settings"), hint->frame().origin.y) << "the hint sits under the card";
    }
  }
}

TEST_F(ShortcutsPageTest, TheRemoveButtonClearsOnlyTheShortcutAndIsDisabledWithoutOne) {
  preferences->setShortcutErrors({{ShortcutAction::pause, "an earlier error"}});
  preferences->setRecordingAction(ShortcutAction::settings);
  scope->runUntilIdle();
  ASSERT_TRUE(removeButton(ShortcutAction::pause)->isEnabled());
  EXPECT_TRUE(removeButton(ShortcutAction::pause)->tap());
  scope->runUntilIdle();
  EXPECT_EQ(preferences->pauseShortcut(), std::nullopt);
  EXPECT_EQ(stored("pauseShortcut"), std::nullopt);
  EXPECT_EQ(stored("settingsShortcut"), AppPreferences::defaultSettingsShortcut);
  EXPECT_EQ(preferences->shortcutErrors().at(ShortcutAction::pause), "an earlier error") << "errors untouched";
  EXPECT_EQ(preferences->recordingAction(), ShortcutAction::settings) << "recording untouched";

  // The row stays, with its recorder reading "None" and the button off.
  EXPECT_FALSE(removeButton(ShortcutAction::pause)->isEnabled());
  EXPECT_FALSE(removeButton(ShortcutAction::pause)->tap());
  EXPECT_TRUE(removeButton(ShortcutAction::settings)->isEnabled());
  ASSERT_TRUE(recorder(ShortcutAction::pause));
  EXPECT_EQ(recorder(ShortcutAction::pause)->title(), "None");

  // Recording a shortcut turns it back on.
  preferences->setRecordingAction(std::nullopt);
  click(recorder(ShortcutAction::pause));
  key(kKeyK, kControl | kOption);
  EXPECT_EQ(stored("pauseShortcut"), (GlobalShortcut{kKeyK, 0x1800, "K"}));
  EXPECT_TRUE(removeButton(ShortcutAction::pause)->isEnabled());
  EXPECT_EQ(recorder(ShortcutAction::pause)->title(), "⌃⌥K");
}

TEST_F(ShortcutsPageTest, AnErrorShowsUnderItsOwnRowInOrange) {
  click(recorder(ShortcutAction::settings));
  key(kKeyA);
  const std::string message = ShortcutRecorderButton::invalidMessage;
  auto shown = graph().findText(message);
  ASSERT_TRUE(shown) << "the recorder's sentence";
  EXPECT_EQ(shown->node().environment.foreground, Color::orange());
  EXPECT_GT(shown->frame().origin.y, top("Open settings"));
  EXPECT_EQ(graph().findText("Press a key combination. Escape cancels; Delete clears it.").has_value(), true);

  preferences->setShortcutErrors({{ShortcutAction::pause, GlobalShortcutController::refusedMessage},
                                  {ShortcutAction::settings, message}});
  scope->runUntilIdle();
  auto refused = graph().findText(GlobalShortcutController::refusedMessage);
  ASSERT_TRUE(refused);
  EXPECT_GT(refused->frame().origin.y, top("Toggle animations"));
  EXPECT_LT(refused->frame().origin.y, top("Open settings")) << "under the pause row, above the settings row";

  preferences->setShortcutErrors({});
  scope->runUntilIdle();
  EXPECT_FALSE(graph().findText(message));
  EXPECT_FALSE(graph().findText(GlobalShortcutController::refusedMessage));
}

TEST_F(ShortcutsPageTest, TurningTheSwitchOffWhileRecordingRemovesTheRowsAndEndsTheRecording) {
  auto button = recorder(ShortcutAction::pause);
  click(button);
  ASSERT_TRUE(button->isRecording());
  ASSERT_TRUE(graph().findKind("Toggle")->tap());
  scope->runUntilIdle();
  EXPECT_FALSE(preferences->shortcutsEnabled());
  EXPECT_FALSE(defaults->boolForKey("shortcutsEnabled"));
  EXPECT_TRUE(defaults->objectForKey("shortcutsEnabled").has_value()) << "written through";
  EXPECT_FALSE(button->isRecording());
  EXPECT_EQ(button->window(), nullptr);
  EXPECT_EQ(preferences->recordingAction(), std::nullopt);
  EXPECT_EQ(window->firstResponder(), nullptr);
  EXPECT_FALSE(graph().findKind("ShortcutRecorder"));
  EXPECT_TRUE(graph().findText("No global shortcuts are active."));
  EXPECT_EQ(stored("pauseShortcut"), AppPreferences::defaultPauseShortcut);
}

}  // namespace
}  // namespace vurle
