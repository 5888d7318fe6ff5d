#include "platform/defaults/user_defaults.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    fs::create_directories(folder);
  }
  void TearDown() override {
    resetProcessState();
    fs::remove_all(folder);
  }
  std::shared_ptr<NSUserDefaults> store() const { return NSUserDefaults::make("mirt.vurle.app", folder); }
  std::vector<std::string> folderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  const fs::path folder = fs::temp_directory_path() /
                          ("vurle-defaults-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(UserDefaultsTest, ValuesReadBackWithTheirTypesInANewStore) {
  const PropertyListDictionary values{
      {"flag", true},
      {"count", 150},
      {"ratio", 0.1},
      {"name", "caf\xc3\xa9"},
      {"shortcut", dataFromString("{\"keyCode\":47}")},
      {"when", Date::withTimeIntervalSinceReferenceDate(-0.25)},
      {"list", PropertyListArray{1, "two", false}},
      {"nested", PropertyListDictionary{{"inner", 2.5}}},
  };
  {
    auto writer = store();
    for (const auto& [key, value] : values) writer->setObject(value, key);
    writer->setPersistentDomain({{"hideDock", true}}, "mirt.vurle");
  }
  auto reader = store();
  for (const auto& [key, value] : values) {
    auto read = reader->objectForKey(key);
    ASSERT_TRUE(read.has_value()) << key;
    EXPECT_EQ(*read, value) << key;
    EXPECT_EQ(read->type(), value.type()) << key;
  }
  EXPECT_EQ(reader->persistentDomainForName("mirt.vurle.app"), values);
  EXPECT_EQ(reader->persistentDomainForName("mirt.vurle"), (PropertyListDictionary{{"hideDock", true}}));
  EXPECT_FALSE(reader->persistentDomainForName("never.written").has_value());
  EXPECT_EQ(folderEntries(), (std::vector<std::string>{"mirt.vurle.app.json", "mirt.vurle.json"}));
}

TEST_F(UserDefaultsTest, BoolForKeyCoercesAsThePlatformDoes) {
  auto defaults = NSUserDefaults::makeInMemory("test");
  const std::pair<PropertyListValue, bool> cases[] = {
      {true, true},         {false, false},        {0, false},           {2, true},
      {0.0, false},         {0.5, true},           {"YES", true},        {"yes", true},
      {"True", true},       {"1", true},           {"12 apples", true},  {"NO", false},
      {"false", false},     {"0", false},          {"", false},          {"maybe", false},
      {Data{1}, false},     {Date(), false},       {PropertyListArray{true}, false},
  };
  EXPECT_FALSE(defaults->boolForKey("missing"));
  for (const auto& [value, expected] : cases) {
    defaults->setObject(value, "key");
    EXPECT_EQ(defaults->boolForKey("key"), expected) << static_cast<int>(value.type());
  }
}

TEST_F(UserDefaultsTest, TypedReadersReturnOnlyWhatTheyCanHold) {
  auto defaults = NSUserDefaults::makeInMemory("test");
  defaults->setObject("2", "version");
  defaults->setObject(3, "number");
  defaults->setObject(dataFromString("null"), "blob");
  EXPECT_EQ(defaults->stringForKey("version"), "2");
  EXPECT_EQ(defaults->stringForKey("number"), "3");
  EXPECT_FALSE(defaults->stringForKey("blob").has_value());
  EXPECT_EQ(defaults->dataForKey("blob"), dataFromString("null"));
  EXPECT_FALSE(defaults->dataForKey("version").has_value());
  EXPECT_FALSE(defaults->objectForKey("missing").has_value());
  defaults->setBool(true, "flag");
  EXPECT_EQ(defaults->objectForKey("flag")->type(), PropertyListValue::Type::boolean);
}

TEST_F(UserDefaultsTest, EveryChangeIsAnnouncedAfterItIsMade) {
  auto defaults = NSUserDefaults::makeInMemory("test");
  std::vector<bool> seen;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      NSUserDefaultsDidChangeNotification, defaults.get(), nullptr,
      [&](const NSNotification&) { seen.push_back(defaults->boolForKey("flag")); });
  defaults->setBool(true, "flag");
  defaults->setObject(false, "flag");
  defaults->setPersistentDomain({{"flag", true}}, "test");
  defaults->setPersistentDomain({}, "other");
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true, true}));
}

TEST_F(UserDefaultsTest, BadInputIsRefusedAndChangesNothing) {
  auto defaults = store();
  defaults->setObject("kept", "name");
  EXPECT_THROW(defaults->setObject("\xc3\x28", "name"), std::invalid_argument);
  EXPECT_THROW(defaults->setObject(1, "\xff"), std::invalid_argument);
  EXPECT_THROW(defaults->setObject(PropertyListDictionary{{"\xff", 1}}, "nested"), std::invalid_argument);
  EXPECT_THROW(defaults->setPersistentDomain({{"a", PropertyListArray{"\xff"}}}, "mirt.vurle.app"),
               std::invalid_argument);
  for (const char* name : {"", ".", "..", "a/b"}) {
    EXPECT_THROW(defaults->setPersistentDomain({}, name), std::invalid_argument) << name;
    EXPECT_FALSE(defaults->persistentDomainForName(name).has_value()) << name;
  }
  EXPECT_THROW(NSUserDefaults::makeInMemory("../up"), std::invalid_argument);
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"name", "kept"}}));
  EXPECT_EQ(folderEntries(), std::vector<std::string>{"mirt.vurle.app.json"});
}

TEST_F(UserDefaultsTest, UnusableFilesAreMovedAsideAndNothingElseIsLost) {
  store()->setPersistentDomain({{"hideDock", true}}, "mirt.vurle");
  const std::string good = readFile(folder / "mirt.vurle.json");
  const std::string cases[] = {
      good.substr(0, good.size() / 2),                 // truncated mid-write by another tool
      "garbage \x01\x02",                              // not JSON
      R"({"array": [{"bool": true}]})",                // not a dictionary
      R"({"dict": {"hideDock": {"bool": "yes"}}})",    // a mistyped value
  };
  for (size_t n = 0; n < std::size(cases); ++n) {
    SCOPED_TRACE(n);
    std::ofstream(folder / "mirt.vurle.app.json", std::ios::binary) << cases[n];
    LogCapture log;
    auto defaults = store();
    EXPECT_FALSE(defaults->objectForKey("hideDock").has_value());
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string aside = n == 0 ? "mirt.vurle.app.json.unreadable" : "mirt.vurle.app.json.unreadable-" + std::to_string(n + 1);
    EXPECT_NE(log.lines()[0].find(aside), std::string::npos) << log.lines()[0];
    EXPECT_EQ(readFile(folder / aside), cases[n]);
    EXPECT_FALSE(fs::exists(folder / "mirt.vurle.app.json"));
    // The other domain is untouched and the store goes on working.
    EXPECT_EQ(defaults->persistentDomainForName("mirt.vurle"), (PropertyListDictionary{{"hideDock", true}}));
    defaults->setBool(true, "showMenuBar");
    EXPECT_TRUE(store()->boolForKey("showMenuBar"));
  }
  EXPECT_EQ(readFile(folder / "mirt.vurle.json"), good);
}

TEST_F(UserDefaultsTest, AFailedSaveIsReportedAndKeptForTheRun) {
  const fs::path blocked = folder / "not-a-folder";
  std::ofstream(blocked) << "x";
  auto defaults = NSUserDefaults::make("mirt.vurle.app", blocked);
  LogCapture log;
  defaults->setBool(true, "hideDock");
  EXPECT_TRUE(defaults->boolForKey("hideDock"));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("could not save"), std::string::npos);
  EXPECT_EQ(readFile(blocked), "x");
}

TEST_F(UserDefaultsTest, StandardStoreUsesTheBundleIdentifierAndTheConfigFolder) {
  struct SavedVariable {
    const char* name;
    std::optional<std::string> value;
    explicit SavedVariable(const char* n) : name(n) {
      if (const char* v = std::getenv(n)) value = v;
    }
    ~SavedVariable() { value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name); }
  } config("XDG_CONFIG_HOME"), home("HOME");
  std::ofstream(folder / "Info.json") << R"({"CFBundleIdentifier": "mirt.vurle.app"})";
  NSBundle::setMainBundlePath(folder);

  ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
  EXPECT_EQ(NSUserDefaults::defaultsDirectory(), folder / "config" / "vurle");
  auto standard = NSUserDefaults::standardUserDefaults();
  EXPECT_EQ(standard, NSUserDefaults::standardUserDefaults());
  EXPECT_EQ(standard->domainName(), "mirt.vurle.app");
  standard->setBool(true, "onboardingCompleted");
  EXPECT_TRUE(fs::exists(folder / "config" / "vurle" / "mirt.vurle.app.json"));

  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(NSUserDefaults::defaultsDirectory(), fs::path("/home/someone/.config/vurle"));
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  EXPECT_FALSE(NSUserDefaults::defaultsDirectory().has_value());
}

}  // namespace
}  // namespace platform
