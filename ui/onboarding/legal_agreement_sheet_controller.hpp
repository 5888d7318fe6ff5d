#pragma once

// The agreement sheet: the full end-user agreement, read-only but
// selectable, in a resizable panel that the agreement store attaches to a
// window (LegalAgreement::presentSheet). Done, Return (the default button)
// and Escape (the panel's cancel operation) all run `onDone`, which the
// store supplies. Links in the text open in the user's default
// application, through legalLinkDestination, when they are https, http or
// mailto URLs; every other link is ignored. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/attributed_string.hpp"
#include "platform/appkit/text_view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/window_controller.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

// The agreement's panel: Escape runs `cancel` and nothing else.
class LegalAgreementPanel : public platform::NSPanel {
 public:
  LegalAgreementPanel(platform::NSRect contentRect, platform::NSWindowStyleMask style,
                      platform::NSBackingStoreType backing, bool defer)
      : platform::NSPanel(contentRect, style, backing, defer) {}
  std::function<void()> cancel;
  void cancelOperation(const void* sender) override;
};

class LegalAgreementSheetController : public platform::NSWindowController, public platform::NSTextViewDelegate {
 public:
  // Builds the panel and its views for the document (absent: the sheet
  // says the agreement is unavailable).
  static std::shared_ptr<LegalAgreementSheetController> make(std::optional<LegalAgreement::Document> document);

  std::function<void()> onDone;
  // The text view that shows the agreement.
  const std::shared_ptr<platform::NSTextView>& agreementText() const { return agreementText_; }
  // The document the sheet was built for.
  const std::optional<LegalAgreement::Document>& document() const { return document_; }

  // The Done button's action.
  void primaryAction();
  // Opens the link when it may be opened; the click is always handled.
  bool textViewClickedOnLink(platform::NSTextView& textView, const platform::NSLinkValue& link,
                             std::size_t charIndex) override;

  // The agreement's text as the sheet shows it: mail addresses written
  // twice folded into one, paragraph styles, detected links.
  static platform::NSAttributedString formattedAgreement(const std::string& text);

 private:
  LegalAgreementSheetController() = default;
  void build(const std::optional<LegalAgreement::Document>& document);

  std::optional<LegalAgreement::Document> document_;
  std::shared_ptr<platform::NSTextView> agreementText_;
};

}  // namespace vurle
