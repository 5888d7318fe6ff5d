#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/appkit/window.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

// The agreement's panel: Escape runs `cancel` and nothing else.
class LegalAgreementPanel : public platform::NSPanel {
 public:
  LegalAgreementPanel();
  std::function<void()> cancel;
  void cancelOperation(const void* sender) override;
};

// Builds and owns the agreement panel for a document (which may be absent:
// the sheet then shows that the agreement is unavailable). Done and Escape
// both run `onDone`, which the store supplies.
class LegalAgreementSheetController : public std::enable_shared_from_this<LegalAgreementSheetController> {
 public:
  static std::shared_ptr<LegalAgreementSheetController> make(std::optional<LegalAgreement::Document> document);

  std::function<void()> onDone;

  std::shared_ptr<platform::NSWindow> window() const { return panel_; }
  const std::optional<LegalAgreement::Document>& document() const { return document_; }
  // The Done button.
  void primaryAction();

 private:
  explicit LegalAgreementSheetController(std::optional<LegalAgreement::Document> document);

  std::optional<LegalAgreement::Document> document_;
  std::shared_ptr<LegalAgreementPanel> panel_;
};

}  // namespace vurle
