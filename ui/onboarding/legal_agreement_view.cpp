#include "ui/onboarding/legal_agreement_view.hpp"

#include <limits>
#include <utility>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

bool hasUsableDocument(const LegalAgreement& agreement) {
  return agreement.document() && agreement.document()->isValid();
}

void observeAgreement(Context& c, const LegalAgreement& agreement) {
  c.observe(agreement.acceptedPublisher());
  c.observe(agreement.showsUpdateNoticePublisher());
}

}  // namespace

View LicenseAgreementConsent(std::shared_ptr<LegalAgreement> agreement, Binding<bool> checked,
                             std::function<void()> review) {
  return Composite("LicenseAgreementConsent", [agreement, checked, review](Context& c) {
    observeAgreement(c, *agreement);
    const bool usable = hasUsableDocument(*agreement);
    std::vector<View> rows;
    if (!usable) {
      rows.push_back(Text("The bundled license couldn\u2019t be loaded. Reinstall vurle before continuing.")
                         .foregroundStyle(Color::systemRed()));
    }
    rows.push_back(HStack(VerticalAlignment::center, 4,
                          {Toggle("I agree to the", checked)
                               .toggleStyle(ToggleStyle::checkbox)
                               .fixedSize(true, true)
                               .disabled(!usable)
                               .accessibilityLabel("I agree to the License Agreement"),
                           Button("License Agreement", review)
                               .buttonStyle(ButtonStyleKind::plain)
                               .underline()
                               .foregroundStyle(Color::link())
                               .accessibilityHint("Read the full license without accepting it")})
                       .foregroundStyle(Color::primary()));
    return VStack(HorizontalAlignment::leading, 10, std::move(rows)).font(Font::system(13));
  });
}

View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement) {
  return LegalAgreementView(std::move(agreement), siteBaseURL());
}

View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement, std::optional<NSURL> siteBase) {
  return Composite("LegalAgreementView", [agreement, siteBase](Context& c) {
    observeAgreement(c, *agreement);
    const auto checked = c.state<bool>("checked", false);
    const bool usable = hasUsableDocument(*agreement);
    const std::weak_ptr<LegalAgreement> weak = agreement;

    std::vector<View> actions{Button("Agree & Continue",
                                     [weak, checked] {
                                       // A success changes `accepted`; the settings page then drops the card.
                                       if (auto a = weak.lock()) a->accept(checked.get());
                                     })
                                  .buttonStyle(ButtonStyleKind::borderedProminent)
                                  .disabled(!(checked.get() && usable))};
    if (siteBase) actions.push_back(Link("Privacy policy", siteBase->URLByAppendingPathComponent("privacy/").absoluteString()));

    return VStack(HorizontalAlignment::leading, 16,
                  {ImageSystem("doc.text")
                       .font(Font::system(26))
                       .foregroundStyle(Color::secondary())
                       .accessibilityHidden(true),
                   Text("Before you start").font(Font::system(20, FontWeight::semibold)),
                   LicenseAgreementConsent(agreement, checked.binding(),
                                           [weak] {
                                             if (auto a = weak.lock()) a->presentSheet(nullptr);
                                           }),
                   HStack(VerticalAlignment::center, 16, std::move(actions)).font(Font::system(12)),
                   Button("Disagree & Quit", [] { NSApplication::shared()->terminate(nullptr); })
                       .buttonStyle(ButtonStyleKind::bordered)})
        .padding(24)
        .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt, Alignment::leading());
  });
}

}  // namespace vurle
