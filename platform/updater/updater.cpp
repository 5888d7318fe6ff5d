#include "platform/updater/updater.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <random>
#include <string_view>

#include "platform/appkit/application.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/file_descriptor.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/updater/signature.hpp"

namespace platform {
namespace {

constexpr const char* kCannotInstall = "This update can’t be installed on this system.";

std::mutex faultMutex;
int failingStarts = 0;
// The user a downloads folder must belong to, when a test names another.
std::optional<uid_t> downloadsOwnerForTesting;

const int faultReset = [] {
  addResetHook(&failingStarts, [] {
    std::lock_guard<std::mutex> lock(faultMutex);
    failingStarts = 0;
    downloadsOwnerForTesting.reset();
  });
  return 0;
}();

std::optional<std::string> infoString(const NSBundle& bundle, const std::string& key) {
  const auto* value = bundle.objectForInfoDictionaryKey(key);
  if (!value || !value->string()) return std::nullopt;
  return *value->string();
}

double checkIntervalOf(const NSBundle& bundle) {
  const auto* value = bundle.objectForInfoDictionaryKey("SUScheduledCheckInterval");
  double seconds = SPUUpdater::defaultCheckInterval;
  if (value && value->integer()) seconds = static_cast<double>(*value->integer());
  if (value && value->real() && std::isfinite(*value->real())) seconds = *value->real();
  return std::max(seconds, SPUUpdater::minimumCheckInterval);
}

bool allowsAutomaticUpdatesOf(const NSBundle& bundle) {
  const auto* value = bundle.objectForInfoDictionaryKey("SUAllowsAutomaticUpdates");
  return !(value && value->boolean() && !*value->boolean());
}

bool isHttps(const NSURL& url) {
  const auto& scheme = url.scheme();
  return scheme && scheme->size() == 5 &&
         std::equal(scheme->begin(), scheme->end(), "https",
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

// The feed and the archive may move to another https address, never to one
// without encryption: such a redirect is not followed, and its 3xx answer
// comes back as it is.
class HttpsOnlyRedirects : public URLSessionTaskDelegate {
 public:
  void willPerformHTTPRedirection(const HTTPURLResponse&, const URLRequest& newRequest,
                                  const std::function<void(std::optional<URLRequest>)>& completionHandler) override {
    completionHandler(isHttps(newRequest.url) ? std::optional<URLRequest>(newRequest) : std::nullopt);
  }
};

// An answer that is a redirect refused for leaving https. (A relative
// target keeps the request's https.)
bool redirectsOffHttps(const HTTPURLResponse& response) {
  if (response.statusCode() < 300 || response.statusCode() >= 400) return false;
  const auto location = response.valueForHTTPHeaderField("Location");
  const auto target = location ? NSURL::URLWithString(*location) : std::nullopt;
  return target && target->scheme() && !isHttps(*target);
}

std::shared_ptr<URLSession> makeFeedSession(std::shared_ptr<DispatchQueue> queue) {
  auto configuration = URLSessionConfiguration::ephemeral();
  configuration.httpCookieStorage = nullptr;
  configuration.httpShouldSetCookies = false;
  return URLSession::make(std::move(configuration), std::make_shared<HttpsOnlyRedirects>(), std::move(queue));
}

SPUError error(SPUError::Code code, std::string text) {
  SPUError made;
  made.code = code;
  made.localizedDescription = std::move(text);
  return made;
}

// ---------------------------------------------------------------------------
// The downloads folder

uid_t downloadsOwner() {
  std::lock_guard<std::mutex> lock(faultMutex);
  return downloadsOwnerForTesting.value_or(::geteuid());
}

// The folder, opened without following a link at its last step, when it is
// a directory of this user's: what another user could put in or take out
// there is never stored or removed. Where it is the updater's own (no link
// at its parent, the "vurle" folder), nothing in it is read back, so
// whatever its mode (one made by an older build under a loose umask, say)
// it is set to 0700 through the descriptor, and refused only when others
// may write to it and that fails. Behind a link at its parent it may be a
// folder the user shares on purpose: its mode is left as it is, and it is
// refused when others may write to it. Refused, nothing is held, with the
// reason in `refusal` when given. With `create`, a missing one is made
// first. (A link above the parent may be the user's own, and is followed.)
FileDescriptor openDownloadsFolder(const std::filesystem::path& folder, bool create, std::string* refusal = nullptr) {
  if (create) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    ::mkdir(folder.c_str(), 0700);
  }
  // The parent opens without following only when it is no link; the folder
  // is then opened through it, so the one tightened is the one found so.
  const FileDescriptor parent(::open(folder.parent_path().c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  const bool behindALink = parent.get() < 0;
  constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  FileDescriptor fd(behindALink ? ::open(folder.c_str(), flags)
                                : ::openat(parent.get(), folder.filename().c_str(), flags));
  struct stat status {};
  const char* reason = nullptr;
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != downloadsOwner()) {
    reason = "The update could not be saved: its folder is a link or not a folder of this user.";
  } else {
    const bool ownerOnly = !behindALink && ((status.st_mode & 07777) == 0700 || ::fchmod(fd.get(), 0700) == 0);
    if (!ownerOnly && (status.st_mode & (S_IWGRP | S_IWOTH))) {
      reason = "The update could not be saved: other users may write to its folder.";
    }
  }
  if (!reason) return fd;
  if (refusal) *refusal = reason;
  return FileDescriptor();
}

// A stored archive, held with the folder's descriptor that wrote it: it is
// removed from there when the last holder lets go, never through the
// folder's path, which may have been swapped for a link to another folder
// of the user's meanwhile.
class StoredArchive {
 public:
  StoredArchive(FileDescriptor folder, std::string name) : folder_(std::move(folder)), name_(std::move(name)) {}
  StoredArchive(const StoredArchive&) = delete;
  StoredArchive& operator=(const StoredArchive&) = delete;
  ~StoredArchive() { ::unlinkat(folder_.get(), name_.c_str(), 0); }

 private:
  const FileDescriptor folder_;
  const std::string name_;
};

constexpr std::string_view kArchiveSuffix = ".archive";
// A temporary's name ends in this many of these.
constexpr std::size_t kTemporaryLetterCount = 6;
constexpr std::string_view kTemporaryLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Only names this updater writes: "<build>.archive" and its temporaries,
// ".<build>.archive.XXXXXX", the build dotted decimal as the feed's is.
// Whatever else a user keeps there is theirs.
bool isArchiveName(std::string_view name) {
  if (name.starts_with('.')) {
    if (name.size() < kTemporaryLetterCount + 2) return false;
    if (name.substr(name.size() - kTemporaryLetterCount).find_first_not_of(kTemporaryLetters) != name.npos) {
      return false;
    }
    name = name.substr(1, name.size() - kTemporaryLetterCount - 1);
    if (!name.ends_with('.')) return false;
    name.remove_suffix(1);
  }
  return name.ends_with(kArchiveSuffix) &&
         SUIsDottedDecimal(std::string(name.substr(0, name.size() - kArchiveSuffix.size())));
}

// Removes what earlier sessions left, killed before they could: archives
// and temporaries of any build (a link among them goes, not its target).
void removeLeftovers(const std::filesystem::path& folder) {
  const FileDescriptor dir = openDownloadsFolder(folder, false);
  if (dir.get() < 0) return;
  FileDescriptor copy(::dup(dir.get()));
  const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(copy.get()), &::closedir);
  if (!listing) return;
  copy.release();  // the listing's now
  while (const dirent* entry = ::readdir(listing.get())) {
    struct stat status {};
    if (isArchiveName(entry->d_name) && ::fstatat(dir.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))) {
      ::unlinkat(dir.get(), entry->d_name, 0);
    }
  }
}

// Puts a verified archive in the folder as "<build>.archive". Its bytes go
// to a new temporary that no existing file or link can stand in for, and
// one rename then replaces whatever held the name (a link itself, never
// what it points to; a folder there is the user's, and stays). The archive,
// or none with the reason in `failure`.
std::shared_ptr<StoredArchive> storeArchive(const std::filesystem::path& folder, const std::string& build,
                                            const Data& bytes, std::string* failure) {
  FileDescriptor dir = openDownloadsFolder(folder, true, failure);
  if (dir.get() < 0) return nullptr;
  const std::string name = build + std::string(kArchiveSuffix);
  std::random_device random;
  std::string temporary;
  FileDescriptor file;
  for (int attempt = 0; attempt < 16 && file.get() < 0; ++attempt) {
    temporary = "." + name + ".";
    for (std::size_t k = 0; k < kTemporaryLetterCount; ++k) {
      temporary += kTemporaryLetters[random() % kTemporaryLetters.size()];
    }
    file = FileDescriptor(
        ::openat(dir.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file.get() < 0 && errno != EEXIST) break;
  }
  const bool created = file.get() >= 0;
  bool written = created;
  for (std::size_t done = 0; written && done < bytes.size();) {
    const ssize_t count = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    done += written ? static_cast<std::size_t>(count) : 0;
  }
  if (created) written = ::close(file.release()) == 0 && written;
  if (written && ::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) == 0) {
    return std::make_shared<StoredArchive>(std::move(dir), name);
  }
  const bool folderInTheWay = written && errno == EISDIR;
  if (created) ::unlinkat(dir.get(), temporary.c_str(), 0);
  *failure = folderInTheWay ? "The update could not be saved: “" + (folder / name).string() + "” is a folder."
                            : "The update could not be saved.";
  return nullptr;
}

std::string percentEncodedQueryValue(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += {'%', digits[c >> 4], digits[c & 15]};
    }
  }
  return out;
}

}  // namespace

const std::vector<std::string> SPUUpdater::systemProfileKeys = {"appVersion", "osVersion"};

// One check, from its start to its end; replaced when the next begins.
struct SPUUpdater::Session {
  std::uint64_t id = 0;
  bool userInitiated = false;
  // Nothing of it has shown: its failures end it without an alert.
  bool quiet = true;
  std::shared_ptr<URLSessionTask> task;
  std::optional<SUAppcastItem> item;
  std::shared_ptr<StoredArchive> archive;
};

struct SPUUpdater::FeedResult {
  std::optional<SPUError> failure;
  SUAppcastChoice choice;
};

struct SPUUpdater::ArchiveResult {
  std::optional<SPUError> failure;
  // Removed when dropped: a session that ended meanwhile, or an updater
  // that is gone, keeps nothing.
  std::shared_ptr<StoredArchive> archive;
};

std::shared_ptr<SPUUpdater> SPUUpdater::make(std::shared_ptr<NSBundle> hostBundle, std::shared_ptr<NSBundle>,
                                             std::shared_ptr<SPUUserDriver> userDriver,
                                             std::weak_ptr<SPUUpdaterDelegate> delegate) {
  return std::shared_ptr<SPUUpdater>(new SPUUpdater(std::move(hostBundle), std::move(userDriver), std::move(delegate)));
}

SPUUpdater::SPUUpdater(std::shared_ptr<NSBundle> hostBundle, std::shared_ptr<SPUUserDriver> userDriver,
                       std::weak_ptr<SPUUpdaterDelegate> delegate)
    : hostBundle_(std::move(hostBundle)),
      userDriver_(std::move(userDriver)),
      delegate_(std::move(delegate)),
      workQueue_(DispatchQueue::make("platform.updater", QoS::utility)),
      urlSession_(makeFeedSession(workQueue_)),
      checkInterval_(checkIntervalOf(*hostBundle_)) {
  const auto defaults = NSUserDefaults::standardUserDefaults();
  automaticallyChecks_.set(defaults->boolForKey(automaticallyChecksKey));
  automaticallyDownloads_.set(defaults->boolForKey(automaticallyDownloadsKey));
  allowsAutomaticUpdates_.set(allowsAutomaticUpdatesOf(*hostBundle_));
  const auto value = defaults->objectForKey(lastCheckTimeKey);
  if (value && value->real() && std::isfinite(*value->real())) lastCheck_ = *value->real();
  if (value && value->integer()) lastCheck_ = static_cast<double>(*value->integer());
  // Blocks not yet run when the process ends are dropped: the saves queued
  // before the quit are waited for (with whatever is queued ahead of them,
  // none of which waits for the main thread).
  terminationObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationWillTerminateNotification, nullptr, nullptr,
      [queue = workQueue_](const NSNotification&) { queue->sync([] {}); });
}

SPUUpdater::~SPUUpdater() {
  if (timer_) timer_->cancel();
  if (session_ && session_->task) session_->task->cancel();
}

void SPUUpdater::failNextStartsForTesting(int count) {
  std::lock_guard<std::mutex> lock(faultMutex);
  failingStarts = count;
}

void SPUUpdater::setDownloadsOwnerForTesting(std::optional<uid_t> user) {
  std::lock_guard<std::mutex> lock(faultMutex);
  downloadsOwnerForTesting = user;
}

std::optional<std::filesystem::path> SPUUpdater::downloadsDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache == '/') return std::filesystem::path(cache) / "vurle" / "updates";
  const char* home = std::getenv("HOME");
  if (home && *home == '/') return std::filesystem::path(home) / ".cache" / "vurle" / "updates";
  return std::nullopt;
}

std::optional<std::string> SPUUpdater::feedURLString() {
  if (auto told = delegate()) {
    if (auto text = told->feedURLStringForUpdater(*this)) return text;
  }
  return infoString(*hostBundle_, "SUFeedURL");
}

bool SPUUpdater::startUpdater(SPUError* failure) {
  if (started_) return true;
  const auto refuse = [&](std::string text) {
    if (failure) *failure = error(SPUError::Code::invalidConfiguration, std::move(text));
    return false;
  };
  {
    std::lock_guard<std::mutex> lock(faultMutex);
    if (failingStarts > 0) {
      --failingStarts;
      return refuse("The updater was refused by a test fault.");
    }
  }
  const auto text = feedURLString();
  const auto url = text ? NSURL::URLWithString(*text) : std::nullopt;
  if (!url || url->scheme() != "https" || !url->host()) return refuse("The update feed URL is not an https URL.");
  const auto key = infoString(*hostBundle_, "SUPublicEDKey");
  const auto decoded = key ? dataFromBase64(*key) : std::nullopt;
  if (!decoded || decoded->size() != SUEd25519PublicKeyBytes) {
    return refuse("The updater has no valid public signing key.");
  }
  publicKey_ = *decoded;
  started_ = true;
  // On the queue that stores this run's archives, so it is done before the
  // first of them.
  if (auto folder = downloadsDirectory()) workQueue_->async([folder = *folder] { removeLeftovers(folder); });
  canCheck_.set(true);
  scheduleNextCheck();
  return true;
}

// ---------------------------------------------------------------------------
// Settings

void SPUUpdater::setAutomaticallyChecksForUpdates(bool on) {
  NSUserDefaults::standardUserDefaults()->setBool(on, automaticallyChecksKey);
  if (on != automaticallyChecks_.value()) automaticallyChecks_.set(on);
  scheduleNextCheck();
}

void SPUUpdater::setAutomaticallyDownloadsUpdates(bool on) {
  NSUserDefaults::standardUserDefaults()->setBool(on, automaticallyDownloadsKey);
  if (on != automaticallyDownloads_.value()) automaticallyDownloads_.set(on);
}

bool SPUUpdater::sendsSystemProfile() const {
  return NSUserDefaults::standardUserDefaults()->boolForKey(sendsSystemProfileKey);
}

void SPUUpdater::setSendsSystemProfile(bool on) {
  NSUserDefaults::standardUserDefaults()->setBool(on, sendsSystemProfileKey);
}

void SPUUpdater::noteCheckTime(double time) {
  lastCheck_ = time;
  // A settings write syncs its file, which costs the main thread more than
  // the rest of a check; the work queue keeps the writes in order.
  workQueue_->async([time] { NSUserDefaults::standardUserDefaults()->setObject(time, lastCheckTimeKey); });
}

std::optional<std::string> SPUUpdater::skippedVersion() const {
  const auto value = NSUserDefaults::standardUserDefaults()->objectForKey(skippedVersionKey);
  if (value && value->string()) return *value->string();
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Scheduling

void SPUUpdater::scheduleNextCheck() {
  if (timer_) timer_->cancel();
  timer_.reset();
  if (!started_ || !automaticallyChecks_.value()) return;
  const double now = wallClockTime();
  // The first interval counts from now.
  if (!lastCheck_) noteCheckTime(now);
  // A last check "in the future" (the clock went back) waits one interval.
  const double delay = std::clamp(*lastCheck_ + checkInterval_ - now, 0.0, checkInterval_);
  timer_ = DispatchSourceTimer::make(DispatchQueue::main());
  timer_->schedule(DispatchTime::now() + delay);
  std::weak_ptr<SPUUpdater> weak = weak_from_this();
  timer_->setEventHandler([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->session_) {
      // Still busy with the last one: try again an interval later.
      self->noteCheckTime(wallClockTime());
      self->scheduleNextCheck();
      return;
    }
    self->beginSession(false);
  });
  timer_->resume();
}

// ---------------------------------------------------------------------------
// The session

void SPUUpdater::checkForUpdates() {
  if (!canCheckForUpdates()) return;
  beginSession(true);
}

std::optional<NSURL> SPUUpdater::feedRequestURL(std::string* failure) {
  const auto text = feedURLString();
  const auto url = text ? NSURL::URLWithString(*text) : std::nullopt;
  if (!url || url->scheme() != "https" || !url->host()) {
    *failure = "The update feed URL is not an https URL.";
    return std::nullopt;
  }
  if (!sendsSystemProfile()) return url;
  auto keys = systemProfileKeys;
  if (auto told = delegate()) {
    if (auto allowed = told->allowedSystemProfileKeysForUpdater(*this)) {
      std::erase_if(keys, [&](const std::string& key) {
        return std::find(allowed->begin(), allowed->end(), key) == allowed->end();
      });
    }
  }
  if (keys.empty()) return url;
  std::string query;
  for (const auto& key : keys) {
    const std::string value = key == "appVersion"
                                  ? infoString(*hostBundle_, "CFBundleVersion").value_or("")
                                  : SUVersionText(ProcessInfo::operatingSystemVersion());
    query += (query.empty() ? "" : "&") + key + "=" + percentEncodedQueryValue(value);
  }
  std::string withQuery = url->absoluteString();
  const auto hash = withQuery.find('#');
  withQuery.insert(hash == std::string::npos ? withQuery.size() : hash, (url->query() ? "&" : "?") + query);
  return NSURL::URLWithString(withQuery);
}

void SPUUpdater::beginSession(bool userInitiated) {
  if (session_) return;
  auto session = std::make_shared<Session>();
  session->id = nextSessionID_++;
  session->userInitiated = userInitiated;
  session->quiet = !userInitiated;
  session_ = session;
  canCheck_.set(false);
  noteCheckTime(wallClockTime());
  scheduleNextCheck();

  const std::uint64_t id = session->id;
  std::weak_ptr<SPUUpdater> weak = weak_from_this();
  if (userInitiated) {
    userDriver_->showUserInitiatedUpdateCheckWithCancellation([weak, id] {
      if (auto self = weak.lock()) self->cancelSession(id);
    });
  }
  std::string failure;
  const auto url = feedRequestURL(&failure);
  if (!url) {
    fail(error(SPUError::Code::feedUnavailable, failure));
    return;
  }

  const std::string running = infoString(*hostBundle_, "CFBundleVersion").value_or("");
  const auto system = ProcessInfo::operatingSystemVersion();
  const auto skipped = userInitiated ? std::nullopt : skippedVersion();
  URLRequest request(*url);
  request.timeoutInterval = requestTimeout;
  request.cachePolicy = URLRequest::CachePolicy::reloadIgnoringLocalCacheData;
  request.setValue("application/rss+xml, application/xml;q=0.9", "Accept");
  // The answer is read here, on the work queue, and only the outcome goes
  // to the main run loop.
  session->task = urlSession_->dataTask(
      std::move(request), [weak, id, running, system, skipped](Data data, std::optional<HTTPURLResponse> response,
                                                               std::optional<URLError> failed) {
        FeedResult result;
        if (failed && failed->code == URLError::dataLengthExceedsMaximum) {
          result.failure = error(SPUError::Code::feedInvalid, "The update feed is larger than 1 MiB.");
        } else if (failed) {
          result.failure = error(SPUError::Code::feedUnavailable,
                                 "The update feed could not be fetched: " + failed->localizedDescription);
        } else if (redirectsOffHttps(*response)) {
          result.failure =
              error(SPUError::Code::feedUnavailable, "The update feed was redirected to an address that is not https.");
        } else if (response->statusCode() != 200) {
          result.failure = error(SPUError::Code::feedUnavailable, "The update feed answered with the status " +
                                                                      std::to_string(response->statusCode()) + ".");
        } else if (!SUIsDottedDecimal(running)) {
          result.failure = error(SPUError::Code::invalidRunningBuild,
                                 "The running build “" + running + "” is not a dotted-decimal version.");
        } else {
          auto reading = SUAppcastRead(data);
          if (!reading.appcast) {
            result.failure = error(SPUError::Code::feedInvalid, reading.error);
          } else {
            result.choice = SUAppcastChoose(*reading.appcast, running, system, skipped);
          }
        }
        DispatchQueue::main()->async([weak, id, result = std::move(result)]() mutable {
          if (auto self = weak.lock()) self->feedArrived(id, std::move(result));
        });
      });
  // A longer feed is refused whole, so its transfer stops as soon as it
  // passes the limit (or declares it will).
  session->task->setMaximumBodyLength(SUAppcastMaximumBytes);
  session->task->resume();
}

void SPUUpdater::cancelSession(std::uint64_t id) {
  if (!session_ || session_->id != id) return;
  if (session_->task) session_->task->cancel();
  finish(std::nullopt);
}

void SPUUpdater::feedArrived(std::uint64_t id, FeedResult result) {
  if (!session_ || session_->id != id) return;
  if (result.failure) {
    fail(*result.failure);
    return;
  }
  const auto told = delegate();
  if (!result.choice.update) {
    SPUError none = error(SPUError::Code::noUpdate, "You’re running the newest version available.");
    none.reason = SPUError::NoUpdateReason::onLatestVersion;
    if (result.choice.needsNewerSystem) {
      none.reason = SPUError::NoUpdateReason::systemIsTooOld;
      none.item = result.choice.needsNewerSystem;
      none.localizedDescription = "The newest version needs a newer version of the system.";
    }
    if (told) told->updaterDidNotFindUpdate(*this, none);
    if (!session_->userInitiated) {
      finish(none);
      return;
    }
    std::weak_ptr<SPUUpdater> weak = weak_from_this();
    userDriver_->showUpdateNotFoundWithError(none, [weak, id, none] {
      auto self = weak.lock();
      if (self && self->session_ && self->session_->id == id) self->finish(none);
    });
    return;
  }
  session_->item = result.choice.update;
  if (told) told->updaterDidFindValidUpdate(*this, *result.choice.update);
  if (!session_ || session_->id != id) return;
  offer(*result.choice.update);
}

void SPUUpdater::offer(const SUAppcastItem& item) {
  if (!session_->userInitiated && automaticallyDownloads_.value() && allowsAutomaticUpdates_.value()) {
    download(item);
    return;
  }
  session_->quiet = false;
  SPUUserUpdateState state;
  state.userInitiated = session_->userInitiated;
  std::weak_ptr<SPUUpdater> weak = weak_from_this();
  const std::uint64_t id = session_->id;
  userDriver_->showUpdateFoundWithAppcastItem(item, state, [weak, id](SPUUserUpdateChoice choice) {
    if (auto self = weak.lock()) self->answered(id, choice);
  });
}

void SPUUpdater::answered(std::uint64_t id, SPUUserUpdateChoice choice) {
  if (!session_ || session_->id != id || !session_->item) return;
  switch (choice) {
    case SPUUserUpdateChoice::install:
      userDriver_->showDownloadInitiated();
      download(*session_->item);
      return;
    case SPUUserUpdateChoice::skip:
      NSUserDefaults::standardUserDefaults()->setObject(session_->item->versionString, skippedVersionKey);
      finish(std::nullopt);
      return;
    case SPUUserUpdateChoice::dismiss:
      finish(std::nullopt);
      return;
  }
}

void SPUUpdater::download(const SUAppcastItem& item) {
  const std::uint64_t limit = std::min(item.contentLength.value_or(maximumArchiveBytes), maximumArchiveBytes);
  if (item.contentLength && *item.contentLength > maximumArchiveBytes) {
    fail(error(SPUError::Code::downloadFailed, "The update is larger than 64 MiB."));
    return;
  }
  const auto url = NSURL::URLWithString(item.fileURL);
  if (!url || url->scheme() != "https") {
    fail(error(SPUError::Code::downloadFailed, "The update’s download is not an https URL."));
    return;
  }
  URLRequest request(*url);
  request.timeoutInterval = requestTimeout;
  const std::uint64_t id = session_->id;
  std::weak_ptr<SPUUpdater> weak = weak_from_this();
  const auto folder = downloadsDirectory();
  const auto declared = item.contentLength;
  session_->task = urlSession_->dataTask(
      std::move(request), [weak, id, limit, declared, folder, key = publicKey_, signature = item.edSignature,
                           name = item.versionString](Data data, std::optional<HTTPURLResponse> response,
                                                      std::optional<URLError> failed) {
        ArchiveResult result;
        const auto failWith = [&](SPUError::Code code, std::string text) { result.failure = error(code, std::move(text)); };
        if (failed && failed->code == URLError::dataLengthExceedsMaximum) {
          failWith(SPUError::Code::downloadFailed, declared ? "The update’s download is not the length the feed declares."
                                                            : "The update is larger than 64 MiB.");
        } else if (failed) {
          failWith(SPUError::Code::downloadFailed, "The update could not be downloaded: " + failed->localizedDescription);
        } else if (redirectsOffHttps(*response)) {
          failWith(SPUError::Code::downloadFailed, "The update’s download was redirected to an address that is not https.");
        } else if (response->statusCode() != 200) {
          failWith(SPUError::Code::downloadFailed, "The update’s download answered with the status " +
                                                       std::to_string(response->statusCode()) + ".");
        } else if (data.size() > limit || (declared && data.size() != *declared)) {
          failWith(SPUError::Code::downloadFailed, "The update’s download is not the length the feed declares.");
        } else if (!SUVerifyEd25519Signature(data, signature, key)) {
          // Checked before a byte is stored: what is not the signed archive
          // never reaches the disk.
          failWith(SPUError::Code::signatureInvalid, "The update is improperly signed and could not be validated.");
        } else if (folder) {
          std::string failure;
          result.archive = storeArchive(*folder, name, data, &failure);
          if (!result.archive) failWith(SPUError::Code::downloadFailed, failure);
        }
        DispatchQueue::main()->async([weak, id, result = std::move(result)]() mutable {
          if (auto self = weak.lock()) self->archiveArrived(id, std::move(result));
        });
      });
  // The transfer stops once it passes what the feed declared (or 64 MiB),
  // so an archive never grows past what its check would refuse.
  session_->task->setMaximumBodyLength(static_cast<std::size_t>(limit));
  session_->task->resume();
}

void SPUUpdater::archiveArrived(std::uint64_t id, ArchiveResult result) {
  if (!session_ || session_->id != id) return;
  session_->archive = std::move(result.archive);
  // Verified or not, nothing installs here.
  fail(result.failure ? *result.failure : error(SPUError::Code::installationUnsupported, kCannotInstall));
}

void SPUUpdater::fail(const SPUError& failure) {
  const std::uint64_t id = session_->id;
  if (auto told = delegate()) told->updaterDidAbortWithError(*this, failure);
  if (!session_ || session_->id != id) return;
  if (session_->quiet) {
    finish(failure);
    return;
  }
  std::weak_ptr<SPUUpdater> weak = weak_from_this();
  userDriver_->showUpdaterError(failure, [weak, id, failure] {
    auto self = weak.lock();
    if (self && self->session_ && self->session_->id == id) self->finish(failure);
  });
}

void SPUUpdater::finish(std::optional<SPUError> failure) {
  auto session = std::move(session_);
  if (!session) return;
  session->archive.reset();
  const auto check = session->userInitiated ? SPUUpdateCheck::updates : SPUUpdateCheck::updatesInBackground;
  if (auto told = delegate()) told->updaterDidFinishUpdateCycle(*this, check, failure);
  userDriver_->dismissUpdateInstallation();
  canCheck_.set(true);
}

}  // namespace platform
