#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/coding/json_value.hpp"
#include "platform/combine/published.hpp"
#include "platform/defaults/user_defaults.hpp"

namespace platform {
class NSEvent;
}

namespace vurle {

// What a global shortcut triggers; the raw value is also the hot-key
// identifier.
enum class ShortcutAction : std::uint32_t { pause = 1, settings = 2 };
inline constexpr std::array<ShortcutAction, 2> allShortcutActions{ShortcutAction::pause, ShortcutAction::settings};
std::optional<ShortcutAction> shortcutActionFromRawValue(std::uint32_t rawValue);

// The settings page's tabs, in order.
enum class SettingsTab { general, preview, behavior, shortcuts };
const char* rawValue(SettingsTab tab);

// A key code with a Carbon modifier mask and the key's display text.
struct GlobalShortcut {
  static constexpr std::uint32_t cmdKey = 0x100;
  static constexpr std::uint32_t shiftKey = 0x200;
  static constexpr std::uint32_t optionKey = 0x800;
  static constexpr std::uint32_t controlKey = 0x1000;

  std::uint32_t keyCode = 0;
  std::uint32_t modifiers = 0;
  std::string key;

  bool operator==(const GlobalShortcut&) const = default;

  // A key below 128 with a display text, only the four modifiers, at least
  // one of command, option or control, and never command-Q.
  bool isValid() const;

  // The shortcut a key-down makes: its key code, the four modifiers of its
  // flags and its key's display text; none when that text holds a control
  // character or the shortcut is not valid.
  static std::optional<GlobalShortcut> fromEvent(const platform::NSEvent& event);
  // The display text of the event's key: a name for the keys that type
  // none worth showing (Space, Return, Tab, arrows, navigation and F1 to
  // F12); otherwise what the key types without modifiers (else ignoring
  // them, else nothing), in upper case.
  static std::string keyDisplayName(const platform::NSEvent& event);
};

// The JSON form of an optional shortcut: {"keyCode", "modifiers", "key"}, or
// null for a shortcut the user cleared.
platform::JSON shortcutJSON(const std::optional<GlobalShortcut>& shortcut);
// All three keys are required and strictly typed (DecodingError otherwise);
// other keys are ignored; null gives no shortcut.
std::optional<GlobalShortcut> shortcutFromJSON(const platform::JSON& json);

// The user's choices for the application shell over a user-defaults store.
// Every persisted property writes its key when set; every property is
// published and announces a change before storing it. Main thread only.
class AppPreferences {
 public:
  static const GlobalShortcut defaultPauseShortcut;     // control-option-"."
  static const GlobalShortcut defaultSettingsShortcut;  // control-option-","

  // Reads every key; afterwards both shortcut keys hold JSON.
  static std::shared_ptr<AppPreferences> make(std::shared_ptr<platform::NSUserDefaults> defaults);

  const std::shared_ptr<platform::NSUserDefaults>& defaults() const { return defaults_; }

  // Coordination of views only; never stored.
  SettingsTab selectedTab() const { return selectedTab_.value(); }
  void setSelectedTab(SettingsTab tab) { selectedTab_.set(tab); }
  platform::Publisher<SettingsTab> selectedTabPublisher() const { return selectedTab_.publisher(); }
  bool showsDockHelp() const { return showsDockHelp_.value(); }
  void setShowsDockHelp(bool shows) { showsDockHelp_.set(shows); }
  platform::Publisher<bool> showsDockHelpPublisher() const { return showsDockHelp_.publisher(); }
  std::optional<ShortcutAction> recordingAction() const { return recordingAction_.value(); }
  void setRecordingAction(std::optional<ShortcutAction> action) { recordingAction_.set(action); }
  platform::Publisher<std::optional<ShortcutAction>> recordingActionPublisher() const {
    return recordingAction_.publisher();
  }
  const std::map<ShortcutAction, std::string>& shortcutErrors() const { return shortcutErrors_.value(); }
  void setShortcutErrors(std::map<ShortcutAction, std::string> errors) { shortcutErrors_.set(std::move(errors)); }
  platform::Publisher<std::map<ShortcutAction, std::string>> shortcutErrorsPublisher() const {
    return shortcutErrors_.publisher();
  }
  bool showsOnboarding() const { return showsOnboarding_.value(); }
  void setShowsOnboarding(bool shows) { showsOnboarding_.set(shows); }
  platform::Publisher<bool> showsOnboardingPublisher() const { return showsOnboarding_.publisher(); }

  // Stored only by completeOnboarding().
  bool onboardingCompleted() const { return onboardingCompleted_.value(); }
  platform::Publisher<bool> onboardingCompletedPublisher() const { return onboardingCompleted_.publisher(); }
  // Writes "onboardingCompleted" first, then completes and hides onboarding.
  void completeOnboarding();

  // The user's animation switch, and the persisted switches.
  bool resumeAnimationsOnLaunch() const { return resumeAnimationsOnLaunch_.value(); }
  void setResumeAnimationsOnLaunch(bool on) { setBool(resumeAnimationsOnLaunch_, on, "resumeAnimationsOnLaunch"); }
  platform::Publisher<bool> resumeAnimationsOnLaunchPublisher() const { return resumeAnimationsOnLaunch_.publisher(); }
  bool pauseInGameMode() const { return pauseInGameMode_.value(); }
  void setPauseInGameMode(bool on) { setBool(pauseInGameMode_, on, "pauseInGameMode"); }
  platform::Publisher<bool> pauseInGameModePublisher() const { return pauseInGameMode_.publisher(); }
  bool pauseWithExternalMouse() const { return pauseWithExternalMouse_.value(); }
  void setPauseWithExternalMouse(bool on) { setBool(pauseWithExternalMouse_, on, "pauseWithExternalMouse"); }
  platform::Publisher<bool> pauseWithExternalMousePublisher() const { return pauseWithExternalMouse_.publisher(); }
  bool showMenuBar() const { return showMenuBar_.value(); }
  void setShowMenuBar(bool on) { setBool(showMenuBar_, on, "showMenuBar"); }
  platform::Publisher<bool> showMenuBarPublisher() const { return showMenuBar_.publisher(); }
  bool hideDock() const { return hideDock_.value(); }
  void setHideDock(bool on) { setBool(hideDock_, on, "hideDock"); }
  platform::Publisher<bool> hideDockPublisher() const { return hideDock_.publisher(); }
  bool shortcutsEnabled() const { return shortcutsEnabled_.value(); }
  void setShortcutsEnabled(bool on) { setBool(shortcutsEnabled_, on, "shortcutsEnabled"); }
  platform::Publisher<bool> shortcutsEnabledPublisher() const { return shortcutsEnabled_.publisher(); }

  const std::optional<GlobalShortcut>& pauseShortcut() const { return pauseShortcut_.value(); }
  void setPauseShortcut(std::optional<GlobalShortcut> shortcut);
  platform::Publisher<std::optional<GlobalShortcut>> pauseShortcutPublisher() const {
    return pauseShortcut_.publisher();
  }
  const std::optional<GlobalShortcut>& settingsShortcut() const { return settingsShortcut_.value(); }
  void setSettingsShortcut(std::optional<GlobalShortcut> shortcut);
  platform::Publisher<std::optional<GlobalShortcut>> settingsShortcutPublisher() const {
    return settingsShortcut_.publisher();
  }
  // The action's shortcut; none clears it.
  void setShortcut(std::optional<GlobalShortcut> shortcut, ShortcutAction action);

 private:
  explicit AppPreferences(std::shared_ptr<platform::NSUserDefaults> defaults);
  void setBool(platform::Published<bool>& property, bool value, const char* key);
  // The stored value when it is a Boolean (or a number 0 or 1); else absent.
  std::optional<bool> storedBool(const char* key) const;
  std::optional<GlobalShortcut> readShortcut(const char* key, const GlobalShortcut& fallback) const;
  void storeShortcut(const std::optional<GlobalShortcut>& shortcut, const char* key);

  const std::shared_ptr<platform::NSUserDefaults> defaults_;
  platform::Published<SettingsTab> selectedTab_{SettingsTab::general};
  platform::Published<bool> showsDockHelp_{false};
  platform::Published<std::optional<ShortcutAction>> recordingAction_{std::nullopt};
  platform::Published<std::map<ShortcutAction, std::string>> shortcutErrors_{{}};
  platform::Published<bool> showsOnboarding_{true};
  platform::Published<bool> onboardingCompleted_{false};
  platform::Published<bool> resumeAnimationsOnLaunch_{false};
  platform::Published<bool> pauseInGameMode_{false};
  platform::Published<bool> pauseWithExternalMouse_{false};
  platform::Published<bool> showMenuBar_{true};
  platform::Published<bool> hideDock_{false};
  platform::Published<bool> shortcutsEnabled_{true};
  platform::Published<std::optional<GlobalShortcut>> pauseShortcut_{std::nullopt};
  platform::Published<std::optional<GlobalShortcut>> settingsShortcut_{std::nullopt};
};

}  // namespace vurle
