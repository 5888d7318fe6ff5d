#include "ui/onboarding/onboarding_flow.hpp"

#include <utility>

#include "cursor/engine/accessibility_role_probe.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace vurle {
namespace {

// A sink that ignores the value a publisher hands at subscription.
template <class T, class Receive>
platform::AnyCancellable sinkSkippingCurrent(const platform::Publisher<T>& publisher, Receive receive) {
  auto first = std::make_shared<bool>(true);
  return publisher.receive(platform::RunLoop::main()).sink([first, receive](const T& value) {
    if (std::exchange(*first, false)) return;
    receive(value);
  });
}

}  // namespace

std::shared_ptr<OnboardingFlow> OnboardingFlow::make(std::shared_ptr<AppPreferences> preferences,
                                                     std::shared_ptr<LegalAgreement> agreement,
                                                     std::function<void()> reviewAgreement,
                                                     std::function<void()> enableAnimations) {
  std::shared_ptr<OnboardingFlow> flow(new OnboardingFlow(std::move(preferences), std::move(agreement),
                                                          std::move(reviewAgreement), std::move(enableAnimations)));
  std::weak_ptr<OnboardingFlow> weak = flow;
  flow->preferenceObservation_ =
      sinkSkippingCurrent(flow->preferences_->resumeAnimationsOnLaunchPublisher(), [weak](bool) {
        // The preferences' value now, which the change rule then agrees with.
        if (auto self = weak.lock()) self->setAnimationsEnabled(self->preferences_->resumeAnimationsOnLaunch());
      });
  flow->observation_ = sinkSkippingCurrent(flow->agreement_->acceptedPublisher(), [weak](bool) {
    if (auto self = weak.lock()) self->changes_.set(self->changes_.value() + 1);
  });
  return flow;
}

OnboardingFlow::OnboardingFlow(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LegalAgreement> agreement,
                               std::function<void()> reviewAgreement, std::function<void()> enableAnimations)
    : preferences_(std::move(preferences)),
      agreement_(std::move(agreement)),
      reviewAgreement_(std::move(reviewAgreement)),
      enableAnimations_(std::move(enableAnimations)) {
  accessibilityGranted_.set(checkAccessibility());
  animationsEnabled_.set(preferences_->onboardingCompleted() ? preferences_->resumeAnimationsOnLaunch() : true);
}

bool OnboardingFlow::checkAccessibility() {
  return AccessibilityRoleProbe::shared()->check(platform::AXIsProcessTrusted());
}

void OnboardingFlow::setAnimationsEnabled(bool enabled) {
  const bool before = animationsEnabled_.value();
  animationsEnabled_.set(enabled);
  if (before == enabled) return;
  if (preferences_->resumeAnimationsOnLaunch() == enabled) return;
  preferences_->setResumeAnimationsOnLaunch(enabled);
  if (agreement_->accepted() && enableAnimations_) enableAnimations_();
}

bool OnboardingFlow::canContinue() const {
  if (agreement_->accepted()) return true;
  return agreementChecked() && agreement_->document() && agreement_->document()->isValid();
}

void OnboardingFlow::continueFromStep() {
  if (step() != 0) return;
  if (!agreement_->accepted() && !agreement_->accept(agreementChecked())) return;
  preferences_->setResumeAnimationsOnLaunch(animationsEnabled());
  if (enableAnimations_) enableAnimations_();
  setStep(1);
}

void OnboardingFlow::completeAccessibility() {
  if (step() != 1) return;
  refreshAccessibility();
  if (accessibilityGranted()) setStep(2);
}

void OnboardingFlow::finish() {
  refreshAccessibility();
  if (!agreement_->accepted()) return;
  if (!accessibilityGranted()) {
    setStep(1);
    return;
  }
  setAgreementChecked(false);
  setShowsCompletion(false);
  preferences_->completeOnboarding();
}

void OnboardingFlow::completeOnboarding() {
  if (!preferences_->showsOnboarding() || preferences_->onboardingCompleted()) {
    finish();
    setShowsCompletion(false);
    return;
  }
  const int noted = step();
  finish();
  setShowsCompletion(noted == 2 && preferences_->onboardingCompleted());
}

void OnboardingFlow::restart() {
  setAnimationsEnabled(preferences_->resumeAnimationsOnLaunch());
  setAgreementChecked(false);
  setShowsCompletion(false);
  setStep(0);
  preferences_->setShowsOnboarding(true);
}

void OnboardingFlow::refreshAccessibility() {
  const bool before = accessibilityGranted();
  const bool granted = checkAccessibility();
  accessibilityGranted_.set(granted);
  if (!before && granted && agreement_->accepted() && enableAnimations_) enableAnimations_();
}

void OnboardingFlow::reviewAgreement() {
  if (reviewAgreement_) reviewAgreement_();
}

}  // namespace vurle
