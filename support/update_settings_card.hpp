#pragma once

// The About window's card of update settings, built over the update
// controller by the program.

#include <memory>

#include "platform/ui/view.hpp"
#include "support/vurle_updates.hpp"

namespace vurle {

platform::ui::View UpdateSettingsCard(std::shared_ptr<VurleUpdates> updates);

}  // namespace vurle
