#include "ui/onboarding/legal_agreement_sheet_controller.hpp"

namespace vurle {

LegalAgreementPanel::LegalAgreementPanel()
    : platform::NSPanel(platform::CGRectMake(0, 0, 640, 610),
                        platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskResizable) {
  setTitle("vurle License Agreement");
}

void LegalAgreementPanel::cancelOperation(const void*) {
  if (cancel) cancel();
}

std::shared_ptr<LegalAgreementSheetController> LegalAgreementSheetController::make(
    std::optional<LegalAgreement::Document> document) {
  std::shared_ptr<LegalAgreementSheetController> controller(new LegalAgreementSheetController(std::move(document)));
  controller->panel_->cancel = [weak = std::weak_ptr<LegalAgreementSheetController>(controller)] {
    if (auto self = weak.lock()) self->primaryAction();
  };
  return controller;
}

LegalAgreementSheetController::LegalAgreementSheetController(std::optional<LegalAgreement::Document> document)
    : document_(std::move(document)), panel_(std::make_shared<LegalAgreementPanel>()) {}

void LegalAgreementSheetController::primaryAction() {
  // The action may drop the last owner of this controller while it runs.
  const auto keep = shared_from_this();
  const auto action = onDone;
  if (action) action();
}

}  // namespace vurle
