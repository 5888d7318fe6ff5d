#pragma once

// The onboarding's second page: whether the Accessibility permission is
// granted, what it is used for, and, until it is, where to grant it. The
// pane is named as the running system names it. The page only shows the
// flow's last answer; the frame re-reads it. Main thread only.

#include <memory>

#include "platform/ui/graph.hpp"
#include "ui/onboarding/onboarding_flow.hpp"

namespace vurle {

platform::ui::View AccessibilityStep(std::shared_ptr<OnboardingFlow> flow);

}  // namespace vurle
