#pragma once

// The three-step onboarding in the main window: the header with the logo
// and the step indicator, the title column, the page of the current step
// (welcome, Accessibility, menu bar), and the footer with the consent
// block on step 0, "Back" and the primary button, which Return presses.
// Everything it shows comes from its inputs on every evaluation; the flow
// holds the state and the view only calls its operations.
//
// While shown, it keeps the welcome page's speed examples in step with the
// page and the switch, asks the backdrop's renders ahead of time, and
// re-reads the Accessibility permission when it appears, when the
// application becomes active and once a second while step 1 shows (a
// timer on the main run loop that exists only while the view is in its
// graph). Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/onboarding/onboarding_wallpaper.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {

struct OnboardingView {
  std::shared_ptr<OnboardingFlow> flow;
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<LoginItem> loginItem;
  platform::ui::Color yellow;

  platform::ui::View body() const;
};

// The room kept under the pages for the footer: 78 points, or on step 0
// with the agreement unaccepted 108, or 150 when its document is missing
// or not valid (the consent shows its error line then).
double onboardingFooterReserve(int step, const LegalAgreement& agreement);

// The renders of the desktop picture the last page shows, asked for when
// the onboarding appears: the page's 400 × 190 points on the key window's
// screen, else the first screen, light then dark; none without a screen.
std::vector<OnboardingWallpaperView::RenderKey> onboardingBackdropRenderKeys();

}  // namespace vurle
