#pragma once

// The updater's stock user driver with two changes: a check started from
// the update settings card's button shows no checking window (the button
// shows the progress), and an update found by a check the user asked for
// is brought to the front once the stock window is up, on the next pass of
// the main queue, but only while it is still the update on show: a
// dismissal or another shown update in between cancels the bring-to-front.
//
// Made once by the update controller, which it holds weakly as its
// delegate. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/updater/user_driver.hpp"

namespace vurle {

class ButtonUpdateUserDriver : public platform::SPUStandardUserDriver {
 public:
  ButtonUpdateUserDriver(std::shared_ptr<platform::NSBundle> hostBundle,
                         std::weak_ptr<platform::SPUStandardUserDriverDelegate> delegate);

  // Set before every check the user asks for: whether it came from the
  // check button.
  bool showsCheckInButton() const { return showsCheckInButton_; }
  void setShowsCheckInButton(bool inButton) { showsCheckInButton_ = inButton; }
  // Raised by every shown update and every dismissal.
  std::int64_t focusGeneration() const { return focusGeneration_; }

  // From the button: nothing shows and the cancellation is released
  // uncalled. Otherwise the stock checking window.
  void showUserInitiatedUpdateCheckWithCancellation(std::function<void()> cancellation) override;
  void showUpdateFoundWithAppcastItem(const platform::SUAppcastItem& item, const platform::SPUUserUpdateState& state,
                                      std::function<void(platform::SPUUserUpdateChoice)> reply) override;
  void dismissUpdateInstallation() override;

 private:
  bool showsCheckInButton_ = false;
  std::int64_t focusGeneration_ = 0;
};

}  // namespace vurle
