#include "ui/onboarding/menu_bar_step.hpp"

#include <limits>

namespace vurle {

// Stands in for the page until it is built: the desktop picture's place,
// 190 points high across the page.
platform::ui::View MenuBarStep(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LoginItem> loginItem) {
  (void)preferences;
  (void)loginItem;
  using namespace platform::ui;
  return Composite("MenuBarStep", [](Context&) {
    return ColorView(Color::windowBackground())
        .frame(0.0, std::numeric_limits<double>::infinity(), 190.0, 190.0, Alignment::center());
  });
}

}  // namespace vurle
