#pragma once

// The Shortcuts tab of the settings page: a card with the "Keyboard
// shortcuts" switch and, while it is on, one row per action (pause, then
// settings) with the action's recorder, a button that removes its shortcut
// (disabled while there is none) and the action's last error; under the
// card a hint that follows the switch and the recording. The page keeps no
// state of its own: it shows the preferences and re-renders when they
// change. Main thread only.

#include <memory>
#include <string>

#include "app/app_preferences.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

platform::ui::View ShortcutsPage(std::shared_ptr<AppPreferences> preferences);

// The line under the card: no shortcuts, idle, or recording.
std::string shortcutsHint(const AppPreferences& preferences);

}  // namespace vurle
