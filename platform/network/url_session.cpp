#include "platform/network/url_session.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <map>
#include <unordered_map>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

// The networking thread measures idle time on the real monotonic clock: it
// waits on real sockets, which no virtual clock can move. Only a test moves
// it on (URLSession::advanceIdleClockForTesting).
using SteadyClock = std::chrono::steady_clock;

constexpr int kMaximumRedirects = 16;
constexpr double kDefaultTimeout = 60.0;
// The longest the thread sleeps between looks at a running transfer's
// deadlines; cancels and new tasks wake it at once. With no transfer it
// sleeps until one of those comes.
constexpr int kLongestPollMilliseconds = 1000;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string trimmedOWS(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  const auto end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::optional<std::string> lookUp(const HTTPHeaderFields& fields, const std::string& field) {
  auto found = fields.find(field);
  if (found == fields.end()) return std::nullopt;
  return found->second;
}

URLError errorFor(CURLcode code, const char* detail, bool tooLarge) {
  URLError::Code mapped = URLError::unknown;
  switch (code) {
    case CURLE_URL_MALFORMAT:
      mapped = URLError::badURL;
      break;
    case CURLE_UNSUPPORTED_PROTOCOL:
      mapped = URLError::unsupportedURL;
      break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      mapped = URLError::cannotFindHost;
      break;
    case CURLE_COULDNT_CONNECT:
      mapped = URLError::cannotConnectToHost;
      break;
    case CURLE_OPERATION_TIMEDOUT:
      mapped = URLError::timedOut;
      break;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      mapped = URLError::networkConnectionLost;
      break;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      mapped = URLError::badServerResponse;
      break;
    case CURLE_WRITE_ERROR:
      mapped = tooLarge ? URLError::dataLengthExceedsMaximum : URLError::unknown;
      break;
    case CURLE_FILESIZE_EXCEEDED:
      mapped = URLError::dataLengthExceedsMaximum;
      break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      mapped = URLError::secureConnectionFailed;
      break;
    default:
      break;
  }
  // libcurl's own words for this one ("Failure writing output to
  // destination", "Maximum file size exceeded") would mislead.
  if (mapped == URLError::dataLengthExceedsMaximum) return URLError{mapped, "The resource exceeds the maximum size."};
  std::string text = detail && *detail ? detail : curl_easy_strerror(code);
  return URLError{mapped, std::move(text)};
}

// Test routes from an https host to another base; made once and kept to the
// end of the process, so no exit-time destructor races a late request.
struct Routes {
  Routes() {
    addResetHook(this, [this] {
      std::lock_guard<std::mutex> lock(mutex);
      bases.clear();
    });
  }
  std::mutex mutex;
  std::map<std::string, std::string> bases;  // host -> base text without its trailing "/"
};

Routes& routes() {
  static Routes* const shared = new Routes();
  return *shared;
}

// The text the transfer really asks for.
std::string routedText(const NSURL& url) {
  const std::string& text = url.absoluteString();
  auto& table = routes();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const auto& [host, base] : table.bases) {
    const std::string prefix = "https://" + host;
    if (text.compare(0, prefix.size(), prefix) != 0) continue;
    const char next = text.size() > prefix.size() ? text[prefix.size()] : '/';
    if (next == '/' || next == '?' || next == '#') return base + text.substr(prefix.size());
  }
  return text;
}

}  // namespace

void URLSession::routeHostForTesting(const std::string& host, const NSURL& base) {
  std::string text = base.absoluteString();
  while (!text.empty() && text.back() == '/') text.pop_back();
  auto& table = routes();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.bases[host] = std::move(text);
}

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lowerASCII(x) < lowerASCII(y); });
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(const std::string& field) const {
  return lookUp(allHTTPHeaderFields, field);
}

std::optional<std::string> HTTPURLResponse::valueForHTTPHeaderField(const std::string& field) const {
  return lookUp(headers_, field);
}

void URLSessionTaskDelegate::willPerformHTTPRedirection(
    const HTTPURLResponse&, const URLRequest& newRequest,
    const std::function<void(std::optional<URLRequest>)>& completionHandler) {
  completionHandler(newRequest);
}

// ---------------------------------------------------------------------------
// Cookie storage: a libcurl share handle whose cookie jar several sessions'
// threads may use, so its data is locked per kind.

struct HTTPCookieStorage::Locks {
  std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes;
};

HTTPCookieStorage::HTTPCookieStorage() : locks_(std::make_unique<Locks>()) {
  initialiseCurlOnce();
  CURLSH* share = curl_share_init();
  curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  curl_share_setopt(share, CURLSHOPT_USERDATA, locks_.get());
  curl_lock_function lock = [](CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Locks*>(user)->mutexes[data].lock();
  };
  curl_unlock_function unlock = [](CURL*, curl_lock_data data, void* user) {
    static_cast<Locks*>(user)->mutexes[data].unlock();
  };
  curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock);
  curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock);
  share_ = share;
}

HTTPCookieStorage::~HTTPCookieStorage() { curl_share_cleanup(static_cast<CURLSH*>(share_)); }

std::shared_ptr<HTTPCookieStorage> HTTPCookieStorage::make() {
  return std::shared_ptr<HTTPCookieStorage>(new HTTPCookieStorage());
}

URLSessionConfiguration URLSessionConfiguration::ephemeral() {
  URLSessionConfiguration configuration;
  configuration.httpCookieStorage = HTTPCookieStorage::make();
  return configuration;
}

// ---------------------------------------------------------------------------
// The engine: the networking thread and the transfers it runs. Everything
// under `mutex` is shared with the callers' threads; the transfers belong to
// the thread alone.

struct URLSessionTask::Engine : std::enable_shared_from_this<URLSessionTask::Engine> {
  struct Transfer {
    const Engine* engine = nullptr;
    std::shared_ptr<URLSessionTask> task;
    CompletionHandler handler;
    URLRequest request;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    Data body;
    HTTPHeaderFields responseHeaders;
    std::size_t maximumBody = kURLSessionMaximumBodyLength;
    bool tooLarge = false;
    int redirects = 0;
    double timeout = kDefaultTimeout;
    SteadyClock::time_point lastActivity;
    curl_off_t lastUp = 0;
    curl_off_t lastDown = 0;
    std::array<char, CURL_ERROR_SIZE> errorText{};

    explicit Transfer(URLRequest request) : request(std::move(request)) {}
  };

  Engine(URLSessionConfiguration configuration, std::shared_ptr<URLSessionTaskDelegate> delegate,
         std::shared_ptr<DispatchQueue> queue)
      : configuration(std::move(configuration)), delegate(std::move(delegate)), queue(std::move(queue)) {
    initialiseCurlOnce();
    multi = curl_multi_init();
  }

  ~Engine() { curl_multi_cleanup(multi); }

  void start(std::shared_ptr<URLSessionTask> task) {
    std::lock_guard<std::mutex> lock(mutex);
    if (stopping) return;
    starting.push_back(std::move(task));
    // The thread keeps the engine alive until it has left its loop.
    if (!thread.joinable()) thread = std::thread([self = shared_from_this()] { self->loop(); });
    wakeLocked();
  }

  void cancel(std::uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex);
    cancels.push_back(id);
    wakeLocked();
  }

  // The thread sleeps in one of two places: in curl's poll while transfers
  // run, on `idle` while none does. Called with `mutex` held.
  void wakeLocked() {
    curl_multi_wakeup(multi);
    idle.notify_one();
  }

  void stop() {
    std::thread running;
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      running = std::move(thread);
      wakeLocked();
      looked.notify_all();
    }
    if (!running.joinable()) return;
    // A handler that dropped the last owner of the session on this thread
    // cannot wait for itself.
    if (running.get_id() == std::this_thread::get_id()) {
      running.detach();
    } else {
      running.join();
    }
  }

  void deliver(CompletionHandler handler, const std::shared_ptr<URLSessionTask>& task, Data data,
               std::optional<HTTPURLResponse> response, std::optional<URLError> error) {
    task->state_ = State::completed;
    if (!handler) return;
    queue->async([handler = std::move(handler), data = std::move(data), response = std::move(response),
                  error = std::move(error)]() mutable { handler(std::move(data), std::move(response), std::move(error)); });
  }

  // ---- the networking thread ----

  // The clock idle time is measured on.
  SteadyClock::time_point idleNow() const { return SteadyClock::now() + SteadyClock::duration(clockAhead.load()); }

  // Test seam: moves the idle clock on, then waits until a turn of the loop
  // that began after it has read what had arrived and looked at every
  // transfer's idle time.
  void advanceIdleClock(double seconds) {
    clockAhead += std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds)).count();
    std::unique_lock<std::mutex> lock(mutex);
    if (!thread.joinable()) return;
    const std::uint64_t ticket = ++looksAsked;
    wakeLocked();
    looked.wait(lock, [&] { return looksDone >= ticket || stopping; });
  }
  void lookedLocked(std::uint64_t ticket) {
    if (ticket <= looksDone) return;
    looksDone = ticket;
    looked.notify_all();
  }

  void loop() {
    for (;;) {
      std::vector<std::shared_ptr<URLSessionTask>> newTasks;
      std::vector<std::uint64_t> newCancels;
      std::uint64_t looking = 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopping) break;
        newTasks.swap(starting);
        newCancels.swap(cancels);
        looking = looksAsked;
      }
      for (auto& task : newTasks) begin(std::move(task));
      for (auto id : newCancels) {
        auto found = std::find_if(transfers.begin(), transfers.end(),
                                  [id](const auto& entry) { return entry.second->task->id_ == id; });
        if (found != transfers.end()) fail(found->first, URLError{URLError::cancelled, "cancelled"});
      }
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) finished(message->easy_handle, message->data.result);
      }
      expireIdle();
      if (transfers.empty()) {
        // Nothing has a deadline: no timed wake-up until there is work.
        std::unique_lock<std::mutex> lock(mutex);
        lookedLocked(looking);
        if (waitObserver) waitObserver(std::nullopt);
        idle.wait(lock, [this] { return stopping || !starting.empty() || !cancels.empty() || looksAsked > looksDone; });
        continue;
      }
      const int wait = pollMilliseconds();
      {
        std::lock_guard<std::mutex> lock(mutex);
        lookedLocked(looking);
        if (waitObserver) waitObserver(wait);
      }
      curl_multi_poll(multi, nullptr, 0, wait, nullptr);
    }
    while (!transfers.empty()) release(transfers.begin()->first);
  }

  int pollMilliseconds() {
    long wait = kLongestPollMilliseconds;
    long suggested = -1;
    curl_multi_timeout(multi, &suggested);
    if (suggested >= 0) wait = std::min(wait, suggested);
    const auto now = idleNow();
    for (const auto& [easy, transfer] : transfers) {
      if (!std::isfinite(transfer->timeout)) continue;
      const auto due = transfer->lastActivity + std::chrono::duration_cast<SteadyClock::duration>(
                                                    std::chrono::duration<double>(transfer->timeout));
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count() + 1;
      wait = std::min<long>(wait, std::max<long>(left, 0));
    }
    return static_cast<int>(wait);
  }

  void begin(std::shared_ptr<URLSessionTask> task) {
    auto transfer = std::make_unique<Transfer>(task->request_);
    transfer->engine = this;
    transfer->maximumBody = std::min(task->maximumBodyLength_.load(), kURLSessionMaximumBodyLength);
    transfer->handler = std::move(task->handler_);
    transfer->task = std::move(task);
    // A task cancelled before its transfer began answers at once.
    if (transfer->task->state_ != State::running) {
      deliver(std::move(transfer->handler), transfer->task, {}, std::nullopt,
              URLError{URLError::cancelled, "cancelled"});
      return;
    }
    configure(std::move(transfer));
  }

  // Starts the transfer on its current request with a fresh easy handle.
  void configure(std::unique_ptr<Transfer> transfer) {
    Transfer& t = *transfer;
    curl_slist_free_all(t.headers);  // the previous handle's, if any
    t.headers = nullptr;
    CURL* easy = curl_easy_init();
    t.easy = easy;
    transfers.emplace(easy, std::move(transfer));
    t.body.clear();
    t.responseHeaders.clear();
    t.lastUp = t.lastDown = 0;
    t.lastActivity = idleNow();
    t.timeout = t.request.timeoutInterval > 0 ? t.request.timeoutInterval : kDefaultTimeout;

    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(easy, CURLOPT_URL, routedText(t.request.url).c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    // A declared length past the limit ends the transfer before its body.
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t.maximumBody));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorText.data());
    t.errorText[0] = '\0';

    const std::string& method = t.request.httpMethod;
    const Data* body = t.request.httpBody ? &*t.request.httpBody : nullptr;
    if (method == "GET" && !body) {
      curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
      curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else {
      if (method != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
      curl_easy_setopt(easy, CURLOPT_POST, 1L);
      curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body ? body->size() : 0));
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body && !body->empty() ? reinterpret_cast<const char*>(body->data()) : "");
    }

    // No "Expect: 100-continue" round trip before a body.
    t.headers = curl_slist_append(t.headers, "Expect:");
    for (const auto& [name, value] : t.request.allHTTPHeaderFields) {
      const std::string line = value.empty() ? name + ";" : name + ": " + value;
      t.headers = curl_slist_append(t.headers, line.c_str());
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers);

    if (configuration.httpCookieStorage && configuration.httpShouldSetCookies) {
      curl_easy_setopt(easy, CURLOPT_SHARE, configuration.httpCookieStorage->shareHandle());
      curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
    }

    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Engine::onBody);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Engine::onHeader);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Engine::onProgress);
    curl_multi_add_handle(multi, easy);
  }

  static size_t onBody(char* bytes, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    t.lastActivity = t.engine->idleNow();
    if (t.body.size() + length > t.maximumBody) {
      t.tooLarge = true;
      return 0;
    }
    if (t.body.empty()) {
      // Room for a declared length (never past the limit) at once, rather
      // than doubling towards it.
      curl_off_t declared = -1;
      curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
      if (declared > 0) t.body.reserve(std::min(static_cast<std::size_t>(declared), t.maximumBody));
    }
    t.body.insert(t.body.end(), bytes, bytes + length);
    return length;
  }

  static size_t onHeader(char* bytes, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    t.lastActivity = t.engine->idleNow();
    const std::string line(bytes, length);
    if (line.rfind("HTTP/", 0) == 0) {
      // Each response (an interim one too) starts its own header block.
      t.responseHeaders.clear();
    } else if (auto colon = line.find(':'); colon != std::string::npos && colon > 0) {
      const std::string name = line.substr(0, colon);
      const std::string value = trimmedOWS(line.substr(colon + 1));
      auto [entry, inserted] = t.responseHeaders.emplace(name, value);
      if (!inserted) entry->second += ", " + value;
    }
    return length;
  }

  static int onProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto& t = *static_cast<Transfer*>(user);
    if (down != t.lastDown || up != t.lastUp) {
      t.lastDown = down, t.lastUp = up;
      t.lastActivity = t.engine->idleNow();
    }
    return 0;
  }

  void expireIdle() {
    const auto now = idleNow();
    std::vector<CURL*> expired;
    for (const auto& [easy, transfer] : transfers) {
      const double idle = std::chrono::duration<double>(now - transfer->lastActivity).count();
      if (idle >= transfer->timeout) expired.push_back(easy);
    }
    for (CURL* easy : expired) fail(easy, URLError{URLError::timedOut, "The request timed out."});
  }

  void finished(CURL* easy, CURLcode result) {
    auto& t = *transfers.at(easy);
    if (result != CURLE_OK) {
      fail(easy, errorFor(result, t.errorText.data(), t.tooLarge));
      return;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    HTTPURLResponse response(t.request.url, static_cast<int>(status), t.responseHeaders);
    if (status >= 300 && status < 400 && follow(t, response)) return;
    auto handler = std::move(t.handler);
    auto task = t.task;
    Data body = std::move(t.body);
    release(easy);
    deliver(std::move(handler), task, std::move(body), std::move(response), std::nullopt);
  }

  // True when the transfer goes on with the redirect's target.
  bool follow(Transfer& t, const HTTPURLResponse& response) {
    char* location = nullptr;
    curl_easy_getinfo(t.easy, CURLINFO_REDIRECT_URL, &location);
    if (!location) return false;
    auto target = NSURL::URLWithString(location);
    if (!target) return false;
    URLRequest proposed = t.request;
    proposed.url = *target;
    const int status = response.statusCode();
    if (status == 303 || ((status == 301 || status == 302) && proposed.httpMethod == "POST")) {
      proposed.httpMethod = "GET";
      proposed.httpBody.reset();
    }
    std::optional<URLRequest> chosen;
    if (delegate) {
      delegate->willPerformHTTPRedirection(response, proposed,
                                           [&chosen](std::optional<URLRequest> request) { chosen = std::move(request); });
    } else {
      chosen = std::move(proposed);
    }
    if (!chosen) return false;
    if (++t.redirects > kMaximumRedirects) {
      fail(t.easy, URLError{URLError::httpTooManyRedirects, "too many HTTP redirects"});
      return true;
    }
    auto transfer = std::move(transfers.at(t.easy));
    release(t.easy);
    transfer->request = std::move(*chosen);
    configure(std::move(transfer));
    return true;
  }

  void fail(CURL* easy, URLError error) {
    auto& t = *transfers.at(easy);
    auto handler = std::move(t.handler);
    auto task = t.task;
    release(easy);
    deliver(std::move(handler), task, {}, std::nullopt, std::move(error));
  }

  // Ends the easy handle and forgets its entry (a transfer moved out of the
  // entry lives on).
  void release(CURL* easy) {
    auto found = transfers.find(easy);
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    if (Transfer* t = found->second.get()) {
      curl_slist_free_all(t->headers);
      t->headers = nullptr;
    }
    transfers.erase(found);
  }

  const URLSessionConfiguration configuration;
  const std::shared_ptr<URLSessionTaskDelegate> delegate;
  const std::shared_ptr<DispatchQueue> queue;
  CURLM* multi = nullptr;

  std::mutex mutex;
  std::condition_variable idle;
  URLSession::WaitObserver waitObserver;
  // How far a test moved the idle clock on, and the looks at the transfers
  // it asked for and the thread has done (under `mutex`).
  std::atomic<SteadyClock::rep> clockAhead{0};
  std::uint64_t looksAsked = 0;
  std::uint64_t looksDone = 0;
  std::condition_variable looked;
  std::thread thread;
  bool stopping = false;
  std::vector<std::shared_ptr<URLSessionTask>> starting;
  std::vector<std::uint64_t> cancels;
  std::uint64_t nextID = 1;

  std::unordered_map<CURL*, std::unique_ptr<Transfer>> transfers;  // the thread's own
};

// ---------------------------------------------------------------------------

URLSessionTask::URLSessionTask(std::weak_ptr<Engine> engine, URLRequest request, CompletionHandler handler)
    : engine_(std::move(engine)), request_(std::move(request)), handler_(std::move(handler)) {}

void URLSessionTask::resume() {
  State expected = State::suspended;
  if (!state_.compare_exchange_strong(expected, State::running)) return;
  if (auto engine = engine_.lock()) {
    engine->start(shared_from_this());
  } else {
    state_ = State::completed;
  }
}

void URLSessionTask::cancel() {
  State expected = State::suspended;
  if (state_.compare_exchange_strong(expected, State::canceling)) {
    // Never started: it answers the cancellation on its own.
    if (auto engine = engine_.lock()) {
      engine->deliver(std::move(handler_), shared_from_this(), {}, std::nullopt,
                      URLError{URLError::cancelled, "cancelled"});
    } else {
      state_ = State::completed;
    }
    return;
  }
  expected = State::running;
  if (!state_.compare_exchange_strong(expected, State::canceling)) return;
  if (auto engine = engine_.lock()) engine->cancel(id_);
}

URLSessionTask::State URLSessionTask::state() const { return state_; }

void URLSessionTask::setMaximumBodyLength(std::size_t bytes) {
  if (state_ == State::suspended) maximumBodyLength_ = bytes;
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionTaskDelegate> delegate,
                                             std::shared_ptr<DispatchQueue> delegateQueue) {
  if (!delegateQueue) delegateQueue = DispatchQueue::make("platform.url-session.delegate");
  return std::shared_ptr<URLSession>(
      new URLSession(std::move(configuration), std::move(delegate), std::move(delegateQueue)));
}

URLSession::URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionTaskDelegate> delegate,
                       std::shared_ptr<DispatchQueue> delegateQueue)
    : configuration_(configuration),
      delegateQueue_(delegateQueue),
      engine_(std::make_shared<URLSessionTask::Engine>(std::move(configuration), std::move(delegate),
                                                       std::move(delegateQueue))) {}

URLSession::~URLSession() { engine_->stop(); }

void URLSession::advanceIdleClockForTesting(double seconds) { engine_->advanceIdleClock(seconds); }

void URLSession::setNetworkWaitObserver(WaitObserver observer) {
  std::lock_guard<std::mutex> lock(engine_->mutex);
  engine_->waitObserver = std::move(observer);
}

std::shared_ptr<URLSessionTask> URLSession::dataTask(URLRequest request,
                                                     URLSessionTask::CompletionHandler completionHandler) {
  auto task = std::shared_ptr<URLSessionTask>(new URLSessionTask(engine_, std::move(request), std::move(completionHandler)));
  std::lock_guard<std::mutex> lock(engine_->mutex);
  task->id_ = engine_->nextID++;
  return task;
}

}  // namespace platform
