#pragma once

// The updater's user interface. The updater (updater.hpp) tells a user
// driver what happens in an update session; SPUStandardUserDriver is the
// stock driver, with its own windows, which applications may subclass (its
// operations are virtual) and whose delegate hears when it shows an
// update, when the user attends to it and when the session ends.
//
// The stock driver's windows are ordinary application windows (level 0):
// a checking window for a check the user asked for, an update window for a
// found update, and one alert at a time (up to date, or an error). The
// driver never activates the application; an update is brought to the
// front only by showUpdateInFocus(). The user's answers (install, skip,
// later, cancel, OK) come through the test operations at the end, as the
// simulated desktop has no buttons to press. It always handles showing the
// updates it is given.
//
// Main thread only; the delegate is held weakly.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/window.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/updater/appcast.hpp"

namespace platform {

struct SPUUserUpdateState {
  enum class Stage { notDownloaded, downloaded };
  Stage stage = Stage::notDownloaded;
  // The check that found the update was asked for by the user, not
  // scheduled.
  bool userInitiated = false;
};

enum class SPUUserUpdateChoice { skip, install, dismiss };

// Why a check or an update did not go on.
struct SPUError {
  enum class Code {
    noUpdate,             // the feed holds nothing newer this system can run
    feedUnavailable,      // the feed could not be fetched or was refused
    feedInvalid,          // the feed is not a readable RSS feed, or too large
    invalidRunningBuild,  // the running CFBundleVersion is not dotted decimal
    downloadFailed,       // the archive could not be fetched or stored
    signatureInvalid,     // the archive is not the one the feed signed
    installationUnsupported,
    invalidConfiguration,  // the updater cannot start
  };
  enum class NoUpdateReason { none, onLatestVersion, systemIsTooOld };

  Code code = Code::feedUnavailable;
  std::string localizedDescription;
  NoUpdateReason reason = NoUpdateReason::none;
  // With systemIsTooOld: the newest item that needs a newer system.
  std::optional<SUAppcastItem> item;
};

// What the updater asks of its user interface.
class SPUUserDriver {
 public:
  virtual ~SPUUserDriver() = default;
  // A check the user asked for has begun; calling `cancellation` ends it.
  virtual void showUserInitiatedUpdateCheckWithCancellation(std::function<void()> cancellation) = 0;
  // An update was found; `reply` receives the user's choice, once.
  virtual void showUpdateFoundWithAppcastItem(const SUAppcastItem& item, const SPUUserUpdateState& state,
                                              std::function<void(SPUUserUpdateChoice)> reply) = 0;
  // A check the user asked for found nothing; `acknowledgement` once read.
  virtual void showUpdateNotFoundWithError(const SPUError& error, std::function<void()> acknowledgement) = 0;
  virtual void showUpdaterError(const SPUError& error, std::function<void()> acknowledgement) = 0;
  // The chosen update is being downloaded and verified.
  virtual void showDownloadInitiated() = 0;
  // The session ends: every window of it goes.
  virtual void dismissUpdateInstallation() = 0;
};

class SPUStandardUserDriverDelegate {
 public:
  virtual ~SPUStandardUserDriverDelegate() = default;
  // Whether an update found by a scheduled check may be shown without
  // taking the focus; without it the window still comes up, key.
  virtual bool supportsGentleScheduledUpdateReminders() const { return false; }
  // Before the update window shows.
  virtual void standardUserDriverWillHandleShowingUpdate(bool handleShowingUpdate, const SUAppcastItem& update,
                                                         const SPUUserUpdateState& state) {
    (void)handleShowingUpdate, (void)update, (void)state;
  }
  // The user brought the update to the front or answered it.
  virtual void standardUserDriverDidReceiveUserAttentionForUpdate(const SUAppcastItem& update) { (void)update; }
  // The session's windows are going.
  virtual void standardUserDriverWillFinishUpdateSession() {}
};

class SPUStandardUserDriver : public SPUUserDriver, public std::enable_shared_from_this<SPUStandardUserDriver> {
 public:
  static constexpr const char* checkingTitle = "Checking for Updates…";
  static constexpr const char* updateTitle = "Software Update";

  // initWithHostBundle:delegate:.
  SPUStandardUserDriver(std::shared_ptr<NSBundle> hostBundle, std::weak_ptr<SPUStandardUserDriverDelegate> delegate);
  ~SPUStandardUserDriver() override;
  SPUStandardUserDriver(const SPUStandardUserDriver&) = delete;
  SPUStandardUserDriver& operator=(const SPUStandardUserDriver&) = delete;

  void showUserInitiatedUpdateCheckWithCancellation(std::function<void()> cancellation) override;
  void showUpdateFoundWithAppcastItem(const SUAppcastItem& item, const SPUUserUpdateState& state,
                                      std::function<void(SPUUserUpdateChoice)> reply) override;
  void showUpdateNotFoundWithError(const SPUError& error, std::function<void()> acknowledgement) override;
  void showUpdaterError(const SPUError& error, std::function<void()> acknowledgement) override;
  void showDownloadInitiated() override;
  // Closes whatever of the session shows (nothing is fine), drops its
  // callbacks uncalled, then tells the delegate the session ends.
  void dismissUpdateInstallation() override;
  // Makes the update window key and puts it in front, as attention from
  // the user; nothing without one.
  void showUpdateInFocus();

  // What shows: null when the window is not up.
  std::shared_ptr<NSWindow> checkingWindow() const { return checkingWindow_; }
  std::shared_ptr<NSWindow> updateWindow() const { return updateWindow_; }
  std::shared_ptr<NSWindow> alertWindow() const { return alertWindow_; }
  // The alert's headline and detail; empty without an alert.
  const std::string& alertMessage() const { return alertMessage_; }
  const std::string& alertInformativeText() const { return alertInformativeText_; }
  // The update window's line about the update ("vurle 1.3 is available…"),
  // then "Downloading…" once an install began.
  const std::string& updateStatusText() const { return updateStatus_; }

  // The user's answers, as the windows' buttons would give them. Each does
  // nothing when its window is not up.
  void cancelCheckForTesting();                     // the checking window's Cancel
  void replyForTesting(SPUUserUpdateChoice choice);  // Install, Skip or Remind Me Later
  void acknowledgeAlertForTesting();                // the alert's OK

 protected:
  std::shared_ptr<SPUStandardUserDriverDelegate> delegate() const { return delegate_.lock(); }

 private:
  std::shared_ptr<NSWindow> makeWindow(const std::string& title);
  void showAlert(std::string message, std::string informative, std::function<void()> acknowledgement);
  void close(std::shared_ptr<NSWindow>& window);
  std::string applicationName() const;

  const std::shared_ptr<NSBundle> hostBundle_;
  const std::weak_ptr<SPUStandardUserDriverDelegate> delegate_;
  std::shared_ptr<NSWindow> checkingWindow_;
  std::shared_ptr<NSWindow> updateWindow_;
  std::shared_ptr<NSWindow> alertWindow_;
  std::function<void()> cancellation_;
  std::function<void(SPUUserUpdateChoice)> reply_;
  std::function<void()> acknowledgement_;
  std::optional<SUAppcastItem> shownItem_;
  std::string alertMessage_;
  std::string alertInformativeText_;
  std::string updateStatus_;
};

}  // namespace platform
