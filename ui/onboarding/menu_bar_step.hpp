#pragma once

// The onboarding's last page: a picture of the desktop's top-right corner
// with the status item and its menu in their live state, and the switches
// for launch at login and the Dock icon. It reads Reduce Motion, Reduce
// Transparency and the colour scheme from the environment. Main thread
// only.

#include <memory>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

platform::ui::View MenuBarStep(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LoginItem> loginItem);

}  // namespace vurle
