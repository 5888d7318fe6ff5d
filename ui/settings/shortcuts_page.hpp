#pragma once

// The Shortcuts tab of the settings page. Main thread only.

#include <memory>

#include "app/app_preferences.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

platform::ui::View ShortcutsPage(std::shared_ptr<AppPreferences> preferences);

}  // namespace vurle
