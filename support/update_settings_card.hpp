#pragma once

// The update settings of the About window: a card titled "Updates" with the
// check button, the updater's two switches (check automatically, install
// automatically) and, below it, the controller's status sentence. The
// switches read and write the updater's own settings: off without an
// updater, written only once the controller has started; the first row is
// enabled once started, the second while automatic updates are allowed.
// The panel is drawn opaque under Reduce Transparency. The check button
// shows its own progress and disables itself while a check runs or none
// may. Main thread only.

#include <memory>

#include "platform/ui/graph.hpp"
#include "support/vurle_updates.hpp"

namespace vurle {

platform::ui::View UpdateSettingsCard(std::shared_ptr<VurleUpdates> updates);

}  // namespace vurle
