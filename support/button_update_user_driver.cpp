#include "support/button_update_user_driver.hpp"

#include <utility>

#include "platform/appkit/application.hpp"
#include "platform/dispatch/dispatch_queue.hpp"

namespace vurle {

ButtonUpdateUserDriver::ButtonUpdateUserDriver(std::shared_ptr<platform::NSBundle> hostBundle,
                                               std::weak_ptr<platform::SPUStandardUserDriverDelegate> delegate)
    : SPUStandardUserDriver(std::move(hostBundle), std::move(delegate)) {}

void ButtonUpdateUserDriver::showUserInitiatedUpdateCheckWithCancellation(std::function<void()> cancellation) {
  if (showsCheckInButton_) return;
  SPUStandardUserDriver::showUserInitiatedUpdateCheckWithCancellation(
      [cancellation = std::move(cancellation)] { cancellation(); });
}

void ButtonUpdateUserDriver::showUpdateFoundWithAppcastItem(const platform::SUAppcastItem& item,
                                                            const platform::SPUUserUpdateState& state,
                                                            std::function<void(platform::SPUUserUpdateChoice)> reply) {
  const std::int64_t generation = ++focusGeneration_;
  SPUStandardUserDriver::showUpdateFoundWithAppcastItem(
      item, state, [reply = std::move(reply)](platform::SPUUserUpdateChoice choice) { reply(choice); });
  // A scheduled find is marked by the Dock badge instead.
  if (!state.userInitiated) return;
  std::weak_ptr<ButtonUpdateUserDriver> weak =
      std::static_pointer_cast<ButtonUpdateUserDriver>(shared_from_this());
  platform::DispatchQueue::main()->async([weak, generation] {
    auto self = weak.lock();
    if (!self || self->focusGeneration_ != generation) return;
    platform::NSApplication::shared()->activateIgnoringOtherApps(true);
    self->showUpdateInFocus();
  });
}

void ButtonUpdateUserDriver::dismissUpdateInstallation() {
  ++focusGeneration_;
  SPUStandardUserDriver::dismissUpdateInstallation();
}

}  // namespace vurle
