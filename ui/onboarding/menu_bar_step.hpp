#pragma once

// The onboarding's last page: a picture of the desktop's top-right corner
// (the backdrop with its frosted band) holding a mock of the status item
// with its menu open, in the live state of the animation switch and of
// launch at login, and a card with the switches for launch at login and
// the Dock icon. It reads Reduce Motion, Reduce Transparency and the
// colour scheme from the environment; the mock menu bar's clock is made
// again at each minute of the wall clock. Main thread only.

#include <memory>
#include <string>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "platform/foundation/date.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

platform::ui::View MenuBarStep(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LoginItem> loginItem);

// The height of the mock menu bar, in points: the main screen's reserve
// above its visible frame when it is above 0 and at most 38, else 28 (also
// without a screen).
double menuBarHeight();

// "Wed Dec 9  1:05 PM": the weekday, month and day, two spaces, then hour
// and minutes in the current locale's 12- or 24-hour convention, in the
// local time zone. A new formatter on every call, so a changed locale or
// zone shows at once.
std::string menuBarClockText(platform::Date date);

// How the mock menu is backed: an opaque window background under Reduce
// Transparency; else glass from system 26 on, unless the bundle asks for
// the compatible design ("UIDesignRequiresCompatibility" true); else the
// menu's visual-effect material.
enum class MenuPreviewBacking { solid, glass, material };
MenuPreviewBacking menuPreviewBacking(bool reduceTransparency);

// The content on that backing in a continuous rounded rectangle of the
// radius.
platform::ui::View MenuPreviewGlass(platform::ui::View content, double cornerRadius, bool reduceTransparency);

}  // namespace vurle
