#include "platform/servicemanagement/app_service.hpp"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/appkit/workspace.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/atomic_file.hpp"
#include "platform/defaults/file_lock.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Entries are a few lines; anything larger is not ours to read.
constexpr long long kEntryLimit = 64 * 1024;
constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
constexpr const char* kEnabledKey = "X-GNOME-Autostart-enabled";

enum class EntryKind { missing, unreadable, readable };

struct EntryFile {
  EntryKind kind = EntryKind::missing;
  SMAppService::EntryReading reading;
};

bool fail(NSError* error, int code, std::string description) {
  if (error) *error = NSError{SMAppService::errorDomain, code, std::move(description)};
  return false;
}

std::string quoted(const fs::path& path) { return "“" + path.string() + "”"; }

// One open, so that an entry removed while it is read is simply absent: it
// is either read whole or was never there. A link to nothing is the user's
// and counts as unreadable, so that it is kept aside.
EntryFile readEntryFile(const fs::path& path) {
  EntryFile entry;
  const CappedFileReading file = readCappedFile(path, kEntryLimit);
  if (!file.bytes) {
    struct stat info {};
    const bool danglingLink = ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    entry.kind = file.openError == ENOENT && !danglingLink ? EntryKind::missing : EntryKind::unreadable;
    return entry;
  }
  auto reading = SMAppService::readEntry(stringFromData(*file.bytes), path);
  entry.kind = reading ? EntryKind::readable : EntryKind::unreadable;
  if (reading) entry.reading = std::move(*reading);
  return entry;
}

// Reading a launch takes at most this many steps; past it the launch is
// read as starting nothing. A character split or copied one by one is a
// step, a look at the file system kFileCheck. Expanding a value this launch
// made (an assignment) costs its size, since feeding it back into -S can
// double it with every split; expanding a variable the session gave, which
// cannot grow, costs a step per kBulkBytes, and an assignment one step. So
// the words made stay within kBulkBytes times the limit, and an entry
// within kEntryLimit comes near only when it feeds env's expansions back
// into its -S strings (which env itself may never finish), repeats a long
// Name or value of its own, or has the launch look for a program, or expand
// a session variable of kilobytes, thousands of times.
constexpr std::size_t kLaunchStepLimit = std::size_t{1} << 20;
constexpr std::size_t kFileCheck = 64;
constexpr std::size_t kBulkBytes = 32;

// The options of GNU env (coreutils 9.1), read as its getopt_long reads
// them: a long one by any unambiguous prefix of its name.
enum class EnvArgument { none, required, optional };
enum class EnvAction {
  ignoreEnvironment,
  unset,
  chdir,
  split,
  defaultSignal,
  ignoreSignal,
  blockSignal,
  nothing,
  runsNone,  // env refuses a program with it, or runs none
};
struct EnvOption {
  const char* name;
  char letter;  // '\0': none
  EnvArgument argument;
  EnvAction action;
};
constexpr EnvOption kEnvOptions[] = {
    {"ignore-environment", 'i', EnvArgument::none, EnvAction::ignoreEnvironment},
    {"null", '0', EnvArgument::none, EnvAction::runsNone},
    {"unset", 'u', EnvArgument::required, EnvAction::unset},
    {"chdir", 'C', EnvArgument::required, EnvAction::chdir},
    {"split-string", 'S', EnvArgument::required, EnvAction::split},
    {"default-signal", '\0', EnvArgument::optional, EnvAction::defaultSignal},
    {"ignore-signal", '\0', EnvArgument::optional, EnvAction::ignoreSignal},
    {"block-signal", '\0', EnvArgument::optional, EnvAction::blockSignal},
    {"list-signal-handling", '\0', EnvArgument::none, EnvAction::nothing},
    {"debug", 'v', EnvArgument::none, EnvAction::nothing},
    {"help", '\0', EnvArgument::none, EnvAction::runsNone},
    {"version", '\0', EnvArgument::none, EnvAction::runsNone},
};

// An exact name, else the one option the prefix starts; null when none or
// several do.
const EnvOption* longEnvOption(std::string_view name) {
  const EnvOption* found = nullptr;
  int matches = 0;
  for (const auto& option : kEnvOptions) {
    if (name == option.name) return &option;
    if (std::string_view(option.name).starts_with(name)) {
      found = &option;
      ++matches;
    }
  }
  return matches == 1 ? found : nullptr;
}

// The signal names env knows on Linux besides RTMIN+n and RTMAX-n.
constexpr std::pair<const char*, int> kSignalNames[] = {
    {"EXIT", 0},         {"HUP", SIGHUP},   {"INT", SIGINT},   {"QUIT", SIGQUIT},     {"ILL", SIGILL},
    {"TRAP", SIGTRAP},   {"ABRT", SIGABRT}, {"IOT", SIGIOT},   {"BUS", SIGBUS},       {"FPE", SIGFPE},
    {"KILL", SIGKILL},   {"USR1", SIGUSR1}, {"SEGV", SIGSEGV}, {"USR2", SIGUSR2},     {"PIPE", SIGPIPE},
    {"ALRM", SIGALRM},   {"TERM", SIGTERM}, {"STKFLT", SIGSTKFLT}, {"CHLD", SIGCHLD}, {"CLD", SIGCHLD},
    {"CONT", SIGCONT},   {"STOP", SIGSTOP}, {"TSTP", SIGTSTP}, {"TTIN", SIGTTIN},     {"TTOU", SIGTTOU},
    {"URG", SIGURG},     {"XCPU", SIGXCPU}, {"XFSZ", SIGXFSZ}, {"VTALRM", SIGVTALRM}, {"PROF", SIGPROF},
    {"WINCH", SIGWINCH}, {"IO", SIGIO},     {"POLL", SIGPOLL}, {"PWR", SIGPWR},       {"SYS", SIGSYS},
};

// The signal an operand of env's signal options names, as env reads it: a
// number (a signalled process's exit status counting as its signal), or a
// name in any case, with or without "SIG". 0 is EXIT, which env refuses;
// -1 is no signal.
int envSignal(const std::string& operand) {
  long number = 0;
  const auto whole = [&number](const char* text) {  // all of it, as strtol reads it
    char* end = nullptr;
    number = std::strtol(text, &end, 10);
    return *end == '\0';
  };
  int signal = -1;
  if (operand[0] >= '0' && operand[0] <= '9') {
    if (!whole(operand.c_str()) || number != static_cast<int>(number)) return -1;
    const int status = static_cast<int>(number);
    signal = WIFSIGNALED(status) ? WTERMSIG(status) : status;
  } else {
    std::string name = operand;
    for (char& c : name) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    const auto named = [&](const char* text) {
      const long range = SIGRTMAX - SIGRTMIN;
      if (*text >= '0' && *text <= '9') return whole(text) && number <= SIGRTMAX ? static_cast<int>(number) : -1;
      for (const auto& [known, value] : kSignalNames) {
        if (std::strcmp(text, known) == 0) return value;
      }
      if (std::strncmp(text, "RTMIN", 5) == 0 && whole(text + 5) && number >= 0 && number <= range) {
        return SIGRTMIN + static_cast<int>(number);
      }
      if (std::strncmp(text, "RTMAX", 5) == 0 && whole(text + 5) && number >= -range && number <= 0) {
        return SIGRTMAX + static_cast<int>(number);
      }
      return -1;
    };
    signal = named(name.c_str());
    if (signal < 0 && name.starts_with("SIG")) signal = named(name.c_str() + 3);
  }
  // Only the numbers that have a name: 32 and 33 belong to the C library.
  return (signal >= 0 && signal < 32) || (signal >= SIGRTMIN && signal <= SIGRTMAX) ? signal : -1;
}

bool isNameCharacter(char c) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The environment a launch builds: the session's, which this process's
// stands for, with env's changes made in the order env makes them.
class LaunchEnvironment {
 public:
  // A variable's value, valid until the next change, and whether this
  // launch made it rather than the session.
  struct Value {
    std::string_view text;
    bool made;
  };
  std::optional<Value> value(const std::string& name) const {
    if (auto changed = changes_.find(name); changed != changes_.end()) {
      return changed->second ? std::optional<Value>({*changed->second, true}) : std::nullopt;
    }
    const char* value = cleared_ ? nullptr : std::getenv(name.c_str());
    return value ? std::optional<Value>({value, false}) : std::nullopt;
  }
  void clear() {
    cleared_ = true;
    changes_.clear();
  }
  void unset(std::string name) { changes_[std::move(name)] = std::nullopt; }
  void assign(std::string_view assignment) {
    const auto equals = assignment.find('=');
    changes_[std::string(assignment.substr(0, equals))] = std::string(assignment.substr(equals + 1));
  }

 private:
  std::map<std::string, std::optional<std::string>> changes_;
  bool cleared_ = false;
};

// What -S splitting reads as more than a character anywhere: blanks,
// quotes, "\" and "$" ("#" is one only at a word's start).
constexpr std::string_view kSplitSpecial = " \t\n\v\f\r'\"\\$";

// Words are read without copying: a word is the rest of a text from one of
// its characters on, as an option's value is the rest of the word that
// holds the option.
struct Text {
  explicit Text(std::string text) : chars(std::move(text)), plain(chars.size()) {
    while (plain > 0 && kSplitSpecial.find(chars[plain - 1]) == std::string_view::npos) --plain;
  }
  std::string chars;
  std::size_t plain;  // from here on nothing is special to -S splitting
};
struct Word {
  const Text* text;
  std::size_t from;
  std::string_view view() const { return std::string_view(text->chars).substr(from); }
};

// A launch read as it runs: the words still to be read (the next on top),
// the environment and the folder ("" is this process's) built so far, and
// the steps taken.
class LaunchReader {
 public:
  // Whether the launch can change into the folder (relative to its own),
  // which it then runs in.
  bool enters(std::string_view folder);
  // What executing the first of these words ends by executing.
  std::optional<SMAppService::ExecProgram> read(char** words, int count);

 private:
  bool step(std::size_t steps) {
    steps_ += steps;
    return steps_ <= kLaunchStepLimit;
  }
  std::string inFolder(std::string_view path) const {
    return path.starts_with('/') || folder_.empty() ? std::string(path) : folder_ + "/" + std::string(path);
  }
  bool finds(const std::string& program);
  std::optional<std::vector<std::string>> split(std::string_view text);
  bool pushSplit(Word source);
  bool readEnv();

  std::deque<Text> texts_;
  std::vector<Word> words_;
  LaunchEnvironment environment_;
  std::string folder_;
  std::size_t steps_ = 0;
};

bool LaunchReader::enters(std::string_view folder) {
  std::string path = inFolder(folder);
  struct stat info {};
  if (folder.empty() || !step(kFileCheck + path.size()) || ::stat(path.c_str(), &info) != 0 ||
      !S_ISDIR(info.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    return false;
  }
  folder_ = std::move(path);
  return true;
}

// As execvp finds it: a name with a "/" is a path, any other is looked for
// in each folder of PATH ("" being the current one), or of the C library's
// default path when PATH is unset.
bool LaunchReader::finds(const std::string& program) {
  const auto executable = [this](const std::string& path) {
    struct stat info {};
    return step(kFileCheck + path.size()) && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string::npos) return executable(inFolder(program));
  // Viewed, not copied: a launch may look along a long one many times.
  std::string defaultPath;
  std::string_view search;
  if (auto path = environment_.value("PATH")) {
    search = path->text;
  } else {
    defaultPath.resize(::confstr(_CS_PATH, nullptr, 0));
    ::confstr(_CS_PATH, defaultPath.data(), defaultPath.size());
    search = defaultPath.c_str();
  }
  for (std::size_t start = 0; start <= search.size() && steps_ <= kLaunchStepLimit;) {
    const auto end = std::min(search.find(':', start), search.size());
    if (executable(inFolder(end == start ? program : std::string(search.substr(start, end - start)) + "/" + program))) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The words env -S makes of its string, by env's own rules: blanks separate
// words outside quotes; single quotes keep everything but \\ and \';
// double quotes take the escapes and ${NAME}; outside them "\_" separates,
// and "#" starting a word or "\c" ends the string. ${NAME} is read from the
// environment env was given. Absent where env refuses it.
std::optional<std::vector<std::string>> LaunchReader::split(std::string_view text) {
  constexpr std::string_view kEscapes = "\"#$'\\_fnrtv", kEscaped = "\"#$'\\ \f\n\r\t\v";
  std::vector<std::string> words;
  if (!step(text.size())) return std::nullopt;
  bool single = false, dbl = false, separated = true;
  const auto startWord = [&] {
    if (separated) words.emplace_back();
    separated = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if ((c == '\'' && !dbl) || (c == '"' && !single)) {
      bool& quoted = c == '\'' ? single : dbl;
      quoted = !quoted;
      startWord();  // '' is an empty word
      continue;
    }
    if (!single && !dbl && std::string_view(" \t\n\v\f\r").find(c) != std::string_view::npos) {
      separated = true;
      continue;
    }
    if (c == '#' && separated) return words;
    if (c == '\\' && (!single || text.substr(i + 1, 1) == "\\" || text.substr(i + 1, 1) == "'")) {
      if (++i == text.size()) return std::nullopt;
      c = text[i];
      if (c == '_' && !dbl) {
        separated = true;
        continue;
      }
      if (c == 'c' && !dbl) return words;
      const auto escape = kEscapes.find(c);
      if (escape == std::string_view::npos) return std::nullopt;  // "\c" in double quotes too
      c = kEscaped[escape];
    } else if (c == '$' && !single) {
      const auto end = text.find('}', i);
      if (text.substr(i, 2) != "${" || end == std::string_view::npos || end == i + 2 ||
          (text[i + 2] >= '0' && text[i + 2] <= '9') ||
          !std::all_of(text.begin() + i + 2, text.begin() + end, isNameCharacter)) {
        return std::nullopt;
      }
      if (auto value = environment_.value(std::string(text.substr(i + 2, end - i - 2)))) {
        if (!step(value->made ? value->text.size() : 1 + value->text.size() / kBulkBytes)) return std::nullopt;
        startWord();
        words.back() += value->text;
      }
      i = end;
      continue;
    }
    startWord();
    words.back() += c;
  }
  if (single || dbl) return std::nullopt;
  return words;
}

// Puts the words of an -S string where env reads them next.
bool LaunchReader::pushSplit(Word source) {
  const std::string_view text = source.view();
  if (!step(1)) return false;
  // The rest of a text that holds nothing special is one word as it is:
  // taken again without a copy, so that a chain of -S is read in time
  // proportional to its length.
  if (!text.empty() && source.from >= source.text->plain && text[0] != '#') {
    words_.push_back(source);
    return true;
  }
  auto words = split(text);
  if (!words) return false;
  for (auto word = words->rbegin(); word != words->rend(); ++word) {
    words_.push_back({&texts_.emplace_back(std::move(*word)), 0});
  }
  return true;
}

// Reads one env's arguments as env reads them, and applies them as env
// does before it executes the program it leaves on top: -i or a lone "-"
// clears the environment (the unsets are then not made), else the unsets
// are made; then the assignments, then the signals are set and the folder
// changed. False where env refuses them or runs no program.
bool LaunchReader::readEnv() {
  bool ignoreEnvironment = false;
  std::vector<std::string> unsets;
  std::optional<std::string> folder;
  // The action of SIGKILL and SIGSTOP cannot be set: env fails when they
  // are named to --default-signal or --ignore-signal, not when no value
  // names every signal.
  bool killNamed = false, stopNamed = false;
  const auto signalsRead = [&](const std::optional<Word>& value, bool setsAction) {
    if (!value) {
      if (setsAction) killNamed = stopNamed = false;
      return true;
    }
    const std::string list(value->view());
    if (!step(list.size())) return false;
    for (std::size_t start = 0; start < list.size();) {
      const auto end = std::min(list.find(',', start), list.size());
      if (end > start) {
        const int signal = envSignal(list.substr(start, end - start));
        if (signal <= 0) return false;
        killNamed = killNamed || (setsAction && signal == SIGKILL);
        stopNamed = stopNamed || (setsAction && signal == SIGSTOP);
      }
      start = end + 1;
    }
    return true;
  };
  const auto apply = [&](const EnvOption& option, const std::optional<Word>& value) {
    switch (option.action) {
      case EnvAction::ignoreEnvironment:
        ignoreEnvironment = true;
        return true;
      case EnvAction::unset:
        unsets.emplace_back(value->view());
        return step(unsets.back().size());
      case EnvAction::chdir:
        folder = std::string(value->view());
        return step(folder->size());
      case EnvAction::split:
        return pushSplit(*value);
      case EnvAction::defaultSignal:
      case EnvAction::ignoreSignal:
        return signalsRead(value, true);
      case EnvAction::blockSignal:
        return signalsRead(value, false);
      case EnvAction::nothing:
        return true;
      case EnvAction::runsNone:
        return false;
    }
    return false;
  };
  // The value of an option that needs one: the rest of its word, else the
  // next word.
  const auto required = [this](std::optional<Word> attached) -> std::optional<Word> {
    if (attached || words_.empty()) return attached;
    const Word next = words_.back();
    words_.pop_back();
    return next;
  };
  while (!words_.empty() && step(1)) {
    const Word word = words_.back();
    const std::string_view text = word.view();
    if (text.size() < 2 || text[0] != '-') break;
    words_.pop_back();
    if (text == "--") break;
    if (text[1] == '-') {
      const auto equals = text.find('=');
      const EnvOption* option = longEnvOption(text.substr(2, equals - 2));
      if (!option || (option->argument == EnvArgument::none && equals != std::string_view::npos)) return false;
      std::optional<Word> value;
      if (equals != std::string_view::npos) value = Word{word.text, word.from + equals + 1};
      if (option->argument == EnvArgument::required && !(value = required(value))) return false;
      if (!apply(*option, value)) return false;
      continue;
    }
    for (std::size_t i = 1; i < text.size() && step(1); ++i) {
      const auto* option = std::find_if(std::begin(kEnvOptions), std::end(kEnvOptions),
                                        [&](const EnvOption& o) { return o.letter != '\0' && o.letter == text[i]; });
      if (option == std::end(kEnvOptions)) return false;
      if (option->argument != EnvArgument::required) {
        if (!apply(*option, std::nullopt)) return false;
        continue;
      }
      const auto attached = i + 1 < text.size() ? std::optional(Word{word.text, word.from + i + 1}) : std::nullopt;
      const auto value = required(attached);
      if (!value || !apply(*option, value)) return false;
      break;
    }
  }
  if (steps_ > kLaunchStepLimit) return false;
  if (!words_.empty() && words_.back().view() == "-") {
    ignoreEnvironment = true;
    words_.pop_back();
  }
  if (ignoreEnvironment) {
    environment_.clear();
  } else {
    for (auto& name : unsets) {
      if (name.empty() || name.find('=') != std::string::npos) return false;
      environment_.unset(std::move(name));
    }
  }
  // Its bytes were counted when the word was made.
  while (!words_.empty() && words_.back().view().find('=') != std::string_view::npos) {
    if (!step(1)) return false;
    environment_.assign(words_.back().view());
    words_.pop_back();
  }
  if (words_.empty() || killNamed || stopNamed) return false;
  return !folder || enters(*folder);
}

std::optional<SMAppService::ExecProgram> LaunchReader::read(char** words, int count) {
  for (int i = count; i-- > 0;) words_.push_back({&texts_.emplace_back(words[i]), 0});
  // Each turn executes a program; env's arguments name the next.
  for (;;) {
    if (words_.empty() || words_.back().view().empty()) return std::nullopt;
    std::string program(words_.back().view());
    words_.pop_back();
    const bool found = finds(program);
    if (steps_ > kLaunchStepLimit) return std::nullopt;
    if (!found || (program != "env" && !program.ends_with("/env"))) {
      return SMAppService::ExecProgram{std::move(program), found};
    }
    if (!readEnv()) return std::nullopt;
  }
}

// Whether GLib's launcher (2.74) finds one of the terminals it runs an
// entry that asks for one in: looked for with its own search, on this
// process's search path and from its folder, as the session's stand.
bool aKnownTerminalIsFound() {
  for (const char* terminal : {"gnome-terminal", "mate-terminal", "xfce4-terminal", "kgx", "tilix", "konsole",
                               "nxterm", "color-xterm", "rxvt", "dtterm", "xterm"}) {
    g_autofree char* found = g_find_program_in_path(terminal);
    if (found) return true;
  }
  return false;
}

// A test seam that resetProcessState() clears.
std::function<void()>* makeTestHook() {
  auto* created = new std::function<void()>();
  addResetHook(created, [created] { *created = nullptr; });
  return created;
}

std::function<void()>& beforeMovingAsideHook() {
  static auto* made = makeTestHook();
  return *made;
}

std::function<void()>& beforeCommittingHook() {
  static auto* made = makeTestHook();
  return *made;
}

// Keeps an unreadable entry for inspection under a name nothing reads. One
// that has gone meanwhile needs no keeping.
void setAside(const fs::path& file, std::error_code& error) {
  auto taken = [](const fs::path& path) {
    std::error_code ignored;
    return fs::symlink_status(path, ignored).type() != fs::file_type::not_found;
  };
  auto aside = file;
  aside += ".unreadable";
  for (int n = 2; taken(aside); ++n) {
    if (n > 1000) {
      error = std::make_error_code(std::errc::file_exists);
      return;
    }
    aside = file;
    aside += ".unreadable-" + std::to_string(n);
  }
  fs::rename(file, aside, error);
  if (error == std::errc::no_such_file_or_directory) error.clear();
}

// A name the desktop's settings show as the item's: text that may be shown
// as it came, short enough to keep the entry far below kEntryLimit.
bool isShowable(const std::string& text) { return isShowableText(text, 1024); }

std::string applicationName(const NSBundle& bundle) {
  auto value = bundle.objectForInfoDictionaryKey("CFBundleName");
  if (value && value->string() && isShowable(*value->string())) return *value->string();
  auto identifier = bundle.bundleIdentifier();
  return identifier && isShowable(*identifier) ? *identifier : "vurle";
}

}  // namespace

void SMAppService::setBeforeMovingAsideHook(std::function<void()> hook) { beforeMovingAsideHook() = std::move(hook); }
void SMAppService::setBeforeCommittingHook(std::function<void()> hook) { beforeCommittingHook() = std::move(hook); }

std::shared_ptr<SMAppService> SMAppService::mainAppService() { return serviceForBundle(NSBundle::mainBundle()); }

std::shared_ptr<SMAppService> SMAppService::serviceForBundle(std::shared_ptr<NSBundle> bundle) {
  return std::shared_ptr<SMAppService>(new SMAppService(std::move(bundle)));
}

std::optional<fs::path> SMAppService::autostartDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return fs::path(config) / "autostart";
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return fs::path(home) / ".config" / "autostart";
  return std::nullopt;
}

void SMAppService::openSystemSettingsLoginItems() {
  auto folder = autostartDirectory();
  if (!folder) return;
  std::error_code ignored;
  fs::create_directories(*folder, ignored);
  NSWorkspace::sharedWorkspace().openURL(NSURL::fileURLWithPath(folder->string()).absoluteString());
}

std::optional<fs::path> SMAppService::entryPath() const {
  auto identifier = bundle_ ? bundle_->bundleIdentifier() : std::nullopt;
  auto folder = autostartDirectory();
  if (!identifier || !folder || identifier->empty() || *identifier == "." || *identifier == ".." ||
      identifier->find('/') != std::string::npos || identifier->find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return *folder / (*identifier + ".desktop");
}

SMAppServiceStatus SMAppService::status() const {
  auto path = entryPath();
  if (!path) return SMAppServiceStatus::notFound;
  const EntryFile entry = readEntryFile(*path);
  if (entry.kind == EntryKind::missing) return SMAppServiceStatus::notRegistered;
  if (entry.kind == EntryKind::unreadable) return SMAppServiceStatus::notFound;
  if (entry.reading.hidden) return SMAppServiceStatus::notRegistered;
  // A switched-off entry whose program is gone could not start even once
  // approved: that is the graver state.
  if (!entry.reading.program || !entry.reading.program->found) return SMAppServiceStatus::notFound;
  if (entry.reading.switchedOff) return SMAppServiceStatus::requiresApproval;
  return SMAppServiceStatus::enabled;
}

bool SMAppService::registerAndReturnError(NSError* error) {
  if (!bundle_ || !bundle_->bundleIdentifier()) {
    return fail(error, ENOENT, "The application has no bundle identifier to name its login item.");
  }
  auto path = entryPath();
  if (!path) {
    return fail(error, ENOENT,
                autostartDirectory() ? "The bundle identifier can’t name a login item’s file."
                                     : "There is no folder for login items: neither XDG_CONFIG_HOME nor HOME is set.");
  }
  auto executable = bundle_->executablePath();
  if (!executable) return fail(error, ENOENT, "The application has no executable to start at login.");
  auto text = entryText(*executable, applicationName(*bundle_));
  if (!text) {
    return fail(error, EINVAL,
                "The executable " + quoted(*executable) +
                    " can’t be started by a login item: its path is not absolute UTF-8 text, or holds a control character or “=”.");
  }
  std::error_code made;
  fs::create_directories(path->parent_path(), made);
  if (made) {
    return fail(error, made.value(),
                "The folder " + quoted(path->parent_path()) + " couldn’t be made: " + made.message() + ".");
  }
  // Held while the entry is set aside and written, so that two processes
  // never do either at once and a temporary file found under it is a
  // killed write's. The caller is the main thread: another program holding
  // it for long must not hold the user's window up with it.
  std::optional<FileLock> lock;
  try {
    lock.emplace(FileLock::acquire(lockFileFor(*path), lockWait));
  } catch (const FileLockError& failure) {
    if (failure.kind() == FileLockError::Kind::heldElsewhere) {
      return fail(error, failure.code().value(),
                  "Another program holds the login item " + quoted(*path) + "; it was left as it was.");
    }
    return fail(error, failure.code().value(),
                "The login item’s lock file " + quoted(lockFileFor(*path)) +
                    " couldn’t be opened: " + failure.reason() + ".");
  }
  removeStaleTemporaries(*path, staleTemporaryAge, *lock);
  if (readEntryFile(*path).kind == EntryKind::unreadable) {
    if (beforeMovingAsideHook()) beforeMovingAsideHook()();
    std::error_code moved;
    setAside(*path, moved);
    if (moved) {
      return fail(error, moved.value(),
                  "The unreadable login item " + quoted(*path) + " couldn’t be moved aside: " + moved.message() + ".");
    }
  }
  try {
    AtomicFileWriter writer(*path);
    writer.write(dataFromString(*text));
    if (beforeCommittingHook()) beforeCommittingHook()();
    writer.commit();
  } catch (const std::system_error& failure) {
    return fail(error, failure.code().value(),
                "The login item " + quoted(*path) + " couldn’t be written: " + failure.code().message() + ".");
  }
  return true;
}

bool SMAppService::unregisterAndReturnError(NSError* error) {
  auto path = entryPath();
  if (!path) return true;  // nothing can be registered under no name
  std::error_code removed;
  fs::remove(*path, removed);
  if (removed) {
    return fail(error, removed.value(),
                "The login item " + quoted(*path) + " couldn’t be removed: " + removed.message() + ".");
  }
  return true;
}

std::optional<std::string> SMAppService::entryText(const fs::path& executable, const std::string& name) {
  const std::string program = executable.string();
  // env takes any argument with "=" before the program for an assignment,
  // and one starting with "-" for an option.
  if (program.empty() || program[0] != '/' || !isValidUTF8(program) || containsControlCharacters(program) ||
      program.find('=') != std::string::npos) {
    return std::nullopt;
  }
  // A quoted argument escapes " ` $ and \ with a backslash; "%" is doubled
  // so it is no field code. The key file escapes the value itself. (GLib's
  // own quoting uses single quotes, which entries may not.)
  std::string exec = "env VURLE_LAUNCHED_AS_LOGIN_ITEM=1 \"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
    exec += c == '%' ? std::string("%%") : std::string(1, c);
  }
  exec += '"';
  g_autoptr(GKeyFile) file = g_key_file_new();
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, isShowable(name) ? name.c_str() : "vurle");
  g_key_file_set_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, exec.c_str());
  g_key_file_set_boolean(file, kGroup, kEnabledKey, TRUE);
  gsize length = 0;
  g_autofree char* text = g_key_file_to_data(file, &length, nullptr);
  return std::string(text, length);
}

std::optional<SMAppService::EntryReading> SMAppService::readEntry(std::string_view bytes,
                                                                  const std::optional<fs::path>& path) {
  g_autoptr(GKeyFile) file = g_key_file_new();
  if (bytes.size() > static_cast<std::size_t>(kEntryLimit) ||
      !g_key_file_load_from_data(file, bytes.data(), bytes.size(), G_KEY_FILE_NONE, nullptr)) {
    return std::nullopt;
  }
  // The session loads its entries with GLib's desktop-entry loader, which
  // refuses one whose first group is not [Desktop Entry], whose Type is not
  // Application, or whose TryExec, or Exec's first word, names no program
  // it finds; it checks nothing past that word, so past "env" is ours. Its
  // first use has GLib watch the desktop's application folders from its
  // own worker thread, which wakes only when they change.
  g_autoptr(GDesktopAppInfo) loaded = g_desktop_app_info_new_from_keyfile(file);
  if (!loaded) return std::nullopt;
  // A value that is no boolean reads as false, as GLib's reading of desktop
  // entries takes it: not hidden, yet switched off.
  EntryReading reading;
  reading.hidden = g_key_file_get_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
  reading.switchedOff = g_key_file_has_key(file, kGroup, kEnabledKey, nullptr) &&
                        !g_key_file_get_boolean(file, kGroup, kEnabledKey, nullptr);
  g_autofree char* exec = g_key_file_get_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr);
  if (!exec) return reading;
  // The values as the loader keeps them for the launch.
  LaunchValues values;
  const auto localised = [&file](const char* key) -> std::optional<std::string> {
    g_autofree char* value = g_key_file_get_locale_string(file, kGroup, key, nullptr, nullptr);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  values.name = localised(G_KEY_FILE_DESKTOP_KEY_NAME);
  values.icon = localised(G_KEY_FILE_DESKTOP_KEY_ICON);
  // An icon that is no path loses an image file's extension, which the
  // loader takes for a mistake in a theme's icon name.
  if (values.icon && !g_path_is_absolute(values.icon->c_str())) {
    const auto dot = values.icon->rfind('.');
    const std::string_view extension = dot == std::string::npos ? "" : std::string_view(*values.icon).substr(dot);
    if (extension == ".png" || extension == ".xpm" || extension == ".svg") values.icon->resize(dot);
  }
  g_autofree char* folder = g_key_file_get_string(file, kGroup, G_KEY_FILE_DESKTOP_KEY_PATH, nullptr);
  if (folder && folder[0] != '\0') values.folder = folder;  // an empty Path is none
  values.terminal = g_key_file_get_boolean(file, kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, nullptr);
  values.file = path;
  reading.program = programOfExec(exec, values);
  return reading;
}

std::optional<SMAppService::ExecProgram> SMAppService::programOfExec(const std::string& value,
                                                                     const LaunchValues& values) {
  // Field codes are expanded before the line is split, as GLib's launcher
  // does: %i is "--icon" and the icon, %c the name, %k the entry's file,
  // each quoted as one word; "%%" is a percent sign; the others stand for
  // files this entry is not started with, or for nothing.
  const auto quoted = [](const std::optional<std::string>& text) {
    if (!text) return std::string();
    g_autofree char* made = g_shell_quote(text->c_str());
    return std::string(made);
  };
  const std::string icon = values.icon ? "--icon " + quoted(values.icon) : "";
  const std::string name = quoted(values.name);
  const std::string file = quoted(values.file ? std::optional(values.file->string()) : std::nullopt);
  const std::string_view exec = value.c_str();  // a C string to GLib
  std::string line;
  for (std::size_t i = 0; i < exec.size() && line.size() <= kLaunchStepLimit; ++i) {
    if (exec[i] != '%' || i + 1 == exec.size()) {
      line += exec[i];
      continue;
    }
    const char code = exec[++i];
    line += code == '%' ? "%" : code == 'i' ? icon : code == 'c' ? name : code == 'k' ? file : "";
  }
  if (line.size() > kLaunchStepLimit) return std::nullopt;
  // The line is split as a shell would, which covers the entries' own
  // double-quoting rules.
  g_auto(GStrv) arguments = nullptr;
  gint count = 0;
  if (!g_shell_parse_argv(line.c_str(), &count, &arguments, nullptr)) return std::nullopt;
  // The launcher then puts the terminal before the words, and fails when it
  // finds none.
  if (values.terminal && !aKnownTerminalIsFound()) return std::nullopt;
  LaunchReader reader;
  if (values.folder && !reader.enters(*values.folder)) return std::nullopt;
  return reader.read(arguments, count);
}

}  // namespace platform
