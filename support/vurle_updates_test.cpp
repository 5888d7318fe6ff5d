#include "support/vurle_updates.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/updater/updater_test_support.hpp"

namespace vurle {
namespace {

using platform::Data;
using platform::JSON;
using platform::SPUUserUpdateChoice;
using platform::testing::FeedItem;
using platform::testing::feedXML;

const pid_t kOtherApplication = platform::foreignPid(4242);

class VurleUpdatesTest : public platform::testing::UpdaterFixture {
 protected:
  // Another application is frontmost, so activation shows.
  void makeAnotherApplicationFrontmost() {
    auto& workspace = platform::NSWorkspace::sharedWorkspace();
    workspace.launchApplication(kOtherApplication, "com.example.editor", "Editor");
    workspace.activateApplication(kOtherApplication);
  }
  static bool active() { return platform::NSApplication::shared()->isActive(); }
  static std::optional<std::string> badge() { return platform::NSApplication::shared()->dockTile().badgeLabel(); }
};

// ---------------------------------------------------------------------------
// The controller's states, on the virtual clock.

class VurleUpdatesStateTest : public VurleUpdatesTest {
 protected:
  platform::SimulatedSchedulerScope scope;
};

TEST_F(VurleUpdatesStateTest, AnUnconfiguredBuildRunsWithUpdatesOff) {
  writeInfo({{"VurleUpdatesEnabled", "NO"}});
  makeAnotherApplicationFrontmost();
  auto updates = VurleUpdates::make();
  updates->start();
  updates->checkForUpdates(false);
  scope->runUntilIdle();
  EXPECT_FALSE(updates->updater());
  EXPECT_FALSE(updates->userDriver());
  EXPECT_FALSE(updates->configuredFeedURL().has_value());
  EXPECT_EQ(updates->message(), "Updates aren’t configured for this build.");
  EXPECT_FALSE(updates->isStarted() || updates->canCheckForUpdates() || updates->isCheckingForUpdates() ||
               updates->isPresentingUpdate() || updates->allowsAutomaticUpdates());
  EXPECT_FALSE(active());
}

TEST_F(VurleUpdatesStateTest, AFailedStartIsRetriedAndASecondStartAddsNothing) {
  auto updates = VurleUpdates::make();
  ASSERT_TRUE(updates->updater());
  EXPECT_EQ(updates->configuredFeedURL(), std::string(feedURL));
  EXPECT_EQ(updates->message(), "Finish setting up vurle to enable updates.");
  // The updater allows automatic updates; the controller not before a start.
  EXPECT_TRUE(updates->updater()->allowsAutomaticUpdates());
  EXPECT_FALSE(updates->allowsAutomaticUpdates());

  platform::SPUUpdater::failNextStartsForTesting(1);
  updates->start();
  scope->runUntilIdle();
  EXPECT_FALSE(updates->isStarted());
  EXPECT_FALSE(updates->canCheckForUpdates());
  EXPECT_EQ(updates->message(), "Updates couldn’t start. Try reopening vurle.");

  updates->start();
  EXPECT_TRUE(updates->isStarted());
  EXPECT_EQ(updates->message(), "");
  EXPECT_TRUE(updates->updater()->canCheckForUpdates());
  EXPECT_FALSE(updates->canCheckForUpdates());  // the observed value comes on the next pass
  scope->runUntilIdle();
  EXPECT_TRUE(updates->canCheckForUpdates());
  EXPECT_TRUE(updates->allowsAutomaticUpdates());

  // Each of the three settings was observed once, its first value included.
  std::uint64_t changes = 0;
  auto counted = updates->updaterSettingsPublisher().sink([&](std::uint64_t value) { changes = value; });
  EXPECT_EQ(changes, 3u);
  updates->start();
  updates->updater()->setAutomaticallyChecksForUpdates(true);
  scope->runUntilIdle();
  EXPECT_EQ(changes, 4u);
}

TEST_F(VurleUpdatesStateTest, AChecksOnlyWhenItMayAndOnlyTheMenuActivates) {
  makeAnotherApplicationFrontmost();
  auto updates = VurleUpdates::make();
  updates->checkForUpdates(false);  // not started: nothing
  EXPECT_FALSE(updates->isCheckingForUpdates());
  updates->start();
  updates->checkForUpdates(false);  // started, but the updater's answer has not arrived
  EXPECT_FALSE(updates->isCheckingForUpdates());
  EXPECT_FALSE(active());
  scope->runUntilIdle();

  updates->checkForUpdates(true);
  EXPECT_TRUE(updates->isCheckingForUpdates());
  EXPECT_TRUE(updates->userDriver()->showsCheckInButton());
  EXPECT_FALSE(updates->userDriver()->checkingWindow());  // the button shows the progress
  EXPECT_FALSE(active());
  EXPECT_TRUE(updates->updater()->sessionInProgress());
  updates->checkForUpdates(false);  // one runs already: nothing
  EXPECT_TRUE(updates->userDriver()->showsCheckInButton());
  EXPECT_FALSE(active());
  scope->runUntilIdle();
  EXPECT_FALSE(updates->canCheckForUpdates());  // mirrored from the updater while its session runs
}

TEST_F(VurleUpdatesStateTest, TheDockBadgeMarksOnlyAHandledUpdateFromAScheduledCheck) {
  auto updates = VurleUpdates::make();
  const platform::SUAppcastItem item;
  struct Case {
    bool handled;
    bool userInitiated;
    bool presenting;
    std::optional<std::string> badge;
  };
  const std::vector<Case> cases = {
      {true, false, true, "1"},
      {true, true, true, std::nullopt},
      {false, false, false, std::nullopt},
      {false, true, false, std::nullopt},
  };
  for (const auto& c : cases) {
    platform::SPUUserUpdateState state;
    state.userInitiated = c.userInitiated;
    updates->standardUserDriverWillHandleShowingUpdate(c.handled, item, state);
    EXPECT_EQ(updates->isPresentingUpdate(), c.presenting) << c.handled << c.userInitiated;
    EXPECT_EQ(badge(), c.badge) << c.handled << c.userInitiated;
    updates->standardUserDriverWillFinishUpdateSession();
    EXPECT_FALSE(updates->isPresentingUpdate());
    EXPECT_FALSE(badge().has_value());
  }
  platform::SPUUserUpdateState scheduled;
  updates->standardUserDriverWillHandleShowingUpdate(true, item, scheduled);
  updates->standardUserDriverDidReceiveUserAttentionForUpdate(item);
  EXPECT_FALSE(badge().has_value());
  EXPECT_TRUE(updates->isPresentingUpdate());  // still on show
  EXPECT_EQ(updates->allowedSystemProfileKeysForUpdater(*updates->updater()), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------
// The driver's own steps.

class AttentionRecorder : public platform::SPUStandardUserDriverDelegate {
 public:
  void standardUserDriverDidReceiveUserAttentionForUpdate(const platform::SUAppcastItem& item) override {
    attended.push_back(item.versionString);
  }
  std::vector<std::string> attended;
};

TEST_F(VurleUpdatesStateTest, AFoundUpdateComesToTheFrontOnceUnlessDismissedOrSupersededFirst) {
  platform::SUAppcastItem first, second;
  first.versionString = "130";
  second.versionString = "131";
  platform::SPUUserUpdateState user;
  user.userInitiated = true;
  struct Case {
    const char* name;
    std::function<void(ButtonUpdateUserDriver&)> steps;
    std::vector<std::string> attended;
  };
  const auto show = [user](const platform::SUAppcastItem& item, bool userInitiated = true) {
    return [item, user, userInitiated](ButtonUpdateUserDriver& driver) {
      auto state = user;
      state.userInitiated = userInitiated;
      driver.showUpdateFoundWithAppcastItem(item, state, [](SPUUserUpdateChoice) {});
    };
  };
  const std::vector<Case> cases = {
      {"shown", show(first), {"130"}},
      {"shown by a scheduled check", show(first, false), {}},
      {"dismissed before the pass",
       [&](ButtonUpdateUserDriver& driver) {
         show(first)(driver);
         driver.dismissUpdateInstallation();
       },
       {}},
      {"superseded before the pass",
       [&](ButtonUpdateUserDriver& driver) {
         show(first)(driver);
         show(second)(driver);
       },
       {"131"}},
  };
  for (const auto& c : cases) {
    makeAnotherApplicationFrontmost();
    auto recorder = std::make_shared<AttentionRecorder>();
    auto driver = std::make_shared<ButtonUpdateUserDriver>(platform::NSBundle::mainBundle(), recorder);
    c.steps(*driver);
    EXPECT_FALSE(active()) << c.name;  // nothing before the pass
    scope->runUntilIdle();
    EXPECT_EQ(recorder->attended, c.attended) << c.name;
    EXPECT_EQ(active(), !c.attended.empty()) << c.name;
    if (!c.attended.empty()) {
      EXPECT_TRUE(driver->updateWindow()->isKeyWindow()) << c.name;
    }
    platform::resetProcessState();
  }
}

TEST_F(VurleUpdatesStateTest, TheButtonsCheckShowsNoWindowAndReleasesItsCancellationUncalled) {
  auto driver = std::make_shared<ButtonUpdateUserDriver>(platform::NSBundle::mainBundle(),
                                                         std::weak_ptr<platform::SPUStandardUserDriverDelegate>());
  int cancelled = 0;
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> held = token;
  driver->setShowsCheckInButton(true);
  driver->showUserInitiatedUpdateCheckWithCancellation([&cancelled, token] { ++cancelled; });
  token.reset();
  EXPECT_FALSE(driver->checkingWindow());
  EXPECT_TRUE(held.expired());
  driver->dismissUpdateInstallation();  // tolerated without a window

  driver->setShowsCheckInButton(false);
  driver->showUserInitiatedUpdateCheckWithCancellation([&cancelled] { ++cancelled; });
  ASSERT_TRUE(driver->checkingWindow());
  EXPECT_TRUE(driver->checkingWindow()->isVisible());
  driver->cancelCheckForTesting();
  EXPECT_EQ(cancelled, 1);
  EXPECT_FALSE(driver->checkingWindow());
}

// ---------------------------------------------------------------------------
// Checks against a real server, as the user asks for them from the menu.

TEST_F(VurleUpdatesTest, EachCheckIsOneGetWithoutAProfileAndEndsAsTheFeedSays) {
  enum class Outcome { offered, upToDate, error };
  struct Case {
    const char* name;
    std::function<void()> serve;
    Outcome outcome;
    std::string detail;          // the alert's detail, in part
    std::string installOutcome;  // for an offer: the alert after Install
  };
  const Data bytes = platform::dataFromString(std::string(4096, 'a') + "archive");
  std::string oversized = feedXML({});
  oversized.insert(oversized.find("<channel>"), std::string(platform::SUAppcastMaximumBytes, ' '));
  makeAnotherApplicationFrontmost();
  const std::vector<Case> cases = {
      {"found", [&] { serveFeed(feedXML({serveArchive(bytes)})); }, Outcome::offered, "",
       "This update can’t be installed on this system."},
      {"a flipped byte", [&] { serveFeed(feedXML({serveArchive(bytes, true)})); }, Outcome::offered, "",
       "improperly signed"},
      {"longer than it declares",
       [&] {
         auto item = serveArchive(bytes);
         item.length = std::to_string(bytes.size() - 1);
         serveFeed(feedXML({item}));
       },
       Outcome::offered, "", "not the length the feed declares"},
      {"none newer",
       [&] {
         auto item = serveArchive(bytes, false, "120");
         serveFeed(feedXML({item}));
       },
       Outcome::upToDate, "newest version available", ""},
      {"newer system needed",
       [&] {
         auto item = serveArchive(bytes);
         item.minimumSystem = "99.0";
         serveFeed(feedXML({item}));
       },
       Outcome::upToDate, "vurle 1.3 is available but needs a newer version of the system.", ""},
      {"unsigned",
       [&] {
         auto item = serveArchive(bytes);
         item.signature = "";
         serveFeed(feedXML({item}));
       },
       Outcome::upToDate, "newest version available", ""},
      {"500", [&] { serveFeed(feedXML({serveArchive(bytes)}), 500); }, Outcome::error, "status 500", ""},
      {"oversized", [&] { serveFeed(oversized); }, Outcome::error, "larger than 1 MiB", ""},
      {"malformed", [&] { serveFeed("<rss version=\"2.0\"><channel><item>"); }, Outcome::error, "not valid XML", ""},
      {"not RSS", [&] { serveFeed("<feed><channel/></feed>"); }, Outcome::error, "not an RSS feed", ""},
      {"running build not dotted decimal",
       [&] {
         writeInfo({{"CFBundleVersion", "1.2-beta"}});
         serveFeed(feedXML({serveArchive(bytes)}));
       },
       Outcome::error, "not a dotted-decimal version", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.serve();
    const auto before = feedRequests().size();
    auto updates = VurleUpdates::make();
    updates->updater()->setSendsSystemProfile(true);
    updates->start();
    ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return updates->canCheckForUpdates(); }));
    platform::NSWorkspace::sharedWorkspace().activateApplication(kOtherApplication);
    updates->checkForUpdates(false);
    EXPECT_TRUE(active());  // the menu's check brings the application forward
    auto driver = updates->userDriver();
    EXPECT_TRUE(driver->checkingWindow());
    ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return !updates->isCheckingForUpdates(); }));
    ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return driver->updateWindow() || driver->alertWindow(); }));
    const auto requests = feedRequests();
    ASSERT_EQ(requests.size(), before + 1);
    EXPECT_EQ(requests.back(), "/appcast.xml");  // no system profile in the query

    switch (c.outcome) {
      case Outcome::offered:
        ASSERT_TRUE(driver->updateWindow());
        EXPECT_TRUE(updates->isPresentingUpdate());
        EXPECT_FALSE(badge().has_value());
        driver->replyForTesting(SPUUserUpdateChoice::install);
        ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return driver->alertWindow() != nullptr; }));
        EXPECT_EQ(driver->alertMessage(), "Update Error!");
        EXPECT_NE(driver->alertInformativeText().find(c.installOutcome), std::string::npos)
            << driver->alertInformativeText();
        break;
      case Outcome::upToDate:
        ASSERT_TRUE(driver->alertWindow());
        EXPECT_EQ(driver->alertMessage(), "You’re up to date!");
        EXPECT_NE(driver->alertInformativeText().find(c.detail), std::string::npos) << driver->alertInformativeText();
        EXPECT_FALSE(updates->isPresentingUpdate());
        break;
      case Outcome::error:
        ASSERT_TRUE(driver->alertWindow());
        EXPECT_EQ(driver->alertMessage(), "Update Error!");
        EXPECT_NE(driver->alertInformativeText().find(c.detail), std::string::npos) << driver->alertInformativeText();
        break;
    }
    driver->acknowledgeAlertForTesting();
    EXPECT_FALSE(updates->updater()->sessionInProgress());
    EXPECT_FALSE(updates->isPresentingUpdate());
    EXPECT_TRUE(downloadsFolderIsEmpty());
    ASSERT_TRUE(platform::pumpMainRunLoopUntil([&] { return updates->canCheckForUpdates(); }));
    writeInfo();
  }
  EXPECT_EQ(requestsFor("/downloads/vurle.zip"), 3u);
}

// ---------------------------------------------------------------------------
// Scheduled checks, on the virtual clock against the real server.

TEST_F(VurleUpdatesTest, AScheduledFindIsBadgedOrWithAutomaticDownloadsVerifiedWithoutAWindow) {
  platform::SimulatedSchedulerScope scope;
  writeInfo({{"SUScheduledCheckInterval", 3600}});
  serveFeed(feedXML({serveArchive(platform::dataFromString("archive"))}));
  makeAnotherApplicationFrontmost();
  auto updates = VurleUpdates::make();
  updates->updater()->setAutomaticallyChecksForUpdates(true);
  updates->start();
  scope->runUntilIdle();
  scope->advance(3600);
  ASSERT_TRUE(platform::testing::pumpSimulatedUntil(scope, [&] { return updates->isPresentingUpdate(); }));
  auto driver = updates->userDriver();
  EXPECT_EQ(badge(), "1");
  EXPECT_FALSE(updates->isCheckingForUpdates());
  EXPECT_FALSE(active());
  ASSERT_TRUE(driver->updateWindow());
  EXPECT_TRUE(driver->updateWindow()->isVisible());
  EXPECT_FALSE(driver->updateWindow()->isKeyWindow());  // shown gently, not in focus
  driver->replyForTesting(SPUUserUpdateChoice::dismiss);
  scope->runUntilIdle();
  EXPECT_FALSE(badge().has_value());
  EXPECT_FALSE(updates->isPresentingUpdate());
  EXPECT_TRUE(updates->canCheckForUpdates());

  updates->updater()->setAutomaticallyDownloadsUpdates(true);
  scope->advance(3600);
  ASSERT_TRUE(platform::testing::pumpSimulatedUntil(
      scope, [&] { return requestsFor("/downloads/vurle.zip") == 1 && !updates->updater()->sessionInProgress(); }));
  EXPECT_FALSE(driver->updateWindow());
  EXPECT_FALSE(driver->alertWindow());
  EXPECT_FALSE(badge().has_value());
  EXPECT_FALSE(updates->isPresentingUpdate());
  EXPECT_FALSE(active());
  EXPECT_TRUE(downloadsFolderIsEmpty());
  EXPECT_EQ(requestsFor("/appcast.xml"), 2u);
}

}  // namespace
}  // namespace vurle
