#include "support/vurle_updates.hpp"

#include "platform/appkit/application.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/process_wide.hpp"
#include "support/update_configuration.hpp"

namespace vurle {
namespace {

platform::ProcessWide<std::shared_ptr<VurleUpdates>> sharedUpdates([] { return VurleUpdates::make(); });

}  // namespace

std::shared_ptr<VurleUpdates> VurleUpdates::shared() { return sharedUpdates.get(); }

std::shared_ptr<VurleUpdates> VurleUpdates::make() {
  auto updates = std::shared_ptr<VurleUpdates>(new VurleUpdates());
  updates->prepareUpdater();
  return updates;
}

VurleUpdates::VurleUpdates() {
  const UpdateConfiguration configuration(platform::NSBundle::mainBundle()->infoDictionary());
  valid_ = configuration.isValid();
  if (valid_) configuredFeedURL_ = configuration.feedURL->absoluteString();
}

VurleUpdates::~VurleUpdates() = default;

void VurleUpdates::prepareUpdater() {
  if (!valid_) return;
  const auto bundle = platform::NSBundle::mainBundle();
  const std::weak_ptr<VurleUpdates> self = weak_from_this();
  userDriver_ = std::make_shared<ButtonUpdateUserDriver>(bundle, self);
  updater_ = platform::SPUUpdater::make(bundle, bundle, userDriver_, self);
  message_.set(notStartedMessage);
}

bool VurleUpdates::allowsAutomaticUpdates() const {
  return isStarted() && updater_ && updater_->allowsAutomaticUpdates();
}

void VurleUpdates::start() {
  if (isStarted() || !updater_) return;
  if (!updater_->startUpdater()) {
    message_.set(startFailedMessage);
    return;
  }
  isStarted_.set(true);
  message_.set("");

  auto& loop = platform::RunLoop::main();
  const std::weak_ptr<VurleUpdates> weak = weak_from_this();
  observations_.push_back(updater_->canCheckForUpdatesPublisher().receive(loop).sink([weak](bool canCheck) {
    if (auto self = weak.lock()) self->updaterCanCheckChanged(canCheck);
  }));
  const auto changed = [weak](bool) {
    if (auto self = weak.lock()) self->updaterSettingsChanged();
  };
  observations_.push_back(updater_->automaticallyChecksForUpdatesPublisher().receive(loop).sink(changed));
  observations_.push_back(updater_->automaticallyDownloadsUpdatesPublisher().receive(loop).sink(changed));
  observations_.push_back(updater_->allowsAutomaticUpdatesPublisher().receive(loop).sink(changed));
}

void VurleUpdates::updaterCanCheckChanged(bool canCheck) {
  updaterCanCheck_ = canCheck;
  canCheckForUpdates_.set(canCheck);
}

void VurleUpdates::updaterSettingsChanged() { settingsChanges_.set(settingsChanges_.value() + 1); }

void VurleUpdates::checkForUpdates(bool inButton) {
  if (!canCheckForUpdates() || isCheckingForUpdates() || !updater_) return;
  if (userDriver_) userDriver_->setShowsCheckInButton(inButton);
  isCheckingForUpdates_.set(true);
  // The updater's windows come to the front with the application.
  if (!inButton) platform::NSApplication::shared()->activateIgnoringOtherApps(true);
  updater_->checkForUpdates();
}

// ---------------------------------------------------------------------------
// Delegates

void VurleUpdates::updaterDidFindValidUpdate(platform::SPUUpdater&, const platform::SUAppcastItem&) {
  isCheckingForUpdates_.set(false);
}

void VurleUpdates::updaterDidNotFindUpdate(platform::SPUUpdater&, const platform::SPUError&) {
  isCheckingForUpdates_.set(false);
}

void VurleUpdates::updaterDidAbortWithError(platform::SPUUpdater&, const platform::SPUError&) {
  isCheckingForUpdates_.set(false);
}

void VurleUpdates::updaterDidFinishUpdateCycle(platform::SPUUpdater&, platform::SPUUpdateCheck,
                                               const std::optional<platform::SPUError>&) {
  isCheckingForUpdates_.set(false);
}

std::optional<std::vector<std::string>> VurleUpdates::allowedSystemProfileKeysForUpdater(platform::SPUUpdater&) {
  return std::vector<std::string>{};
}

std::optional<std::string> VurleUpdates::feedURLStringForUpdater(platform::SPUUpdater&) { return configuredFeedURL_; }

void VurleUpdates::standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const platform::SUAppcastItem&,
                                                             const platform::SPUUserUpdateState& state) {
  if (!handleShowingUpdate) return;
  isPresentingUpdate_.set(true);
  if (!state.userInitiated) platform::NSApplication::shared()->dockTile().setBadgeLabel("1");
}

void VurleUpdates::standardUserDriverDidReceiveUserAttentionForUpdate(const platform::SUAppcastItem&) {
  platform::NSApplication::shared()->dockTile().setBadgeLabel(std::nullopt);
}

void VurleUpdates::standardUserDriverWillFinishUpdateSession() {
  platform::NSApplication::shared()->dockTile().setBadgeLabel(std::nullopt);
  isPresentingUpdate_.set(false);
  isCheckingForUpdates_.set(false);
}

}  // namespace vurle
