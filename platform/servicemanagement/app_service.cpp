#include "platform/servicemanagement/app_service.hpp"

#include <gio/gdesktopappinfo.h>
#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <functional>
#include <system_error>
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
  auto reading = SMAppService::readEntry(stringFromData(*file.bytes));
  entry.kind = reading ? EntryKind::readable : EntryKind::unreadable;
  if (reading) entry.reading = std::move(*reading);
  return entry;
}

// A program as GLib's launcher finds it: an absolute path to an executable
// file, or a name on the search path.
bool programExists(const std::string& program) {
  g_autofree char* found = g_find_program_in_path(program.c_str());
  return found != nullptr;
}

// The options of GNU env (coreutils 9.1), read as its getopt_long reads
// them: a long one by any unambiguous prefix of its name.
enum class EnvArgument { none, required, optional };
struct EnvOption {
  const char* name;
  char letter;  // '\0': none
  EnvArgument argument;
  bool runsProgram;  // false: env refuses a program with it, or runs none
};
constexpr EnvOption kEnvOptions[] = {
    {"ignore-environment", 'i', EnvArgument::none, true},
    {"null", '0', EnvArgument::none, false},
    {"unset", 'u', EnvArgument::required, true},
    {"chdir", 'C', EnvArgument::required, true},
    {"split-string", 'S', EnvArgument::required, true},
    {"default-signal", '\0', EnvArgument::optional, true},
    {"ignore-signal", '\0', EnvArgument::optional, true},
    {"block-signal", '\0', EnvArgument::optional, true},
    {"list-signal-handling", '\0', EnvArgument::none, true},
    {"debug", 'v', EnvArgument::none, true},
    {"help", '\0', EnvArgument::none, false},
    {"version", '\0', EnvArgument::none, false},
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

bool isNameCharacter(char c) {
  return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The words env -S makes of its string, by env's own rules: blanks separate
// words outside quotes; single quotes keep everything but \\ and \';
// double quotes take the escapes and ${NAME}; outside them "\_" separates,
// and "#" starting a word or "\c" ends the string. Absent where env refuses
// it.
std::optional<std::vector<std::string>> splitEnvString(std::string_view text) {
  constexpr std::string_view kEscapes = "\"#$'\\_fnrtv", kEscaped = "\"#$'\\ \f\n\r\t\v";
  std::vector<std::string> words;
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
      // Only ${NAME}, from this process's environment, which is the
      // session's.
      const auto end = text.find('}', i);
      if (text.substr(i, 2) != "${" || end == std::string_view::npos || end == i + 2 ||
          (text[i + 2] >= '0' && text[i + 2] <= '9') ||
          !std::all_of(text.begin() + i + 2, text.begin() + end, isNameCharacter)) {
        return std::nullopt;
      }
      if (const char* value = std::getenv(std::string(text.substr(i + 2, end - i - 2)).c_str())) {
        startWord();
        words.back() += value;
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

// The program env runs with these arguments, read as env reads them:
// options up to "--" or the first word that is none (words of an -S string
// read in its place), then a lone "-", then assignments. Absent when env
// refuses them or runs no program.
std::optional<std::string> programAfterEnv(std::deque<std::string> words) {
  while (!words.empty() && words.front().size() > 1 && words.front()[0] == '-') {
    const std::string word = std::move(words.front());
    words.pop_front();
    if (word == "--") break;
    const auto takeValue = [&](std::optional<std::string> attached) -> std::optional<std::string> {
      if (attached) return attached;
      if (words.empty()) return std::nullopt;
      std::string next = std::move(words.front());
      words.pop_front();
      return next;
    };
    std::optional<std::string> split;
    if (word[1] == '-') {
      const auto equals = word.find('=');
      const EnvOption* option = longEnvOption(std::string_view(word).substr(2, equals - 2));
      if (!option || !option->runsProgram || (option->argument == EnvArgument::none && equals != std::string::npos)) {
        return std::nullopt;
      }
      if (option->argument == EnvArgument::required) {
        auto value = takeValue(equals == std::string::npos ? std::nullopt : std::optional(word.substr(equals + 1)));
        if (!value) return std::nullopt;
        if (option->letter == 'S') split = std::move(value);
      }
    } else {
      for (std::size_t i = 1; i < word.size(); ++i) {
        const auto* option = std::find_if(std::begin(kEnvOptions), std::end(kEnvOptions),
                                          [&](const EnvOption& o) { return o.letter == word[i]; });
        if (option == std::end(kEnvOptions) || !option->runsProgram) return std::nullopt;
        if (option->argument == EnvArgument::required) {
          auto value = takeValue(i + 1 < word.size() ? std::optional(word.substr(i + 1)) : std::nullopt);
          if (!value) return std::nullopt;
          if (option->letter == 'S') split = std::move(value);
          break;
        }
      }
    }
    if (split) {
      auto inserted = splitEnvString(*split);
      if (!inserted) return std::nullopt;
      words.insert(words.begin(), inserted->begin(), inserted->end());
    }
  }
  if (!words.empty() && words.front() == "-") words.pop_front();
  while (!words.empty() && words.front().find('=') != std::string::npos) words.pop_front();
  if (words.empty() || words.front().empty()) return std::nullopt;
  return words.front();
}

std::function<void()>& beforeMovingAsideHook() {
  static auto* made = [] {
    auto* created = new std::function<void()>();
    addResetHook(created, [created] { *created = nullptr; });
    return created;
  }();
  return *made;
}

std::function<void()>& beforeCommittingHook() {
  static auto* made = [] {
    auto* created = new std::function<void()>();
    addResetHook(created, [created] { *created = nullptr; });
    return created;
  }();
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
  if (!entry.reading.program || !programExists(*entry.reading.program)) return SMAppServiceStatus::notFound;
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

std::optional<SMAppService::EntryReading> SMAppService::readEntry(std::string_view bytes) {
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
  if (exec) reading.program = programOfExec(exec);
  return reading;
}

std::optional<std::string> SMAppService::programOfExec(const std::string& value) {
  // Field codes are expanded before the line is split, as GLib's launcher
  // does: "%%" is a percent sign, the others stand for files or names this
  // entry is not started with.
  std::string line;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '%' || i + 1 == value.size()) {
      line += value[i];
    } else if (value[++i] == '%') {
      line += '%';
    }
  }
  // The line is split as a shell would, which covers the entries' own
  // double-quoting rules.
  g_auto(GStrv) arguments = nullptr;
  gint count = 0;
  if (!g_shell_parse_argv(line.c_str(), &count, &arguments, nullptr)) return std::nullopt;
  const std::string_view first = arguments[0];
  if (first != "env" && !first.ends_with("/env")) {
    if (arguments[0][0] == '\0') return std::nullopt;
    return std::string(arguments[0]);
  }
  return programAfterEnv(std::deque<std::string>(arguments + 1, arguments + count));
}

}  // namespace platform
