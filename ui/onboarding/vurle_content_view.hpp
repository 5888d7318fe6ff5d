#pragma once

// The main window's root view: the onboarding while the preferences show
// it, else the settings page, and over either the one-time completion card
// ("You’re all set.") while the flow has it due. The card leaves after 2 s
// of the virtual clock, on a click anywhere in it or on Escape, whichever
// comes first; each clears the flow's flag once, and a card that has gone
// cancels its pending dismissal. While the card shows, the page under it is
// blurred (not under Reduce Transparency), takes no clicks and is hidden
// from accessibility. Main thread only.

#include <memory>
#include <optional>

#include "app/app_preferences.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/ui/graph.hpp"
#include "ui/onboarding/legal_agreement.hpp"
#include "ui/onboarding/onboarding_flow.hpp"
#include "ui/settings/morph_speed_examples.hpp"

namespace vurle {

struct VurleContentView {
  std::shared_ptr<AppPreferences> preferences;
  std::shared_ptr<OnboardingFlow> flow;
  std::shared_ptr<CursorEngine> engine;
  std::shared_ptr<MorphSpeedExamples> examples;
  std::shared_ptr<MorphSpeedExamples> welcomeExamples;
  // The shared ones unless a test gives its own.
  std::shared_ptr<LoginItem> loginItem = LoginItem::shared();
  std::shared_ptr<LegalAgreement> agreement = LegalAgreement::shared();

  enum class Confirmation { onboarding };
  // Onboarding while the flow's completion card is due, else none.
  std::optional<Confirmation> confirmation() const;

  platform::ui::View body() const;
};

// How long the card stays unless dismissed, in seconds.
inline constexpr double kCompletionCardSeconds = 2.0;

}  // namespace vurle
