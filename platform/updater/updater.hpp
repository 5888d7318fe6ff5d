#pragma once

// The in-app updater: checks an RSS feed (appcast.hpp) for a newer build of
// the host bundle, lets its user driver (user_driver.hpp) show what it
// finds, and downloads and verifies the chosen archive. Nothing is ever
// installed on Linux: a verified archive ends the session with the error
// SPUError::Code::installationUnsupported ("This update can’t be installed
// on this system.").
//
// Start-up: startUpdater() refuses a feed URL that is not https (the
// delegate's, else the information dictionary's SUFeedURL) and a
// SUPublicEDKey that is not the Base64 text of a 32-byte Ed25519 key.
//
// A check is one session, on the main thread from its start to its end:
// 1. canCheckForUpdates turns false; a check the user asked for shows the
//    driver's checking window.
// 2. The feed URL is fetched with one GET over an ephemeral URL session
//    (30 s idle timeout; system-profile keys in the query only while
//    sendsSystemProfile is on and only those the delegate allows). Its
//    transfer stops as soon as the body passes 1 MiB, or declares a longer
//    length. A redirect is followed only to another https URL.
// 3. On the updater's own serial queue the answer is read: a status other
//    than 200 (a redirect off https included), more than 1 MiB, a document
//    that is not RSS or a running CFBundleVersion that is not dotted
//    decimal abort the check; otherwise the newest eligible item is chosen.
// 4. Back on the main run loop the delegate hears, in this order: found,
//    not found or aborted; for a find the driver shows it (a scheduled find
//    with automatic downloads on is downloaded and verified without any
//    window). A check the user asked for shows its not-found or error alert.
// 5. At the end, once the user has answered what shows: the delegate's
//    cycle-finished, then the driver's dismissUpdateInstallation, then
//    canCheckForUpdates turns true again.
// Installing downloads the archive over https (redirects too), at most its
// declared length and 64 MiB, and verifies its signature with the public
// key off the main thread; a bad archive aborts the session and never
// reaches the disk. A verified one is written to a new temporary in
// downloadsDirectory() (created without following or reusing any file or
// link) and renamed to "<build>.archive", only in a folder of this user's
// that is not a link, set to mode 0700 when found otherwise (behind a link
// at its parent, refused when others may write to it and its mode left),
// and deleted when the session ends, through the folder as it was opened
// to write it.
// Starting removes the archives and temporaries that earlier sessions left
// there, and no other name.
//
// Scheduled checks run on the dispatch clock while the updater is started
// and automaticallyChecksForUpdates is on: SUScheduledCheckInterval seconds
// after the last check began (86400 by default, at least 3600); the first
// interval counts from the moment they were first armed. A scheduled check
// never offers a build at or below the one the user skipped.
//
// Settings persist in the standard user defaults under keys of the
// updater's own (below); automatic checks and downloads are off until set.
// When a check began is saved on the updater's own queue; when the
// application terminates (NSApplicationWillTerminateNotification) the main
// thread waits for that queue, so a quit right after a check keeps it.
// Nothing on the queue waits for the main thread.
// allowsAutomaticUpdates is true unless the information dictionary's
// SUAllowsAutomaticUpdates is false.
//
// Main thread only, except where said. The user driver is held strongly,
// the delegate weakly; the updater and its URL session live as long as
// their owner keeps them.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundle/bundle.hpp"
#include "platform/combine/published.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/network/url_session.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/updater/appcast.hpp"
#include "platform/updater/user_driver.hpp"

namespace platform {

class SPUUpdater;

enum class SPUUpdateCheck { updates, updatesInBackground };

class SPUUpdaterDelegate {
 public:
  virtual ~SPUUpdaterDelegate() = default;
  virtual void updaterDidFindValidUpdate(SPUUpdater& updater, const SUAppcastItem& item) { (void)updater, (void)item; }
  virtual void updaterDidNotFindUpdate(SPUUpdater& updater, const SPUError& error) { (void)updater, (void)error; }
  virtual void updaterDidAbortWithError(SPUUpdater& updater, const SPUError& error) { (void)updater, (void)error; }
  virtual void updaterDidFinishUpdateCycle(SPUUpdater& updater, SPUUpdateCheck check,
                                           const std::optional<SPUError>& error) {
    (void)updater, (void)check, (void)error;
  }
  // The system-profile keys a feed request may carry; none: every key.
  virtual std::optional<std::vector<std::string>> allowedSystemProfileKeysForUpdater(SPUUpdater& updater) {
    (void)updater;
    return std::nullopt;
  }
  // The feed to check; none: the information dictionary's SUFeedURL.
  virtual std::optional<std::string> feedURLStringForUpdater(SPUUpdater& updater) {
    (void)updater;
    return std::nullopt;
  }
};

class SPUUpdater : public std::enable_shared_from_this<SPUUpdater> {
 public:
  static constexpr const char* automaticallyChecksKey = "updaterAutomaticallyChecks";
  static constexpr const char* automaticallyDownloadsKey = "updaterAutomaticallyDownloads";
  static constexpr const char* sendsSystemProfileKey = "updaterSendsSystemProfile";
  static constexpr const char* lastCheckTimeKey = "updaterLastCheckTime";  // seconds since 1970
  static constexpr const char* skippedVersionKey = "updaterSkippedVersion";
  static constexpr double defaultCheckInterval = 86400;
  static constexpr double minimumCheckInterval = 3600;
  static constexpr double requestTimeout = 30;
  static constexpr std::uint64_t maximumArchiveBytes = 64u << 20;
  // The keys a system profile can hold.
  static const std::vector<std::string> systemProfileKeys;

  // initWithHostBundle:applicationBundle:userDriver:delegate:.
  static std::shared_ptr<SPUUpdater> make(std::shared_ptr<NSBundle> hostBundle,
                                          std::shared_ptr<NSBundle> applicationBundle,
                                          std::shared_ptr<SPUUserDriver> userDriver,
                                          std::weak_ptr<SPUUpdaterDelegate> delegate);
  ~SPUUpdater();
  SPUUpdater(const SPUUpdater&) = delete;
  SPUUpdater& operator=(const SPUUpdater&) = delete;

  // startUpdater:. False with the reason in `error` when the configuration
  // is refused (see above) or a test fault says so; a later call may try
  // again. Once started, further calls do nothing and succeed.
  bool startUpdater(SPUError* error = nullptr);
  bool isStarted() const { return started_; }

  // A check the user asked for; nothing unless canCheckForUpdates.
  void checkForUpdates();
  bool canCheckForUpdates() const { return canCheck_.value(); }
  Publisher<bool> canCheckForUpdatesPublisher() const { return canCheck_.publisher(); }
  bool sessionInProgress() const { return session_ != nullptr; }

  bool automaticallyChecksForUpdates() const { return automaticallyChecks_.value(); }
  void setAutomaticallyChecksForUpdates(bool on);
  Publisher<bool> automaticallyChecksForUpdatesPublisher() const { return automaticallyChecks_.publisher(); }
  bool automaticallyDownloadsUpdates() const { return automaticallyDownloads_.value(); }
  void setAutomaticallyDownloadsUpdates(bool on);
  Publisher<bool> automaticallyDownloadsUpdatesPublisher() const { return automaticallyDownloads_.publisher(); }
  bool allowsAutomaticUpdates() const { return allowsAutomaticUpdates_.value(); }
  Publisher<bool> allowsAutomaticUpdatesPublisher() const { return allowsAutomaticUpdates_.publisher(); }
  bool sendsSystemProfile() const;
  void setSendsSystemProfile(bool on);

  // Seconds between scheduled checks.
  double updateCheckInterval() const { return checkInterval_; }
  // When the last check began (seconds since 1970), if ever.
  std::optional<double> lastUpdateCheckDate() const { return lastCheck_; }
  std::optional<std::string> skippedVersion() const;

  // Where verified archives are stored:
  // "$XDG_CACHE_HOME/vurle/updates" when that variable holds an absolute
  // path, else "$HOME/.cache/vurle/updates"; absent with neither (an
  // archive is then verified in memory and never stored).
  static std::optional<std::filesystem::path> downloadsDirectory();

  // Fault seam: the next `count` starts fail as a refused configuration
  // would. resetProcessState() clears it.
  static void failNextStartsForTesting(int count);
  // Fault seam: downloads folders must belong to `user` in place of this
  // process's user (none: this process's). resetProcessState() clears it.
  static void setDownloadsOwnerForTesting(std::optional<uid_t> user);

 private:
  struct Session;
  struct FeedResult;
  struct ArchiveResult;

  SPUUpdater(std::shared_ptr<NSBundle> hostBundle, std::shared_ptr<SPUUserDriver> userDriver,
             std::weak_ptr<SPUUpdaterDelegate> delegate);
  std::shared_ptr<SPUUpdaterDelegate> delegate() const { return delegate_.lock(); }
  std::optional<std::string> feedURLString();
  std::optional<NSURL> feedRequestURL(std::string* failure);
  void beginSession(bool userInitiated);
  void cancelSession(std::uint64_t id);
  void feedArrived(std::uint64_t id, FeedResult result);
  void offer(const SUAppcastItem& item);
  void answered(std::uint64_t id, SPUUserUpdateChoice choice);
  void download(const SUAppcastItem& item);
  void archiveArrived(std::uint64_t id, ArchiveResult result);
  // Tells the delegate the session aborted, then ends it once the user has
  // read the error, or at once when nothing of the session has shown.
  void fail(const SPUError& error);
  void finish(std::optional<SPUError> error);
  void scheduleNextCheck();
  // Remembers when a check began, and persists it off the main thread.
  void noteCheckTime(double time);

  const std::shared_ptr<NSBundle> hostBundle_;
  const std::shared_ptr<SPUUserDriver> userDriver_;
  const std::weak_ptr<SPUUpdaterDelegate> delegate_;
  const std::shared_ptr<DispatchQueue> workQueue_;
  const std::shared_ptr<URLSession> urlSession_;
  const double checkInterval_;
  Data publicKey_;
  bool started_ = false;
  Published<bool> canCheck_{false};
  Published<bool> automaticallyChecks_{false};
  Published<bool> automaticallyDownloads_{false};
  Published<bool> allowsAutomaticUpdates_{true};
  std::shared_ptr<Session> session_;
  std::uint64_t nextSessionID_ = 1;
  std::shared_ptr<DispatchSourceTimer> timer_;
  std::optional<double> lastCheck_;
  NotificationToken terminationObserver_;
};

}  // namespace platform
