#include "platform/defaults/user_defaults.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "platform/bundle/bundle.hpp"
#include "platform/defaults/atomic_file.hpp"
#include "platform/defaults/file_lock.hpp"
#include "platform/defaults/file_times_test_support.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
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

// A real second process with a pipe on its standard input and one on its
// output. Waits are bounded, and one still running when the test ends is
// killed, so nothing outlives the test.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> arguments) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (input_ >= 0) ::close(input_);
    if (output_ >= 0) ::close(output_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void start() { EXPECT_EQ(::write(input_, "g", 1), 1); }
  // The exit status once the process has ended (its output closes then);
  // absent when it has not by the deadline.
  std::optional<int> waitUntil(std::chrono::steady_clock::time_point deadline) {
    char buffer[256];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd watched{output_, POLLIN, 0};
      if (::poll(&watched, 1, static_cast<int>(left.count())) <= 0) continue;
      if (::read(output_, buffer, sizeof buffer) <= 0) break;
    }
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

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
  static std::vector<std::string> entriesOf(const fs::path& place) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(place)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> folderEntries() const { return entriesOf(folder); }

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
  EXPECT_EQ(folderEntries(), (std::vector<std::string>{".mirt.vurle.app.json.lock", ".mirt.vurle.json.lock",
                                                       "mirt.vurle.app.json", "mirt.vurle.json"}));
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
  EXPECT_EQ(folderEntries(), (std::vector<std::string>{".mirt.vurle.app.json.lock", "mirt.vurle.app.json"}));
}

TEST_F(UserDefaultsTest, UnusableFilesAreMovedAsideAndNothingElseIsLost) {
  store()->setPersistentDomain({{"hideDock", true}}, "mirt.vurle");
  const std::string good = readFile(folder / "mirt.vurle.json");
  const std::string cases[] = {
      good.substr(0, good.size() / 2),                 // truncated mid-write by another tool
      "garbage \x01\x02",                              // not JSON
      R"({"array": [{"bool": true}]})",                // not a dictionary
      R"({"dict": {"a": {"int": 1}}, "extra": 1})",    // not one tagged value
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

TEST_F(UserDefaultsTest, AValueThatDoesNotReadCostsOnlyItsKey) {
  const std::string deep = std::string(20000, '[') + std::string(20000, ']');
  std::string deepTagged;
  for (int n = 0; n < 20000; ++n) deepTagged += R"({"array": [)";
  for (int n = 0; n < 20000; ++n) deepTagged += "]}";
  const struct {
    std::string value;
    const char* why;
  } cases[] = {
      {R"({"blob": 1})", "\"blob\" holding number"},
      {R"({"bool": "yes"})", "\"bool\" holding string"},
      {R"({"data": "not base64!"})", "not base64"},
      {R"({"int": 9223372036854775808})", "out of range"},
      {R"({"int": 1, "bool": true})", "one type tag"},
      {R"(true)", "one type tag"},
      {R"({"array": [{"int": 1}, {"string": 2}]})", "\"string\" holding number"},
      {deepTagged, "nested deeper than 512"},
      {R"({"array": )" + deep + "}", "one type tag"},  // a deep plain array inside a tag
  };
  for (size_t n = 0; n < std::size(cases); ++n) {
    SCOPED_TRACE(n);
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string original = R"({"dict": {"animationDuration": {"real": 0.25}, "hideDock": )" + cases[n].value +
                                 R"(, "showMenuBar": {"bool": true}}})";
    std::ofstream(folder / "mirt.vurle.app.json", std::ios::binary) << original;
    LogCapture log;
    auto defaults = store();
    EXPECT_FALSE(defaults->objectForKey("hideDock").has_value());
    EXPECT_EQ(defaults->objectForKey("animationDuration"), PropertyListValue(0.25));
    EXPECT_TRUE(defaults->boolForKey("showMenuBar"));
    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_NE(line.find("\"hideDock\""), std::string::npos) << line;
    EXPECT_NE(line.find(cases[n].why), std::string::npos) << line;
    EXPECT_EQ(line.find("animationDuration"), std::string::npos) << line;
    EXPECT_NE(line.find("mirt.vurle.app.json.unreadable"), std::string::npos) << line;
    // The original is kept byte for byte and the keys that read are saved
    // again, so the next launch has them too.
    EXPECT_EQ(readFile(folder / "mirt.vurle.app.json.unreadable"), original);
    EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"),
              (PropertyListDictionary{{"animationDuration", 0.25}, {"showMenuBar", true}}));
    defaults->setBool(false, "hideDock");
    EXPECT_EQ(store()->objectForKey("hideDock"), PropertyListValue(false));
  }
}

TEST_F(UserDefaultsTest, AFileThatCannotBeSetAsideIsLeftAsItIsAndChangesLastTheRun) {
  // "<name>.json" fits a file name, "<name>.json.unreadable" does not.
  const std::string domain(240, 'd');
  const fs::path file = folder / (domain + ".json");
  for (const std::string& original : {std::string("garbage"),
                                     std::string(R"({"dict": {"kept": {"int": 7}, "bad": {"int": "7"}}})")}) {
    SCOPED_TRACE(original);
    std::ofstream(file, std::ios::binary) << original;
    LogCapture log;
    auto defaults = NSUserDefaults::make(domain, folder);
    const bool partly = original != "garbage";
    EXPECT_EQ(defaults->objectForKey("kept").has_value(), partly);
    defaults->setObject(1, "changed");
    defaults->setPersistentDomain({{"other", true}}, "second");
    EXPECT_EQ(defaults->objectForKey("changed"), PropertyListValue(1));
    EXPECT_FALSE(defaults->objectForKey("bad").has_value());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("could not be moved aside"), std::string::npos) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find("not saved"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(readFile(file), original);
    // Other domains are saved as usual.
    EXPECT_EQ(NSUserDefaults::make(domain, folder)->persistentDomainForName("second"),
              (PropertyListDictionary{{"other", true}}));
  }
}

TEST_F(UserDefaultsTest, ASettingsFileThatIsALinkIsReadAndWrittenThroughIt) {
  // A chain of two links, the last one relative, into another folder.
  const fs::path elsewhere = folder / "dotfiles" / "vurle";
  fs::create_directories(elsewhere);
  fs::create_directories(folder / "config");
  fs::create_symlink("../dotfiles/vurle/settings.json", folder / "config" / "middle.json");
  fs::create_symlink(folder / "config" / "middle.json", folder / "config" / "mirt.vurle.app.json");
  auto defaults = NSUserDefaults::make("mirt.vurle.app", folder / "config");
  EXPECT_FALSE(defaults->persistentDomainForName("mirt.vurle.app").has_value());  // the link leads nowhere yet
  defaults->setBool(true, "hideDock");
  EXPECT_TRUE(fs::is_symlink(folder / "config" / "mirt.vurle.app.json"));
  EXPECT_TRUE(fs::is_symlink(folder / "config" / "middle.json"));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(elsewhere / "settings.json")));
  EXPECT_TRUE(NSUserDefaults::make("mirt.vurle.app", folder / "config")->boolForKey("hideDock"));
  EXPECT_TRUE(fs::exists(elsewhere / ".settings.json.lock"));

  // An unusable target is set aside beside itself; the links stay and the
  // next save recreates the target through them.
  std::ofstream(elsewhere / "settings.json") << "garbage";
  LogCapture log;
  auto fresh = NSUserDefaults::make("mirt.vurle.app", folder / "config");
  EXPECT_FALSE(fresh->boolForKey("hideDock"));
  EXPECT_EQ(readFile(elsewhere / "settings.json.unreadable"), "garbage");
  fresh->setObject(3, "count");
  EXPECT_TRUE(fs::is_symlink(folder / "config" / "mirt.vurle.app.json"));
  EXPECT_EQ(NSUserDefaults::make("mirt.vurle.app", folder / "config")->objectForKey("count"), PropertyListValue(3));
}

TEST_F(UserDefaultsTest, OnlyRegularFilesAreReadAndWhatALinkLeadsToIsLeftAlone) {
  // What stands in the settings file's place; the targets live outside the
  // settings folder, as /dev/zero or a FIFO elsewhere would.
  const fs::path outside = folder / "outside";
  const fs::path config = folder / "config";
  const fs::path link = config / "mirt.vurle.app.json";
  struct Case {
    const char* name;
    // Makes the thing at `target`; false when this machine cannot.
    std::function<bool(const fs::path& target)> make;
    bool throughLink;
    const char* kind;
  } cases[] = {
      {"a FIFO in place", [](const fs::path& target) { return ::mkfifo(target.c_str(), 0600) == 0; }, false, "a FIFO"},
      {"a link to a FIFO", [](const fs::path& target) { return ::mkfifo(target.c_str(), 0600) == 0; }, true, "a FIFO"},
      // The device of /dev/zero, made here so that no system file is at stake.
      {"a link to a zero device",
       [](const fs::path& target) { return ::mknod(target.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0; }, true,
       "a device"},
      {"a link to a folder", [](const fs::path& target) { return fs::create_directory(target); }, true, "a folder"},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    fs::remove_all(outside);
    fs::remove_all(config);
    fs::create_directories(outside);
    fs::create_directories(config);
    const fs::path target = entry.throughLink ? outside / "zero" : link;
    if (!entry.make(target)) {
      std::cout << "[ SKIPPED  ] " << entry.name << ": cannot be made here (" << std::strerror(errno) << ")\n";
      continue;
    }
    // What looks like a stale temporary file beside the target is not ours
    // to remove, nor is the target's folder ours to put a lock file in.
    const fs::path temporary = outside / ".zero.Ab3dE9";
    std::ofstream(temporary) << "theirs";
    const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, temporary.c_str(), old, 0), 0);
    if (entry.throughLink) fs::create_symlink(target, link);
    const auto untouched = entriesOf(outside);
    struct stat before {};
    ASSERT_EQ(::lstat(target.c_str(), &before), 0);

    // A blocking open would wait for a writer for good: the bound frees it
    // by opening the FIFO for writing, and the test fails.
    LogCapture log;
    auto reading = std::async(std::launch::async, [&] {
      return NSUserDefaults::make("mirt.vurle.app", config)->persistentDomainForName("mirt.vurle.app");
    });
    const bool finished = reading.wait_for(kTestHangGuard) == std::future_status::ready;
    if (!finished) {
      const int writer = ::open(target.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
    EXPECT_TRUE(finished) << "reading the settings blocked";
    EXPECT_FALSE(reading.get().has_value());

    ASSERT_EQ(log.lines().size(), 1u);
    const std::string line = log.lines()[0];
    EXPECT_NE(line.find(link.string() + " is unusable (it is " + entry.kind + ", not a regular file)"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find((config / "mirt.vurle.app.json.unreadable").string()), std::string::npos) << line;
    // The link (or the FIFO in place) is set aside; a target elsewhere keeps
    // its name, its kind and its node, and gets no lock file beside it.
    const fs::path aside = config / "mirt.vurle.app.json.unreadable";
    EXPECT_EQ(fs::is_symlink(aside), entry.throughLink);
    struct stat after {};
    ASSERT_EQ(::lstat(entry.throughLink ? target.c_str() : aside.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
    EXPECT_EQ(entriesOf(outside), untouched);
    // The next save makes a regular file where the link was.
    auto defaults = NSUserDefaults::make("mirt.vurle.app", config);
    defaults->setBool(true, "hideDock");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(link)));
    EXPECT_TRUE(NSUserDefaults::make("mirt.vurle.app", config)->boolForKey("hideDock"));
    EXPECT_EQ(entriesOf(outside), untouched);
  }
}

TEST_F(UserDefaultsTest, AFileLargerThanTheCapIsUnreadableHoweverItIsMeasured) {
  const long long cap = NSUserDefaults::maximumFileSize;
  const std::string json = R"({"dict": {"hideDock": {"bool": true}}})";
  const fs::path file = folder / "mirt.vurle.app.json";
  const struct {
    long long size;
    // The file measures as empty, as one that grows after it is measured.
    bool measuresEmpty;
    const char* refusal;  // none: it reads
  } cases[] = {
      {cap, false, nullptr},
      {cap + 1, false, "it is 16777217 bytes, larger than 16 MiB"},
      {cap, true, nullptr},
      {cap + 1, true, "it grew past 16 MiB while it was read"},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(std::to_string(entry.size) + (entry.measuresEmpty ? " measured as empty" : ""));
    fs::remove_all(folder);
    fs::create_directories(folder);
    // Valid JSON to the last byte: only its size can refuse it.
    std::ofstream(file, std::ios::binary) << json << std::string(static_cast<size_t>(entry.size) - json.size(), ' ');
    ASSERT_EQ(static_cast<long long>(fs::file_size(file)), entry.size);
    NSUserDefaults::setFilesMeasureEmpty(entry.measuresEmpty);
    LogCapture log;
    auto defaults = store();
    EXPECT_EQ(defaults->boolForKey("hideDock"), entry.refusal == nullptr);
    NSUserDefaults::setFilesMeasureEmpty(false);
    if (!entry.refusal) {
      EXPECT_TRUE(log.lines().empty());
      continue;
    }
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find(file.string() + " is unusable (" + entry.refusal + ")"), std::string::npos)
        << log.lines()[0];
    EXPECT_EQ(static_cast<long long>(fs::file_size(folder / "mirt.vurle.app.json.unreadable")), entry.size);
    EXPECT_FALSE(fs::exists(file));
  }
}

TEST_F(UserDefaultsTest, OnAFullDiskAFileWithAnUnreadableKeyIsKeptUntilItsKeysAreWritten) {
  const fs::path file = folder / "mirt.vurle.app.json";
  const std::string original =
      R"({"dict": {"animationDuration": {"real": 0.25}, "hideDock": {"bool": "yes"}, "showMenuBar": {"bool": true}}})";
  std::ofstream(file, std::ios::binary) << original;
  const auto expectKeptUnchanged = [&](const LogCapture& log) {
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("\"hideDock\""), std::string::npos) << log.lines()[0];
    EXPECT_NE(log.lines()[0].find("the file was kept unchanged"), std::string::npos) << log.lines()[0];
    EXPECT_EQ(readFile(file), original);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{".mirt.vurle.app.json.lock", "mirt.vurle.app.json"}));
  };
  // The first write goes wrong at the start, when the keys that read are
  // written back; the second at the save's own look under the lock.
  failNextAtomicFileWrites(2);
  auto defaults = store();
  {
    LogCapture log;
    EXPECT_EQ(defaults->objectForKey("animationDuration"), PropertyListValue(0.25));
    expectKeptUnchanged(log);
  }
  {
    LogCapture log;
    defaults->setObject(1, "count");
    expectKeptUnchanged(log);
    EXPECT_EQ(defaults->objectForKey("count"), PropertyListValue(1));
  }
  // With room again, the next save keeps the original aside as it was and
  // puts the keys that read, with every change, in its place.
  {
    LogCapture log;
    defaults->setObject(2, "other");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("moved to " + file.string() + ".unreadable"), std::string::npos) << log.lines()[0];
  }
  EXPECT_EQ(readFile(folder / "mirt.vurle.app.json.unreadable"), original);
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"),
            (PropertyListDictionary{{"animationDuration", 0.25}, {"count", 1}, {"other", 2}, {"showMenuBar", true}}));
  EXPECT_EQ(folderEntries(), (std::vector<std::string>{".mirt.vurle.app.json.lock", "mirt.vurle.app.json",
                                                       "mirt.vurle.app.json.unreadable"}));
}

TEST_F(UserDefaultsTest, TemporaryFilesAKilledSaveLeftAreRemovedOnceStaleUnderTheLock) {
  // File times are the file system's, whatever the virtual clock says. Each
  // pass dates every file again from the very now it compares with, so
  // that no stall of the machine moves one across the limit.
  SimulatedSchedulerScope scope;
  const struct {
    const char* name;
    double age;
    bool removed;
  } cases[] = {
      {".mirt.vurle.app.json.Ab3dE9", 3600, true},
      {".mirt.vurle.app.json.lock12", 3600, true},  // mkstemp may choose any six letters
      {".mirt.vurle.app.json.Kq4rT1", -3600, true},  // the clock was set back since
      {".mirt.vurle.app.json.Xy7Qz0", -NSUserDefaults::staleTemporaryAge + 0.5, false},
      {".mirt.vurle.app.json.lock", 3600, false},
      {".mirt.vurle.app.json.abcde", 3600, false},
      {".mirt.vurle.app.json.abcdefg", 3600, false},
      {".mirt.vurle.app.json.ab-dE9", 3600, false},
      {"mirt.vurle.app.json.Ab3dE9", 3600, false},
      {".mirt.vurle.json.Ab3dE9", 3600, false},  // another domain's, until that one opens
  };
  const auto plant = [&] {
    fs::create_directories(folder / ".mirt.vurle.app.json.Qw1234");  // not a file
    const timespec now = fileSystemNow(folder);
    for (const auto& entry : cases) {
      const fs::path path = folder / entry.name;
      if (!fs::exists(path)) std::ofstream(path) << "partial";
      dateFile(path, now, entry.age);
    }
    dateFile(folder / ".mirt.vurle.app.json.Qw1234", now, 3600);
  };
  setStaleTemporariesNowHook([&](const timespec& passNow) {
    for (const auto& entry : cases) dateFile(folder / entry.name, passNow, entry.age);
  });
  plant();
  std::vector<std::string> all = folderEntries();
  // A save in progress holds the lock: nothing of its goes.
  {
    const auto saving = FileLock::acquire(folder / ".mirt.vurle.app.json.lock");
    EXPECT_FALSE(store()->objectForKey("any").has_value());
    EXPECT_EQ(folderEntries(), all);
  }
  auto defaults = store();
  EXPECT_FALSE(defaults->objectForKey("any").has_value());
  std::vector<std::string> left;
  for (const auto& entry : cases) {
    EXPECT_EQ(fs::exists(folder / entry.name), !entry.removed) << entry.name;
    if (!entry.removed) left.push_back(entry.name);
  }
  EXPECT_TRUE(fs::is_directory(folder / ".mirt.vurle.app.json.Qw1234"));
  // Only the first open of a domain looks.
  plant();
  defaults->setObject(1, "saved");
  EXPECT_TRUE(fs::exists(folder / ".mirt.vurle.app.json.Ab3dE9"));
  // Opening the other domain cleans its own.
  EXPECT_FALSE(defaults->persistentDomainForName("mirt.vurle").has_value());
  EXPECT_FALSE(fs::exists(folder / ".mirt.vurle.json.Ab3dE9"));
  EXPECT_TRUE(fs::exists(folder / ".mirt.vurle.app.json.Ab3dE9"));
}

// A copy of the settings folder made with hard links (a quick backup) gives
// the lock file a second name. Saving locks it, which writes nothing, so
// every change is kept and the copy's lock keeps its bytes and its time.
TEST_F(UserDefaultsTest, ALockFileWithASecondNameIsLockedAndNeverWritten) {
  store()->setPersistentDomain({{"a0", 0}, {"a1", 1}}, "mirt.vurle.app");
  const fs::path copy = folder / "copy.lock";
  fs::create_hard_link(folder / ".mirt.vurle.app.json.lock", copy);
  dateFile(copy, fileSystemNow(folder), 3600);
  const auto dated = fs::last_write_time(copy);
  auto defaults = store();
  for (const std::string key : {"b0", "b1", "c0"}) defaults->setObject(key, key);
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"),
            (PropertyListDictionary{{"a0", 0}, {"a1", 1}, {"b0", "b0"}, {"b1", "b1"}, {"c0", "c0"}}));
  EXPECT_EQ(readFile(copy), "");
  EXPECT_EQ(fs::last_write_time(copy), dated);
}

TEST_F(UserDefaultsTest, ThreadsWritingAtOnceLoseNoKey) {
  // Two stores over one domain, each written from several threads, while
  // every thread also reads back what it wrote.
  const auto first = store();
  const auto second = store();
  constexpr int threads = 8, keys = 20;
  const auto keyOf = [](int t, int n) { return std::string("t") + std::to_string(t) + "-" + std::to_string(n); };
  std::vector<std::thread> writers;
  std::atomic<int> misread{0};
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      const auto& defaults = t % 2 ? second : first;
      for (int n = 0; n < keys; ++n) {
        const std::string key = keyOf(t, n);
        if (n % 5 == 4) {
          defaults->setPersistentDomain({{key, n}}, "thread" + std::to_string(t));
        } else {
          defaults->setObject(n, key);
        }
        if (defaults->objectForKey(key) != PropertyListValue(n) &&
            defaults->persistentDomainForName("thread" + std::to_string(t)) != PropertyListDictionary{{key, n}}) {
          ++misread;
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(misread.load(), 0);
  const auto reader = store();
  const auto values = reader->persistentDomainForName("mirt.vurle.app").value_or(PropertyListDictionary{});
  EXPECT_EQ(values.size(), static_cast<size_t>(threads * keys * 4 / 5));
  for (int t = 0; t < threads; ++t) {
    for (int n = 0; n < keys; ++n) {
      const std::string key = keyOf(t, n);
      if (n % 5 == 4) continue;
      EXPECT_EQ(reader->objectForKey(key), PropertyListValue(n)) << key;
    }
    EXPECT_EQ(reader->persistentDomainForName("thread" + std::to_string(t)),
              (PropertyListDictionary{{"t" + std::to_string(t) + "-" + std::to_string(keys - 1), keys - 1}}));
  }
}

TEST_F(UserDefaultsTest, StoresSharingADomainMergeTheirChangesKeyByKey) {
  // Two stores over one folder stand for two processes: each has its own
  // picture in memory and sees the other's saves through the file.
  auto first = store();
  auto second = store();
  first->setObject(1, "a");
  EXPECT_EQ(second->objectForKey("a"), PropertyListValue(1));
  second->setObject(2, "b");
  first->setObject(10, "a");  // keeps "b", which this store never set
  EXPECT_EQ(first->objectForKey("b"), PropertyListValue(2));
  EXPECT_EQ(second->objectForKey("a"), PropertyListValue(10));
  // A whole-domain write removes the keys it leaves out, even one it only
  // learnt of from the file.
  second->setPersistentDomain({{"c", 3}}, "mirt.vurle.app");
  EXPECT_EQ(first->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"c", 3}}));
  first->setObject(4, "d");
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"c", 3}, {"d", 4}}));
  // Someone else replacing the file is seen at the next read.
  std::ofstream(folder / "mirt.vurle.app.json.new") << R"({"dict": {"e": {"int": 5}}})";
  fs::rename(folder / "mirt.vurle.app.json.new", folder / "mirt.vurle.app.json");
  EXPECT_EQ(second->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"e", 5}}));
  EXPECT_FALSE(first->objectForKey("c").has_value());
}

TEST_F(UserDefaultsTest, TwoProcessesSavingOneDomainKeepEachOthersKeys) {
  store()->setObject("before", "kept");
  auto watcher = store();
  EXPECT_FALSE(watcher->objectForKey("a0").has_value());
  constexpr int count = 40;
  ChildProcess first({VURLE_DEFAULTS_WRITER, folder.string(), "mirt.vurle.app", "a", std::to_string(count)});
  ChildProcess second({VURLE_DEFAULTS_WRITER, folder.string(), "mirt.vurle.app", "b", std::to_string(count)});
  ASSERT_TRUE(first.started() && second.started());
  first.start();
  second.start();
  const auto deadline = std::chrono::steady_clock::now() + kTestHangGuard;
  EXPECT_EQ(first.waitUntil(deadline), 0);
  EXPECT_EQ(second.waitUntil(deadline), 0);
  // A store that read the domain before sees both processes' keys without
  // being made again, and a new store reads the same.
  for (const auto& reader : {watcher, store()}) {
    EXPECT_EQ(reader->persistentDomainForName("mirt.vurle.app").value_or(PropertyListDictionary{}).size(),
              2u * count + 1);
    EXPECT_EQ(reader->objectForKey("kept"), PropertyListValue("before"));
    for (int n = 0; n < count; ++n) {
      for (const std::string prefix : {"a", "b"}) {
        EXPECT_EQ(reader->objectForKey(prefix + std::to_string(n)), PropertyListValue(n)) << prefix << n;
      }
    }
  }
}

TEST_F(UserDefaultsTest, ChangesThatCouldNotBeSavedAreSavedWithTheNextChange) {
  auto defaults = store();
  defaults->setObject(1, "a");
  // A folder where the lock file goes stops every save, whoever runs this.
  fs::remove(folder / ".mirt.vurle.app.json.lock");
  fs::create_directory(folder / ".mirt.vurle.app.json.lock");
  {
    LogCapture log;
    defaults->setObject(2, "b");
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("could not save"), std::string::npos);
  }
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"a", 1}}));
  EXPECT_EQ(defaults->objectForKey("b"), PropertyListValue(2));
  fs::remove(folder / ".mirt.vurle.app.json.lock");
  defaults->setObject(3, "c");
  EXPECT_EQ(store()->persistentDomainForName("mirt.vurle.app"), (PropertyListDictionary{{"a", 1}, {"b", 2}, {"c", 3}}));
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
