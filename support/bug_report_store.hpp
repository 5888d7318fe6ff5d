#pragma once

// The model behind the bug-report form: the three texts the user types, their
// validation, the persisted rate limit, one report sent as a JSON POST to
// "api/app-bug-reports" below the site's root, and the answer turned into the
// sent state or a sentence in `error`. The same store runs the release check
// against "releases.json" and publishes its outcome in `versionState`.
//
// Main thread only. Requests run on the session's own networking thread;
// their answers come back on the main queue, and a send or check that
// finishes after the store is gone does nothing. A report resent after a lost
// answer, a stop or a failure carries the same report id (its texts
// unchanged), so the service can drop the duplicate.
//
// The session is ephemeral with no cookies, credentials or cache, and
// refuses every redirect, so a 3xx answer reaches the answer handling as it
// is. The request timeouts (15 s for a report, 10 s for the release list)
// are idle timeouts. Each answer is capped at what a real one can be
// (kMaximumReportAnswerBytes, kMaximumReleaseListBytes): a longer body stops
// its transfer and is refused before anything decodes it. The service's own
// sentence is shown only when it is short and plain
// (platform::isShowableText); otherwise ours is.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/coding/data.hpp"
#include "platform/combine/published.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/foundation/url.hpp"
#include "platform/network/url_session.hpp"
#include "support/bug_report_rate_state.hpp"
#include "support/bug_report_release.hpp"

namespace vurle {

// The largest answer to a report that is read. A real one holds an id, two
// flags and a sentence of at most kMaximumServiceSentenceLength characters,
// well under 4 KiB even with every character escaped; the rest is room for
// a short error page in front of a status we act on.
inline constexpr std::size_t kMaximumReportAnswerBytes = 16384;
// The longest sentence of the service's that is shown, in UTF-16 code units.
inline constexpr std::size_t kMaximumServiceSentenceLength = 300;

// Facts about this build, read once when the store is made.
struct BugReportMetadata {
  std::string version;         // CFBundleShortVersionString, else "Unknown"
  std::string build;           // CFBundleVersion, else "Unknown"
  std::string macOS;           // the running system, always three numbers: "14.0.0"
  std::string releaseChannel;  // "beta" when VurleReleaseChannel says exactly that, else "stable"

  // From the main bundle's information dictionary and the running system.
  static BugReportMetadata current();
  bool operator==(const BugReportMetadata&) const = default;
};

// Refuses every redirect: the answer is handed back with its 3xx status.
class BugReportSessionDelegate : public platform::URLSessionTaskDelegate {
 public:
  void willPerformHTTPRedirection(const platform::HTTPURLResponse& response, const platform::URLRequest& newRequest,
                                  const std::function<void(std::optional<platform::URLRequest>)>& completionHandler)
      override;
};

class BugReportStore : public std::enable_shared_from_this<BugReportStore> {
 public:
  using Clock = std::function<double()>;  // seconds since 1970

  // The service's answer: every key optional. A body that is not a JSON
  // object of these keys (a value of another type included) is no result.
  struct Result {
    std::optional<bool> accepted;
    std::optional<std::string> id;
    std::optional<std::string> error;
    std::optional<bool> restart;

    static std::optional<Result> decode(const platform::Data& data);
  };

  struct Options {
    std::shared_ptr<platform::NSUserDefaults> defaults;  // null: the standard user defaults
    Clock clock;                                         // empty: defaultClock
    std::optional<BugReportMetadata> metadata;           // absent: BugReportMetadata::current()
    // The root both endpoints lie below, as text; absent: the site's root
    // (siteBaseURL()), so a configured root moves links and reports together.
    // A text that is not a URL leaves the store without one.
    std::optional<std::string> baseURL;
    double reportTimeout = 15.0;       // seconds without a byte
    double releaseListTimeout = 10.0;  // seconds without a byte
  };

  static constexpr const char* rateKey = "bugReportRateState.v1";
  static constexpr double releaseCheckSpacing = 300.0;

  static std::shared_ptr<BugReportStore> make();
  static std::shared_ptr<BugReportStore> make(Options options);
  // The one store of the process, made on first use.
  static std::shared_ptr<BugReportStore> shared();
  // The current date in seconds since 1970.
  static double defaultClock();

  // The first failing check's sentence, or none. Every text is trimmed of
  // white space and newlines first; lengths count UTF-16 code units. Text
  // that is not well-formed UTF-8 fails before anything else, with the
  // control-character sentence.
  static std::optional<std::string> validationError(const std::string& summary, const std::string& details,
                                                    const std::string& email);

  const std::string& summary() const { return summary_.value(); }
  const std::string& details() const { return details_.value(); }
  const std::string& email() const { return email_.value(); }
  void setSummary(std::string text) { summary_.set(std::move(text)); }
  void setDetails(std::string text) { details_.set(std::move(text)); }
  void setEmail(std::string text) { email_.set(std::move(text)); }
  bool isSending() const { return isSending_.value(); }
  bool didSend() const { return didSend_.value(); }
  const std::optional<std::string>& error() const { return error_.value(); }
  const BugReportVersionState& versionState() const { return versionState_.value(); }

  platform::Publisher<std::string> summaryPublisher() const { return summary_.publisher(); }
  platform::Publisher<std::string> detailsPublisher() const { return details_.publisher(); }
  platform::Publisher<std::string> emailPublisher() const { return email_.publisher(); }
  platform::Publisher<bool> isSendingPublisher() const { return isSending_.publisher(); }
  platform::Publisher<bool> didSendPublisher() const { return didSend_.publisher(); }
  platform::Publisher<std::optional<std::string>> errorPublisher() const { return error_.publisher(); }
  platform::Publisher<BugReportVersionState> versionStatePublisher() const { return versionState_.publisher(); }

  const BugReportMetadata& metadata() const { return metadata_; }
  const std::optional<platform::NSURL>& baseURL() const { return baseURL_; }
  const BugReportRateState& rate() const { return rate_; }
  std::optional<double> lastVersionCheck() const { return lastVersionCheck_; }

  // The Send action: validates, applies the rate limit and sends; every
  // outcome lands in the published properties. Does nothing while sending
  // or sent.
  void submit();
  // Stops a running send (the form was closed); a retry keeps the report id.
  void cancelSending();
  // Empties the texts for a fresh report, unless a send runs.
  void reset();

  // Fetches the release list unless a check runs, there is no base URL or
  // the last check began less than releaseCheckSpacing ago.
  void checkForNewerRelease();

  // Whole seconds until a report may be sent, from the persisted record
  // (the in-memory one when none decodes). Changes nothing.
  std::int64_t remainingWait() const;
  // Replaces the in-memory record with the persisted one when it decodes.
  void loadRateState();
  // Persists the in-memory record; a record that cannot be encoded is not.
  void saveRateState();

  // The release-check outcome of a list body (see bug_report_release.hpp).
  static std::optional<BugReportVersionState> versionState(const platform::Data& data,
                                                           const BugReportMetadata& metadata) {
    return versionStateFromReleaseList(data, metadata);
  }

 private:
  struct Task;

  explicit BugReportStore(Options options);
  void send(const std::string& requestID, platform::URLRequest request, const std::string& reportID);
  void handleResponse(const Task& task, const platform::Data& data,
                      const std::optional<platform::HTTPURLResponse>& response);
  void handleSendFailure(const Task& task, const platform::URLError& error);
  void finishSending(const std::optional<std::string>& requestID);
  void fetchReleases(const platform::NSURL& baseURL);
  void finishReleaseCheck(const platform::Data& data, const std::optional<platform::HTTPURLResponse>& response,
                          const std::optional<platform::URLError>& error);
  bool isBeta() const { return metadata_.releaseChannel == "beta"; }

  platform::Published<std::string> summary_{std::string()};
  platform::Published<std::string> details_{std::string()};
  platform::Published<std::string> email_{std::string()};
  platform::Published<bool> isSending_{false};
  platform::Published<bool> didSend_{false};
  platform::Published<std::optional<std::string>> error_{std::nullopt};
  platform::Published<BugReportVersionState> versionState_{BugReportVersionState{}};

  const BugReportMetadata metadata_;
  const std::optional<platform::NSURL> baseURL_;
  const std::shared_ptr<platform::URLSession> session_;
  const std::shared_ptr<platform::NSUserDefaults> defaults_;
  const Clock clock_;
  const double reportTimeout_;
  const double releaseListTimeout_;
  BugReportRateState rate_;
  // The report being sent or last sent without success: fingerprint and id.
  std::optional<std::pair<std::string, std::string>> pending_;
  std::shared_ptr<Task> sendingTask_;
  std::shared_ptr<platform::URLSessionTask> versionTask_;
  std::optional<double> lastVersionCheck_;
  // The current send; a finishing send touches the store only while its own
  // id is still current.
  std::optional<std::string> requestID_;
};

}  // namespace vurle
