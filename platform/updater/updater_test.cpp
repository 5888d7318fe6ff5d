#include "platform/updater/updater.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/updater/updater_test_support.hpp"

namespace platform {
namespace {

using testing::feedXML;

// Every call the updater makes of its delegate and, through the stock
// driver, of the driver's delegate, in order.
class Recorder : public SPUUpdaterDelegate, public SPUStandardUserDriverDelegate {
 public:
  void updaterDidFindValidUpdate(SPUUpdater&, const SUAppcastItem& item) override {
    calls.push_back("found " + item.versionString);
  }
  void updaterDidNotFindUpdate(SPUUpdater&, const SPUError&) override { calls.push_back("not found"); }
  void updaterDidAbortWithError(SPUUpdater&, const SPUError& error) override {
    calls.push_back("aborted: " + error.localizedDescription);
  }
  void updaterDidFinishUpdateCycle(SPUUpdater&, SPUUpdateCheck check, const std::optional<SPUError>&) override {
    calls.push_back(check == SPUUpdateCheck::updates ? "cycle finished" : "background cycle finished");
  }
  void standardUserDriverWillHandleShowingUpdate(bool handle, const SUAppcastItem&,
                                                 const SPUUserUpdateState& state) override {
    calls.push_back(std::string("will show") + (handle ? "" : " (not handled)") +
                    (state.userInitiated ? "" : " (scheduled)"));
  }
  void standardUserDriverWillFinishUpdateSession() override { calls.push_back("session ends"); }
  std::vector<std::string> calls;
};

class SPUUpdaterTest : public testing::UpdaterFixture {
 protected:
  std::shared_ptr<SPUUpdater> makeUpdater() {
    driver = std::make_shared<SPUStandardUserDriver>(NSBundle::mainBundle(), recorder);
    return SPUUpdater::make(NSBundle::mainBundle(), NSBundle::mainBundle(), driver, recorder);
  }
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<SPUStandardUserDriver> driver;
};

TEST_F(SPUUpdaterTest, StartsOnlyWithAnHttpsFeedAndA32ByteKey) {
  struct Case {
    const char* name;
    JSON info;
    bool starts;
  };
  const std::vector<Case> cases = {
      {"configured", JSON::object(), true},
      {"http feed", {{"SUFeedURL", "http://vurle.app/appcast.xml"}}, false},
      {"no feed", {{"SUFeedURL", nullptr}}, false},
      {"feed not a string", {{"SUFeedURL", 7}}, false},
      {"no key", {{"SUPublicEDKey", nullptr}}, false},
      {"31-byte key", {{"SUPublicEDKey", base64EncodedString(Data(31, 1))}}, false},
      {"33-byte key", {{"SUPublicEDKey", base64EncodedString(Data(33, 1))}}, false},
      {"key not Base64", {{"SUPublicEDKey", "####"}}, false},
  };
  for (const auto& c : cases) {
    writeInfo(c.info);
    auto updater = makeUpdater();
    SPUError error;
    EXPECT_EQ(updater->startUpdater(&error), c.starts) << c.name;
    EXPECT_EQ(updater->canCheckForUpdates(), c.starts) << c.name;
    if (!c.starts) {
      EXPECT_EQ(error.code, SPUError::Code::invalidConfiguration) << c.name;
    }
  }

  // A refused start can be tried again; a second start changes nothing.
  writeInfo();
  auto updater = makeUpdater();
  SPUUpdater::failNextStartsForTesting(1);
  EXPECT_FALSE(updater->startUpdater());
  EXPECT_FALSE(updater->canCheckForUpdates());
  EXPECT_TRUE(updater->startUpdater());
  EXPECT_TRUE(updater->startUpdater());
  EXPECT_TRUE(updater->isStarted());
  EXPECT_TRUE(updater->canCheckForUpdates());
}

TEST_F(SPUUpdaterTest, SettingsAreOffUntilSetAndPersistUnderTheUpdatersOwnKeys) {
  auto first = makeUpdater();
  EXPECT_FALSE(first->automaticallyChecksForUpdates());
  EXPECT_FALSE(first->automaticallyDownloadsUpdates());
  EXPECT_FALSE(first->sendsSystemProfile());
  EXPECT_TRUE(first->allowsAutomaticUpdates());
  first->setAutomaticallyChecksForUpdates(true);
  first->setAutomaticallyDownloadsUpdates(true);
  EXPECT_TRUE(NSUserDefaults::standardUserDefaults()->boolForKey(SPUUpdater::automaticallyChecksKey));

  writeInfo({{"SUAllowsAutomaticUpdates", false}});
  auto second = makeUpdater();
  EXPECT_TRUE(second->automaticallyChecksForUpdates());
  EXPECT_TRUE(second->automaticallyDownloadsUpdates());
  EXPECT_FALSE(second->allowsAutomaticUpdates());
}

// The whole of one session the user asked for, in the order the delegates
// and the windows see it: found, shown, installed, verified and refused.
TEST_F(SPUUpdaterTest, AVerifiedUpdateEndsTheSessionWithTheCannotInstallAlert) {
  serveFeed(feedXML({serveArchive(dataFromString("archive bytes"))}));
  auto updater = makeUpdater();
  ASSERT_TRUE(updater->startUpdater());
  updater->checkForUpdates();
  EXPECT_FALSE(updater->canCheckForUpdates());
  ASSERT_TRUE(driver->checkingWindow());
  EXPECT_EQ(driver->checkingWindow()->level(), NSNormalWindowLevel);

  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return driver->updateWindow() != nullptr; }));
  EXPECT_FALSE(driver->checkingWindow());
  EXPECT_EQ(driver->updateWindow()->level(), NSNormalWindowLevel);
  driver->replyForTesting(SPUUserUpdateChoice::install);
  EXPECT_EQ(driver->updateStatusText(), "Downloading…");
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return driver->alertWindow() != nullptr; }));
  EXPECT_EQ(driver->alertMessage(), "Update Error!");
  EXPECT_EQ(driver->alertInformativeText(), "This update can’t be installed on this system.");
  EXPECT_FALSE(downloadsFolderIsEmpty());
  EXPECT_TRUE(updater->sessionInProgress());

  driver->acknowledgeAlertForTesting();
  EXPECT_FALSE(updater->sessionInProgress());
  EXPECT_TRUE(updater->canCheckForUpdates());
  EXPECT_TRUE(downloadsFolderIsEmpty());
  EXPECT_FALSE(driver->updateWindow());
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"found 130", "will show",
                                                       "aborted: This update can’t be installed on this system.",
                                                       "cycle finished", "session ends"}));
  EXPECT_EQ(requestsFor("/appcast.xml"), 1u);
  EXPECT_EQ(requestsFor("/downloads/vurle.zip"), 1u);
}

TEST_F(SPUUpdaterTest, CancellingTheCheckEndsTheSessionAndIgnoresTheLateAnswer) {
  server.server().Get("/slow.xml", [this](const httplib::Request&, httplib::Response& response) {
    server.waitAtGate();
    response.set_content(feedXML({serveArchive(dataFromString("x"))}), "application/rss+xml");
  });
  writeInfo({{"SUFeedURL", "https://vurle.app/slow.xml"}});
  auto updater = makeUpdater();
  ASSERT_TRUE(updater->startUpdater());
  updater->checkForUpdates();
  ASSERT_TRUE(server.waitForRequests(1));
  driver->cancelCheckForTesting();
  EXPECT_FALSE(updater->sessionInProgress());
  EXPECT_TRUE(updater->canCheckForUpdates());
  server.openGate();
  pumpMainRunLoopUntil([] { return false; }, 0.2);
  EXPECT_FALSE(driver->updateWindow());
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"cycle finished", "session ends"}));
}

TEST_F(SPUUpdaterTest, TheCheckIntervalComesFromTheInformationDictionaryWithAFloor) {
  struct Case {
    JSON value;
    double interval;
  };
  const std::vector<Case> cases = {{nullptr, 86400}, {7200, 7200}, {5400.5, 5400.5}, {3600, 3600},
                                   {3599, 3600},     {-1, 3600},   {"7200", 86400}};
  for (const auto& c : cases) {
    writeInfo({{"SUScheduledCheckInterval", c.value}});
    EXPECT_EQ(makeUpdater()->updateCheckInterval(), c.interval) << c.value.dump();
  }
}

// Scheduled checks on the virtual clock: one interval after the first
// arming, not a moment before; none once automatic checks are off; after a
// restart, one interval after the stored last check.
TEST_F(SPUUpdaterTest, ScheduledChecksRunEveryIntervalWhileAutomaticChecksAreOn) {
  SimulatedSchedulerScope scope;
  // The answer waits at the gate, so the session is seen running.
  server.server().Get("/held.xml", [this](const httplib::Request&, httplib::Response& response) {
    server.waitAtGate();
    response.set_content(feedXML({}), "application/rss+xml");
  });
  writeInfo({{"SUScheduledCheckInterval", 7200}, {"SUFeedURL", "https://vurle.app/held.xml"}});
  auto updater = makeUpdater();
  updater->setAutomaticallyChecksForUpdates(true);
  scope->advance(7200);
  EXPECT_EQ(server.requests().size(), 0u);  // not started: nothing scheduled

  ASSERT_TRUE(updater->startUpdater());
  const double armed = wallClockTime();
  EXPECT_EQ(updater->lastUpdateCheckDate(), armed);
  scope->advance(7199.999);
  EXPECT_FALSE(updater->sessionInProgress());
  scope->advance(0.001);
  EXPECT_TRUE(updater->sessionInProgress());
  EXPECT_FALSE(updater->canCheckForUpdates());
  server.openGate();
  ASSERT_TRUE(testing::pumpSimulatedUntil(scope, [&] { return !updater->sessionInProgress(); }));
  EXPECT_EQ(updater->lastUpdateCheckDate(), armed + 7200);
  EXPECT_TRUE(updater->canCheckForUpdates());
  EXPECT_FALSE(driver->alertWindow());  // a scheduled check that finds nothing says nothing
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"not found", "background cycle finished", "session ends"}));

  updater->setAutomaticallyChecksForUpdates(false);
  scope->advance(3 * 7200);
  EXPECT_FALSE(updater->sessionInProgress());
  EXPECT_EQ(requestsFor("/held.xml"), 1u);
  // The time persists, so the next run's schedule counts from it.
  EXPECT_EQ(makeUpdater()->lastUpdateCheckDate(), armed + 7200);

  // A run whose last check began 7,000 s ago begins its first check once
  // the rest of the interval has passed: 200 s after it starts, not a
  // moment before. (The answer may come at once, so the check is seen by
  // the time it began.)
  const double before = wallClockTime() - 7000;
  NSUserDefaults::standardUserDefaults()->setObject(before, SPUUpdater::lastCheckTimeKey);
  auto next = makeUpdater();
  next->setAutomaticallyChecksForUpdates(true);
  ASSERT_TRUE(next->startUpdater());
  scope->advance(199);
  EXPECT_EQ(next->lastUpdateCheckDate(), before);
  scope->advance(1);
  EXPECT_NEAR(next->lastUpdateCheckDate().value_or(0), before + 7200, 1e-6);
  ASSERT_TRUE(testing::pumpSimulatedUntil(scope, [&] { return !next->sessionInProgress(); }));
  EXPECT_EQ(requestsFor("/held.xml"), 2u);
}

}  // namespace
}  // namespace platform
