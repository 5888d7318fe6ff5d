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

namespace vurle {

// Stands in for the consent block until it is built: the check box and the
// button only.
platform::ui::View LicenseAgreementConsent(std::shared_ptr<LegalAgreement> agreement, platform::ui::Binding<bool> checked,
                                           std::function<void()> review) {
  (void)agreement;
  using namespace platform::ui;
  return Composite("LicenseAgreementConsent", [checked, review](Context&) {
    return HStack(VerticalAlignment::center, 4,
                  {Toggle("I agree to the", checked).toggleStyle(ToggleStyle::checkbox),
                   Button("License Agreement", review).buttonStyle(ButtonStyleKind::plain)})
        .font(Font::system(13));
  });
}

}  // namespace vurle
