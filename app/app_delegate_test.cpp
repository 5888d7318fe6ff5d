#include "app/app_delegate.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;
using platform::PropertyListDictionary;

constexpr const char* kRelease = VURLE_RELEASE_BUNDLE_IDENTIFIER;

class MigrationTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }

  // Runs the migration and counts the writes it made.
  int migrate(const std::string& current) {
    int writes = 0;
    auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
        platform::NSUserDefaultsDidChangeNotification, defaults.get(), nullptr,
        [&](const platform::NSNotification&) { ++writes; });
    AppDelegate::migrateAppIdentity(*defaults, current, "mirt.vurle");
    return writes;
  }
  PropertyListDictionary domain(const char* name) const {
    return defaults->persistentDomainForName(name).value_or(PropertyListDictionary{});
  }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory(kRelease);
};

TEST_F(MigrationTest, CopiesMissingKeysOnceAndNeverOverwrites) {
  const PropertyListDictionary legacy{{"hideDock", true}, {"showMenuBar", false}, {"transitionMilliseconds", 90}};
  defaults->setPersistentDomain(legacy, "mirt.vurle");
  defaults->setPersistentDomain({{"hideDock", false}}, kRelease);
  EXPECT_EQ(migrate(kRelease), 1);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"hideDock", false},
                                                      {"showMenuBar", false},
                                                      {"transitionMilliseconds", 90},
                                                      {"appIdentityMigration.v1", true}}));
  EXPECT_EQ(domain("mirt.vurle"), legacy);  // the legacy domain is left as it was

  // A second launch copies nothing, even keys the legacy domain gained since.
  defaults->setPersistentDomain({{"pauseInGameMode", true}}, "mirt.vurle");
  EXPECT_EQ(migrate(kRelease), 0);
  EXPECT_FALSE(domain(kRelease).contains("pauseInGameMode"));
}

TEST_F(MigrationTest, AnyMarkerValueMeansTheMigrationRan) {
  defaults->setPersistentDomain({{"showMenuBar", true}}, "mirt.vurle");
  defaults->setPersistentDomain({{"appIdentityMigration.v1", false}}, kRelease);
  EXPECT_EQ(migrate(kRelease), 0);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"appIdentityMigration.v1", false}}));
}

TEST_F(MigrationTest, WithoutALegacyDomainTheMarkerIsStillWritten) {
  EXPECT_EQ(migrate(kRelease), 1);
  EXPECT_EQ(domain(kRelease), (PropertyListDictionary{{"appIdentityMigration.v1", true}}));
}

TEST_F(MigrationTest, OtherIdentifiersNeverMigrate) {
  defaults->setPersistentDomain({{"hideDock", true}}, "mirt.vurle");
  for (const std::string current : {"", "mirt.vurle.app.debug", "Mirt.Vurle.App", "mirt.vurle"}) {
    EXPECT_EQ(migrate(current), 0) << current;
  }
  EXPECT_FALSE(defaults->persistentDomainForName("mirt.vurle.app.debug").has_value());
  EXPECT_FALSE(defaults->persistentDomainForName("Mirt.Vurle.App").has_value());
  EXPECT_FALSE(defaults->persistentDomainForName(kRelease).has_value());
  EXPECT_EQ(domain("mirt.vurle"), (PropertyListDictionary{{"hideDock", true}}));
}

// The whole start-up over a real bundle and settings folder, under the
// simulated scheduler; a timer plays the user quitting.
class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::resetProcessState();
    fs::create_directories(root / "bundle");
    std::ofstream(root / "bundle" / "Info.json") << R"({"CFBundleIdentifier": ")" << kRelease << R"("})";
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) savedConfig = value;
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    platform::NSBundle::setMainBundlePath(root / "bundle");
  }
  void TearDown() override {
    savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    platform::resetProcessState();
    fs::remove_all(root);
  }

  const fs::path root = fs::temp_directory_path() / ("vurle-entry-" + std::to_string(::getpid()));
  std::optional<std::string> savedConfig;
  platform::SimulatedSchedulerScope scope;
};

TEST_F(EntryTest, MigratesRunsWithItsDelegateAndReturnsWhenTerminated) {
  platform::NSUserDefaults::make("ignored", root / "config" / "vurle")
      ->setPersistentDomain({{"showMenuBar", false}}, "mirt.vurle");

  std::shared_ptr<AppDelegate> during;
  auto quit = platform::NSTimer::scheduledTimer(2.0, false, [&](platform::NSTimer&) {
    during = std::dynamic_pointer_cast<AppDelegate>(platform::NSApplication::shared()->delegate());
    platform::NSApplication::shared()->terminate(nullptr);
  });
  platform::LogCapture quiet;  // the renderer may report that no GPU is present
  AppDelegate::main();

  ASSERT_NE(during, nullptr);
  EXPECT_FALSE(during->preferences()->showMenuBar());  // carried over before the preferences were read
  during.reset();
  EXPECT_EQ(platform::NSApplication::shared()->delegate(), nullptr);  // the entry kept it alive, no one else
  EXPECT_FALSE(platform::NSApplication::shared()->isRunning());

  // A new store over the same folder sees what start-up wrote.
  auto saved = platform::NSUserDefaults::make(kRelease, root / "config" / "vurle")->persistentDomainForName(kRelease);
  ASSERT_TRUE(saved.has_value());
  EXPECT_EQ(saved->at("appIdentityMigration.v1"), platform::PropertyListValue(true));
  EXPECT_EQ(saved->at("showMenuBar"), platform::PropertyListValue(false));
  EXPECT_NE(saved->at("pauseShortcut").data(), nullptr);
  EXPECT_NE(saved->at("settingsShortcut").data(), nullptr);
}

}  // namespace
}  // namespace vurle
