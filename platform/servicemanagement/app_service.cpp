#include "platform/servicemanagement/app_service.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/appkit/workspace.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/atomic_file.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

// Entries are a few lines; anything larger is not ours to read.
constexpr std::uintmax_t kEntryLimit = 64 * 1024;
constexpr const char* kGroup = "Desktop Entry";

struct Entry {
  enum class Kind { missing, unreadable, readable } kind = Kind::missing;
  std::map<std::string, std::string> keys;  // of the [Desktop Entry] group
};

bool fail(NSError* error, int code, std::string description) {
  if (error) *error = NSError{SMAppService::errorDomain, code, std::move(description)};
  return false;
}

std::string quoted(const fs::path& path) { return "“" + path.string() + "”"; }

// The general escapes of a string value: \s \n \t \r \\. Others are left
// for the Exec quoting rules.
std::string unescapeValue(const std::string& value) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      text += value[i];
      continue;
    }
    switch (value[i + 1]) {
      case 's': text += ' '; break;
      case 'n': text += '\n'; break;
      case 't': text += '\t'; break;
      case 'r': text += '\r'; break;
      case '\\': text += '\\'; break;
      default: text += value.substr(i, 2); break;
    }
    ++i;
  }
  return text;
}

std::string escapeValue(const std::string& text) {
  std::string value;
  for (char c : text) {
    switch (c) {
      case '\\': value += "\\\\"; break;
      case '\n': value += "\\n"; break;
      case '\t': value += "\\t"; break;
      case '\r': value += "\\r"; break;
      default: value += c; break;
    }
  }
  return value;
}

std::string trimmed(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

Entry readEntry(const fs::path& path) {
  Entry entry;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    entry.kind = errno == ENOENT ? Entry::Kind::missing : Entry::Kind::unreadable;
    return entry;
  }
  entry.kind = Entry::Kind::unreadable;
  // A link is followed; one to nothing cannot be read.
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uintmax_t>(info.st_size) > kEntryLimit) {
    return entry;
  }
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad() || text.size() > kEntryLimit || !isValidUTF8(text)) return entry;

  std::optional<std::string> group;
  bool sawGroup = false;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (trimmed(line).empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return entry;
      group = line.substr(1, line.size() - 2);
      sawGroup = sawGroup || *group == kGroup;
      continue;
    }
    const auto equals = line.find('=');
    if (!group || equals == std::string::npos || trimmed(line.substr(0, equals)).empty()) return entry;
    if (*group == kGroup) entry.keys.emplace(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)));
  }
  if (!sawGroup) return entry;
  entry.kind = Entry::Kind::readable;
  return entry;
}

bool isExecutableFile(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool programExists(const std::string& program) {
  if (program.find('/') != std::string::npos) return program[0] == '/' && isExecutableFile(program);
  const char* searchPath = std::getenv("PATH");
  std::istringstream folders(searchPath ? searchPath : "/usr/local/bin:/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && folder[0] == '/' && isExecutableFile(fs::path(folder) / program)) return true;
  }
  return false;
}

// Keeps an unreadable entry for inspection under a name nothing reads.
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
}

std::string applicationName(const NSBundle& bundle) {
  auto value = bundle.objectForInfoDictionaryKey("CFBundleName");
  if (value && value->string() && !value->string()->empty() && isValidUTF8(*value->string()) &&
      !containsControlCharacters(*value->string())) {
    return *value->string();
  }
  return bundle.bundleIdentifier().value_or("vurle");
}

}  // namespace

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
  const Entry entry = readEntry(*path);
  if (entry.kind == Entry::Kind::missing) return SMAppServiceStatus::notRegistered;
  if (entry.kind == Entry::Kind::unreadable) return SMAppServiceStatus::notFound;
  auto value = [&entry](const char* key) {
    auto found = entry.keys.find(key);
    return found == entry.keys.end() ? std::optional<std::string>() : found->second;
  };
  if (value("Hidden") == "true") return SMAppServiceStatus::notRegistered;
  // A switched-off entry whose program is gone could not start even once
  // approved: that is the graver state.
  auto exec = value("Exec");
  auto program = exec ? programOfExec(*exec) : std::nullopt;
  if (!program || !programExists(*program)) return SMAppServiceStatus::notFound;
  if (value("X-GNOME-Autostart-enabled") == "false") return SMAppServiceStatus::requiresApproval;
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
  if (readEntry(*path).kind == Entry::Kind::unreadable) {
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
  // so it is no field code. The value's own escaping then doubles every
  // backslash.
  std::string argument = "\"";
  for (char c : program) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
    argument += c == '%' ? std::string("%%") : std::string(1, c);
  }
  argument += '"';
  return std::string("[Desktop Entry]\n") + "Type=Application\n" + "Name=" + escapeValue(name) + "\n" +
         "Exec=env VURLE_LAUNCHED_AS_LOGIN_ITEM=1 " + escapeValue(argument) + "\n" +
         "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> SMAppService::programOfExec(const std::string& value) {
  const std::string text = unescapeValue(value);
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false;
  bool inQuotes = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inQuotes) {
      if (c == '\\' && i + 1 < text.size() && std::strchr("\"`$\\", text[i + 1]) != nullptr) {
        current += text[++i];
      } else if (c == '"') {
        inQuotes = false;
      } else if (c == '%' && i + 1 < text.size()) {
        if (text[++i] == '%') current += '%';
      } else {
        current += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inArgument) arguments.push_back(std::exchange(current, {}));
      inArgument = false;
    } else if (c == '"') {
      inQuotes = inArgument = true;
    } else if (c == '%' && i + 1 < text.size()) {
      // A field code stands for files or URLs the entry is not given here.
      if (text[++i] == '%') current += '%', inArgument = true;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inQuotes) return std::nullopt;
  if (inArgument) arguments.push_back(current);
  std::size_t index = 0;
  if (!arguments.empty() && (arguments[0] == "env" || arguments[0].ends_with("/env"))) {
    index = 1;
    while (index < arguments.size() && !arguments[index].empty() &&
           (arguments[index][0] == '-' || (arguments[index].find('=') != std::string::npos && arguments[index][0] != '='))) {
      ++index;
    }
  }
  if (index >= arguments.size() || arguments[index].empty()) return std::nullopt;
  return arguments[index];
}

}  // namespace platform
