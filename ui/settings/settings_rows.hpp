#pragma once

// The pieces every settings page is built from, in one look: a card (a
// stack without spacing, 12 points in from its sides, on a rounded
// rectangle of radius 14 in the control background at 0.74), the 0.5-point
// divider between its rows, and the switch row (a 13-point semibold title,
// maybe with a badge, over an 11-point secondary subtitle that wraps, and
// a small switch with its label hidden on the right, 11 points above and
// below). Main thread only.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_preferences.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

// The accent of the settings page and the onboarding: sRGB (1.0, 0.8, 0.0).
inline const platform::ui::Color kSettingsYellow = platform::ui::Color::sRGB(1.0, 0.8, 0.0, 1.0);

platform::ui::View SettingsCard(platform::ui::HorizontalAlignment alignment, std::vector<platform::ui::View> rows);
platform::ui::View SettingsDivider();
// A switch's binding to one of the preferences, held weakly: off, and
// writing nothing, once they are gone.
platform::ui::Binding<bool> preferenceBinding(std::weak_ptr<AppPreferences> preferences,
                                              bool (AppPreferences::*get)() const,
                                              void (AppPreferences::*set)(bool));
// The card's rounded background alone, for cards padded their own way.
platform::ui::View SettingsCardBackground();
platform::ui::View SettingRow(const std::string& title, std::optional<platform::ui::View> badge,
                              const std::string& subtitle, platform::ui::Binding<bool> isOn);

// The options of a popover anchored to a small badge: from macOS 15.1 the
// entry that takes optional arrow edges (none: the system's choice), before
// it the entry with a single edge (`fallbackEdge` when none is given).
std::map<std::string, platform::ui::Param> badgePopoverOptions(std::optional<std::string> edge,
                                                               const std::string& fallbackEdge = "top");

}  // namespace vurle
