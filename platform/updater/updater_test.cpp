#include "platform/updater/updater.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/updater/updater_test_support.hpp"

namespace platform {
namespace {

using testing::FeedItem;
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
  // One check the user asks for, with Install pressed on what it offers
  // (after `offered` runs): the detail of the alert it ends with, "" when
  // none came in time.
  std::string alertOfACheck(SPUUpdater& updater, const std::function<void()>& offered = {}) {
    updater.checkForUpdates();
    if (!pumpMainRunLoopUntil([&] { return driver->updateWindow() || driver->alertWindow(); })) return "";
    if (!driver->alertWindow()) {
      if (offered) offered();
      driver->replyForTesting(SPUUserUpdateChoice::install);
      if (!pumpMainRunLoopUntil([&] { return driver->alertWindow() != nullptr; })) return "";
    }
    return driver->alertInformativeText();
  }

  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  std::shared_ptr<SPUStandardUserDriver> driver;
};

constexpr const char* kCannotInstall = "This update can’t be installed on this system.";

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
  // The session hands its answers over in order: by the time a new check's
  // offer shows, the cancelled check's answer has been seen, and ignored.
  updater->checkForUpdates();
  ASSERT_TRUE(pumpMainRunLoopUntil([&] { return driver->updateWindow() || driver->alertWindow(); }));
  EXPECT_FALSE(driver->alertWindow());
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"cycle finished", "session ends", "found 130", "will show"}));
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

// A quit right after a check keeps when it began: the save, queued off the
// main thread and not yet run, is on disk once the application terminates.
TEST_F(SPUUpdaterTest, TheLastCheckTimeIsOnDiskOnceTheApplicationTerminates) {
  SimulatedSchedulerScope scope;
  auto updater = makeUpdater();
  ASSERT_TRUE(updater->startUpdater());
  updater->setAutomaticallyChecksForUpdates(true);  // the first interval counts from now
  const auto onDisk = []() -> std::optional<double> {
    const auto value = NSUserDefaults::make("mirt.vurle.app", *NSUserDefaults::defaultsDirectory())
                           ->objectForKey(SPUUpdater::lastCheckTimeKey);
    return value && value->real() ? std::optional(*value->real()) : std::nullopt;
  };
  EXPECT_EQ(onDisk(), std::nullopt);
  NSApplication::shared()->terminate(nullptr);
  EXPECT_EQ(onDisk(), wallClockTime());
}

// A redirect may move the feed or the archive to another https address,
// never off https: such a check ends with its alert and the plain address
// is never asked.
TEST_F(SPUUpdaterTest, ARedirectOffHttpsEndsTheCheckUnfollowed) {
  std::string hop;
  server.server().Get("/hop", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    response.set_redirect(hop, 302);
  });
  struct Case {
    const char* name;
    bool feedHops;  // else the archive does
    std::string target;
    std::string alert;
    std::size_t feeds, archives;  // requests that reach them
  };
  const std::string plain = server.baseURL();
  const std::vector<Case> cases = {
      {"feed to http", true, plain + "appcast.xml", "The update feed was redirected to an address that is not https.", 0,
       0},
      {"feed to https", true, feedURL, kCannotInstall, 1, 1},
      {"archive to http", false, plain + "downloads/vurle.zip",
       "The update’s download was redirected to an address that is not https.", 1, 0},
      {"archive to https", false, archiveURL, kCannotInstall, 1, 1},
  };
  const FeedItem item = serveArchive(dataFromString("archive bytes"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeInfo(c.feedHops ? JSON{{"SUFeedURL", "https://vurle.app/hop"}} : JSON::object());
    FeedItem offered = item;
    if (!c.feedHops) offered.url = "https://vurle.app/hop";
    serveFeed(feedXML({offered}));
    {
      std::lock_guard<std::mutex> lock(mutex);
      hop = c.target;
    }
    const std::size_t feeds = requestsFor("/appcast.xml"), archives = requestsFor("/downloads/vurle.zip");
    auto updater = makeUpdater();
    ASSERT_TRUE(updater->startUpdater());
    EXPECT_EQ(alertOfACheck(*updater), c.alert);
    EXPECT_EQ(requestsFor("/appcast.xml") - feeds, c.feeds);
    EXPECT_EQ(requestsFor("/downloads/vurle.zip") - archives, c.archives);
    driver->acknowledgeAlertForTesting();
    EXPECT_TRUE(downloadsFolderIsEmpty());
  }
}

// The feed is read up to 1 MiB and an archive up to 64 MiB. A longer one
// ends its transfer as it passes the limit, or at once when it declares
// its length, while the server still holds back the rest.
TEST_F(SPUUpdaterTest, AnswersPastTheirLimitStopTheTransferWithTheirOwnSentence) {
  constexpr std::size_t MiB = std::size_t{1} << 20;
  struct Big {
    std::size_t length;
    bool declared;  // its body held back whole; else `length` bytes are sent chunked, then the rest held back
  } big{};
  server.server().Get("/big", [&](const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> lock(mutex);
    const std::size_t length = big.length;
    const auto hold = [this] {
      server.waitAtGate();
      return false;
    };
    if (big.declared) {
      response.set_content_provider(length, "application/octet-stream",
                                    [hold](std::size_t, std::size_t, httplib::DataSink&) { return hold(); });
      return;
    }
    response.set_chunked_content_provider("application/octet-stream", [hold, length](std::size_t offset,
                                                                                     httplib::DataSink& sink) {
      const std::string bytes(std::min(length - std::min(offset, length), std::size_t{1} << 20), ' ');
      return bytes.empty() ? hold() : sink.write(bytes.data(), bytes.size());
    });
  });
  FeedItem item = serveArchive(dataFromString("archive bytes"));
  item.url = "https://vurle.app/big";
  item.length.clear();
  FeedItem declared = item;
  declared.length = "13";
  std::string full = feedXML({});
  full.resize(MiB, ' ');
  struct Case {
    const char* name;
    bool feedIsBig;
    std::string feed;  // else served at the feed URL
    Big big;
    std::string alert;
  };
  const std::string tooLarge = "The update feed is larger than 1 MiB.";
  const std::vector<Case> cases = {
      {"feed of 1 MiB", false, full, {}, "You’re running the newest version available."},
      {"feed declaring 60 MiB", true, "", {60 * MiB, true}, tooLarge},
      {"chunked feed of 1 MiB + 1 byte", true, "", {MiB + 1, false}, tooLarge},
      {"chunked archive of 64 MiB + 1 byte", false, feedXML({item}), {64 * MiB + 1, false},
       "The update is larger than 64 MiB."},
      {"chunked archive one byte past the 13 it declares", false, feedXML({declared}), {14, false},
       "The update’s download is not the length the feed declares."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    serveFeed(c.feed);
    {
      std::lock_guard<std::mutex> lock(mutex);
      big = c.big;
    }
    writeInfo(c.feedIsBig ? JSON{{"SUFeedURL", "https://vurle.app/big"}} : JSON::object());
    auto updater = makeUpdater();
    ASSERT_TRUE(updater->startUpdater());
    EXPECT_EQ(alertOfACheck(*updater), c.alert);
    driver->acknowledgeAlertForTesting();
  }
}

// An archive is stored only once verified, through a temporary that no
// link can stand in for, and only in a folder of this user's that is no
// link, made owner-only unless a link stands at its parent; it goes from
// where it was written, and starting removes what earlier sessions left
// there, and only that.
TEST_F(SPUUpdaterTest, ArchivesAreStoredOnlyOnceVerifiedAndNeverThroughALink) {
  namespace fs = std::filesystem;
  const fs::path updates = root / "cache" / "vurle" / "updates";
  const fs::path victim = root / "victim";
  // The folder's entries, links marked "@" and folders "/".
  const auto listing = [](const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string() +
                      (entry.is_symlink() ? "@" : entry.is_directory() ? "/" : ""));
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  // A link at "vurle" (linkAbove) or at $XDG_CACHE_HOME (cacheIsLink); missing: gone once offered, made again
  // under umask 002.
  enum class Folder { own, link, linkAbove, cacheIsLink, anotherUsers, missing };
  struct Case {
    const char* name;
    Folder folder = Folder::own;
    bool flip = false;
    mode_t mode = 0755;            // the folder's from the start
    mode_t modeOnceOffered = 0;    // what it is changed to once the leftovers are gone, if anything
    mode_t modeAtAlert = 0700;     // the folder's once the archive is stored or refused
    bool folderAtTheName = false;  // else a link is planted at "130.archive" then
    bool swappedAtAlert = false;  // for a link to another folder of the user's, with a "130.archive" of its own
    std::string alert = kCannotInstall;
    std::vector<std::string> atAlert, atEnd;
  };
  // Names of the user's that only look like the updater's stay.
  const std::vector<std::string> kept = {".130.archive.my-cp~", ".130.archive.part", "keep.archive", "notes.txt"};
  const auto plus = [](std::vector<std::string> names, const std::vector<std::string>& more) {
    names.insert(names.end(), more.begin(), more.end());
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto left = plus(kept, {".130.archive.x1Y2z3", "125.archive", "126.archive@", "130.archive@"});
  const auto planted = plus(kept, {"130.archive@"});
  const auto saved = plus(kept, {"130.archive"}), folderAtTheName = plus(kept, {"130.archive/"});
  const std::string refused = "The update could not be saved: its folder is a link or not a folder of this user.";
  const std::vector<Case> cases = {
      {.name = "bad signature", .flip = true, .alert = "The update is improperly signed and could not be validated.",
       .atAlert = planted, .atEnd = planted},
      {.name = "good signature", .atAlert = saved, .atEnd = kept},
      {.name = "behind a link", .folder = Folder::linkAbove, .modeAtAlert = 0755, .atAlert = saved, .atEnd = kept},
      {.name = "behind a link, the group may write", .folder = Folder::linkAbove, .mode = 02775,
       .modeAtAlert = 02775, .alert = "The update could not be saved: other users may write to its folder.",
       .atAlert = left, .atEnd = left},
      {.name = "the cache folder is a link", .folder = Folder::cacheIsLink, .mode = 02775, .atAlert = saved,
       .atEnd = kept},
      {.name = "folder is a link", .folder = Folder::link, .modeAtAlert = 0755, .alert = refused, .atAlert = left,
       .atEnd = left},
      {.name = "another user's", .folder = Folder::anotherUsers, .modeAtAlert = 0755, .alert = refused,
       .atAlert = left, .atEnd = left},
      {.name = "others may write, since the start", .mode = 0702, .atAlert = saved, .atEnd = kept},
      {.name = "the group may write, once offered", .modeOnceOffered = 0775, .atAlert = saved, .atEnd = kept},
      {.name = "made under umask 002", .folder = Folder::missing, .atAlert = {"130.archive"}, .atEnd = {}},
      {.name = "swapped for a link while the alert shows", .swappedAtAlert = true, .atAlert = saved,
       .atEnd = {"130.archive"}},
      {.name = "a folder at the archive's name", .folderAtTheName = true,
       .alert = "The update could not be saved: “" + (updates / "130.archive").string() + "” is a folder.",
       .atAlert = folderAtTheName, .atEnd = folderAtTheName},
  };
  const Data bytes = dataFromString("signed archive bytes");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root / "cache");
    fs::remove_all(root / "real cache");
    std::ofstream(victim) << "precious";
    // A link to a folder elsewhere stands for "updates", for its parent, or
    // for the cache folder.
    const fs::path elsewhere = root / "cache" / "elsewhere";
    const bool linked = c.folder == Folder::link || c.folder == Folder::linkAbove;
    if (c.folder == Folder::cacheIsLink) {
      fs::create_directory(root / "real cache");
      fs::create_directory_symlink(root / "real cache", root / "cache");
    }
    fs::create_directories(linked ? elsewhere / "updates" : updates);
    if (c.folder == Folder::linkAbove) fs::create_directory_symlink(elsewhere, updates.parent_path());
    if (c.folder == Folder::link) {
      fs::create_directories(updates.parent_path());
      fs::create_directory_symlink(elsewhere / "updates", updates);
    }
    ASSERT_EQ(::chmod(updates.c_str(), c.mode), 0);
    // What killed sessions left, and files of someone else's.
    std::ofstream(updates / "125.archive") << "an earlier download";
    std::ofstream(updates / ".130.archive.x1Y2z3") << "a killed one";
    for (const auto& name : kept) std::ofstream(updates / name) << "not ours";
    fs::create_symlink(victim, updates / "126.archive");
    SPUUpdater::setDownloadsOwnerForTesting(c.folder == Folder::anotherUsers ? std::optional(::geteuid() + 1)
                                                                             : std::nullopt);

    serveFeed(feedXML({serveArchive(bytes, c.flip)}));
    auto updater = makeUpdater();
    ASSERT_TRUE(updater->startUpdater());
    // Planted once the leftovers are gone, before the download. The umask
    // is the process's: it is set only while nothing but the download
    // writes a file (the check's settings write went before its feed).
    std::optional<mode_t> umaskBefore;
    const auto plant = [&] {
      if (c.folder == Folder::missing) {
        fs::remove_all(updates);
        umaskBefore = ::umask(002);
      } else if (c.folderAtTheName) {
        fs::create_directory(updates / "130.archive");
      } else {
        fs::create_symlink(victim, updates / "130.archive");
      }
      if (c.modeOnceOffered) ::chmod(updates.c_str(), c.modeOnceOffered);
    };
    EXPECT_EQ(alertOfACheck(*updater, plant), c.alert);
    if (umaskBefore) ::umask(*umaskBefore);
    EXPECT_EQ(listing(updates), c.atAlert);
    EXPECT_EQ(static_cast<mode_t>(fs::status(updates).permissions()), c.modeAtAlert);
    if (c.alert == kCannotInstall) {
      std::ifstream stored(updates / "130.archive", std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), stringFromData(bytes));
    }
    const fs::path moved = root / "cache" / "moved", mine = root / "cache" / "mine";
    if (c.swappedAtAlert) {
      fs::rename(updates, moved);
      fs::create_directory(mine);
      std::ofstream(mine / "130.archive") << "the user's own";
      fs::create_directory_symlink(mine, updates);
    }
    driver->acknowledgeAlertForTesting();
    EXPECT_EQ(listing(updates), c.atEnd);
    if (c.swappedAtAlert) {
      EXPECT_EQ(listing(moved), kept);  // the archive went from where it was written
    }
    std::ifstream untouched(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(untouched), {}), "precious");
  }
}

}  // namespace
}  // namespace platform
