#include "support/bug_report_store.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "ui/onboarding/legal_agreement.hpp"

namespace vurle {
namespace {

using platform::JSON;
using Kind = BugReportVersionState::Kind;

constexpr const char* kNotSaved = "Couldn’t save your report. Your text is still here; try again.";
constexpr const char* kNotSent = "Couldn’t send your report. Your text is still here; check your connection and try again.";
constexpr const char* kStopped = "Sending was stopped. If it already arrived, retrying this report won’t send it twice.";
constexpr const char* kControl = "Remove control characters from the report.";
constexpr const char* kSummary = "Add a summary between 4 and 120 characters.";
constexpr const char* kDetails = "Describe what happened in 20–6,000 characters.";
constexpr const char* kEmail = "Check your email address, or leave it blank.";

const std::string kDetailsText = "The pointer froze over the dock.";

bool isLowerCaseUUID(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

class BugReportStoreTest : public ::testing::Test {
 protected:
  // What the report endpoint answers; "$ID" in the body becomes the id sent.
  struct Script {
    using Headers = std::vector<std::pair<std::string, std::string>>;
    Script(int status = 201, std::string body = R"({"accepted":true,"id":"$ID"})", Headers headers = {},
           bool hold = false)
        : status(status), body(std::move(body)), headers(std::move(headers)), hold(hold) {}
    int status;
    std::string body;
    Headers headers;
    bool hold;
  };

  void SetUp() override {
    platform::resetProcessState();
    server.server().Post(R"(.*/api/app-bug-reports)", [this](const httplib::Request& request, httplib::Response& response) {
      const Script script = current();
      if (script.hold) server.waitAtGate();
      std::string body = script.body;
      if (auto at = body.find("$ID"); at != std::string::npos) {
        const auto sent = JSON::parse(request.body, nullptr, false);
        body.replace(at, 3, sent.is_object() && sent.contains("id") ? sent["id"].get<std::string>() : "");
      }
      response.status = script.status;
      for (const auto& [name, value] : script.headers) response.set_header(name, value);
      response.set_content(body, "application/json");
    });
    server.server().Get("/releases.json", [this](const httplib::Request&, httplib::Response& response) {
      const Script script = current();
      if (script.hold) server.waitAtGate();
      response.status = script.status;
      for (const auto& [name, value] : script.headers) response.set_header(name, value);
      response.set_content(script.body, "application/json");
    });
  }

  void answer(Script script) {
    std::lock_guard<std::mutex> lock(mutex);
    script_ = std::move(script);
  }
  Script current() {
    std::lock_guard<std::mutex> lock(mutex);
    return script_;
  }

  // Its requests time out after `timeout` seconds without a byte: by
  // default never while the server answers, however busy the machine.
  std::shared_ptr<BugReportStore> makeStore(BugReportMetadata metadata = {"1.4", "42", "14.6.1", "stable"},
                                            std::optional<std::string> base = std::nullopt,
                                            double timeout = platform::kTestHangGuardSeconds) {
    BugReportStore::Options options;
    options.defaults = defaults;
    options.clock = [this] { return now; };
    options.metadata = std::move(metadata);
    options.baseURL = base ? *base : server.baseURL();
    options.reportTimeout = timeout;
    options.releaseListTimeout = timeout;
    return BugReportStore::make(std::move(options));
  }

  static void fill(BugReportStore& store, std::string summary = "Pointer froze",
                   std::string details = kDetailsText, std::string email = "") {
    store.setSummary(std::move(summary));
    store.setDetails(std::move(details));
    store.setEmail(std::move(email));
  }

  // Submits and waits on the main run loop for the answer.
  static void submitAndWait(BugReportStore& store) {
    store.submit();
    EXPECT_TRUE(platform::pumpMainRunLoopUntil([&] { return !store.isSending(); }));
  }

  std::vector<platform::LoopbackServer::Request> reports() const {
    std::vector<platform::LoopbackServer::Request> found;
    for (auto& request : server.requests()) {
      if (request.path.find("app-bug-reports") != std::string::npos) found.push_back(request);
    }
    return found;
  }
  std::string lastReportID() const {
    const auto sent = reports();
    return sent.empty() ? "" : JSON::parse(sent.back().body).value("id", "");
  }
  std::optional<BugReportRateState> storedRate() const {
    auto data = defaults->dataForKey(BugReportStore::rateKey);
    return data ? BugReportRateState::decoded(*data) : std::nullopt;
  }

  double now = 1'700'000'000.0;
  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.test");
  platform::LoopbackServer server;
  std::mutex mutex;
  Script script_;
};

TEST(BugReportValidationTest, TheFirstFailingRuleGivesTheSentence) {
  const std::string summary = "Pointer froze";
  const std::string email254 = std::string(248, 'a') + "@b.com";
  ASSERT_EQ(email254.size(), 254u);
  struct Case {
    const char* name;
    std::string summary, details, email;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"valid", summary, kDetailsText, "", std::nullopt},
      {"summary of 3", "abc", kDetailsText, "", kSummary},
      {"summary of 4", "abcd", kDetailsText, "", std::nullopt},
      {"summary of 3 once trimmed", " \n\tabc \u3000\u00A0", kDetailsText, "", kSummary},
      {"summary of 120", std::string(120, 's'), kDetailsText, "", std::nullopt},
      {"summary of 121", std::string(121, 's'), kDetailsText, "", kSummary},
      {"details of 19", summary, std::string(19, 'd'), "", kDetails},
      {"details of 20", summary, std::string(20, 'd'), "", std::nullopt},
      {"details of 6000", summary, std::string(6000, 'd'), "", std::nullopt},
      {"details of 6001", summary, std::string(6001, 'd'), "", kDetails},
      {"ten emoji are 20 units", summary, "😀😀😀😀😀😀😀😀😀😀", "", std::nullopt},
      {"nine emoji and a letter are 19", summary, "😀😀😀😀😀😀😀😀😀a", "", kDetails},
      {"email of 254", summary, kDetailsText, email254, std::nullopt},
      {"email of 255", summary, kDetailsText, "a" + email254, kEmail},
      {"email trimmed", summary, kDetailsText, "  ann@example.org \n", std::nullopt},
      {"email without a dot after @", summary, kDetailsText, "ann@example", kEmail},
      {"email with a space", summary, kDetailsText, "ann smith@example.org", kEmail},
      {"email with a no-break space", summary, kDetailsText, "ann\u00A0@example.org", kEmail},
      {"email without a local part", summary, kDetailsText, "@example.org", kEmail},
      {"email with the dot first", summary, kDetailsText, "ann@.org", kEmail},
      {"email with the dot last", summary, kDetailsText, "ann@example.", kEmail},
      {"email with two @", summary, kDetailsText, "ann@b@example.org", kEmail},
      {"email with a dot late in the domain", summary, kDetailsText, "a@b.c.d", std::nullopt},
      {"tab and line feed pass", summary, "First line\n\tsecond line here", "", std::nullopt},
      {"next-line passes as white space", summary, "First line\u0085second line here", "", std::nullopt},
      {"bell", summary, kDetailsText + "\a", "", kControl},
      {"zero-width joiner", summary, "Pointer\u200Dfroze over the dock.", "", kControl},
      {"byte-order mark in the summary", "Pointer\uFEFF froze", kDetailsText, "", kControl},
      {"control character in the email", summary, kDetailsText, "ann\x01@example.org", kControl},
      {"summary before details", "abc", std::string(19, 'd'), "", kSummary},
      {"email before controls", "Pointer\x7F froze", kDetailsText, "not-an-email", kEmail},
      {"bad UTF-8 before lengths", "abc", "\xFF\xFE broken", "", kControl},
      {"surrogate encoded in UTF-8", summary, "\xED\xA0\x80 and then some more text", "", kControl},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BugReportStore::validationError(c.summary, c.details, c.email), c.message) << c.name;
  }
}

TEST_F(BugReportStoreTest, AReportArrivesAsSevenStringsAndItsAcceptanceEmptiesTheForm) {
  for (const char* channel : {"stable", "beta"}) {
    auto store = makeStore({"1.4", "42", "14.6.1", channel}, server.baseURL() + "site/");
    answer({201, R"({"accepted":true,"id":"$ID"})", {{"Set-Cookie", "tracking=1; Path=/"}}});
    fill(*store, "  Pointer froze \n", "\t" + kDetailsText + "\n", " ann@example.org ");
    submitAndWait(*store);
    EXPECT_TRUE(store->didSend()) << channel;
    EXPECT_EQ(store->error(), std::nullopt);
    EXPECT_EQ(store->summary(), "");
    EXPECT_EQ(store->details(), "");
    EXPECT_EQ(store->email(), "");
    store->submit();  // does nothing while sent
    EXPECT_FALSE(store->isSending());

    store->reset();
    fill(*store);
    submitAndWait(*store);
    EXPECT_TRUE(store->didSend());
  }

  const auto sent = reports();
  ASSERT_EQ(sent.size(), 4u);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    const auto& report = sent[i];
    EXPECT_EQ(report.method, "POST");
    EXPECT_EQ(report.path, "/site/api/app-bug-reports");
    EXPECT_EQ(report.header("Content-Type"), "application/json");
    EXPECT_EQ(report.header("X-Vurle-Release-Channel"), i < 2 ? "stable" : "beta");
    EXPECT_FALSE(report.header("Cookie").has_value()) << "no cookie, even after Set-Cookie";
    const JSON body = JSON::parse(report.body);
    ASSERT_TRUE(body.is_object());
    EXPECT_EQ(body.size(), 7u);
    for (const auto& [key, value] : body.items()) EXPECT_TRUE(value.is_string()) << key;
    EXPECT_TRUE(isLowerCaseUUID(body.value("id", ""))) << body.value("id", "");
    EXPECT_EQ(body.value("category", ""), "app");
    EXPECT_EQ(body.value("summary", ""), "Pointer froze");
    EXPECT_EQ(body.value("details", ""), kDetailsText);
    EXPECT_EQ(body.value("email", ""), i % 2 == 0 ? "ann@example.org" : "");
    EXPECT_EQ(body.value("appVersion", ""), "1.4 (42)");
    EXPECT_EQ(body.value("macOSVersion", ""), "14.6.1");
  }
  // Both sent reports of the last store are counted, as attempts and as sent.
  const auto rate = storedRate();
  ASSERT_TRUE(rate.has_value());
  EXPECT_EQ(rate->attempts.size(), 4u);
  EXPECT_EQ(rate->sent.size(), 4u);
}

TEST_F(BugReportStoreTest, EachAnswerEndsInTheSentStateOrItsSentence) {
  // `units` "é": two bytes, one UTF-16 unit each.
  const auto accents = [](std::size_t units) { std::string text; while (units--) text += "é"; return text; };
  struct Case {
    const char* name;
    Script script;
    bool sent;
    std::optional<std::string> error;
    double blockedFor;  // seconds from now; 0: not blocked
  };
  const Case cases[] = {
      {"201 accepted", {201, R"({"accepted":true,"id":"$ID"})"}, true, std::nullopt, 0},
      {"200 accepted", {200, R"({"accepted":true,"id":"$ID","error":null})"}, true, std::nullopt, 0},
      {"200 with another id", {200, R"({"accepted":true,"id":"other"})"}, false, kNotSaved, 0},
      {"200 with another id and a sentence", {200, R"({"accepted":true,"id":"other","error":"Try later."})"}, false,
       "Try later.", 0},
      {"202 accepted is not a success", {202, R"({"accepted":true,"id":"$ID"})"}, false, kNotSaved, 0},
      {"not accepted", {200, R"({"accepted":false,"id":"$ID","error":"Too short."})"}, false, "Too short.", 0},
      {"a blank sentence", {200, R"({"accepted":false,"error":" \n"})"}, false, kNotSaved, 0},
      {"a sentence turned around", {200, R"({"accepted":false,"error":"Sent \u202egnorw"})"}, false, kNotSaved, 0},
      {"a sentence of 300 UTF-16 units", {200, R"({"error":")" + accents(300) + "\"}"}, false, accents(300), 0},
      {"a sentence of 301 UTF-16 units", {200, R"({"error":")" + accents(301) + "\"}"}, false, kNotSaved, 0},
      {"accepted of the wrong type", {200, R"({"accepted":"yes","id":"$ID","error":"x"})"}, false, kNotSaved, 0},
      {"500 without JSON", {500, "<html>oops</html>"}, false, kNotSaved, 0},
      {"409", {409, R"({"error":"Already filed."})"}, false, "Already filed.", 0},
      {"429 for 0.2 s", {429, "{}", {{"Retry-After", "0.2"}}}, false, "Try again in 1 second.", 1},
      {"429 without a delay", {429, R"({"error":"ignored"})"}, false, "Try again in 1 minute.", 60},
      {"429 for abc", {429, "", {{"Retry-After", "abc"}}}, false, "Try again in 1 minute.", 60},
      {"429 for 99999 s", {429, "", {{"Retry-After", "99999"}}}, false, "Try again in 60 minutes.", 3600},
      {"429, lower-case header", {429, "", {{"retry-after", "5"}}}, false, "Try again in 5 seconds.", 5},
      {"429 for 90.5 s", {429, "", {{"Retry-After", "90.5"}}}, false, "Try again in 2 minutes.", 90.5},
      {"301 is not followed", {301, R"({"error":"Moved."})", {{"Location", "/elsewhere"}}}, false, "Moved.", 0},
  };
  for (const auto& c : cases) {
    defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.test");
    auto store = makeStore();
    answer(c.script);
    fill(*store);
    const std::size_t before = server.requests().size();
    submitAndWait(*store);
    EXPECT_EQ(server.requests().size(), before + 1) << c.name;
    EXPECT_EQ(store->didSend(), c.sent) << c.name;
    EXPECT_EQ(store->error(), c.error) << c.name;
    EXPECT_EQ(store->summary(), c.sent ? "" : "Pointer froze") << c.name;
    const auto rate = storedRate();
    ASSERT_TRUE(rate.has_value()) << c.name;
    EXPECT_EQ(rate->attempts, std::vector<double>{now}) << c.name;
    EXPECT_EQ(rate->sent, c.sent ? std::vector<double>{now} : std::vector<double>{}) << c.name;
    EXPECT_EQ(rate->blockedUntil, c.blockedFor > 0 ? now + c.blockedFor : 0.0) << c.name;
  }
}

TEST_F(BugReportStoreTest, AnAnswerLongerThanARealOneStopsAndIsNeverRead) {
  // An acceptance padded to a given size: the limit decides, not the content.
  auto acceptance = [](std::size_t size) {
    const std::string head = R"({"accepted":true,"id":"$ID","note":")";
    const std::size_t sent = head.size() - 3 + 36 + 2;
    return head + std::string(size - sent, ' ') + "\"}";
  };
  for (const std::size_t size : {kMaximumReportAnswerBytes, kMaximumReportAnswerBytes + 1}) {
    defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.test");
    auto store = makeStore();
    answer({201, acceptance(size)});
    fill(*store);
    submitAndWait(*store);
    const bool fits = size == kMaximumReportAnswerBytes;
    EXPECT_EQ(store->didSend(), fits) << size;
    EXPECT_EQ(store->error(), fits ? std::nullopt : std::optional<std::string>(kNotSaved)) << size;
    EXPECT_EQ(store->summary(), fits ? "" : "Pointer froze");
  }

  // A list at the limit reads; an endless one stops early and is no list.
  const std::string list = R"([{"version":"1.5","build":43,"minimumSystemVersion":"14.0"}])";
  answer({200, list + std::string(kMaximumReleaseListBytes - list.size(), ' ')});
  auto atLimit = makeStore();
  atLimit->checkForNewerRelease();
  EXPECT_TRUE(platform::pumpMainRunLoopUntil([&] { return atLimit->versionState().kind != Kind::checking; }));
  EXPECT_EQ(atLimit->versionState(), BugReportVersionState::newer({"1.5", 43, "14.0"}, true));

  constexpr std::size_t kOffered = std::size_t{32} << 20;
  auto sent = std::make_shared<std::atomic<std::size_t>>(0);
  server.server().Get("/endless/releases.json", [sent, list](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider("application/json", [sent, list](size_t offset, httplib::DataSink& sink) {
      if (offset >= kOffered) {
        sink.done();
        return true;
      }
      const std::string chunk = offset == 0 ? list : std::string(64 << 10, ' ');
      if (!sink.write(chunk.data(), chunk.size())) return false;
      *sent += chunk.size();
      return true;
    });
  });
  auto endless = makeStore({"1.4", "42", "14.6.1", "stable"}, server.baseURL() + "endless/");
  endless->checkForNewerRelease();
  EXPECT_TRUE(platform::pumpMainRunLoopUntil([&] { return endless->versionState().kind != Kind::checking; }));
  EXPECT_EQ(endless->versionState().kind, Kind::unavailable);
  server.stop();  // waits for the handler, whose writes fail once the client hangs up
  EXPECT_LT(sent->load(), kOffered / 2) << "the list was downloaded past its limit";
}

TEST_F(BugReportStoreTest, UnchangedTextsResendUnderTheirIdUntilTheServiceAsksForANewReport) {
  auto store = makeStore();
  answer({500, "{}"});
  fill(*store);
  submitAndWait(*store);
  const std::string first = lastReportID();
  submitAndWait(*store);
  EXPECT_EQ(lastReportID(), first) << "same texts";

  store->setDetails(kDetailsText + " ");
  submitAndWait(*store);
  EXPECT_EQ(lastReportID(), first) << "trailing white space is trimmed";

  store->setDetails(kDetailsText + "!");
  submitAndWait(*store);
  const std::string changed = lastReportID();
  EXPECT_NE(changed, first) << "one character more";

  answer({409, R"({"restart":true})"});
  submitAndWait(*store);
  EXPECT_EQ(lastReportID(), changed);
  EXPECT_EQ(store->error(), kNotSaved);

  now += 60;  // past the attempt limit
  answer({409, R"({"restart":false})"});
  submitAndWait(*store);
  const std::string restarted = lastReportID();
  EXPECT_NE(restarted, changed) << "after a restart";
  submitAndWait(*store);
  EXPECT_EQ(lastReportID(), restarted);
  EXPECT_TRUE(isLowerCaseUUID(restarted));
}

TEST_F(BugReportStoreTest, StoppingASendKeepsItsIdAndItsLateAnswerChangesNothing) {
  auto store = makeStore();
  answer({201, R"({"accepted":true,"id":"$ID"})", {}, /*hold=*/true});
  fill(*store);
  store->submit();
  EXPECT_TRUE(store->isSending());
  store->submit();  // ignored while sending
  ASSERT_TRUE(server.waitForRequests(1));
  store->cancelSending();
  EXPECT_FALSE(store->isSending());
  EXPECT_EQ(store->error(), kStopped);

  server.openGate();
  // The session hands its answers over in order: once a later release check
  // has settled, whatever the stopped send got has been seen, and changed
  // nothing.
  store->checkForNewerRelease();
  ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return store->versionState().kind != Kind::checking; }));
  EXPECT_FALSE(store->didSend());
  EXPECT_EQ(store->error(), kStopped);
  EXPECT_EQ(store->summary(), "Pointer froze");

  const std::string stoppedID = lastReportID();
  submitAndWait(*store);
  EXPECT_TRUE(store->didSend());
  EXPECT_EQ(lastReportID(), stoppedID);
  EXPECT_EQ(reports().size(), 2u);
}

TEST_F(BugReportStoreTest, ASilentOrAbsentServerEndsInTheConnectionSentence) {
  auto store = makeStore({"1.4", "42", "14.6.1", "stable"}, std::nullopt, 0.3);
  answer({201, R"({"accepted":true,"id":"$ID"})", {}, /*hold=*/true});
  fill(*store);
  const auto started = std::chrono::steady_clock::now();
  submitAndWait(*store);
  EXPECT_EQ(store->error(), kNotSent);
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  server.openGate();

  const std::string closed = server.baseURL();
  server.stop();
  auto unreachable = makeStore({"1.4", "42", "14.6.1", "stable"}, closed);
  fill(*unreachable);
  submitAndWait(*unreachable);
  EXPECT_EQ(unreachable->error(), kNotSent);
  EXPECT_FALSE(unreachable->didSend());

  auto unconfigured = makeStore({"1.4", "42", "14.6.1", "stable"}, "not a url");
  EXPECT_FALSE(unconfigured->baseURL().has_value());
  fill(*unconfigured);
  unconfigured->submit();
  EXPECT_EQ(unconfigured->error(), "Reporting is unavailable in this build.");
  EXPECT_FALSE(unconfigured->isSending());
}

TEST_F(BugReportStoreTest, TheRateLimitHoldsReportsBackAndSurvivesARestart) {
  auto store = makeStore();
  answer({500, "{}"});
  fill(*store);
  for (int i = 0; i < 5; ++i) {
    submitAndWait(*store);
    now += 1;
  }
  // Five attempts within the minute: the sixth waits for the oldest to age.
  store->submit();
  EXPECT_EQ(store->error(), "Try again in 55 seconds.");
  EXPECT_FALSE(store->isSending());
  EXPECT_EQ(reports().size(), 5u);
  EXPECT_EQ(makeStore()->remainingWait(), 55) << "a new store reads the persisted record";

  now += 54.5;
  EXPECT_EQ(store->remainingWait(), 1);
  now += 0.5;  // the oldest attempt is exactly 60 s old
  EXPECT_EQ(store->remainingWait(), 0);
  now += 60;

  // Three accepted reports within the hour: then minutes.
  answer({201, R"({"accepted":true,"id":"$ID"})"});
  for (int i = 0; i < 3; ++i) {
    store->reset();
    fill(*store, "Report number " + std::to_string(i));
    submitAndWait(*store);
    EXPECT_TRUE(store->didSend());
  }
  store->reset();
  fill(*store);
  store->submit();
  EXPECT_EQ(store->error(), "Try again in 60 minutes.");
  now += 3600;
  EXPECT_EQ(store->remainingWait(), 0);

  // A garbled record neither blocks nor is removed; the in-memory one stands.
  defaults->setObject(platform::dataFromString("{garbled"), BugReportStore::rateKey);
  auto fresh = makeStore();
  EXPECT_EQ(fresh->rate(), BugReportRateState{});
  EXPECT_EQ(store->remainingWait(), 0);
  EXPECT_EQ(defaults->dataForKey(BugReportStore::rateKey), platform::dataFromString("{garbled"));
  now -= 3600;
  EXPECT_EQ(store->remainingWait(), 3600) << "the in-memory record, when the stored one does not decode";
}

TEST_F(BugReportStoreTest, A429NeverLowersALaterBlock) {
  auto store = makeStore();
  answer({429, "", {{"Retry-After", "5"}}, /*hold=*/true});
  fill(*store);
  store->submit();
  ASSERT_TRUE(server.waitForRequests(1));
  // While the answer is on its way, another window's 429 blocks for longer.
  auto record = storedRate();
  ASSERT_TRUE(record.has_value());
  record->blockedUntil = now + 3000;
  defaults->setObject(*record->encoded(), BugReportStore::rateKey);
  server.openGate();
  ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return !store->isSending(); }));

  EXPECT_EQ(store->error(), "Try again in 5 seconds.");
  EXPECT_EQ(storedRate().value_or(BugReportRateState{}).blockedUntil, now + 3000);
  EXPECT_EQ(store->rate().blockedUntil, now + 3000);
  EXPECT_EQ(store->remainingWait(), 3000);
}

TEST_F(BugReportStoreTest, TheReleaseCheckTurnsEachAnswerIntoAState) {
  const std::string list = R"([{"version":"1.5","build":43,"minimumSystemVersion":"15.0"}])";
  const BugReportVersionState newerHere = BugReportVersionState::newer({"1.5", 43, "15.0"}, true);
  const BugReportVersionState newerElsewhere = BugReportVersionState::newer({"1.5", 43, "15.0"}, false);
  struct Case {
    const char* name;
    Script script;
    BugReportMetadata metadata;
    BugReportVersionState state;
  };
  const BugReportMetadata on15{"1.4", "42", "15.0.0", "stable"};
  const BugReportMetadata on14{"1.4", "42", "14.6.1", "stable"};
  const auto unavailable = BugReportVersionState::of(Kind::unavailable);
  const Case cases[] = {
      {"unpublished", {200, "[]"}, on15, BugReportVersionState::of(Kind::unpublished)},
      {"newer, runs here", {200, list}, on15, newerHere},
      {"newer, needs a later system", {200, list}, on14, newerElsewhere},
      {"current", {200, list}, {"1.5", "43", "15.0.0", "stable"}, BugReportVersionState::of(Kind::current)},
      {"304", {304, list}, on15, unavailable},
      {"404", {404, list}, on15, unavailable},
      {"500", {500, list}, on15, unavailable},
      {"302 not followed", {302, list, {{"Location", "/releases.json"}}}, on15, unavailable},
      {"262145 bytes", {200, list + std::string(262145 - list.size(), ' ')}, on15, unavailable},
      {"not an array", {200, R"({"releases":[]})"}, on15, unavailable},
      {"running build not a number", {200, list}, {"1.4", "Unknown", "15.0.0", "stable"}, unavailable},
      {"never answered", {200, list, {}, /*hold=*/true}, on15, unavailable},
  };
  for (const auto& c : cases) {
    // An answer held back times out.
    auto store = makeStore(c.metadata, std::nullopt, c.script.hold ? 0.3 : platform::kTestHangGuardSeconds);
    answer(c.script);
    EXPECT_EQ(store->versionState(), BugReportVersionState::of(Kind::checking));
    const std::size_t before = server.requests().size();
    store->checkForNewerRelease();
    EXPECT_TRUE(platform::pumpMainRunLoopUntil(
        [&] { return store->versionState() != BugReportVersionState::of(Kind::checking); }))
        << c.name;
    EXPECT_EQ(store->versionState(), c.state) << c.name;
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), before + 1) << c.name;
    EXPECT_EQ(requests.back().method, "GET");
    EXPECT_EQ(requests.back().path, "/releases.json");
    EXPECT_FALSE(requests.back().header("X-Vurle-Release-Channel").has_value());
  }
  server.openGate();
}

TEST_F(BugReportStoreTest, TheReleaseListIsFetchedAtMostOnceInFiveMinutes) {
  auto store = makeStore();
  auto releaseRequests = [&] {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == "/releases.json";
    return count;
  };
  auto checkAndSettle = [&] {
    store->checkForNewerRelease();
    platform::pumpMainRunLoopUntil([&] { return store->versionState().kind != Kind::checking; });
  };
  answer({200, "[]"});
  checkAndSettle();
  EXPECT_EQ(store->versionState().kind, Kind::unpublished);
  EXPECT_EQ(store->lastVersionCheck(), now);

  answer({500, ""});
  now += 299.75;
  checkAndSettle();
  EXPECT_EQ(releaseRequests(), 1u);
  EXPECT_EQ(store->versionState().kind, Kind::unpublished) << "a skipped check keeps the last outcome";

  now += 0.25;
  checkAndSettle();
  EXPECT_EQ(releaseRequests(), 2u);
  EXPECT_EQ(store->versionState().kind, Kind::unavailable);

  now -= 1000;  // the clock went back: the last check lies in the future
  answer({200, "[]"});
  checkAndSettle();
  EXPECT_EQ(releaseRequests(), 3u);
  EXPECT_EQ(store->versionState().kind, Kind::unpublished);

  // One check at a time, and none without a base URL.
  answer({200, "[]", {}, /*hold=*/true});
  now += 1000;
  store->checkForNewerRelease();
  store->checkForNewerRelease();
  ASSERT_TRUE(server.waitForRequests(4));
  server.openGate();
  platform::pumpMainRunLoopUntil([&] { return store->versionState().kind != Kind::checking; });
  EXPECT_EQ(releaseRequests(), 4u);

  auto unconfigured = makeStore({"1.4", "42", "14.6.1", "stable"}, "not a url");
  unconfigured->checkForNewerRelease();
  EXPECT_EQ(unconfigured->versionState().kind, Kind::checking);
  EXPECT_FALSE(unconfigured->lastVersionCheck().has_value());
}

// Random and mutated bytes as the service's answers and as the release list:
// nothing crashes, a list gives a settled state (a newer one names a valid
// release above the running build), and an answer ends in a sentence.
TEST_F(BugReportStoreTest, OutsideBytesEndInAStateOrASentence) {
  std::mt19937 random(20261209);
  const std::string seeds[] = {
      R"([{"version":"1.4","build":42,"minimumSystemVersion":"14.0"},{"version":"1.5.2","build":43,"minimumSystemVersion":"15.1"}])",
      R"({"accepted":true,"id":"0e2c8a7e-5d7b-4d57-9c1e-0b8f5c3b1a2d","error":"x","restart":false})",
  };
  static const std::string alphabet = "[]{}\",:0123456789.-etruanl \x80\xff";
  auto outsideBytes = [&](int iteration) {
    std::string bytes;
    if (iteration % 2 == 0) {
      bytes.resize(random() % 96);
      for (auto& byte : bytes) byte = static_cast<char>(random() % 256);
    } else {
      bytes = seeds[(iteration / 2) % 2];
      for (int flips = 1 + random() % 4; flips > 0; --flips) {
        bytes[random() % bytes.size()] = alphabet[random() % alphabet.size()];
      }
    }
    return bytes;
  };
  const BugReportMetadata metadata{"1.4", "42", "14.6.1", "beta"};
  auto settled = [](const BugReportVersionState& state) {
    return state.kind != Kind::checking &&
           (state.kind != Kind::newer || (state.release && state.release->build > 42));
  };

  for (int iteration = 0; iteration < 4000; ++iteration) {
    const std::string bytes = outsideBytes(iteration);
    const auto data = platform::dataFromString(bytes);
    const auto state = BugReportStore::versionState(data, metadata);
    if (state) {
      EXPECT_TRUE(settled(*state)) << bytes;
    }
    BugReportStore::Result::decode(data);
  }

  auto store = makeStore(metadata);
  const int statuses[] = {200, 201, 301, 409, 429, 500};
  for (int iteration = 0; iteration < 60; ++iteration) {
    const std::string bytes = outsideBytes(iteration);
    answer({statuses[iteration % 6], bytes});
    now += 3600;  // past every limit and block
    fill(*store);
    submitAndWait(*store);
    EXPECT_FALSE(store->didSend()) << bytes;
    EXPECT_FALSE(store->error().value_or("").empty()) << bytes;
    EXPECT_EQ(store->summary(), "Pointer froze");

    answer({200, bytes});
    store->checkForNewerRelease();
    EXPECT_TRUE(platform::pumpMainRunLoopUntil([&] { return store->versionState().kind != Kind::checking; }));
    EXPECT_TRUE(settled(store->versionState())) << bytes;
  }
}

TEST_F(BugReportStoreTest, AStoreGoneBeforeItsAnswerIsLeftAlone) {
  answer({201, R"({"accepted":true,"id":"$ID"})", {}, /*hold=*/true});
  {
    auto store = makeStore();
    fill(*store);
    store->submit();
    store->checkForNewerRelease();
    ASSERT_TRUE(server.waitForRequests(2));
  }
  server.openGate();
  // The session ended with the store, so all it handed over is queued.
  platform::drainMainRunLoop();
  const auto rate = storedRate();
  ASSERT_TRUE(rate.has_value());
  EXPECT_EQ(rate->attempts.size(), 1u);
  EXPECT_TRUE(rate->sent.empty()) << "an acceptance nobody waited for is not counted";
}

TEST_F(BugReportStoreTest, MetadataComesFromTheBundleAndTheSystem) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("vurle-support-" + std::to_string(::getpid()));
  struct Case {
    const char* info;
    BugReportMetadata metadata;
  };
  const Case cases[] = {
      {R"({"CFBundleShortVersionString":"2.1","CFBundleVersion":"77","VurleReleaseChannel":"beta"})",
       {"2.1", "77", "14.0.0", "beta"}},
      {R"({"CFBundleShortVersionString":2.1,"CFBundleVersion":77,"VurleReleaseChannel":"Beta"})",
       {"Unknown", "Unknown", "14.0.0", "stable"}},
      {R"({"VurleReleaseChannel":true})", {"Unknown", "Unknown", "14.0.0", "stable"}},
  };
  platform::ProcessInfo::setOperatingSystemVersion({14, 0, 0});
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root);
    std::ofstream(root / "Info.json") << c.info;
    platform::NSBundle::setMainBundlePath(root);
    EXPECT_EQ(BugReportMetadata::current(), c.metadata) << c.info;
  }
  fs::remove_all(root);
  platform::resetProcessState();

  // Without a base URL of its own the store reports below the site's root.
  auto byDefault = BugReportStore::make(BugReportStore::Options{defaults, {}, cases[0].metadata, std::nullopt, 15, 10});
  ASSERT_TRUE(byDefault->baseURL().has_value());
  EXPECT_EQ(byDefault->baseURL(), siteBaseURL());
}

}  // namespace
}  // namespace vurle
