#include "app/status_menu_command.hpp"

namespace vurle {

std::string rawValue(StatusMenuCommand command) {
  switch (command) {
    case StatusMenuCommand::settings:
      return "settings";
    case StatusMenuCommand::animations:
      return "animations";
    case StatusMenuCommand::launchAtLogin:
      return "launchAtLogin";
    case StatusMenuCommand::quit:
      return "quit";
  }
  return "";
}

std::string title(StatusMenuCommand command, bool animationsOn) {
  switch (command) {
    case StatusMenuCommand::settings:
      return "Settings\u2026";
    case StatusMenuCommand::animations:
      return animationsOn ? "Pause animations" : "Enable animations";
    case StatusMenuCommand::launchAtLogin:
      return "Launch at Login";
    case StatusMenuCommand::quit:
      return "Quit vurle";
  }
  return "";
}

std::string action(StatusMenuCommand command) {
  switch (command) {
    case StatusMenuCommand::settings:
      return "showSettings";
    case StatusMenuCommand::animations:
      return "toggleAnimations";
    case StatusMenuCommand::launchAtLogin:
      return "toggleLaunchAtLogin";
    case StatusMenuCommand::quit:
      return "terminate:";
  }
  return "";
}

bool targetsDelegate(StatusMenuCommand command) { return command != StatusMenuCommand::quit; }

const std::vector<std::vector<StatusMenuCommand>>& statusMenuSections() {
  static const std::vector<std::vector<StatusMenuCommand>> sections = {
      {StatusMenuCommand::settings, StatusMenuCommand::animations},
      {StatusMenuCommand::launchAtLogin},
      {StatusMenuCommand::quit},
  };
  return sections;
}

}  // namespace vurle
