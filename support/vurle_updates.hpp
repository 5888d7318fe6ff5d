#pragma once

// The one update controller. It reads the update configuration from the
// main bundle once; only a valid one gets an updater and its user driver.
// The application delegate starts it once the agreement is accepted and
// onboarding is over; from then on it mirrors the updater's state in
// published properties for the menus, the Dock-icon policy, the bug-report
// form and the update settings card, and runs the checks the user asks for.
// As the updater's delegate it hands over the validated feed URL, allows no
// system-profile key, and keeps its checking and presenting flags in step;
// as the user driver's delegate it marks an update a scheduled check found
// with the Dock badge "1".
//
// States: unconfigured (no updater, every flag false for the whole run);
// configured and not started ("Finish setting up vurle to enable
// updates."); start failed ("Updates couldn’t start. Try reopening
// vurle.", the next start retries); started (empty message; the updater's
// canCheckForUpdates, and its settings, arrive on the next main-run-loop
// pass, the first value too).
//
// Made by make() (shared() keeps the process's one): the updater and the
// driver are made once the controller is owned, so both hold it weakly.
// Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shell_seams.hpp"
#include "platform/combine/published.hpp"
#include "platform/updater/updater.hpp"
#include "support/button_update_user_driver.hpp"

namespace vurle {

class VurleUpdates : public UpdateController,
                     public platform::SPUUpdaterDelegate,
                     public platform::SPUStandardUserDriverDelegate,
                     public std::enable_shared_from_this<VurleUpdates> {
 public:
  static constexpr const char* unconfiguredMessage = "Updates aren’t configured for this build.";
  static constexpr const char* notStartedMessage = "Finish setting up vurle to enable updates.";
  static constexpr const char* startFailedMessage = "Updates couldn’t start. Try reopening vurle.";

  // The process's one controller, made on first use.
  static std::shared_ptr<VurleUpdates> shared();
  // A controller over the main bundle's configuration, set up whole.
  static std::shared_ptr<VurleUpdates> make();
  ~VurleUpdates() override;
  VurleUpdates(const VurleUpdates&) = delete;
  VurleUpdates& operator=(const VurleUpdates&) = delete;

  bool isStarted() const { return isStarted_.value(); }
  bool canCheckForUpdates() const override { return canCheckForUpdates_.value(); }
  bool isPresentingUpdate() const override { return isPresentingUpdate_.value(); }
  bool isCheckingForUpdates() const { return isCheckingForUpdates_.value(); }
  // The status sentence; empty: nothing to say.
  const std::string& message() const { return message_.value(); }
  platform::Publisher<bool> isStartedPublisher() const { return isStarted_.publisher(); }
  platform::Publisher<bool> canCheckForUpdatesPublisher() const override { return canCheckForUpdates_.publisher(); }
  platform::Publisher<bool> isPresentingUpdatePublisher() const override { return isPresentingUpdate_.publisher(); }
  platform::Publisher<bool> isCheckingForUpdatesPublisher() const { return isCheckingForUpdates_.publisher(); }
  platform::Publisher<std::string> messagePublisher() const { return message_.publisher(); }
  // Counts the changes of the updater's own settings (automatic checks,
  // automatic downloads, whether automatic updates are allowed) that
  // arrived since the start, so views showing them can redraw.
  platform::Publisher<std::uint64_t> updaterSettingsPublisher() const { return settingsChanges_.publisher(); }

  const std::shared_ptr<platform::SPUUpdater>& updater() const { return updater_; }
  const std::shared_ptr<ButtonUpdateUserDriver>& userDriver() const { return userDriver_; }
  const std::optional<std::string>& configuredFeedURL() const { return configuredFeedURL_; }
  // Started, with an updater that allows automatic updates.
  bool allowsAutomaticUpdates() const;

  // Starts the updater once; nothing after a successful start or without
  // an updater.
  void start() override;
  // A check the user asked for; nothing unless one may run now and none
  // does. From the menu the application comes to the front first.
  void checkForUpdates(bool inButton) override;

  // The updater's delegate.
  void updaterDidFindValidUpdate(platform::SPUUpdater& updater, const platform::SUAppcastItem& item) override;
  void updaterDidNotFindUpdate(platform::SPUUpdater& updater, const platform::SPUError& error) override;
  void updaterDidAbortWithError(platform::SPUUpdater& updater, const platform::SPUError& error) override;
  void updaterDidFinishUpdateCycle(platform::SPUUpdater& updater, platform::SPUUpdateCheck check,
                                   const std::optional<platform::SPUError>& error) override;
  std::optional<std::vector<std::string>> allowedSystemProfileKeysForUpdater(platform::SPUUpdater& updater) override;
  std::optional<std::string> feedURLStringForUpdater(platform::SPUUpdater& updater) override;

  // The user driver's delegate.
  bool supportsGentleScheduledUpdateReminders() const override { return true; }
  void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const platform::SUAppcastItem& update,
                                                 const platform::SPUUserUpdateState& state) override;
  void standardUserDriverDidReceiveUserAttentionForUpdate(const platform::SUAppcastItem& update) override;
  void standardUserDriverWillFinishUpdateSession() override;

 private:
  VurleUpdates();
  // Makes the driver and the updater for a valid configuration.
  void prepareUpdater();
  void updaterCanCheckChanged(bool canCheck);
  void updaterSettingsChanged();

  platform::Published<bool> isStarted_{false};
  platform::Published<bool> canCheckForUpdates_{false};
  platform::Published<bool> isPresentingUpdate_{false};
  platform::Published<bool> isCheckingForUpdates_{false};
  platform::Published<std::string> message_{unconfiguredMessage};
  platform::Published<std::uint64_t> settingsChanges_{0};
  std::shared_ptr<platform::SPUUpdater> updater_;
  std::shared_ptr<ButtonUpdateUserDriver> userDriver_;
  std::optional<std::string> configuredFeedURL_;
  bool valid_ = false;
  bool updaterCanCheck_ = false;
  std::vector<platform::AnyCancellable> observations_;
};

}  // namespace vurle
