#pragma once
// The state behind the three-step onboarding in the main window: the step
// showing (0 welcome and agreement consent, 1 the Accessibility
// permission, 2 menu bar, Dock and login item), whether the consent is
// ticked, whether the permission is granted, the welcome page's animation
// switch, and whether the one-time completion card is due. The pages bind
// to it, the content view reads it, and the application delegate drives
// it from its menus, shortcuts and activations.
//
// Two subscriptions, made at creation, skip the values current then and
// deliver on the main run loop: a change of the preferences' animation
// switch (from the status menu or a shortcut) becomes the welcome page's
// switch, and a change of the agreement's acceptance is announced as a
// change of the flow itself. Main thread only.

#include <functional>
#include <memory>

#include "app/app_preferences.hpp"
#include "app/shell_seams.hpp"
#include "platform/combine/published.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {

class OnboardingFlow : public OnboardingController, public std::enable_shared_from_this<OnboardingFlow> {
 public:
  // The permission as the shared role probe checks the system's trust
  // answer; the first answer is taken at creation.
  static std::shared_ptr<OnboardingFlow> make(std::shared_ptr<AppPreferences> preferences,
                                              std::shared_ptr<LegalAgreement> agreement,
                                              std::function<void()> reviewAgreement,
                                              std::function<void()> enableAnimations);

  int step() const override { return step_.value(); }
  // Also the footer's Back button.
  void setStep(int step) { step_.set(step); }
  platform::Publisher<int> stepPublisher() const { return step_.publisher(); }
  bool showsCompletion() const { return showsCompletion_.value(); }
  // The content view clears it when the card goes.
  void setShowsCompletion(bool shows) { showsCompletion_.set(shows); }
  platform::Publisher<bool> showsCompletionPublisher() const { return showsCompletion_.publisher(); }
  bool agreementChecked() const { return agreementChecked_.value(); }
  void setAgreementChecked(bool checked) { agreementChecked_.set(checked); }
  platform::Publisher<bool> agreementCheckedPublisher() const { return agreementChecked_.publisher(); }
  bool accessibilityGranted() const { return accessibilityGranted_.value(); }
  platform::Publisher<bool> accessibilityGrantedPublisher() const { return accessibilityGranted_.publisher(); }
  bool animationsEnabled() const { return animationsEnabled_.value(); }
  // Writes a change through to the preferences' switch unless they hold it
  // already, and then, with the agreement accepted, enables animations.
  void setAnimationsEnabled(bool enabled);
  platform::Publisher<bool> animationsEnabledPublisher() const { return animationsEnabled_.publisher(); }
  // Told whenever the agreement's acceptance changes, for pages that read
  // acceptance through the flow; the value counts the announcements.
  platform::Publisher<int> objectWillChangePublisher() const { return changes_.publisher(); }

  const std::shared_ptr<LegalAgreement>& agreement() const { return agreement_; }

  // The primary button on step 0 may act: the agreement is accepted, or the
  // consent is ticked over a valid document.
  bool canContinue() const;
  // Step 0's primary button: accepts the agreement from the ticked consent
  // if needed, stores the animation switch, enables animations, step 1.
  void continueFromStep();
  // Step 1's primary button once the permission is granted: step 2.
  void completeAccessibility();
  // Step 2's "All set": finishes, with the completion card only at the end
  // of a first onboarding completed from this page.
  void completeOnboarding();
  // Ends the onboarding from outside its pages: completed when the
  // agreement is accepted and the permission granted; back to step 1 when
  // only the permission is missing; nothing without the agreement.
  void finish() override;
  // From step 0 again, shown in the main window.
  void restart() override;
  // Asks the permission again (observers are told even when unchanged); a
  // new grant with the agreement accepted enables animations.
  void refreshAccessibility() override;
  // Shows the agreement's sheet.
  void reviewAgreement();

 private:
  OnboardingFlow(std::shared_ptr<AppPreferences> preferences, std::shared_ptr<LegalAgreement> agreement,
                 std::function<void()> reviewAgreement, std::function<void()> enableAnimations);
  static bool checkAccessibility();

  platform::Published<int> step_{0};
  platform::Published<bool> showsCompletion_{false};
  platform::Published<bool> agreementChecked_{false};
  platform::Published<bool> accessibilityGranted_{false};
  platform::Published<bool> animationsEnabled_{true};
  platform::Published<int> changes_{0};
  platform::AnyCancellable preferenceObservation_;
  platform::AnyCancellable observation_;
  const std::shared_ptr<AppPreferences> preferences_;
  const std::shared_ptr<LegalAgreement> agreement_;
  const std::function<void()> reviewAgreement_;
  const std::function<void()> enableAnimations_;
};

}  // namespace vurle
