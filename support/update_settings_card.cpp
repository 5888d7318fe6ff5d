#include "support/update_settings_card.hpp"

namespace vurle {

// Until the card itself is built: its title alone.
platform::ui::View UpdateSettingsCard(std::shared_ptr<VurleUpdates>) { return platform::ui::Text("Updates"); }

}  // namespace vurle
