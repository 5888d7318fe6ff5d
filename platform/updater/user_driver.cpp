#include "platform/updater/user_driver.hpp"

#include <utility>

namespace platform {
namespace {

constexpr NSWindowStyleMask kWindowStyle = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable;

}  // namespace

SPUStandardUserDriver::SPUStandardUserDriver(std::shared_ptr<NSBundle> hostBundle,
                                             std::weak_ptr<SPUStandardUserDriverDelegate> delegate)
    : hostBundle_(std::move(hostBundle)), delegate_(std::move(delegate)) {}

// Destroying a window takes it off the screen.
SPUStandardUserDriver::~SPUStandardUserDriver() = default;

std::string SPUStandardUserDriver::applicationName() const {
  if (hostBundle_) {
    if (const auto* name = hostBundle_->objectForInfoDictionaryKey("CFBundleName"); name && name->string()) {
      return *name->string();
    }
  }
  return "The application";
}

std::shared_ptr<NSWindow> SPUStandardUserDriver::makeWindow(const std::string& title) {
  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 420, 160), kWindowStyle);
  window->setTitle(title);
  window->setLevel(NSNormalWindowLevel);
  window->setReleasedWhenClosed(false);
  window->center();
  return window;
}

void SPUStandardUserDriver::close(std::shared_ptr<NSWindow>& window) {
  if (!window) return;
  window->close();
  window.reset();
}

void SPUStandardUserDriver::showUserInitiatedUpdateCheckWithCancellation(std::function<void()> cancellation) {
  cancellation_ = std::move(cancellation);
  if (!checkingWindow_) checkingWindow_ = makeWindow(checkingTitle);
  checkingWindow_->makeKeyAndOrderFront();
}

void SPUStandardUserDriver::showUpdateFoundWithAppcastItem(const SUAppcastItem& item, const SPUUserUpdateState& state,
                                                           std::function<void(SPUUserUpdateChoice)> reply) {
  close(checkingWindow_);
  cancellation_ = nullptr;
  if (auto told = delegate()) told->standardUserDriverWillHandleShowingUpdate(true, item, state);
  shownItem_ = item;
  reply_ = std::move(reply);
  updateStatus_ = "A new version of " + applicationName() + " is available: " + item.displayVersionString + ".";
  if (!updateWindow_) updateWindow_ = makeWindow(updateTitle);
  // A scheduled find may come up without taking the focus.
  const auto told = delegate();
  const bool gentle = !state.userInitiated && told && told->supportsGentleScheduledUpdateReminders();
  if (gentle) {
    updateWindow_->orderFront();
  } else {
    updateWindow_->makeKeyAndOrderFront();
  }
}

void SPUStandardUserDriver::showAlert(std::string message, std::string informative,
                                      std::function<void()> acknowledgement) {
  close(checkingWindow_);
  cancellation_ = nullptr;
  alertMessage_ = std::move(message);
  alertInformativeText_ = std::move(informative);
  acknowledgement_ = std::move(acknowledgement);
  if (!alertWindow_) alertWindow_ = makeWindow(applicationName());
  alertWindow_->makeKeyAndOrderFront();
}

void SPUStandardUserDriver::showUpdateNotFoundWithError(const SPUError& error, std::function<void()> acknowledgement) {
  std::string informative = error.localizedDescription;
  if (error.reason == SPUError::NoUpdateReason::systemIsTooOld && error.item) {
    informative = applicationName() + " " + error.item->displayVersionString +
                  " is available but needs a newer version of the system.";
  }
  showAlert("You’re up to date!", std::move(informative), std::move(acknowledgement));
}

void SPUStandardUserDriver::showUpdaterError(const SPUError& error, std::function<void()> acknowledgement) {
  showAlert("Update Error!", error.localizedDescription, std::move(acknowledgement));
}

void SPUStandardUserDriver::showDownloadInitiated() {
  if (updateWindow_) updateStatus_ = "Downloading…";
}

void SPUStandardUserDriver::dismissUpdateInstallation() {
  close(checkingWindow_);
  close(updateWindow_);
  close(alertWindow_);
  cancellation_ = nullptr;
  reply_ = nullptr;
  acknowledgement_ = nullptr;
  shownItem_.reset();
  alertMessage_.clear();
  alertInformativeText_.clear();
  updateStatus_.clear();
  if (auto told = delegate()) told->standardUserDriverWillFinishUpdateSession();
}

void SPUStandardUserDriver::showUpdateInFocus() {
  if (!updateWindow_) return;
  updateWindow_->makeKeyAndOrderFront();
  if (auto told = delegate(); told && shownItem_) told->standardUserDriverDidReceiveUserAttentionForUpdate(*shownItem_);
}

void SPUStandardUserDriver::cancelCheckForTesting() {
  if (!checkingWindow_) return;
  close(checkingWindow_);
  if (auto cancellation = std::exchange(cancellation_, nullptr)) cancellation();
}

void SPUStandardUserDriver::replyForTesting(SPUUserUpdateChoice choice) {
  if (!updateWindow_ || !reply_) return;
  if (auto told = delegate(); told && shownItem_) told->standardUserDriverDidReceiveUserAttentionForUpdate(*shownItem_);
  // Install keeps the window up with its progress; the others close it.
  if (choice != SPUUserUpdateChoice::install) close(updateWindow_);
  std::exchange(reply_, nullptr)(choice);
}

void SPUStandardUserDriver::acknowledgeAlertForTesting() {
  if (!alertWindow_) return;
  close(alertWindow_);
  alertMessage_.clear();
  alertInformativeText_.clear();
  if (auto acknowledgement = std::exchange(acknowledgement_, nullptr)) acknowledgement();
}

}  // namespace platform
