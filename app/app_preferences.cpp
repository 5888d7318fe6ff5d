#include "app/app_preferences.hpp"

#include "platform/coding/json_coding.hpp"

namespace vurle {

using platform::JSON;

std::optional<ShortcutAction> shortcutActionFromRawValue(std::uint32_t rawValue) {
  for (auto action : allShortcutActions) {
    if (static_cast<std::uint32_t>(action) == rawValue) return action;
  }
  return std::nullopt;
}

const char* rawValue(SettingsTab tab) {
  switch (tab) {
    case SettingsTab::general: return "General";
    case SettingsTab::preview: return "Preview";
    case SettingsTab::behavior: return "Behavior";
    case SettingsTab::shortcuts: return "Shortcuts";
  }
  return "General";
}

bool GlobalShortcut::isValid() const {
  constexpr std::uint32_t known = cmdKey | shiftKey | optionKey | controlKey;
  constexpr std::uint32_t enough = cmdKey | optionKey | controlKey;
  constexpr std::uint32_t qKeyCode = 12;
  return keyCode < 128 && !key.empty() && (modifiers & ~known) == 0 && (modifiers & enough) != 0 &&
         !((modifiers & cmdKey) != 0 && keyCode == qKeyCode);
}

JSON shortcutJSON(const std::optional<GlobalShortcut>& shortcut) {
  if (!shortcut) return nullptr;
  return {{"keyCode", shortcut->keyCode}, {"modifiers", shortcut->modifiers}, {"key", shortcut->key}};
}

std::optional<GlobalShortcut> shortcutFromJSON(const JSON& json) {
  if (json.is_null()) return std::nullopt;
  return GlobalShortcut{platform::decodeUInt32(json, "keyCode"), platform::decodeUInt32(json, "modifiers"),
                        platform::decodeString(json, "key")};
}

const GlobalShortcut AppPreferences::defaultPauseShortcut{47, GlobalShortcut::controlKey | GlobalShortcut::optionKey,
                                                          "."};
const GlobalShortcut AppPreferences::defaultSettingsShortcut{43,
                                                             GlobalShortcut::controlKey | GlobalShortcut::optionKey, ","};

std::shared_ptr<AppPreferences> AppPreferences::make(std::shared_ptr<platform::NSUserDefaults> defaults) {
  return std::shared_ptr<AppPreferences>(new AppPreferences(std::move(defaults)));
}

AppPreferences::AppPreferences(std::shared_ptr<platform::NSUserDefaults> defaults) : defaults_(std::move(defaults)) {
  onboardingCompleted_.set(defaults_->boolForKey("onboardingCompleted"));
  showsOnboarding_.set(!defaults_->boolForKey("onboardingCompleted"));
  resumeAnimationsOnLaunch_.set(defaults_->boolForKey("resumeAnimationsOnLaunch"));
  pauseInGameMode_.set(defaults_->boolForKey("pauseInGameMode"));
  pauseWithExternalMouse_.set(defaults_->boolForKey("pauseWithExternalMouse"));
  // Missing or of another type (a string, say) reads as the default on.
  showMenuBar_.set(storedBool("showMenuBar").value_or(true));
  hideDock_.set(defaults_->boolForKey("hideDock"));
  shortcutsEnabled_.set(storedBool("shortcutsEnabled").value_or(true));
  // Stored back so both keys always hold JSON and unreadable data is replaced.
  pauseShortcut_.set(readShortcut("pauseShortcut", defaultPauseShortcut));
  storeShortcut(pauseShortcut_.value(), "pauseShortcut");
  settingsShortcut_.set(readShortcut("settingsShortcut", defaultSettingsShortcut));
  storeShortcut(settingsShortcut_.value(), "settingsShortcut");
}

void AppPreferences::completeOnboarding() {
  defaults_->setBool(true, "onboardingCompleted");
  onboardingCompleted_.set(true);
  showsOnboarding_.set(false);
}

void AppPreferences::setPauseShortcut(std::optional<GlobalShortcut> shortcut) {
  pauseShortcut_.set(std::move(shortcut));
  storeShortcut(pauseShortcut_.value(), "pauseShortcut");
}

void AppPreferences::setSettingsShortcut(std::optional<GlobalShortcut> shortcut) {
  settingsShortcut_.set(std::move(shortcut));
  storeShortcut(settingsShortcut_.value(), "settingsShortcut");
}

void AppPreferences::setShortcut(std::optional<GlobalShortcut> shortcut, ShortcutAction action) {
  switch (action) {
    case ShortcutAction::pause: setPauseShortcut(std::move(shortcut)); break;
    case ShortcutAction::settings: setSettingsShortcut(std::move(shortcut)); break;
  }
}

void AppPreferences::setBool(platform::Published<bool>& property, bool value, const char* key) {
  property.set(value);
  defaults_->setBool(value, key);
}

std::optional<bool> AppPreferences::storedBool(const char* key) const {
  auto value = defaults_->objectForKey(key);
  return value ? value->bridgedBool() : std::nullopt;
}

std::optional<GlobalShortcut> AppPreferences::readShortcut(const char* key, const GlobalShortcut& fallback) const {
  auto data = defaults_->dataForKey(key);
  if (!data) return fallback;
  try {
    return shortcutFromJSON(platform::JSONDecode(*data));
  } catch (const platform::DecodingError&) {
    return fallback;
  }
}

void AppPreferences::storeShortcut(const std::optional<GlobalShortcut>& shortcut, const char* key) {
  platform::Data data;
  try {
    data = platform::JSONEncode(shortcutJSON(shortcut));
  } catch (const platform::EncodingError&) {
    return;  // a display text that is not UTF-8 has no JSON form; the stored value stays
  }
  defaults_->setObject(std::move(data), key);
}

}  // namespace vurle
