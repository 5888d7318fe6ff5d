#include "platform/network/url_session.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"

namespace platform {
namespace {

struct Answer {
  bool arrived = false;
  bool onMainThread = false;
  Data data;
  std::optional<HTTPURLResponse> response;
  std::optional<URLError> error;
};

class URLSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<URLSession> makeSession(URLSessionConfiguration configuration = URLSessionConfiguration::ephemeral(),
                                          std::shared_ptr<URLSessionTaskDelegate> delegate = nullptr) {
    return URLSession::make(std::move(configuration), std::move(delegate), DispatchQueue::main());
  }

  URLRequest request(const std::string& path) const {
    return URLRequest(NSURL::URLWithString(server.baseURL() + path).value());
  }

  // Runs the request and waits on the main run loop for its answer.
  Answer perform(URLSession& session, URLRequest request) {
    auto answer = std::make_shared<Answer>();
    auto task = session.dataTask(std::move(request), [answer](Data data, std::optional<HTTPURLResponse> response,
                                                              std::optional<URLError> error) {
      *answer = {true, isMainThread(), std::move(data), std::move(response), std::move(error)};
    });
    task->resume();
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return answer->arrived; }));
    EXPECT_EQ(task->state(), URLSessionTask::State::completed);
    return *answer;
  }

  LoopbackServer server;
};

class RefusingDelegate : public URLSessionTaskDelegate {
 public:
  void willPerformHTTPRedirection(const HTTPURLResponse&, const URLRequest&,
                                  const std::function<void(std::optional<URLRequest>)>& completionHandler) override {
    ++asked;
    completionHandler(std::nullopt);
  }
  int asked = 0;
};

TEST_F(URLSessionTest, APostArrivesWholeAndItsAnswerReachesTheMainRunLoop) {
  server.server().Post("/api/items", [](const httplib::Request& request, httplib::Response& response) {
    response.status = 201;
    response.set_header("x-echo-length", std::to_string(request.body.size()));
    response.set_header("Set-Twice", "a");
    response.set_header("set-twice", "b");
    response.set_content("{\"ok\":true}", "application/json");
  });
  // A proxy in the environment is never used for the loopback interface.
  for (const char* variable : {"http_proxy", "HTTP_PROXY", "ALL_PROXY", "all_proxy"}) {
    ::setenv(variable, "http://127.0.0.1:9", 1);
  }
  auto session = makeSession();
  auto post = request("api/items");
  post.httpMethod = "POST";
  post.setValue("application/json", "Content-Type");
  post.setValue("beta", "X-Channel");
  post.httpBody = dataFromString(std::string(3000, 'x'));  // past the size where a client would ask to continue
  const Answer answer = perform(*session, post);
  for (const char* variable : {"http_proxy", "HTTP_PROXY", "ALL_PROXY", "all_proxy"}) ::unsetenv(variable);

  ASSERT_TRUE(answer.response.has_value());
  EXPECT_FALSE(answer.error.has_value());
  EXPECT_TRUE(answer.onMainThread);
  EXPECT_EQ(answer.response->statusCode(), 201);
  EXPECT_EQ(answer.response->valueForHTTPHeaderField("X-ECHO-LENGTH"), "3000");
  EXPECT_EQ(answer.response->valueForHTTPHeaderField("content-type"), "application/json");
  EXPECT_EQ(answer.response->valueForHTTPHeaderField("SET-TWICE"), "a, b");
  EXPECT_FALSE(answer.response->valueForHTTPHeaderField("Retry-After").has_value());
  EXPECT_EQ(stringFromData(answer.data), "{\"ok\":true}");

  const auto seen = server.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  EXPECT_EQ(seen[0].path, "/api/items");
  EXPECT_TRUE(seen[0].body == std::string(3000, 'x')) << seen[0].body.size();
  EXPECT_EQ(seen[0].header("x-channel"), "beta");
  EXPECT_EQ(seen[0].header("Content-Type"), "application/json");
  EXPECT_FALSE(seen[0].header("Expect").has_value());
}

TEST_F(URLSessionTest, RedirectsAreFollowedOnlyWithTheDelegatesConsent) {
  server.server().Post("/moved", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/target", 302);
    response.set_content("moved", "text/plain");
  });
  server.server().Get("/loop", [](const httplib::Request&, httplib::Response& response) {
    response.set_redirect("/loop", 307);
  });
  server.server().Get("/target", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("target " + request.method, "text/plain");
  });
  auto post = request("moved");
  post.httpMethod = "POST";
  post.httpBody = dataFromString("{}");

  // No delegate: followed, and a POST answered with 302 turns into a GET.
  const Answer followed = perform(*makeSession(), post);
  ASSERT_TRUE(followed.response.has_value());
  EXPECT_EQ(followed.response->statusCode(), 200);
  EXPECT_EQ(followed.response->url().absoluteString(), server.baseURL() + "target");
  EXPECT_EQ(stringFromData(followed.data), "target GET");

  // A delegate that refuses gets the redirect answer itself, body included.
  auto refusing = std::make_shared<RefusingDelegate>();
  const Answer refused = perform(*makeSession(URLSessionConfiguration::ephemeral(), refusing), post);
  ASSERT_TRUE(refused.response.has_value());
  EXPECT_EQ(refused.response->statusCode(), 302);
  EXPECT_EQ(refused.response->valueForHTTPHeaderField("location"), "/target");
  EXPECT_EQ(stringFromData(refused.data), "moved");
  EXPECT_EQ(refusing->asked, 1);

  const Answer looping = perform(*makeSession(), request("loop"));
  ASSERT_TRUE(looping.error.has_value());
  EXPECT_EQ(looping.error->code, URLError::httpTooManyRedirects);
  EXPECT_EQ(server.requests().size(), 2u + 1u + 17u);
}

TEST_F(URLSessionTest, CookiesLiveInTheConfiguredStorageOnly) {
  server.server().Get("/cookie", [](const httplib::Request& request, httplib::Response& response) {
    response.set_header("Set-Cookie", "session=abc; Path=/");
    response.set_content(request.get_header_value("Cookie"), "text/plain");
  });
  auto withJar = makeSession();
  EXPECT_EQ(stringFromData(perform(*withJar, request("cookie")).data), "");
  EXPECT_EQ(stringFromData(perform(*withJar, request("cookie")).data), "session=abc");

  for (bool noStorage : {true, false}) {
    auto configuration = URLSessionConfiguration::ephemeral();
    if (noStorage) {
      configuration.httpCookieStorage = nullptr;
    } else {
      configuration.httpShouldSetCookies = false;
    }
    auto session = makeSession(configuration);
    perform(*session, request("cookie"));
    EXPECT_EQ(stringFromData(perform(*session, request("cookie")).data), "") << noStorage;
  }
}

// The test moves the idle clock on itself, so no pause of a busy machine
// passes for idle time; the timeout is far above any real pause here.
TEST_F(URLSessionTest, TheTimeoutCountsIdleTimeNotTheWholeAnswer) {
  const double timeout = 2 * kTestHangGuardSeconds;
  auto session = makeSession();
  server.server().set_tcp_nodelay(true);  // each byte leaves as it is written
  server.server().Get("/silent", [this](const httplib::Request&, httplib::Response& response) {
    server.waitAtGate();
    response.set_content("late", "text/plain");
  });
  // Ten bytes, with 0.6 of the timeout passing before each after the first:
  // more than five timeouts in all, never one without a byte.
  server.server().Get("/trickle", [session, timeout](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [session, timeout](size_t offset, httplib::DataSink& sink) {
      if (offset >= 10) {
        sink.done();
        return true;
      }
      if (offset > 0) session->advanceIdleClockForTesting(0.6 * timeout);
      return sink.write("x", 1);
    });
  });

  auto silent = request("silent");
  silent.timeoutInterval = timeout;
  auto answer = std::make_shared<Answer>();
  auto task = session->dataTask(silent, [answer](Data, std::optional<HTTPURLResponse> response,
                                                 std::optional<URLError> error) {
    *answer = {true, isMainThread(), {}, std::move(response), std::move(error)};
  });
  task->resume();
  ASSERT_TRUE(server.waitForRequests(1));
  session->advanceIdleClockForTesting(timeout / 2);
  drainMainRunLoop();
  EXPECT_FALSE(answer->arrived) << "timed out after half its timeout";
  // The two halves add up to the timeout: answered by the time the
  // advance returns, with no real time waited for.
  session->advanceIdleClockForTesting(timeout / 2);
  drainMainRunLoop();
  ASSERT_TRUE(answer->arrived) << "not timed out after the whole timeout";
  ASSERT_TRUE(answer->error.has_value());
  EXPECT_EQ(answer->error->code, URLError::timedOut);

  auto trickle = request("trickle");
  trickle.timeoutInterval = timeout;
  const Answer slow = perform(*session, trickle);
  ASSERT_TRUE(slow.response.has_value()) << (slow.error ? slow.error->localizedDescription : "");
  EXPECT_EQ(stringFromData(slow.data), "xxxxxxxxxx");
}

TEST_F(URLSessionTest, CancellingEndsTheTransferAndFailuresAreErrors) {
  server.server().Get("/held", [this](const httplib::Request&, httplib::Response& response) {
    server.waitAtGate();
    response.set_content("late", "text/plain");
  });
  auto session = makeSession();
  auto answer = std::make_shared<Answer>();
  auto task = session->dataTask(request("held"), [answer](Data, std::optional<HTTPURLResponse> response,
                                                          std::optional<URLError> error) {
    *answer = {true, isMainThread(), {}, std::move(response), std::move(error)};
  });
  task->resume();
  ASSERT_TRUE(server.waitForRequests(1));
  task->cancel();
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return answer->arrived; }));
  ASSERT_TRUE(answer->error.has_value());
  EXPECT_EQ(answer->error->code, URLError::cancelled);
  task->cancel();  // again: nothing more arrives

  // Never started: cancelling answers at once.
  auto idle = std::make_shared<Answer>();
  auto unstarted = session->dataTask(request("held"), [idle](Data, std::optional<HTTPURLResponse>,
                                                             std::optional<URLError> error) {
    idle->arrived = true, idle->error = std::move(error);
  });
  unstarted->cancel();
  unstarted->resume();
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return idle->arrived; }));
  EXPECT_EQ(idle->error.value_or(URLError{}).code, URLError::cancelled);
  EXPECT_EQ(server.requests().size(), 1u);

  const Answer unsupported = perform(*session, URLRequest(NSURL::URLWithString("ftp://127.0.0.1/x").value()));
  EXPECT_EQ(unsupported.error.value_or(URLError{}).code, URLError::unsupportedURL);

  const std::string closedBase = server.baseURL();
  server.stop();
  const Answer refused = perform(*session, URLRequest(NSURL::URLWithString(closedBase + "x").value()));
  EXPECT_EQ(refused.error.value_or(URLError{}).code, URLError::cannotConnectToHost);
}

TEST_F(URLSessionTest, ATasksBodyLimitStopsItsTransferOnceTheBodyPassesIt) {
  server.server().Get("/thousand", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(std::string(1000, 'y'), "text/plain");
  });
  // 32 MiB in 64 KiB chunks, more than the sockets between us can hold, so
  // a transfer stopped early leaves most of it unsent.
  constexpr std::size_t kOffered = std::size_t{32} << 20;
  auto sent = std::make_shared<std::atomic<std::size_t>>(0);
  server.server().Get("/endless", [sent](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("text/plain", [sent](size_t offset, httplib::DataSink& sink) {
      if (offset >= kOffered) {
        sink.done();
        return true;
      }
      const std::string chunk(64 << 10, '[');
      if (!sink.write(chunk.data(), chunk.size())) return false;
      *sent += chunk.size();
      return true;
    });
  });
  auto session = makeSession();
  auto limited = [&](const char* path, std::size_t limit) {
    auto answer = std::make_shared<Answer>();
    auto task = session->dataTask(request(path), [answer](Data data, std::optional<HTTPURLResponse> response,
                                                          std::optional<URLError> error) {
      *answer = {true, isMainThread(), std::move(data), std::move(response), std::move(error)};
    });
    task->setMaximumBodyLength(limit);
    task->resume();
    EXPECT_TRUE(pumpMainRunLoopUntil([&] { return answer->arrived; })) << path;
    return *answer;
  };

  const Answer exact = limited("thousand", 1000);
  ASSERT_TRUE(exact.response.has_value());
  EXPECT_EQ(exact.data.size(), 1000u);
  const Answer past = limited("thousand", 999);
  EXPECT_FALSE(past.response.has_value());
  EXPECT_TRUE(past.data.empty());
  EXPECT_EQ(past.error.value_or(URLError{}).code, URLError::dataLengthExceedsMaximum);

  const Answer endless = limited("endless", 262144);
  EXPECT_EQ(endless.error.value_or(URLError{}).code, URLError::dataLengthExceedsMaximum);
  EXPECT_TRUE(endless.data.empty());
  // Stopping the server waits for the handler, whose writes fail once we hang up.
  server.stop();
  EXPECT_LT(sent->load(), kOffered / 2) << "the transfer ran on past the limit";
}

// The networking thread's waits as the seam reports them: a limit in
// milliseconds, or none.
struct NetworkWaits {
  std::mutex mutex;
  std::vector<std::optional<int>> limits;

  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return limits.size();
  }
  // Whether the last wait has no time limit.
  bool restingUntimed() {
    std::lock_guard<std::mutex> lock(mutex);
    return !limits.empty() && !limits.back().has_value();
  }
  std::vector<std::optional<int>> since(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    return {limits.begin() + static_cast<std::ptrdiff_t>(std::min(index, limits.size())), limits.end()};
  }
};

TEST_F(URLSessionTest, WithNoTransferTheNetworkingThreadWaitsWithoutATimeLimit) {
  server.server().Get("/quick", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("quick", "text/plain");
  });
  server.server().Get("/held", [this](const httplib::Request&, httplib::Response& response) {
    server.waitAtGate();
    response.set_content("late", "text/plain");
  });
  auto session = makeSession();
  auto waits = std::make_shared<NetworkWaits>();
  session->setNetworkWaitObserver([waits](std::optional<int> limit) {
    std::lock_guard<std::mutex> lock(waits->mutex);
    waits->limits.push_back(limit);
  });

  // After an answer the thread rests with no limit, and a new request
  // still wakes it.
  EXPECT_EQ(stringFromData(perform(*session, request("quick")).data), "quick");
  EXPECT_TRUE(pumpMainRunLoopUntil([&] { return waits->restingUntimed(); }));
  const std::size_t rested = waits->count();
  EXPECT_EQ(stringFromData(perform(*session, request("quick")).data), "quick");
  EXPECT_TRUE(pumpMainRunLoopUntil([&] { return waits->restingUntimed() && waits->count() > rested; }));

  // While a transfer runs its deadline bounds each wait; a cancel wakes
  // the thread, which rests untimed again once the transfer is gone.
  const std::size_t beforeHeld = waits->count();
  auto answer = std::make_shared<Answer>();
  auto task = session->dataTask(request("held"), [answer](Data, std::optional<HTTPURLResponse> response,
                                                          std::optional<URLError> error) {
    *answer = {true, isMainThread(), {}, std::move(response), std::move(error)};
  });
  task->resume();
  ASSERT_TRUE(server.waitForRequests(3));
  task->cancel();
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return answer->arrived; }));
  EXPECT_EQ(answer->error.value_or(URLError{}).code, URLError::cancelled);
  EXPECT_TRUE(pumpMainRunLoopUntil([&] { return waits->restingUntimed(); }));
  const auto held = waits->since(beforeHeld);
  ASSERT_GE(held.size(), 2u);
  for (std::size_t i = 0; i + 1 < held.size(); ++i) {
    ASSERT_TRUE(held[i].has_value()) << "an untimed wait while the transfer ran, wait " << i;
    EXPECT_LE(*held[i], 1000);
  }
  server.openGate();
}

// A routed https host reaches the loopback base with its path and query;
// a written port or user and a longer host name are not routed, and
// resetting the process removes the route. The host is the loopback address,
// so what is not routed is refused on port 443 of this machine.
TEST_F(URLSessionTest, ATestRouteSendsANamedHttpsHostToTheLoopbackBase) {
  server.server().Get("/feed.xml", [](const httplib::Request& request, httplib::Response& response) {
    response.set_content("feed " + request.get_param_value("q"), "text/plain");
  });
  auto session = makeSession();
  URLSession::routeHostForTesting("127.0.0.1", NSURL::URLWithString(server.baseURL()).value());
  const auto routed = perform(*session, URLRequest(NSURL::URLWithString("https://127.0.0.1/feed.xml?q=1").value()));
  ASSERT_TRUE(routed.response.has_value());
  EXPECT_EQ(stringFromData(routed.data), "feed 1");
  EXPECT_EQ(routed.response->url().absoluteString(), "https://127.0.0.1/feed.xml?q=1");

  for (const char* text : {"https://127.0.0.1:443/feed.xml", "https://127.0.0.11/feed.xml", "https://user@127.0.0.1/feed.xml"}) {
    const auto answer = perform(*session, URLRequest(NSURL::URLWithString(text).value()));
    EXPECT_TRUE(answer.error.has_value()) << text;
  }
  resetProcessState();
  const auto unrouted = perform(*session, URLRequest(NSURL::URLWithString("https://127.0.0.1/feed.xml").value()));
  EXPECT_TRUE(unrouted.error.has_value());
  EXPECT_EQ(server.requests().size(), 1u);
}

}  // namespace
}  // namespace platform
