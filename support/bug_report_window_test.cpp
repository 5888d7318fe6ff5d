#include "support/bug_report_window.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/updater/updater_test_support.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

constexpr const char* kSent = R"({"accepted":true,"id":"$ID"})";
const std::string kSummary = "Pointer froze";
const std::string kDetails = "The pointer froze over the dock after a Space change.";

// The update controller as the form sees it.
class FakeUpdates : public UpdateController {
 public:
  bool isPresentingUpdate() const override { return false; }
  Publisher<bool> isPresentingUpdatePublisher() const override { return presenting_.publisher(); }
  bool canCheckForUpdates() const override { return canCheck.value(); }
  Publisher<bool> canCheckForUpdatesPublisher() const override { return canCheck.publisher(); }
  void start() override {}
  void checkForUpdates(bool inButton) override { checks.push_back(inButton); }
  Published<bool> canCheck{false};
  std::vector<bool> checks;

 private:
  Published<bool> presenting_{false};
};

class BugReportWindowTest : public ::testing::Test {
 protected:
  struct Answer {
    int status = 200;
    std::string body;
    bool hold = false;
  };

  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    screenWithVisibleHeight(800);
    parent = NSWindow::make(CGRectMake(100, 100, 460, 591), 2);
    parent->setContentView(std::make_shared<NSView>(CGRectZero));
    parent->makeKeyAndOrderFront();
    server.server().Post(R"(.*/api/app-bug-reports)", [this](const httplib::Request& request, httplib::Response& response) {
      const Answer a = take(report);
      if (a.hold) server.waitAtGate();
      std::string body = a.body;
      if (auto at = body.find("$ID"); at != std::string::npos) {
        const auto sent = JSON::parse(request.body, nullptr, false);
        body.replace(at, 3, sent.is_object() && sent.contains("id") ? sent["id"].get<std::string>() : "");
      }
      response.status = a.status;
      response.set_content(body, "application/json");
    });
    server.server().Get("/releases.json", [this](const httplib::Request&, httplib::Response& response) {
      const Answer a = take(releases);
      if (a.hold) server.waitAtGate();
      response.status = a.status;
      response.set_content(a.body, "application/json");
    });
    updates = std::make_shared<FakeUpdates>();
    presenter = BugReportPresenter::make({updates, nullptr});
  }
  void TearDown() override {
    server.openGate();
    if (presenter) presenter->dismiss();
    presenter.reset();
    parent.reset();
    scope->runUntilIdle();
    resetProcessState();
  }

  Answer take(const Answer& answer) {
    std::lock_guard<std::mutex> lock(mutex);
    return answer;
  }
  void answer(Answer& which, Answer a) {
    std::lock_guard<std::mutex> lock(mutex);
    which = std::move(a);
  }
  static void screenWithVisibleHeight(double visible) {
    // The menu bar reserves 24 points along the top.
    NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1400, visible + 24), 2)});
  }
  std::shared_ptr<BugReportStore> makeStore(BugReportMetadata metadata = {"1.4", "42", "14.6.1", "stable"}) {
    BugReportStore::Options options;
    options.defaults = defaults;
    options.clock = [] { return wallClockTime(); };
    options.metadata = std::move(metadata);
    options.baseURL = server.baseURL();
    // No pause of a busy machine passes for a silent server.
    options.reportTimeout = platform::kTestHangGuardSeconds;
    options.releaseListTimeout = platform::kTestHangGuardSeconds;
    return BugReportStore::make(std::move(options));
  }
  bool pump(const std::function<bool()>& done) { return platform::testing::pumpSimulatedUntil(scope, done); }
  void turn() { scope->runUntilIdle(); }
  std::size_t requestsFor(const std::string& path) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path.find(path) != std::string::npos ? 1 : 0;
    return count;
  }
  // Opens the form for the store and lets its first release check answer.
  ViewGraph& open(const std::shared_ptr<BugReportStore>& store) {
    presenter->present(parent, store);
    EXPECT_TRUE(presenter->window()) << "the form opened";
    pump([&] { return store->versionState().kind != BugReportVersionState::Kind::checking; });
    turn();
    return *presenter->hostingView()->graph();
  }
  ViewRef sendButton(ViewGraph& graph) {
    auto all = graph.findAll([](const Node& n) { return n.kind() == "Button" && n.modifier("keyboardShortcut") &&
                                                        n.modifier("keyboardShortcut")->string("kind") == "defaultAction"; });
    EXPECT_EQ(all.size(), 1u);
    return all.front();
  }

  SimulatedSchedulerScope scope;
  std::shared_ptr<NSUserDefaults> defaults = NSUserDefaults::makeInMemory("mirt.vurle.form-test");
  std::shared_ptr<NSWindow> parent;
  std::shared_ptr<FakeUpdates> updates;
  std::shared_ptr<BugReportPresenter> presenter;
  LoopbackServer server;
  std::mutex mutex;
  Answer report{201, kSent, false};
  Answer releases{200, "[]", false};
};

TEST_F(BugReportWindowTest, TheFormOpensOverTheRightParentAndNeverOverAnotherSheet) {
  struct Case {
    const char* name;
    bool giveParent, giveSheet, parentKey, parentHasSheet;
    bool opens;
  };
  const std::vector<Case> cases = {
      {"the given window", true, false, true, false, true},
      {"a given sheet's parent", false, true, true, false, false},  // that parent shows the sheet
      {"the key window when none is given", false, false, true, false, true},
      {"the main window when none is key", false, false, false, false, true},
      {"a parent with a sheet opens nothing", true, false, true, true, false},
  };
  for (const auto& c : cases) {
    presenter->dismiss();
    if (auto sheet = parent->attachedSheet()) parent->endSheet(sheet);
    parent->makeKeyAndOrderFront();
    std::shared_ptr<NSWindow> other;
    if (c.giveSheet || c.parentHasSheet) {
      other = NSWindow::make(CGRectMake(0, 0, 200, 100), 2);
      parent->beginSheet(other);
    }
    // A panel that was key and went away leaves the parent main, not key.
    auto panel = std::make_shared<NSPanel>(CGRectMake(0, 0, 100, 100), NSWindowStyleMaskTitled);
    if (!c.parentKey) {
      panel->makeKeyAndOrderFront();
      panel->orderOut();
      ASSERT_FALSE(NSApplication::shared()->keyWindow()) << c.name;
      ASSERT_EQ(NSApplication::shared()->mainWindow(), parent) << c.name;
    }
    auto store = makeStore();
    presenter->present(c.giveParent ? parent : c.giveSheet ? other : nullptr, store);
    ASSERT_EQ(presenter->window() != nullptr, c.opens) << c.name;
    if (c.opens) {
      EXPECT_EQ(parent->attachedSheet(), presenter->window()) << c.name;
      EXPECT_TRUE(presenter->window()->isKeyWindow()) << c.name;
      EXPECT_EQ(presenter->window()->title(), "Report a bug");
      EXPECT_EQ(presenter->window()->styleMask(), NSWindowStyleMaskTitled);
      EXPECT_FALSE(presenter->window()->isReleasedWhenClosed());
    } else {
      EXPECT_EQ(parent->attachedSheet(), other) << c.name << ": nothing else attached";
    }
    if (other) parent->endSheet(other);
  }
  // No window anywhere: nothing opens, nothing is reported.
  parent->orderOut();
  parent.reset();
  presenter->dismiss();
  presenter->present(nullptr, makeStore());
  EXPECT_FALSE(presenter->window());
}

TEST_F(BugReportWindowTest, TheFormIsAsHighAsTheScreenAllowsBetweenTheSentHeightAnd660) {
  struct Case {
    double visible;  // 0: the parent is on no screen
    double height;
  };
  for (const Case& c : std::vector<Case>{{600, 500}, {1200, 660}, {760, 660}, {759, 659}, {300, 270}, {369, 270},
                                         {371, 271}, {0, 660}}) {
    presenter->dismiss();
    screenWithVisibleHeight(c.visible > 0 ? c.visible : 800);
    parent->setFrame(c.visible > 0 ? CGRectMake(100, 50, 460, 200) : CGRectMake(5000, 5000, 460, 200), false);
    presenter->present(parent, makeStore());
    ASSERT_TRUE(presenter->window());
    EXPECT_EQ(presenter->window()->frame().size.height, c.height) << c.visible;
    EXPECT_EQ(presenter->window()->frame().size.width, 500);
    EXPECT_EQ(presenter->hostingView()->frame().size, (CGSize{500, c.height}));
  }
}

TEST_F(BugReportWindowTest, AReportFromOpeningToSentToAnotherReportAndReopening) {
  screenWithVisibleHeight(600);
  auto store = makeStore();
  ViewGraph& graph = open(store);
  auto host = presenter->hostingView();
  const std::weak_ptr<NSWindow> window = presenter->window();
  EXPECT_EQ(requestsFor("/releases.json"), 1u);
  ASSERT_TRUE(graph.focusedField());
  EXPECT_EQ(graph.focusedField()->accessibility().label, "Bug summary") << "focused on appear";
  EXPECT_EQ(window.lock()->firstResponder(), host);

  // Opening again brings it forward and checks nothing again.
  presenter->present(parent, store);
  turn();
  EXPECT_EQ(presenter->window(), window.lock());
  EXPECT_EQ(requestsFor("/releases.json"), 1u);

  host->typeText(kSummary);
  host->pressReturn();  // Send is not enabled yet: Return does nothing
  turn();
  ASSERT_TRUE(graph.findLabel("Bug details")->tap());
  host->typeText("The pointer froze\nover the dock.");
  host->pressReturn();
  turn();
  EXPECT_EQ(store->details(), "The pointer froze\nover the dock.\n") << "Return in the editor breaks the line";
  EXPECT_EQ(requestsFor("app-bug-reports"), 0u);

  // Escape closes once; the text stays for the next time.
  host->pressEscape();
  host.reset();
  turn();
  EXPECT_FALSE(presenter->window());
  EXPECT_FALSE(parent->attachedSheet());
  EXPECT_TRUE(window.expired()) << "the closed form and its timer are gone";
  scope->advance(BugReportStore::releaseCheckSpacing + 1);
  ViewGraph& again = open(store);
  EXPECT_EQ(requestsFor("/releases.json"), 2u) << "one check for this opening";
  EXPECT_EQ(store->summary(), kSummary);
  EXPECT_EQ(again.findLabel("Bug summary")->accessibility().value, kSummary);

  // Return in the summary sends; the window shrinks to the sent height
  // with its top edge where it was, animated.
  const NSRect before = presenter->window()->frame();
  presenter->hostingView()->pressReturn();
  ASSERT_TRUE(pump([&] { return store->didSend(); }));
  turn();
  const NSRect sent = presenter->window()->frame();
  EXPECT_EQ(sent.size.height, kBugReportSentHeight);
  EXPECT_EQ(CGRectGetMaxY(sent), CGRectGetMaxY(before));
  EXPECT_EQ(sent.origin.x, before.origin.x);
  EXPECT_TRUE(presenter->window()->lastFrameChangeAnimated());
  ASSERT_TRUE(again.findText("Report sent") || again.findLabel("Report sent. Thanks for helping make vurle better."));
  EXPECT_FALSE(again.focusedField()) << "Send let go of the focus";
  ASSERT_FALSE(again.scrollRecords().empty());
  EXPECT_EQ(again.scrollRecords().back().id, "report-start");

  // Another report: empty fields, the summary focused, H again; under
  // Reduce Motion without animation.
  NSWorkspace::sharedWorkspace().setReduceMotion(true);
  again.findText("Send another report")->tap();
  turn();
  EXPECT_EQ(store->summary(), "");
  EXPECT_EQ(again.focusedField()->accessibility().label, "Bug summary");
  EXPECT_EQ(presenter->window()->frame().size.height, 500);
  EXPECT_EQ(CGRectGetMaxY(presenter->window()->frame()), CGRectGetMaxY(before));
  EXPECT_FALSE(presenter->window()->lastFrameChangeAnimated());

  // Sent, then closed with Done: the next opening starts empty.
  presenter->hostingView()->typeText("Another problem");
  turn();
  store->setDetails(kDetails);
  turn();
  presenter->hostingView()->pressReturn();
  ASSERT_TRUE(pump([&] { return store->didSend(); }));
  turn();
  ASSERT_TRUE(again.findText("Done"));
  presenter->hostingView()->pressEscape();
  turn();
  EXPECT_FALSE(presenter->window());
  open(store);
  EXPECT_FALSE(store->didSend());
  EXPECT_EQ(store->summary(), "");
  EXPECT_EQ(store->details(), "");
}

TEST_F(BugReportWindowTest, SendIsEnabledOnlyWithBothTextsNoWaitAndNoSendRunning) {
  struct Case {
    const char* name;
    std::string summary, details;
    bool enabled;
  };
  const std::vector<Case> cases = {
      {"nothing typed", "", "", false},
      {"a summary of spaces only", "   \n\t", kDetails, false},
      {"details of spaces only", kSummary, "  \n ", false},
      {"both filled", kSummary, kDetails, true},
      {"short texts still enable it: Send validates", "ab", "c", true},
  };
  // The C locale groups as the platform does by default.
  const char* saved = std::getenv("LC_ALL");
  const std::optional<std::string> locale = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("LC_ALL", "C", 1);
  auto store = makeStore();
  ViewGraph& graph = open(store);
  locale ? ::setenv("LC_ALL", locale->c_str(), 1) : ::unsetenv("LC_ALL");
  EXPECT_EQ(graph.findLabel("Email, optional")->node().view.desc().prompt, "name@example.com");
  EXPECT_EQ(graph.findLabel("Bug summary")->node().view.desc().prompt, "A short description of the problem");
  EXPECT_TRUE(graph.findText("20–6,000 characters")) << "grouped by the user's locale";
  for (const auto& c : cases) {
    store->setSummary(c.summary);
    store->setDetails(c.details);
    turn();
    const ViewRef send = sendButton(graph);
    EXPECT_EQ(send.isEnabled(), c.enabled) << c.name;
    EXPECT_EQ(send.text(), "Send report") << c.name;
    EXPECT_EQ(send.node().children.front()->environment.foreground.name, c.enabled ? "black" : "secondary") << c.name;
  }
}

TEST_F(BugReportWindowTest, AWaitCountsDownOnTheVirtualClockAndSendEnablesWhenItEnds) {
  auto store = makeStore();
  store->setSummary(kSummary);
  store->setDetails(kDetails);
  const double opened = wallClockTime();
  BugReportRateState blocked;
  blocked.blockedUntil = opened + 2.5;
  defaults->setObject(*blocked.encoded(), BugReportStore::rateKey);
  const double began = systemUptime();  // the virtual clock, which the timeline runs on
  ViewGraph& graph = open(store);
  struct Step {
    double at;  // seconds after opening
    std::string sentence;
    bool enabled;
  };
  // The footer is made again each second from the opening: the wait ends
  // at 2.5 s and Send shows it at the next second.
  const std::vector<Step> steps = {{0.5, "Try again in 3 seconds.", false},
                                   {1.0, "Try again in 2 seconds.", false},
                                   {2.0, "Try again in 1 second.", false},
                                   {2.99, "Try again in 1 second.", false},
                                   {3.0, "", true},
                                   {4.0, "", true}};
  for (const auto& s : steps) {
    scope->advance(std::max(0.0, s.at - (systemUptime() - began)));
    turn();
    EXPECT_EQ(sendButton(graph).isEnabled(), s.enabled) << s.at;
    const auto sentence = graph.findAll([](const Node& n) {
      return n.kind() == "Text" && n.view.desc().text.starts_with("Try again");
    });
    EXPECT_EQ(sentence.empty() ? std::string() : sentence.front().text(), s.sentence) << s.at;
  }
}

TEST_F(BugReportWindowTest, WhileSendingTheFieldsAreDisabledAndTheButtonSaysSoAndAnErrorScrollsToTheTop) {
  auto store = makeStore();
  ViewGraph& graph = open(store);
  store->setSummary(kSummary);
  store->setDetails(kDetails);
  answer(report, {500, "{}", true});
  turn();
  presenter->hostingView()->pressReturn();
  turn();
  ASSERT_TRUE(store->isSending());
  EXPECT_EQ(sendButton(graph).text(), "Sending…");
  EXPECT_FALSE(sendButton(graph).isEnabled());
  EXPECT_FALSE(graph.findLabel("Bug summary")->isEnabled());
  EXPECT_FALSE(graph.findLabel("Bug details")->isEnabled());
  const auto footer = graph.findKind("TimelineView")->node().children.front().get();
  EXPECT_EQ(footer->children.front()->kind(), "ProgressView") << "a small progress indicator beside the button";
  EXPECT_TRUE(graph.scrollRecords().empty());

  server.openGate();
  ASSERT_TRUE(pump([&] { return !store->isSending(); }));
  turn();
  ASSERT_TRUE(store->error());
  EXPECT_TRUE(graph.findLabel("Report needs attention. " + *store->error())) << "the attention notice";
  ASSERT_EQ(graph.scrollRecords().size(), 1u);
  EXPECT_EQ(graph.scrollRecords()[0].id, "report-start");
  EXPECT_EQ(graph.scrollRecords()[0].anchor, "top");
  EXPECT_TRUE(graph.scrollRecords()[0].found);
  // The notice stands first in the body, where the scroll goes.
  const Node& top = graph.findKind("ScrollView")->node();
  EXPECT_EQ(top.children.front()->children.front()->kind(), "FeedbackNotice");
}

TEST_F(BugReportWindowTest, EachReleaseCheckOutcomeHasItsLineOrBanner) {
  const std::string newer = R"([{"version":"1.5","build":50,"minimumSystemVersion":"14.0"}])";
  const std::string needsNewerSystem = R"([{"version":"1.5","build":50,"minimumSystemVersion":"15.0"}])";
  const std::string runsHere =
      "A newer version is available. You’re using 1.4 (build 42). Version 1.5 (build 50) may already fix this. You can "
      "still send the report.";
  const std::string needsMore =
      "A newer version is available. Version 1.5 requires macOS 15.0. You can still report problems with this version.";
  struct Case {
    const char* name;
    int status;
    std::string body;
    bool hold;
    bool canCheck;
    std::string shown;   // a text or the banner's label; empty: nothing
    std::string button;  // empty: none
  };
  const std::vector<Case> cases = {
      {"checking", 200, "[]", true, false, "Checking for a newer version…", ""},
      {"current", 200, R"([{"version":"1.4","build":42,"minimumSystemVersion":"14.0"}])", false, false, "", ""},
      {"unpublished", 200, "[]", false, false, "Public release information isn’t available yet.", ""},
      {"unavailable", 500, "", false, false, "Couldn’t check for updates. You can still send your report.", ""},
      {"newer, runs here, updater can check", 200, newer, false, true, runsHere, "Check for updates…"},
      {"newer, runs here, updater cannot check", 200, newer, false, false, runsHere, "View updates"},
      {"newer, needs a newer macOS", 200, needsNewerSystem, false, true, needsMore, "View updates"},
  };
  const std::vector<std::string> lines = {"Checking for a newer version…", "Public release information isn’t available yet.",
                                          "Couldn’t check for updates. You can still send your report."};
  for (const auto& c : cases) {
    presenter->dismiss();
    answer(releases, {c.status, c.body, c.hold});
    updates->canCheck.set(c.canCheck);
    auto store = makeStore();
    presenter->present(parent, store);
    if (!c.hold) pump([&] { return store->versionState().kind != BugReportVersionState::Kind::checking; });
    turn();
    ViewGraph& graph = *presenter->hostingView()->graph();
    for (const auto& line : lines) EXPECT_EQ(graph.findText(line).has_value(), line == c.shown) << c.name << ": " << line;
    const bool banner = !c.button.empty();
    EXPECT_EQ(graph.findLabel(c.shown).has_value() && banner, banner) << c.name;
    EXPECT_EQ(graph.findText("Check for updates…").has_value(), c.button == "Check for updates…") << c.name;
    EXPECT_EQ(graph.findText("View updates").has_value(), c.button == "View updates") << c.name;
    if (c.hold) server.openGate();
  }
}

TEST_F(BugReportWindowTest, TheReleaseButtonChecksInTheUpdaterOrOpensTheBuiltInSitesUpdatesPage) {
  answer(releases, {200, R"([{"version":"1.5","build":50,"minimumSystemVersion":"14.0"}])", false});
  updates->canCheck.set(true);
  presenter = BugReportPresenter::make({updates, [] { return NSURL::URLWithString("https://example.org/site/"); }});
  auto store = makeStore();
  ViewGraph& graph = open(store);
  ASSERT_TRUE(graph.findText("Check for updates…"));
  graph.findText("Check for updates…")->tap();
  EXPECT_EQ(updates->checks, (std::vector<bool>{false})) << "the updater's own window, not the button's";
  EXPECT_TRUE(NSWorkspace::sharedWorkspace().openedURLs().empty());

  // The updater stops being able to check before the form redraws: the
  // press decides by what holds now.
  updates->canCheck.set(false);
  graph.findText("Check for updates…")->tap();
  EXPECT_EQ(updates->checks.size(), 1u);
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs(), (std::vector<std::string>{"https://vurle.app/updates/"}))
      << "below the built-in root, whatever root is configured";
  turn();
  graph.findText("View updates")->tap();
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs().size(), 2u);
  ASSERT_TRUE(graph.findText("Privacy policy"));
  graph.findText("Privacy policy")->tap();
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs().back(), "https://example.org/site/privacy/")
      << "the privacy policy follows the configured root";

  // A root that is no URL leaves the link out.
  presenter->dismiss();
  presenter = BugReportPresenter::make({updates, [] { return std::optional<NSURL>(); }});
  ViewGraph& bare = open(store);
  EXPECT_FALSE(bare.findText("Privacy policy"));
}

TEST_F(BugReportWindowTest, TextOfAnyLengthStaysInTheFormAndIsRefusedAtSendByTheStore) {
  auto store = makeStore();
  ViewGraph& graph = open(store);
  const std::string longSummary(500, 's');
  store->setSummary(longSummary);
  store->setDetails(kDetails);
  turn();
  EXPECT_EQ(graph.findLabel("Bug summary")->accessibility().value, longSummary) << "nothing is cut";
  presenter->hostingView()->pressReturn();
  turn();
  EXPECT_EQ(store->error(), BugReportStore::validationError(longSummary, kDetails, ""));
  EXPECT_EQ(store->summary(), longSummary);
  EXPECT_EQ(requestsFor("app-bug-reports"), 0u);
  EXPECT_TRUE(graph.findLabel("Report needs attention. " + *store->error()));
}

TEST_F(BugReportWindowTest, TheFormIsDrawnEditingSentAndWithANewerRelease) {
  screenWithVisibleHeight(800);
  answer(releases, {200, R"([{"version":"1.5","build":50,"minimumSystemVersion":"15.0"}])", false});
  auto store = makeStore();
  ViewGraph& graph = open(store);
  presenter->hostingView()->typeText(kSummary);
  turn();
  expectMatchesStoredPicture(graph, VURLE_PICTURES_DIR, "bug_report_newer_release");
  presenter->dismiss();

  answer(releases, {200, "[]", false});
  scope->advance(BugReportStore::releaseCheckSpacing + 1);
  ViewGraph& editing = open(store);
  store->setDetails("1. Open a text editor\n2. Move the pointer over the text\n3. The pointer stops moving");
  turn();
  expectMatchesStoredPicture(editing, VURLE_PICTURES_DIR, "bug_report_editing");

  presenter->hostingView()->pressReturn();
  ASSERT_TRUE(pump([&] { return store->didSend(); }));
  turn();
  scope->advance(1);  // the mark has drawn itself
  expectMatchesStoredPicture(editing, VURLE_PICTURES_DIR, "bug_report_sent");
}

}  // namespace
}  // namespace vurle
