#pragma once

// The agreement card the settings page shows until the end-user agreement
// is accepted, and the consent block it shares with the onboarding's
// footer: the check box, bound to the caller's state, and the button that
// shows the full agreement. Main thread only.

#include <functional>
#include <memory>

#include "platform/ui/view.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

platform::ui::View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement);
platform::ui::View LicenseAgreementConsent(std::shared_ptr<LegalAgreement> agreement, platform::ui::Binding<bool> checked,
                                           std::function<void()> review);

}  // namespace vurle
