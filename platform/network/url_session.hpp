#pragma once

// HTTP as the platform's URL session offers it, over libcurl.
//
// A session owns one networking thread, started by the first task, that runs
// every transfer of the session; what a task answers (body, response, error)
// is handed to the session's delegate queue, never run on that thread. The
// session's own objects may be used from any thread.
//
// What the stand-in does as the platform does:
// - HTTP status codes of every kind come back as responses, not errors; a
//   redirect is followed only when the delegate agrees (no delegate: it is
//   followed, at most 16 in a row). A refused redirect hands the 3xx answer
//   back unchanged, body included.
// - The request's timeout is an idle timeout: the task fails with
//   URLError::timedOut when no byte moved in either direction for that long,
//   connecting included; a slow answer that keeps trickling never times out.
// - Cancelling a task ends its transfer and answers URLError::cancelled.
// - Header lookup ignores case; repeated headers are joined with ", ".
// - Cookies go through the configuration's cookie storage, and only while
//   httpShouldSetCookies is on. Nothing is cached and no credential is kept.
//   The loopback interface is never reached through a proxy.
//
// Not modelled: other schemes than http and https (URLError::unsupportedURL),
// uploads from streams, background sessions, authentication challenges.
// A body above 64 MiB fails with URLError::dataLengthExceedsMaximum, so a
// hostile server cannot exhaust memory; a task may set a lower limit of its
// own for answers that are known to be small.
//
// The networking thread sleeps without a time limit while no transfer runs;
// a new task, a cancel or the session's end wakes it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/coding/data.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/url.hpp"

namespace platform {

// The longest body any task takes.
inline constexpr std::size_t kURLSessionMaximumBodyLength = std::size_t{64} << 20;

// Header names compared without regard to ASCII case.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};
using HTTPHeaderFields = std::map<std::string, std::string, CaseInsensitiveLess>;

struct URLRequest {
  enum class CachePolicy { useProtocolCachePolicy, reloadIgnoringLocalCacheData };

  explicit URLRequest(NSURL url) : url(std::move(url)) {}

  NSURL url;
  std::string httpMethod = "GET";
  // Seconds without a byte in either direction before the task fails.
  double timeoutInterval = 60.0;
  // Recorded only: the session keeps no cache to consult.
  CachePolicy cachePolicy = CachePolicy::useProtocolCachePolicy;
  HTTPHeaderFields allHTTPHeaderFields;
  std::optional<Data> httpBody;

  void setValue(const std::string& value, const std::string& field) { allHTTPHeaderFields[field] = value; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
};

class HTTPURLResponse {
 public:
  HTTPURLResponse(NSURL url, int statusCode, HTTPHeaderFields headers)
      : url_(std::move(url)), statusCode_(statusCode), headers_(std::move(headers)) {}

  const NSURL& url() const { return url_; }
  int statusCode() const { return statusCode_; }
  const HTTPHeaderFields& allHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;

 private:
  NSURL url_;
  int statusCode_;
  HTTPHeaderFields headers_;
};

// The platform's URL error codes for the failures the stand-in can meet.
struct URLError {
  enum Code : int {
    unknown = -1,
    cancelled = -999,
    badURL = -1000,
    timedOut = -1001,
    unsupportedURL = -1002,
    cannotFindHost = -1003,
    cannotConnectToHost = -1004,
    networkConnectionLost = -1005,
    httpTooManyRedirects = -1007,
    badServerResponse = -1011,
    dataLengthExceedsMaximum = -1103,
    secureConnectionFailed = -1200,
  };
  Code code = unknown;
  std::string localizedDescription;
};

// A process-wide or private jar of cookies that sessions share.
class HTTPCookieStorage {
 public:
  // A new, empty jar kept in memory.
  static std::shared_ptr<HTTPCookieStorage> make();
  ~HTTPCookieStorage();
  HTTPCookieStorage(const HTTPCookieStorage&) = delete;
  HTTPCookieStorage& operator=(const HTTPCookieStorage&) = delete;

  // The libcurl share handle holding the cookies (a CURLSH*).
  void* shareHandle() const { return share_; }

 private:
  HTTPCookieStorage();
  struct Locks;
  void* share_ = nullptr;
  std::unique_ptr<Locks> locks_;
};

struct URLSessionConfiguration {
  // A session that writes nothing to disk; cookies live in a private jar of
  // its own until the configuration says otherwise.
  static URLSessionConfiguration ephemeral();

  std::shared_ptr<HTTPCookieStorage> httpCookieStorage;  // null: no cookies at all
  bool httpShouldSetCookies = true;
};

class URLSession;
class URLSessionTask;

// Asked on the session's networking thread, before a redirect is followed:
// call the handler, before returning, with the request to follow or with
// none to hand the redirect answer back as it is. Not calling it refuses.
class URLSessionTaskDelegate {
 public:
  virtual ~URLSessionTaskDelegate() = default;
  virtual void willPerformHTTPRedirection(const HTTPURLResponse& response, const URLRequest& newRequest,
                                          const std::function<void(std::optional<URLRequest>)>& completionHandler);
};

class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
 public:
  enum class State { suspended, running, canceling, completed };
  // Exactly one of these holds: an error, or a response (with the body,
  // possibly empty).
  using CompletionHandler =
      std::function<void(Data data, std::optional<HTTPURLResponse> response, std::optional<URLError> error)>;

  // Starts a suspended task; later calls do nothing.
  void resume();
  // Ends the transfer; the handler then receives URLError::cancelled unless
  // its answer was already on its way. Safe from any thread, repeatedly.
  void cancel();
  State state() const;
  const URLRequest& originalRequest() const { return request_; }
  // The most body bytes this task takes (never more than
  // kURLSessionMaximumBodyLength): a longer answer stops its transfer as
  // soon as it passes the limit, or before its body when it declares a
  // longer length, and fails with URLError::dataLengthExceedsMaximum, its
  // bytes never handed over. Takes effect only before resume().
  void setMaximumBodyLength(std::size_t bytes);

 private:
  friend class URLSession;
  struct Engine;
  URLSessionTask(std::weak_ptr<Engine> engine, URLRequest request, CompletionHandler handler);

  const std::weak_ptr<Engine> engine_;
  const URLRequest request_;
  CompletionHandler handler_;  // taken by the engine when the task starts or is cancelled
  std::atomic<State> state_{State::suspended};
  std::atomic<std::size_t> maximumBodyLength_{kURLSessionMaximumBodyLength};
  std::uint64_t id_ = 0;
};

class URLSession {
 public:
  // The delegate is held strongly for the session's life, as the platform
  // does. Answers go to the delegate queue; null: a serial queue of the
  // session's own.
  static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                          std::shared_ptr<URLSessionTaskDelegate> delegate = nullptr,
                                          std::shared_ptr<DispatchQueue> delegateQueue = nullptr);
  // Cancels what runs and waits for the networking thread to end; answers
  // not yet handed over are dropped.
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  // A suspended task; resume() starts it.
  std::shared_ptr<URLSessionTask> dataTask(URLRequest request, URLSessionTask::CompletionHandler completionHandler);

  // Test support: a request to "https://<host>" followed by a path (no
  // user or port written) goes to `base`, such as a loopback server's
  // "http://127.0.0.1:PORT/", with the same path, query and fragment. The
  // task's request and its response keep the URL as given. The program
  // never routes; resetProcessState() removes every route.
  static void routeHostForTesting(const std::string& host, const NSURL& base);

  const URLSessionConfiguration& configuration() const { return configuration_; }
  const std::shared_ptr<DispatchQueue>& delegateQueue() const { return delegateQueue_; }

  // Test seam: called on the networking thread just before each of its
  // waits, with the wait's limit in milliseconds, or none for a wait without
  // one. Set it before the first task; it must not call into the session.
  using WaitObserver = std::function<void(std::optional<int> milliseconds)>;
  void setNetworkWaitObserver(WaitObserver observer);
  // Test seam: the clock the networking thread measures idle time on moves
  // `seconds` ahead, as if that long had passed without a byte. Returns once
  // the thread has since read what had arrived and looked at every
  // transfer's idle time, so a timeout now due has been answered. Never call
  // it from the networking thread (a delegate's redirect callback).
  void advanceIdleClockForTesting(double seconds);

 private:
  URLSession(URLSessionConfiguration configuration, std::shared_ptr<URLSessionTaskDelegate> delegate,
             std::shared_ptr<DispatchQueue> delegateQueue);

  const URLSessionConfiguration configuration_;
  const std::shared_ptr<DispatchQueue> delegateQueue_;
  std::shared_ptr<URLSessionTask::Engine> engine_;
};

}  // namespace platform
