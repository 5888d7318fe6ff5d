#include "platform/servicemanagement/app_service.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "platform/appkit/workspace.hpp"
#include "platform/defaults/atomic_file.hpp"
#include "platform/defaults/file_lock.hpp"
#include "platform/defaults/file_times_test_support.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

// Failures name the program in words.
[[maybe_unused]] static void PrintTo(const SMAppService::ExecProgram& program, std::ostream* out) {
  *out << "“" << program.name << "” " << (program.found ? "found" : "not found");
}

namespace {

namespace fs = std::filesystem;

constexpr const char* kIdentifier = "test.vurle.login";

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void makeExecutable(const fs::path& path) {
  writeFile(path, "#!/bin/sh\n");
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// What the desktop's own validator says of an entry: its exit status and
// its words.
std::pair<int, std::string> validate(const fs::path& entry) {
  std::string quotedPath = "'";
  for (char c : entry.string()) quotedPath += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quotedPath += "'";
  FILE* pipe = ::popen((std::string(VURLE_DESKTOP_FILE_VALIDATE) + " " + quotedPath + " 2>&1").c_str(), "r");
  if (!pipe) return {-1, "popen failed"};
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// Keeps an environment variable as it was.
struct SavedVariable {
  explicit SavedVariable(const char* name) : name(name) {
    if (const char* value = std::getenv(name)) saved = value;
  }
  ~SavedVariable() { saved ? ::setenv(name, saved->c_str(), 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> saved;
};

// A bundle whose executable's path holds spaces, quotes and the other
// characters an Exec line must escape, with the entries in a temporary
// configuration folder.
class AppServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    writeFile(bundleFolder / "Info.json", std::string(R"({"CFBundleIdentifier": ")") + kIdentifier +
                                              R"(", "CFBundleName": "vurle", "CFBundleExecutable": )" +
                                              R"("it's \"odd\" $HOME `x` 100% \\ app"})");
    executable = bundleFolder / "it's \"odd\" $HOME `x` 100% \\ app";
    makeExecutable(executable);
    NSBundle::setMainBundlePath(bundleFolder);
  }
  void TearDown() override {
    resetProcessState();
    fs::remove_all(root);
  }

  fs::path entry() const { return root / "config" / "autostart" / (std::string(kIdentifier) + ".desktop"); }
  // The program the entry in `file` starts, as the key-file reader reads it.
  static std::optional<std::string> execProgram(const fs::path& file) {
    auto reading = SMAppService::readEntry(readFile(file));
    return reading && reading->program ? std::optional(reading->program->name) : std::nullopt;
  }

  SavedVariable config{"XDG_CONFIG_HOME"}, home{"HOME"};
  const fs::path root = fs::temp_directory_path() / ("vurle login " + std::to_string(::getpid()) + " \"q\"");
  const fs::path bundleFolder = root / "the app's bundle";
  fs::path executable;
};

// Every entry written passes the desktop's validator and starts exactly the
// executable it was written for, with the login-item mark.
TEST_F(AppServiceTest, WrittenEntriesAreValidAndStartTheExecutable) {
  const fs::path paths[] = {
      "/usr/bin/vurle",
      "/opt/my apps/vurle",
      "/opt/\"quoted\"/it's/vurle",
      "/opt/$HOME/`cmd`/vurle",
      "/opt/back\\slash/vurle",
      "/opt/100%/%f/vurle",
      "/opt/tab and ; & | < > * ? # ( ) ~/vurle",
      "/opt/ünïcødé/vurle",
  };
  int n = 0;
  for (const auto& path : paths) {
    auto text = SMAppService::entryText(path, "vurle");
    ASSERT_TRUE(text) << path;
    const auto file = root / ("entry-" + std::to_string(n++) + ".desktop");
    writeFile(file, *text);
    const auto [status, words] = validate(file);
    EXPECT_EQ(status, 0) << path << "\n" << *text << words;
    EXPECT_EQ(words, "") << path;
    EXPECT_EQ(execProgram(file), path.string()) << *text;
    EXPECT_NE(text->find("\nExec=env VURLE_LAUNCHED_AS_LOGIN_ITEM=1 \""), std::string::npos) << *text;
  }
  // A name too long to show is not written, so the entry stays readable.
  EXPECT_TRUE(SMAppService::readEntry(*SMAppService::entryText("/usr/bin/vurle", std::string(70000, 'n'))));
  std::string euros;
  for (int i = 0; i < 22000; ++i) euros += "€";  // 22,000 units, 66,000 bytes
  EXPECT_TRUE(SMAppService::readEntry(*SMAppService::entryText("/usr/bin/vurle", euros)));
  // Paths no Exec line can carry.
  for (const std::string& path : {std::string("/opt/new\nline"), std::string("/opt/a=b/vurle"),
                                 std::string("/opt/\xFF/vurle"), std::string("/opt/\x1b/vurle"), std::string(),
                                  std::string("-opt/vurle"), std::string("vurle")}) {
    EXPECT_FALSE(SMAppService::entryText(path, "vurle")) << path;
  }
}

// The values as the key-file reader returns them, its own escapes undone:
// the program the launch ends by executing, and whether it is found there.
// "@" stands for a folder of the test's: bin/prog, an executable on this
// process's search path, and dir/.
TEST_F(AppServiceTest, ExecValuesAreReadAsTheLaunchRunsThem) {
  struct Case {
    const char* value;
    const char* program;  // null: the launch starts nothing
    bool found = false;
  };
  const Case cases[] = {
      {"/usr/bin/vurle", "/usr/bin/vurle"},
      {"vurle --flag", "vurle"},
      {"env A=1 B=2 /usr/bin/vurle %U", "/usr/bin/vurle"},
      {"/usr/bin/env -i A=1 \"/a b/c\"", "/a b/c"},
      // env's options as env reads them: arguments, -S's words, "-", "--"
      {"env -u FOO \"/a b\"", "/a b"},
      {"env -iuFOO -C /tmp /x", "/x"},
      {"env --unset FOO --ch=/tmp --block-signal /x", "/x"},
      {"env --chdir=/tmp /x", "/x"},
      {"env -S 'A=1 \"/a b\"\\_-c \\c /y' /x", "/a b"},
      {"env --split-string='/a b' /x", "/a"},
      {"env --split-string=\"-u FOO '' /x\"", nullptr},  // '' is the program
      {"env -S '#/y' -- - =1 /x", "/x"},
      {"env -S '${VURLE_PROBE_DIR}/vurle'", "/opt/probe/vurle"},
      {"env -u", nullptr},
      {"env --i /x", nullptr},  // ambiguous
      {"env --debug=1 /x", nullptr},
      {"env -0 /x", nullptr},
      {"env --help /x", nullptr},
      {"env -S '\"/x' /y", nullptr},
      {R"("/a\"b\$c\`d\\e")", "/a\"b$c`d\\e"},
      {"\"/a%%b\" %f", "/a%b"},
      {"env %f /x", "/x"},  // a field code with no file is nothing
      {"'/single quoted'/x", "/single quoted/x"},
      {"\"/unterminated", nullptr},
      {"env A=1", nullptr},
      {"%f", nullptr},
      {"", nullptr},
      {"\"\"", nullptr},
      // what env refuses, and what it takes
      {"env -C /nonexistent prog", nullptr},
      {"env -C '' prog", nullptr},
      {"env -C / env -C '' prog", nullptr},
      {"env -C @/bin/prog prog", nullptr},
      {"env -u A=B prog", nullptr},
      {"env -u= prog", nullptr},
      {"env --default-signal=NOSUCH prog", nullptr},
      {"env --block-signal=FOO prog", nullptr},
      {"env --ignore-signal=0 prog", nullptr},
      {"env --block-signal=32 prog", nullptr},
      {"env --block-signal=65 prog", nullptr},
      {"env --block-signal=RTMIN+31 prog", nullptr},
      {"env --default-signal=KILL prog", nullptr},  // its action cannot be set
      {"env --ignore-signal=sigstop --block-signal prog", nullptr},
      {"env --default-signal=INT,TERM --ignore-signal=sigint --block-signal=2 --default-signal= prog", "prog", true},
      {"env --block-signal=KILL,,RTMIN+1,SIGRTMAX-1,64,130 prog", "prog", true},
      {"env --block-signal=SIG64 prog", "prog", true},
      {"env --default-signal=KILL --default-signal prog", "prog", true},
      {"env -i -u A=B sh", "sh", true},  // a cleared environment has nothing to unset
      {"env -v --list-signal-handling -- prog", "prog", true},
      {"env -- -i prog", "-i"},
      // the program is looked for in the environment and folder env built
      {"prog", "prog", true},
      {"env prog", "prog", true},
      {"env PATH=/nowhere prog", "prog"},
      {"env -S 'PATH=/nowhere prog'", "prog"},
      {"env -i prog", "prog"},
      {"env --ignore-environment prog", "prog"},
      {"env - prog", "prog"},
      {"env -u PATH prog", "prog"},
      {"env -i sh", "sh", true},  // the C library's default path
      {"env -u PATH PATH=@/bin prog", "prog", true},
      {"env -C @ bin/prog", "bin/prog", true},
      {"env -C @/dir PATH=../bin prog", "prog", true},
      {"env -C @/bin PATH=/nowhere: prog", "prog", true},  // "" is the current folder
      {"env bin/prog", "bin/prog"},
      {"env @/dir", "@/dir"},
      // an env that env starts
      {"env PATH=/nowhere env prog", "env"},
      {"env env -C /nonexistent prog", nullptr},
      {"env PATH=@/bin /usr/bin/env -i prog", "prog"},
      {"env -C @ env -C dir env -C ../bin ./prog", "./prog", true},
      {"env VURLE_PROBE_DIR=@ env -S '${VURLE_PROBE_DIR}/bin/prog'", "@/bin/prog", true},
      {"env -u VURLE_PROBE_DIR -S '${VURLE_PROBE_DIR}/vurle'", "/opt/probe/vurle"},  // expanded before
      {"env 'X=-S${X}${X}' env -S '${X}' prog", nullptr},  // each split doubles the next
  };
  const fs::path folder = fs::temp_directory_path() / ("vurle-exec-" + std::to_string(::getpid()));
  makeExecutable(folder / "bin" / "prog");
  fs::create_directories(folder / "dir");
  SavedVariable path{"PATH"}, probe{"VURLE_PROBE_DIR"};
  ::setenv("PATH", ((folder / "bin").string() + ":" + path.saved.value_or("/usr/bin:/bin")).c_str(), 1);
  ::setenv("VURLE_PROBE_DIR", "/opt/probe", 1);
  const auto inFolder = [&](std::string text) {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@')) text.replace(at, 1, folder.string());
    return text;
  };
  for (const auto& c : cases) {
    const auto expected = c.program ? std::optional(SMAppService::ExecProgram{inFolder(c.program), c.found})
                                    : std::nullopt;
    EXPECT_EQ(SMAppService::programOfExec(inFolder(c.value)), expected) << c.value;
  }
  // A chain of -S is read in time proportional to its length.
  std::string chain = "env ";
  for (int i = 0; i < 300000; ++i) chain += "-S";
  EXPECT_EQ(SMAppService::programOfExec(chain + " prog"), SMAppService::ExecProgram({"prog", true}));
  // The session's values cost little to expand, however long; the same
  // bytes made by the launch cost their size, as -S could grow them.
  const auto repeated = [](const std::string& text, int times) {
    std::string made;
    while (times-- > 0) made += text;
    return made;
  };
  ::setenv("PATH", (repeated("/nowhere/padding:", 300) + (folder / "bin").string() + ":/usr/bin").c_str(), 1);
  EXPECT_EQ(SMAppService::programOfExec("env -S '" + repeated("A=${PATH} ", 5000) + "prog'"),
            SMAppService::ExecProgram({"prog", true}));
  EXPECT_EQ(SMAppService::programOfExec("env -S 'B=${PATH}' env -S '" + repeated("A=${B} ", 5000) + "prog'"),
            std::nullopt);
  // Yet not free: 2,000 copies of a 64 KiB one would be 128 MiB of words.
  ::setenv("VURLE_PROBE_DIR", std::string(65536, 'x').c_str(), 1);
  EXPECT_EQ(SMAppService::programOfExec("env -S 'prog" + repeated(" ${VURLE_PROBE_DIR}", 2000) + "'"), std::nullopt);
  fs::remove_all(folder);
}

// The status as the entry tells it, from no entry to a switched-off one.
TEST_F(AppServiceTest, TheStatusIsReadFromTheEntry) {
  auto service = SMAppService::mainAppService();
  ASSERT_EQ(service->entryPath(), entry());
  const std::string exec = "Exec=env VURLE_LAUNCHED_AS_LOGIN_ITEM=1 " +
                           std::string("\"") + "/bin/sh" + "\"\n";
  const std::string header = "[Desktop Entry]\nType=Application\nName=vurle\n";
  struct Case {
    const char* what;
    std::optional<std::string> text;  // none: no entry
    SMAppServiceStatus status;
  };
  const Case cases[] = {
      {"none", std::nullopt, SMAppServiceStatus::notRegistered},
      {"present", header + exec, SMAppServiceStatus::enabled},
      {"with comments, spaces and other groups",
       "# autostart\n\n" + header + "Exec = /bin/sh\n[Desktop Action x]\nExec=/nowhere\n", SMAppServiceStatus::enabled},
      {"hidden", header + exec + "Hidden=true\n", SMAppServiceStatus::notRegistered},
      {"switched off", header + exec + "X-GNOME-Autostart-enabled=false\n", SMAppServiceStatus::requiresApproval},
      {"switched on", header + exec + "X-GNOME-Autostart-enabled=true\n", SMAppServiceStatus::enabled},
      {"program missing", header + "Exec=/nowhere/vurle\n", SMAppServiceStatus::notFound},
      {"program not executable", header + "Exec=" + (root / "plain").string() + "\n", SMAppServiceStatus::notFound},
      {"switched off and missing", header + "Exec=/nowhere\nX-GNOME-Autostart-enabled=false\n",
       SMAppServiceStatus::notFound},
      {"no Exec", header, SMAppServiceStatus::notFound},
      {"program on the search path", header + "Exec=sh -c true\n", SMAppServiceStatus::enabled},
      {"TryExec found", header + "TryExec=sh\n" + exec, SMAppServiceStatus::enabled},
      {"TryExec missing", header + "TryExec=/nowhere/vurle\n" + exec, SMAppServiceStatus::notFound},
      {"Type not Application", "[Desktop Entry]\nType=Link\nName=vurle\n" + exec, SMAppServiceStatus::notFound},
      {"no Type", "[Desktop Entry]\nName=vurle\n" + exec, SMAppServiceStatus::notFound},
      {"no group", "Exec=/bin/sh\n", SMAppServiceStatus::notFound},
      {"another group only", "[Other]\nExec=/bin/sh\n", SMAppServiceStatus::notFound},
      {"hidden as 1", header + exec + "Hidden=1\n", SMAppServiceStatus::notRegistered},
      {"hidden as no boolean", header + exec + "Hidden=yes\n", SMAppServiceStatus::enabled},
      {"switched off as no boolean", header + exec + "X-GNOME-Autostart-enabled=yes\n",
       SMAppServiceStatus::requiresApproval},
      {"a comment not UTF-8", header + exec + "Comment=\xFF\n", SMAppServiceStatus::enabled},
      {"an Exec not UTF-8", header + "Exec=/bin/sh\xFF\n", SMAppServiceStatus::notFound},
      {"a line that is no key", header + exec + "garbage\n", SMAppServiceStatus::notFound},
      {"over 64 KiB", header + exec + "Comment=" + std::string(70000, 'x') + "\n", SMAppServiceStatus::notFound},
      // field codes as the launcher expands them, from the entry's values
      {"an icon", header + "Icon=x\nExec=env %i /bin/sh\n", SMAppServiceStatus::notFound},  // env refuses --icon
      {"no icon", header + "Exec=env %i /bin/sh\n", SMAppServiceStatus::enabled},
      {"an icon less its extension", header + "Icon=sh.svg\nExec=env -u %i\n", SMAppServiceStatus::enabled},
      {"a name", "[Desktop Entry]\nType=Application\nName=sh\nExec=env %c\n", SMAppServiceStatus::enabled},
      {"a name of two words", "[Desktop Entry]\nType=Application\nName=sh x\nExec=env %c\n",
       SMAppServiceStatus::notFound},
      {"a name naming nothing", "[Desktop Entry]\nType=Application\nName=qprog\nExec=env %c\n",
       SMAppServiceStatus::notFound},
      {"the entry's file", header + "Exec=env -u %k /bin/sh\n", SMAppServiceStatus::enabled},
      {"a Path", header + "Path=/tmp\n" + exec, SMAppServiceStatus::enabled},
      {"an empty Path", header + "Path=\n" + exec, SMAppServiceStatus::enabled},
      {"a Path to no folder", header + "Path=/nowhere\n" + exec, SMAppServiceStatus::notFound},
  };
  writeFile(root / "plain", "data");
  for (const auto& c : cases) {
    fs::remove(entry());
    if (c.text) writeFile(entry(), *c.text);
    EXPECT_EQ(service->status(), c.status) << c.what;
  }
  // An entry run in a terminal starts where one of GLib's is on the search
  // path.
  SavedVariable path{"PATH"};
  ::setenv("PATH", (root / "terminals").c_str(), 1);
  writeFile(entry(), header + "Terminal=true\nExec=/bin/sh\n");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notFound);
  makeExecutable(root / "terminals" / "rxvt");
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  fs::remove(entry());
  fs::create_symlink(root / "nowhere", entry());
  EXPECT_EQ(service->status(), SMAppServiceStatus::notFound);  // a link to nothing is no entry
  fs::remove(entry());
  fs::create_directories(entry());
  EXPECT_EQ(service->status(), SMAppServiceStatus::notFound);  // nor is a folder
}

// Entries the desktop-entry format calls invalid have the status of what a
// GLib-based session does with them.
TEST_F(AppServiceTest, InvalidEntriesReadAsTheSessionReadsThem) {
  auto service = SMAppService::mainAppService();
  const std::string written = *SMAppService::entryText(executable, "vurle");
  const std::string execPrefix = "\nExec=env VURLE_LAUNCHED_AS_LOGIN_ITEM=1 ";
  const auto at = written.find(execPrefix) + execPrefix.size();
  const std::string quotedExecutable = written.substr(at, written.find('\n', at) - at);
  struct Case {
    const char* file;
    SMAppServiceStatus status;
    bool keptAside;  // when registered again
  };
  const Case cases[] = {
      {"nul-in-exec.desktop", SMAppServiceStatus::notFound, false},  // the value ends at the NUL: env alone
      {"repeated-hidden.desktop", SMAppServiceStatus::enabled, false},  // the last Hidden=false counts
      {"enabled-zero.desktop", SMAppServiceStatus::requiresApproval, false},
      {"invalid-key.desktop", SMAppServiceStatus::notFound, true},  // the whole file is refused
      {"other-group-first.desktop", SMAppServiceStatus::notFound, true},  // the loader refuses it
      {"no-entry-group.desktop", SMAppServiceStatus::notFound, true},
  };
  fs::path aside = entry();
  aside += ".unreadable";
  for (const auto& c : cases) {
    std::string text = readFile(fs::path(VURLE_AUTOSTART_TESTDATA) / c.file);
    ASSERT_NE(text.find("\"$EXE\""), std::string::npos) << c.file;
    text.replace(text.find("\"$EXE\""), 6, quotedExecutable);
    fs::remove(aside);
    writeFile(entry(), text);
    EXPECT_EQ(service->status(), c.status) << c.file;
    NSError error;
    ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
    EXPECT_EQ(service->status(), SMAppServiceStatus::enabled) << c.file;
    EXPECT_EQ(fs::exists(aside) ? readFile(aside) : "", c.keptAside ? text : "") << c.file;
  }
}

TEST_F(AppServiceTest, RegisteringWritesTheEntryAndUnregisteringRemovesIt) {
  auto service = SMAppService::mainAppService();
  NSError error;
  // The lock is held until the new entry takes its place.
  int commits = 0;
  SMAppService::setBeforeCommittingHook([&] {
    ++commits;
    EXPECT_EQ(FileLock::tryAcquire(lockFileFor(entry())), nullptr);
  });
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  EXPECT_EQ(commits, 1);
  EXPECT_EQ(readFile(entry()), SMAppService::entryText(executable, "vurle"));
  EXPECT_EQ(validate(entry()).first, 0) << validate(entry()).second;
  EXPECT_EQ(execProgram(entry()), executable.string());
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  // Only the entry and its lock file are left behind: no temporary file.
  EXPECT_EQ(std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()), 2);
  EXPECT_TRUE(fs::exists(lockFileFor(entry())));

  // Registering again rewrites it, switched on.
  std::string text = readFile(entry());
  text.replace(text.find("enabled=true"), 12, "enabled=false");
  writeFile(entry(), text);
  EXPECT_EQ(service->status(), SMAppServiceStatus::requiresApproval);
  ASSERT_TRUE(service->registerAndReturnError(&error));
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);

  fs::remove(executable);
  EXPECT_EQ(service->status(), SMAppServiceStatus::notFound);  // the program has gone
  ASSERT_TRUE(service->unregisterAndReturnError(&error));
  EXPECT_FALSE(fs::exists(entry()));
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  EXPECT_TRUE(service->unregisterAndReturnError(&error));  // nothing to remove
}

// An entry that cannot be read is kept beside the new one, never lost.
TEST_F(AppServiceTest, AnUnreadableEntryIsMovedAsideBeforeTheNewOneIsWritten) {
  auto service = SMAppService::mainAppService();
  NSError error;
  writeFile(entry(), "not an entry \xFF");
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  fs::path aside = entry();
  aside += ".unreadable";
  EXPECT_EQ(readFile(aside), "not an entry \xFF");
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);

  // A second one goes beside the first; a folder in the entry's place too.
  fs::remove(entry());
  fs::create_directories(entry() / "inside");
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  fs::path second = entry();
  second += ".unreadable-2";
  EXPECT_TRUE(fs::is_directory(second / "inside"));
  EXPECT_EQ(readFile(aside), "not an entry \xFF");
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);

  // A readable entry is simply replaced.
  writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=env /nowhere\n");
  ASSERT_TRUE(service->registerAndReturnError(&error));
  fs::path third = entry();
  third += ".unreadable-3";
  EXPECT_FALSE(fs::exists(third));

  // One another process removes before it is moved aside is absent: there
  // is nothing to keep.
  writeFile(entry(), "garbage\n");
  SMAppService::setBeforeMovingAsideHook([this] {
    EXPECT_EQ(FileLock::tryAcquire(lockFileFor(entry())), nullptr);  // registering holds it
    fs::remove(entry());
  });
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  EXPECT_FALSE(fs::exists(third));
}

// What a write killed before its rename left is removed once no writer can
// still be filling it, when the entry is next written; nothing else in the
// folder is touched, and reading the status looks at the entry alone. Ages
// are the file system's, whatever the virtual clock says: each file is dated
// again from the very now the pass compares with, so that no stall of the
// machine moves one across the limit.
TEST_F(AppServiceTest, TemporariesAKilledWriteLeftGoOnceStale) {
  SimulatedSchedulerScope scope;
  const std::string name = std::string(kIdentifier) + ".desktop";
  const struct {
    std::string file;
    double age;
    bool removed;
  } cases[] = {
      {"." + name + ".Ab3dE9", 3600, true},
      {"." + name + ".Kq4rT1", -3600, true},  // the clock was set back since
      {"." + name + ".Xy7Qz0", -SMAppService::staleTemporaryAge + 0.5, false},  // a write may be filling it
      {"." + name + ".ab-dE9", 3600, false},
      {"." + name + ".abcdefg", 3600, false},
      {".other.desktop.Ab3dE9", 3600, false},
      {name + ".Ab3dE9", 3600, false},
  };
  const fs::path folder = entry().parent_path();
  fs::create_directories(folder);
  const timespec now = fileSystemNow(folder);
  for (const auto& c : cases) {
    writeFile(folder / c.file, "partial");
    dateFile(folder / c.file, now, c.age);
  }
  auto service = SMAppService::mainAppService();
  EXPECT_EQ(service->status(), SMAppServiceStatus::notRegistered);
  for (const auto& c : cases) EXPECT_TRUE(fs::exists(folder / c.file)) << "read " << c.file;
  setStaleTemporariesNowHook([&](const timespec& passNow) {
    for (const auto& c : cases) dateFile(folder / c.file, passNow, c.age);
  });
  NSError error;
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  for (const auto& c : cases) EXPECT_EQ(fs::exists(folder / c.file), !c.removed) << "written " << c.file;
}

// Another program holding the entry's lock: registering waits a few seconds
// (of the virtual clock here) for it, then says so and leaves everything as
// it was; a lock let go during the wait is taken at the next try.
TEST_F(AppServiceTest, ALockHeldElsewhereEndsRegisteringWithinSecondsAndChangesNothing) {
  // Another program's lock, let go at `letGo` while registering sleeps.
  std::optional<FileLock> heldUntil;
  double letGo = 0;
  SimulatedSchedulerScope scope({.afterSleep = [&](double now) {
    if (now >= letGo) heldUntil.reset();
  }});
  const fs::path stale = entry().parent_path() / ("." + std::string(kIdentifier) + ".desktop.Ab3dE9");
  writeFile(entry(), "garbage\n");  // would be moved aside
  writeFile(stale, "partial");
  dateFile(stale, fileSystemNow(stale.parent_path()), 3600);  // would be removed
  auto service = SMAppService::mainAppService();
  NSError error;
  {
    const auto held = FileLock::acquire(lockFileFor(entry()));  // a second open's lock excludes the first
    const double start = scope->now();
    EXPECT_FALSE(service->registerAndReturnError(&error));
    EXPECT_NEAR(scope->now() - start, SMAppService::lockWait, FileLock::retryInterval);
    EXPECT_EQ(error.description,
              "Another program holds the login item “" + entry().string() + "”; it was left as it was.");
    EXPECT_EQ(readFile(entry()), "garbage\n");
    EXPECT_TRUE(fs::exists(stale));
    EXPECT_EQ(std::distance(fs::directory_iterator(entry().parent_path()), fs::directory_iterator()), 3);
  }
  heldUntil.emplace(FileLock::acquire(lockFileFor(entry())));
  letGo = scope->now() + 1.0 + FileLock::retryInterval / 2;  // between two tries
  ASSERT_TRUE(service->registerAndReturnError(&error)) << error.description;
  EXPECT_GE(scope->now(), letGo);
  EXPECT_LE(scope->now(), letGo + FileLock::retryInterval);
  EXPECT_EQ(service->status(), SMAppServiceStatus::enabled);
  EXPECT_FALSE(fs::exists(stale));
}

// Whatever stands at the lock file's name is left as it is, and so is what
// a link there leads to, even with a stale temporary beside the entry. A
// link or something else than a regular file ends registering, naming the
// file and what stands there, with nothing written; a user's file with the
// lock's name as a second one is locked, which writes nothing, and the
// stale temporary goes without its time being touched.
TEST_F(AppServiceTest, WhatStandsAtTheLockFilesNameIsLeftAsItIs) {
  const fs::path lock = lockFileFor(entry());
  const fs::path theirs = root / "theirs.txt", nowhere = root / "nowhere" / "made.txt";
  const fs::path stale = entry().parent_path() / ("." + std::string(kIdentifier) + ".desktop.Ab3dE9");
  const struct {
    const char* name;
    std::function<void()> make;
    const char* reason;  // why registering fails; none: it goes ahead
  } cases[] = {
      {"a link to a file of the user's", [&] { fs::create_symlink(theirs, lock); }, "A link stands at its name"},
      {"a link to nothing", [&] { fs::create_symlink(nowhere, lock); }, "A link stands at its name"},
      {"a second name of the user's file", [&] { fs::create_hard_link(theirs, lock); }, nullptr},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }, "It is not a regular file"},
  };
  auto service = SMAppService::mainAppService();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(theirs, "the user's");
    fs::create_directories(nowhere.parent_path());
    writeFile(stale, "partial");
    const timespec now = fileSystemNow(root);
    dateFile(theirs, now, 3600);
    dateFile(stale, now, 3600);
    const auto dated = fs::last_write_time(theirs);
    c.make();
    NSError error;
    if (c.reason) {
      EXPECT_FALSE(service->registerAndReturnError(&error));
      EXPECT_EQ(error.description,
                "The login item’s lock file “" + lock.string() + "” couldn’t be opened: " + c.reason + ".");
    } else {
      EXPECT_TRUE(service->registerAndReturnError(&error)) << error.description;
    }
    EXPECT_EQ(fs::last_write_time(theirs), dated);
    EXPECT_EQ(readFile(theirs), "the user's");
    EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
    EXPECT_EQ(fs::exists(stale), c.reason != nullptr);
    EXPECT_EQ(fs::exists(entry()), c.reason == nullptr);
    fs::remove(lock);
    fs::remove(entry());
  }
}

// A failure names the file or folder and the system's reason, and leaves
// what was there.
TEST_F(AppServiceTest, FailuresNameTheFileAndTheReason) {
  auto service = SMAppService::mainAppService();
  NSError error;
  writeFile(root / "config" / "autostart", "a file where the folder belongs");
  EXPECT_FALSE(service->registerAndReturnError(&error));
  EXPECT_EQ(error.domain, SMAppService::errorDomain);
  EXPECT_EQ(error.description, "The folder “" + (root / "config" / "autostart").string() +
                                   "” couldn’t be made: Not a directory.");
  EXPECT_EQ(readFile(root / "config" / "autostart"), "a file where the folder belongs");
  EXPECT_EQ(service->status(), SMAppServiceStatus::notFound);
  fs::remove(root / "config" / "autostart");

  // A folder in the entry's place that cannot be removed.
  fs::create_directories(entry() / "inside");
  EXPECT_FALSE(service->unregisterAndReturnError(&error));
  EXPECT_EQ(error.description, "The login item “" + entry().string() + "” couldn’t be removed: Directory not empty.");
  EXPECT_TRUE(fs::exists(entry() / "inside"));
  fs::remove_all(entry());

  // A folder in the lock file's place.
  fs::create_directories(lockFileFor(entry()));
  EXPECT_FALSE(service->registerAndReturnError(&error));
  EXPECT_EQ(error.description,
            "The login item’s lock file “" + lockFileFor(entry()).string() + "” couldn’t be opened: Is a directory.");
  EXPECT_FALSE(fs::exists(entry()));
  fs::remove(lockFileFor(entry()));

  // An executable whose path no Exec line can carry.
  writeFile(bundleFolder / "Info.json", std::string(R"({"CFBundleIdentifier": ")") + kIdentifier +
                                            R"(", "CFBundleExecutable": "a=b"})");
  NSBundle::setMainBundlePath(bundleFolder);
  EXPECT_FALSE(SMAppService::mainAppService()->registerAndReturnError(&error));
  EXPECT_EQ(error.description, "The executable “" + (bundleFolder / "a=b").string() +
                                   "” can’t be started by a login item: its path is not absolute UTF-8 text, or "
                                   "holds a control character or “=”.");
  EXPECT_FALSE(fs::exists(entry()));

  // Without an identifier there is nothing to name the entry.
  writeFile(bundleFolder / "Info.json", "{}");
  NSBundle::setMainBundlePath(bundleFolder);
  EXPECT_FALSE(SMAppService::mainAppService()->registerAndReturnError(&error));
  EXPECT_EQ(error.description, "The application has no bundle identifier to name its login item.");
  EXPECT_EQ(SMAppService::mainAppService()->status(), SMAppServiceStatus::notFound);
}

TEST_F(AppServiceTest, EntriesLiveWhereTheSettingsDo) {
  EXPECT_EQ(SMAppService::autostartDirectory(), root / "config" / "autostart");
  ::setenv("HOME", (root / "home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
  EXPECT_EQ(SMAppService::autostartDirectory(), root / "home" / ".config" / "autostart");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(SMAppService::autostartDirectory(), root / "home" / ".config" / "autostart");
  ::unsetenv("HOME");
  EXPECT_EQ(SMAppService::autostartDirectory(), std::nullopt);
  NSError error;
  EXPECT_FALSE(SMAppService::mainAppService()->registerAndReturnError(&error));
  EXPECT_EQ(error.description, "There is no folder for login items: neither XDG_CONFIG_HOME nor HOME is set.");
  SMAppService::openSystemSettingsLoginItems();
  EXPECT_TRUE(NSWorkspace::sharedWorkspace().openedURLs().empty());

  ::setenv("XDG_CONFIG_HOME", (root / "other config").c_str(), 1);
  SMAppService::openSystemSettingsLoginItems();
  EXPECT_TRUE(fs::is_directory(root / "other config" / "autostart"));
  ASSERT_EQ(NSWorkspace::sharedWorkspace().openedURLs().size(), 1u);
  EXPECT_EQ(NSWorkspace::sharedWorkspace().openedURLs()[0],
            NSURL::fileURLWithPath((root / "other config" / "autostart").string()).absoluteString());
}

}  // namespace
}  // namespace platform
