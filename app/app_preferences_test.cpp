#include "app/app_preferences.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/coding/json_coding.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

using platform::dataFromString;
using platform::PropertyListDictionary;
using platform::PropertyListValue;

class AppPreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }

  std::optional<GlobalShortcut> stored(const char* key) const {
    auto data = defaults->dataForKey(key);
    EXPECT_TRUE(data.has_value()) << key;
    return shortcutFromJSON(platform::JSONDecode(data.value_or(dataFromString("null"))));
  }

  platform::SimulatedSchedulerScope scope;
  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("mirt.vurle.app");
};

TEST_F(AppPreferencesTest, AFreshStoreGivesTheDefaultsAndHoldsOnlyTheShortcuts) {
  auto preferences = AppPreferences::make(defaults);
  EXPECT_FALSE(preferences->resumeAnimationsOnLaunch());
  EXPECT_FALSE(preferences->pauseInGameMode());
  EXPECT_FALSE(preferences->pauseWithExternalMouse());
  EXPECT_TRUE(preferences->showMenuBar());
  EXPECT_FALSE(preferences->hideDock());
  EXPECT_TRUE(preferences->shortcutsEnabled());
  EXPECT_TRUE(preferences->showsOnboarding());
  EXPECT_FALSE(preferences->onboardingCompleted());
  EXPECT_EQ(preferences->selectedTab(), SettingsTab::general);
  EXPECT_FALSE(preferences->recordingAction().has_value());
  EXPECT_TRUE(preferences->shortcutErrors().empty());
  EXPECT_EQ(preferences->pauseShortcut(), (GlobalShortcut{47, 0x1800, "."}));
  EXPECT_EQ(preferences->settingsShortcut(), (GlobalShortcut{43, 0x1800, ","}));

  const auto domain = defaults->persistentDomainForName("mirt.vurle.app").value_or(PropertyListDictionary{});
  ASSERT_EQ(domain.size(), 2u);
  EXPECT_EQ(stored("pauseShortcut"), (GlobalShortcut{47, 0x1800, "."}));
  EXPECT_EQ(stored("settingsShortcut"), (GlobalShortcut{43, 0x1800, ","}));
}

TEST_F(AppPreferencesTest, SwitchesReadWithTheirOwnRules) {
  struct Case {
    PropertyListValue value;
    bool showMenuBar;  // "a Boolean or nothing": anything else is the default, true
    bool hideDock;     // coerced as the platform's bool reading does
  };
  const Case cases[] = {
      {false, false, false}, {true, true, true}, {0, false, false}, {1, true, true},
      {2, true, true},       {"NO", true, false}, {"YES", true, true}, {dataFromString("x"), true, false},
  };
  for (const auto& c : cases) {
    defaults->setObject(c.value, "showMenuBar");
    defaults->setObject(c.value, "shortcutsEnabled");
    defaults->setObject(c.value, "hideDock");
    auto preferences = AppPreferences::make(defaults);
    EXPECT_EQ(preferences->showMenuBar(), c.showMenuBar) << static_cast<int>(c.value.type());
    EXPECT_EQ(preferences->shortcutsEnabled(), c.showMenuBar) << static_cast<int>(c.value.type());
    EXPECT_EQ(preferences->hideDock(), c.hideDock) << static_cast<int>(c.value.type());
  }
  defaults->setBool(true, "onboardingCompleted");
  auto completed = AppPreferences::make(defaults);
  EXPECT_TRUE(completed->onboardingCompleted());
  EXPECT_FALSE(completed->showsOnboarding());
}

TEST_F(AppPreferencesTest, StoredShortcutsAreReadStrictlyAndWrittenBack) {
  const GlobalShortcut pauseDefault{47, 0x1800, "."};
  const struct {
    PropertyListValue stored;
    std::optional<GlobalShortcut> read;
  } cases[] = {
      {dataFromString("null"), std::nullopt},  // cleared by the user: stays cleared
      {dataFromString(R"({"key": "P", "modifiers": 4352, "keyCode": 35, "note": 1})"), GlobalShortcut{35, 4352, "P"}},
      {dataFromString(R"({"keyCode": 35, "modifiers": 512, "key": "P"})"), GlobalShortcut{35, 512, "P"}},  // invalid, kept
      {dataFromString(R"({"keyCode": 43, "modifiers": 6144})"), pauseDefault},
      {dataFromString(R"({"keyCode": 4294967296, "modifiers": 6144, "key": "x"})"), pauseDefault},
      {dataFromString(R"({"keyCode": 12, "modifiers": "6144", "key": "x"})"), pauseDefault},
      {dataFromString(R"({"keyCode": 1.5, "modifiers": 6144, "key": "x"})"), pauseDefault},
      {dataFromString("[]"), pauseDefault},
      {dataFromString("{truncated"), pauseDefault},
      {"{\"keyCode\": 35, \"modifiers\": 4352, \"key\": \"P\"}", pauseDefault},  // a string is not data
  };
  for (const auto& c : cases) {
    defaults->setObject(c.stored, "pauseShortcut");
    auto preferences = AppPreferences::make(defaults);
    EXPECT_EQ(preferences->pauseShortcut(), c.read);
    EXPECT_EQ(stored("pauseShortcut"), c.read);
  }
}

TEST_F(AppPreferencesTest, SettersWriteAtOnceAndViewStateIsNeverStored) {
  auto preferences = AppPreferences::make(defaults);
  int changes = 0;
  auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
      platform::NSUserDefaultsDidChangeNotification, nullptr, nullptr, [&](const platform::NSNotification&) { ++changes; });
  preferences->setSelectedTab(SettingsTab::shortcuts);
  preferences->setShowsDockHelp(true);
  preferences->setRecordingAction(ShortcutAction::pause);
  preferences->setShortcutErrors({{ShortcutAction::pause, "Taken"}});
  preferences->setShowsOnboarding(false);
  EXPECT_EQ(changes, 0);

  preferences->setHideDock(true);
  EXPECT_EQ(defaults->objectForKey("hideDock"), PropertyListValue(true));
  preferences->setResumeAnimationsOnLaunch(true);
  preferences->setPauseInGameMode(true);
  preferences->setPauseWithExternalMouse(true);
  preferences->setShowMenuBar(false);
  preferences->setShortcutsEnabled(false);
  for (const char* key : {"resumeAnimationsOnLaunch", "pauseInGameMode", "pauseWithExternalMouse"}) {
    EXPECT_EQ(defaults->objectForKey(key), PropertyListValue(true)) << key;
  }
  EXPECT_EQ(defaults->objectForKey("showMenuBar"), PropertyListValue(false));
  EXPECT_EQ(defaults->objectForKey("shortcutsEnabled"), PropertyListValue(false));

  preferences->setShortcut(std::nullopt, ShortcutAction::settings);
  preferences->setShortcut(GlobalShortcut{12, 0x1000, "Q"}, ShortcutAction::pause);
  EXPECT_FALSE(preferences->settingsShortcut().has_value());
  EXPECT_EQ(stored("settingsShortcut"), std::nullopt);
  EXPECT_EQ(stored("pauseShortcut"), (GlobalShortcut{12, 0x1000, "Q"}));
  EXPECT_EQ(defaults->dataForKey("settingsShortcut"), dataFromString("null"));

  // A display text that is not UTF-8 has no JSON form: the old value stays stored.
  preferences->setPauseShortcut(GlobalShortcut{1, 0x1000, "\xff"});
  EXPECT_EQ(stored("pauseShortcut"), (GlobalShortcut{12, 0x1000, "Q"}));
  EXPECT_EQ(changes, 8);
}

TEST_F(AppPreferencesTest, CompletingOnboardingWritesBeforeAnnouncing) {
  auto preferences = AppPreferences::make(defaults);
  std::vector<std::string> order;
  auto token = platform::NSNotificationCenter::defaultCenter().addObserverForName(
      platform::NSUserDefaultsDidChangeNotification, nullptr, nullptr, [&](const platform::NSNotification&) {
        order.push_back(preferences->onboardingCompleted() ? "stored after" : "stored first");
      });
  auto completed = preferences->onboardingCompletedPublisher().sink([&](const bool& value) {
    if (value) order.push_back(defaults->boolForKey("onboardingCompleted") ? "announced after store" : "announced early");
  });
  preferences->completeOnboarding();
  EXPECT_EQ(order, (std::vector<std::string>{"stored first", "announced after store"}));
  EXPECT_TRUE(preferences->onboardingCompleted());
  EXPECT_FALSE(preferences->showsOnboarding());
}

TEST_F(AppPreferencesTest, MainRunLoopObserversReadTheNewStoredValue) {
  auto preferences = AppPreferences::make(defaults);
  std::vector<std::string> seen;
  auto immediate = preferences->hideDockPublisher().sink([&](const bool& value) {
    if (value) seen.push_back(std::string("at once, property ") + (preferences->hideDock() ? "new" : "old"));
  });
  auto later = preferences->hideDockPublisher().receive(platform::RunLoop::main()).sink([&](const bool& value) {
    if (value) {
      seen.push_back(std::string("later, property ") + (preferences->hideDock() ? "new" : "old") + ", store " +
                     (defaults->boolForKey("hideDock") ? "new" : "old"));
    }
  });
  preferences->setHideDock(true);
  scope->drainMain();
  EXPECT_EQ(seen, (std::vector<std::string>{"at once, property old", "later, property new, store new"}));
}

TEST(GlobalShortcutTest, ValidityRule) {
  const struct {
    GlobalShortcut shortcut;
    bool valid;
  } cases[] = {
      {{47, 0x1800, "."}, true},
      {{12, 0x1000, "Q"}, true},     // control-Q
      {{12, 0x0900, "Q"}, false},    // command-option-Q is still command-Q
      {{12, 0x0300, "Q"}, false},    // command-shift-Q
      {{13, 0x0300, "W"}, true},
      {{1, 0x0200, "S"}, false},     // shift alone
      {{1, 0x0000, "S"}, false},
      {{1, 0x1000 | 0x10000, "S"}, false},  // an unknown modifier bit
      {{128, 0x1000, "x"}, false},
      {{127, 0x1000, "x"}, true},
      {{1, 0x1000, ""}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.shortcut.isValid(), c.valid) << c.shortcut.keyCode << " " << std::hex << c.shortcut.modifiers;
  }
}

TEST(ShortcutActionTest, RawValuesAreTheHotKeyIdentifiers) {
  EXPECT_EQ(shortcutActionFromRawValue(1), ShortcutAction::pause);
  EXPECT_EQ(shortcutActionFromRawValue(2), ShortcutAction::settings);
  EXPECT_FALSE(shortcutActionFromRawValue(0).has_value());
  EXPECT_FALSE(shortcutActionFromRawValue(3).has_value());
  EXPECT_STREQ(rawValue(SettingsTab::behavior), "Behavior");
}

}  // namespace
}  // namespace vurle
