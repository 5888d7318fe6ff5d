#pragma once

// The agreement card the settings page shows until the end-user agreement
// is accepted. Main thread only.

#include <memory>

#include "platform/ui/view.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

platform::ui::View LegalAgreementView(std::shared_ptr<LegalAgreement> agreement);

}  // namespace vurle
