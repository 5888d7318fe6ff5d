#include "support/bug_report_store.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {
namespace {

using platform::Data;
using platform::HTTPURLResponse;
using platform::JSON;
using platform::isControlCharacter;
using platform::isWhiteSpace;
using platform::trimmingWhiteSpace;
using platform::unicodeScalars;
using platform::utf16Length;

constexpr const char* kSummaryMessage = "Add a summary between 4 and 120 characters.";
constexpr const char* kDetailsMessage = "Describe what happened in 20–6,000 characters.";
constexpr const char* kEmailMessage = "Check your email address, or leave it blank.";
constexpr const char* kControlMessage = "Remove control characters from the report.";
constexpr const char* kUnavailableMessage = "Reporting is unavailable in this build.";
constexpr const char* kNotSavedMessage = "Couldn’t save your report. Your text is still here; try again.";
constexpr const char* kNotSentMessage =
    "Couldn’t send your report. Your text is still here; check your connection and try again.";
constexpr const char* kStoppedMessage =
    "Sending was stopped. If it already arrived, retrying this report won’t send it twice.";

constexpr double kDefaultRetryAfter = 60.0;

// A random (version 4) UUID in lower-case text form, 36 characters.
std::string randomUUIDString() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  unsigned char bytes[16];
  for (int i = 0; i < 16; i += 8) {
    const std::uint64_t word = generator();
    for (int k = 0; k < 8; ++k) bytes[i + k] = static_cast<unsigned char>(word >> (8 * k));
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

// "^[^\s@]+@[^\s@]+\.[^\s@]+$" over trimmed text, \s being White_Space: one
// "@" with something before it, and after it a "." with something on both
// sides; no white space anywhere.
bool looksLikeEmail(const std::string& email) {
  const std::u32string scalars = unicodeScalars(email);
  if (std::any_of(scalars.begin(), scalars.end(), isWhiteSpace)) return false;
  if (std::count(scalars.begin(), scalars.end(), U'@') != 1) return false;
  const std::size_t at = scalars.find(U'@');
  const std::u32string domain = scalars.substr(at + 1);
  if (at == 0 || domain.size() < 3) return false;
  const std::size_t dot = domain.find(U'.', 1);
  return dot != std::u32string::npos && dot < domain.size() - 1;
}

bool hasControlCharacter(const std::string& text) {
  const std::u32string scalars = unicodeScalars(text);
  return std::any_of(scalars.begin(), scalars.end(),
                     [](char32_t scalar) { return isControlCharacter(scalar) && !isWhiteSpace(scalar); });
}

std::string infoString(const platform::NSBundle& bundle, const char* key, const char* fallback) {
  const auto* value = bundle.objectForInfoDictionaryKey(key);
  return value && value->string() ? *value->string() : fallback;
}

// A "Retry-After" of decimal seconds ("0.2", "1e3"), else absent.
std::optional<double> decimalSeconds(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const std::size_t digitsStart = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  std::size_t digits = i - digitsStart;
  if (i < text.size() && text[i] == '.') {
    const std::size_t fractionStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    digits += i - fractionStart;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const std::size_t exponentStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == exponentStart) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  return std::strtod(text.c_str(), nullptr);
}

platform::ProcessWide<std::shared_ptr<BugReportStore>> sharedStore([] { return BugReportStore::make(); });

}  // namespace

// ---------------------------------------------------------------------------

BugReportMetadata BugReportMetadata::current() {
  const auto bundle = platform::NSBundle::mainBundle();
  const auto system = platform::ProcessInfo::operatingSystemVersion();
  const auto* channel = bundle->objectForInfoDictionaryKey("VurleReleaseChannel");
  return {
      infoString(*bundle, "CFBundleShortVersionString", "Unknown"),
      infoString(*bundle, "CFBundleVersion", "Unknown"),
      std::to_string(system.majorVersion) + "." + std::to_string(system.minorVersion) + "." +
          std::to_string(system.patchVersion),
      channel && channel->string() && *channel->string() == "beta" ? "beta" : "stable",
  };
}

void BugReportSessionDelegate::willPerformHTTPRedirection(
    const platform::HTTPURLResponse&, const platform::URLRequest&,
    const std::function<void(std::optional<platform::URLRequest>)>& completionHandler) {
  completionHandler(std::nullopt);
}

std::optional<BugReportStore::Result> BugReportStore::Result::decode(const Data& data) {
  try {
    const JSON json = platform::JSONDecode(data);
    if (!json.is_object()) return std::nullopt;
    Result result;
    bool wellTyped = true;
    auto read = [&](const char* key, auto& field, auto isType, auto get) {
      auto found = json.find(key);
      if (found == json.end() || found->is_null()) return;
      if (!isType(*found)) {
        wellTyped = false;
        return;
      }
      field = get(*found);
    };
    auto isBool = [](const JSON& v) { return v.is_boolean(); };
    auto isString = [](const JSON& v) { return v.is_string(); };
    auto getBool = [](const JSON& v) { return v.get<bool>(); };
    auto getString = [](const JSON& v) { return v.get<std::string>(); };
    read("accepted", result.accepted, isBool, getBool);
    read("id", result.id, isString, getString);
    read("error", result.error, isString, getString);
    read("restart", result.restart, isBool, getBool);
    if (!wellTyped) return std::nullopt;
    return result;
  } catch (const platform::DecodingError&) {
    return std::nullopt;
  }
}

// A send in flight: its request id, the report id in its body, and whether
// the user stopped it.
struct BugReportStore::Task {
  std::string requestID;
  std::string reportID;
  // Weak: the session holds the request while it runs, and the request's
  // handler holds this task.
  std::weak_ptr<platform::URLSessionTask> request;
  bool cancelled = false;
};

std::shared_ptr<BugReportStore> BugReportStore::make() { return make(Options{}); }

std::shared_ptr<BugReportStore> BugReportStore::make(Options options) {
  return std::shared_ptr<BugReportStore>(new BugReportStore(std::move(options)));
}

std::shared_ptr<BugReportStore> BugReportStore::shared() { return sharedStore.get(); }

double BugReportStore::defaultClock() { return platform::wallClockTime(); }

namespace {

std::shared_ptr<platform::URLSession> makeReportSession() {
  auto configuration = platform::URLSessionConfiguration::ephemeral();
  configuration.httpCookieStorage = nullptr;
  configuration.httpShouldSetCookies = false;
  // Answers resume the store's work on the main queue, where it lives.
  return platform::URLSession::make(std::move(configuration), std::make_shared<BugReportSessionDelegate>(),
                                    platform::DispatchQueue::main());
}

std::optional<platform::NSURL> resolveBaseURL(const std::optional<std::string>& text) {
  return text ? platform::NSURL::URLWithString(*text) : siteBaseURL();
}

}  // namespace

BugReportStore::BugReportStore(Options options)
    : metadata_(options.metadata ? std::move(*options.metadata) : BugReportMetadata::current()),
      baseURL_(resolveBaseURL(options.baseURL)),
      session_(makeReportSession()),
      defaults_(options.defaults ? std::move(options.defaults) : platform::NSUserDefaults::standardUserDefaults()),
      clock_(options.clock ? std::move(options.clock) : Clock(&BugReportStore::defaultClock)),
      reportTimeout_(options.reportTimeout),
      releaseListTimeout_(options.releaseListTimeout) {
  loadRateState();
}

// ---------------------------------------------------------------------------
// Validation and submission

std::optional<std::string> BugReportStore::validationError(const std::string& summary, const std::string& details,
                                                           const std::string& email) {
  // Checked first: such text could never be encoded for sending.
  if (!platform::isValidUTF8(summary) || !platform::isValidUTF8(details) || !platform::isValidUTF8(email)) {
    return kControlMessage;
  }
  const std::string trimmedSummary = trimmingWhiteSpace(summary);
  const std::string trimmedDetails = trimmingWhiteSpace(details);
  const std::string trimmedEmail = trimmingWhiteSpace(email);
  const std::size_t summaryLength = utf16Length(trimmedSummary);
  if (summaryLength < 4 || summaryLength > 120) return kSummaryMessage;
  const std::size_t detailsLength = utf16Length(trimmedDetails);
  if (detailsLength < 20 || detailsLength > 6000) return kDetailsMessage;
  if (utf16Length(trimmedEmail) >= 255) return kEmailMessage;
  if (!trimmedEmail.empty() && !looksLikeEmail(trimmedEmail)) return kEmailMessage;
  if (hasControlCharacter(trimmedSummary) || hasControlCharacter(trimmedDetails) || hasControlCharacter(trimmedEmail)) {
    return kControlMessage;
  }
  return std::nullopt;
}

void BugReportStore::submit() {
  if (isSending() || didSend()) return;
  if (auto message = validationError(summary(), details(), email())) {
    error_.set(std::move(message));
    return;
  }
  if (!baseURL_) {
    error_.set(kUnavailableMessage);
    return;
  }
  if (remainingWait() > 0) {
    error_.set(retryMessage(remainingWait()));
    return;
  }
  loadRateState();

  JSON fields = {
      {"category", "app"},
      {"summary", trimmingWhiteSpace(summary())},
      {"details", trimmingWhiteSpace(details())},
      {"email", trimmingWhiteSpace(email())},
      {"appVersion", metadata_.version + " (" + metadata_.build + ")"},
      {"macOSVersion", metadata_.macOS},
  };
  // Compact, keys sorted (the JSON object keeps them so): equal texts give
  // equal fingerprints.
  std::string fingerprint;
  Data body;
  try {
    fingerprint = platform::stringFromData(platform::JSONEncode(fields));
  } catch (const platform::EncodingError&) {
    return;
  }
  if (!pending_ || pending_->first != fingerprint) pending_.emplace(fingerprint, randomUUIDString());
  const std::string reportID = pending_->second;
  fields["id"] = reportID;
  try {
    body = platform::JSONEncode(fields);
  } catch (const platform::EncodingError&) {
    return;
  }

  platform::URLRequest request(baseURL_->URLByAppendingPathComponent("api/app-bug-reports"));
  request.httpMethod = "POST";
  request.timeoutInterval = reportTimeout_;
  request.setValue("application/json", "Content-Type");
  request.setValue(isBeta() ? "beta" : "stable", "X-Vurle-Release-Channel");
  request.httpBody = std::move(body);

  // An attempt counts when it starts, whatever its outcome.
  const double now = clock_();
  rate_.prune(now);
  rate_.attempts.push_back(clock_());
  saveRateState();

  isSending_.set(true);
  error_.set(std::nullopt);
  const std::string requestID = randomUUIDString();
  requestID_ = requestID;
  send(requestID, std::move(request), reportID);
}

void BugReportStore::send(const std::string& requestID, platform::URLRequest request, const std::string& reportID) {
  auto task = std::make_shared<Task>(Task{requestID, reportID, {}, false});
  auto dataTask = session_->dataTask(
      std::move(request), [weak = weak_from_this(), task](Data data, std::optional<HTTPURLResponse> response,
                                                          std::optional<platform::URLError> error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
          self->handleSendFailure(*task, *error);
        } else {
          self->handleResponse(*task, data, response);
        }
      });
  task->request = dataTask;
  sendingTask_ = task;
  dataTask->setMaximumBodyLength(kMaximumReportAnswerBytes);
  dataTask->resume();
}

void BugReportStore::handleResponse(const Task& task, const Data& data, const std::optional<HTTPURLResponse>& response) {
  if (task.cancelled || !response) {
    handleSendFailure(task, platform::URLError{platform::URLError::badServerResponse, "not an HTTP response"});
    return;
  }
  const auto result = Result::decode(data);
  const int status = response->statusCode();
  if (status == 429) {
    double delay = kDefaultRetryAfter;
    if (auto header = response->valueForHTTPHeaderField("Retry-After")) {
      const auto seconds = decimalSeconds(*header);
      if (seconds && std::isfinite(*seconds)) delay = std::clamp(*seconds, 1.0, 3600.0);
    }
    loadRateState();
    rate_.blockedUntil = std::max(rate_.blockedUntil, clock_() + delay);
    saveRateState();
    error_.set(retryMessage(static_cast<std::int64_t>(std::ceil(delay))));
  } else {
    // A conflicting report the service will not take again: the next send
    // is a new report.
    if (status == 409 && result && result->restart == true) pending_.reset();
    if ((status == 200 || status == 201) && result && result->accepted == true && result->id == task.reportID) {
      loadRateState();
      rate_.prune(clock_());
      rate_.sent.push_back(clock_());
      saveRateState();
      didSend_.set(true);
      summary_.set(std::string());
      details_.set(std::string());
      email_.set(std::string());
      pending_.reset();
    } else {
      // A blank, long or tampered sentence from the service gives way to ours.
      const bool hasSentence =
          result && result->error && platform::isShowableText(*result->error, kMaximumServiceSentenceLength);
      error_.set(hasSentence ? *result->error : std::string(kNotSavedMessage));
    }
  }
  finishSending(task.requestID);
}

void BugReportStore::handleSendFailure(const Task& task, const platform::URLError& error) {
  // An answer too long to be one arrived, but says nothing we can read.
  const bool unreadable = error.code == platform::URLError::dataLengthExceedsMaximum;
  if (!task.cancelled) error_.set(unreadable ? kNotSavedMessage : kNotSentMessage);
  finishSending(task.requestID);
}

void BugReportStore::finishSending(const std::optional<std::string>& requestID) {
  if (requestID_ != requestID) return;
  isSending_.set(false);
  sendingTask_.reset();
}

void BugReportStore::cancelSending() {
  if (!isSending()) return;
  if (sendingTask_) {
    sendingTask_->cancelled = true;
    if (auto request = sendingTask_->request.lock()) request->cancel();
    sendingTask_.reset();
  }
  requestID_.reset();
  isSending_.set(false);
  error_.set(kStoppedMessage);
}

void BugReportStore::reset() {
  if (isSending()) return;
  summary_.set(std::string());
  details_.set(std::string());
  email_.set(std::string());
  didSend_.set(false);
  error_.set(std::nullopt);
  pending_.reset();
}

// ---------------------------------------------------------------------------
// Rate limit

std::int64_t BugReportStore::remainingWait() const {
  std::optional<BugReportRateState> stored;
  if (auto data = defaults_->dataForKey(rateKey)) stored = BugReportRateState::decoded(*data);
  const BugReportRateState& record = stored ? *stored : rate_;
  return BugReportRateState::waitSeconds(isBeta(), record.attempts, record.sent, clock_(), record.blockedUntil);
}

void BugReportStore::loadRateState() {
  auto data = defaults_->dataForKey(rateKey);
  if (!data) return;
  if (auto stored = BugReportRateState::decoded(*data)) rate_ = std::move(*stored);
}

void BugReportStore::saveRateState() {
  if (auto data = rate_.encoded()) defaults_->setObject(std::move(*data), rateKey);
}

// ---------------------------------------------------------------------------
// Release check

void BugReportStore::checkForNewerRelease() {
  if (versionTask_ || !baseURL_) return;
  const double now = clock_();
  // A last check in the future (the clock went back) does not hold this one off.
  if (lastVersionCheck_ && *lastVersionCheck_ <= now && now - *lastVersionCheck_ < releaseCheckSpacing) return;
  lastVersionCheck_ = now;
  versionState_.set(BugReportVersionState::of(BugReportVersionState::Kind::checking));
  fetchReleases(*baseURL_);
}

void BugReportStore::fetchReleases(const platform::NSURL& baseURL) {
  platform::URLRequest request(baseURL.URLByAppendingPathComponent("releases.json"));
  request.timeoutInterval = releaseListTimeout_;
  request.cachePolicy = platform::URLRequest::CachePolicy::reloadIgnoringLocalCacheData;
  versionTask_ = session_->dataTask(std::move(request), [weak = weak_from_this()](
                                                            Data data, std::optional<HTTPURLResponse> response,
                                                            std::optional<platform::URLError> error) {
    if (auto self = weak.lock()) self->finishReleaseCheck(data, response, error);
  });
  versionTask_->setMaximumBodyLength(kMaximumReleaseListBytes);
  versionTask_->resume();
}

void BugReportStore::finishReleaseCheck(const Data& data, const std::optional<HTTPURLResponse>& response,
                                        const std::optional<platform::URLError>& error) {
  using Kind = BugReportVersionState::Kind;
  std::optional<BugReportVersionState> state;
  if (!error && response && response->statusCode() == 200) state = versionState(data, metadata_);
  versionState_.set(state.value_or(BugReportVersionState::of(Kind::unavailable)));
  versionTask_.reset();
}

}  // namespace vurle
