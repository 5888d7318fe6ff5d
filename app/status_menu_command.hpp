#pragma once

// The status menu's commands: their raw values, titles and actions, and
// the fixed layout of three sections the status menu is built from (the
// onboarding's picture of the menu draws the same). Plain values.

#include <string>
#include <vector>

namespace vurle {

enum class StatusMenuCommand { settings, animations, launchAtLogin, quit };

// "settings", "animations", "launchAtLogin", "quit".
std::string rawValue(StatusMenuCommand command);
// The title the menu shows; the animations item by the animation switch.
std::string title(StatusMenuCommand command, bool animationsOn);
// The selector the item sends.
std::string action(StatusMenuCommand command);
// Every command but quit goes to the application's delegate; quit goes up
// the responder chain, which ends at the application.
bool targetsDelegate(StatusMenuCommand command);
// [settings, animations], [launchAtLogin], [quit]; a separator between
// sections.
const std::vector<std::vector<StatusMenuCommand>>& statusMenuSections();

}  // namespace vurle
