#include "ui/settings/shortcuts_page.hpp"

namespace vurle {

// Stands in for the page until it is built: only its switch's title.
platform::ui::View ShortcutsPage(std::shared_ptr<AppPreferences> preferences) {
  (void)preferences;
  return platform::ui::Composite("ShortcutsPage", [](platform::ui::Context&) {
    return platform::ui::Text("Keyboard shortcuts");
  });
}

}  // namespace vurle
