#include "ui/onboarding/legal_agreement_view.hpp"

namespace vurle {

// Stands in for the card until it is built: only its title.
platform::ui::View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement) {
  (void)agreement;
  return platform::ui::Composite("LegalAgreementView", [](platform::ui::Context&) {
    return platform::ui::Text("Before you start");
  });
}

}  // namespace vurle
