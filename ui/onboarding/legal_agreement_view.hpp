#pragma once

// The two views that ask for the end-user agreement. Main thread only.
//
// LicenseAgreementConsent: the check box "I agree to the" beside the
// "License Agreement" link button that runs `review`, above them a red
// line when the bundled document is unusable (the box is then disabled).
// The box's state belongs to the caller; ticking it accepts nothing.
//
// LegalAgreementView: the card "Before you start" the settings page shows
// until the agreement is accepted: the consent block with its own box
// (unticked each time the card is made; "License Agreement" presents the
// sheet on the key window), "Agree & Continue" (enabled only while the box
// is ticked and the document is usable), the privacy-policy link when the
// site has a base URL, and "Disagree & Quit", which terminates the
// application and stores nothing.

#include <functional>
#include <memory>
#include <optional>

#include "platform/foundation/url.hpp"
#include "platform/ui/view.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

platform::ui::View LicenseAgreementConsent(std::shared_ptr<LegalAgreement> agreement,
                                           platform::ui::Binding<bool> checked, std::function<void()> review);

platform::ui::View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement);
// The same card for another site root (none: no privacy link).
platform::ui::View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement,
                                      std::optional<platform::NSURL> siteBase);

}  // namespace vurle
