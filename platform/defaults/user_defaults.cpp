#include "platform/defaults/user_defaults.hpp"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/atomic_file.hpp"
#include "platform/defaults/file_lock.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

bool isValidDomainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// Strings the platform's string type could not hold are refused up front,
// so a stored domain always has a file form.
void requireUTF8(const PropertyListValue& value) {
  if (auto text = value.string(); text && !isValidUTF8(*text)) {
    throw std::invalid_argument("NSUserDefaults: a string value is not valid UTF-8");
  }
  if (auto items = value.array()) {
    for (const auto& item : *items) requireUTF8(item);
  }
  if (auto entries = value.dictionary()) {
    for (const auto& [key, item] : *entries) {
      if (!isValidUTF8(key)) throw std::invalid_argument("NSUserDefaults: a key is not valid UTF-8");
      requireUTF8(item);
    }
  }
}

std::string numberText(double value) {
  char buffer[32];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

// The file a link leads to, following at most 40 links as the kernel does;
// where that stops, the path is used as it is and fails when opened.
std::filesystem::path resolveLinks(std::filesystem::path path) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) break;
    const auto target = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

// Where a domain's file is read, written, locked and set aside: the file its
// link leads to while that is a regular file or does not exist yet, else the
// link itself, so that nothing outside the settings folder (a device, a FIFO,
// a folder) is ever renamed or gets a lock file beside it.
std::filesystem::path placeOf(const std::filesystem::path& link) {
  const auto target = resolveLinks(link);
  if (target == link) return link;
  struct stat info {};
  if (::stat(target.c_str(), &info) == 0 ? S_ISREG(info.st_mode) : (errno == ENOENT || errno == ENOTDIR)) {
    return target;
  }
  return link;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const auto& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

std::atomic<bool>& filesMeasureEmpty() {
  static std::atomic<bool>* made = [] {
    auto* created = new std::atomic<bool>(false);
    addResetHook(created, [created] { created->store(false); });
    return created;
  }();
  return *made;
}

struct DomainFile {
  // The keys that read; absent when there is no file or nothing of it reads.
  std::optional<PropertyListDictionary> values;
  // Why nothing could be read.
  std::string unusable;
  // Each key whose value could not be read, with the reason.
  std::vector<std::string> unreadableKeys;
  // What was opened is not a regular file.
  bool notRegular = false;
  bool clean() const { return unusable.empty() && unreadableKeys.empty(); }
};

// A missing file, or a link into a missing folder, is a domain that does
// not exist; any other failure makes the file unusable.
DomainFile readDomainFile(const std::filesystem::path& file) {
  DomainFile result;
  CappedFileReading read = readCappedFile(file, NSUserDefaults::maximumFileSize, filesMeasureEmpty().load());
  if (!read.bytes) {
    if (read.openError != ENOENT && read.openError != ENOTDIR) result.unusable = read.problem;
    result.notRegular = read.notRegular;
    return result;
  }
  const Data& bytes = *read.bytes;
  JSON json;
  try {
    json = JSONDecode(bytes);
  } catch (const DecodingError& error) {
    result.unusable = error.what();
    return result;
  }
  // The tagged form of a dictionary; each value is read on its own, so one
  // that does not read costs only its key.
  auto entries = json.is_object() && json.size() == 1 ? json.find("dict") : json.end();
  if (entries == json.end() || !entries->is_object()) {
    result.unusable = "it does not hold a dictionary";
    return result;
  }
  PropertyListDictionary values;
  for (const auto& [key, item] : entries->items()) {
    try {
      values.emplace(key, propertyListFromTaggedJSON(item));
    } catch (const DecodingError& error) {
      result.unreadableKeys.push_back("\"" + key + "\": " + error.what());
    }
  }
  result.values = std::move(values);
  return result;
}

Data domainFileBytes(const PropertyListDictionary& values) { return JSONEncode(taggedJSON(values)); }

void writeDomainFile(const std::filesystem::path& file, const PropertyListDictionary& values) {
  AtomicFileWriter writer(file);
  writer.write(domainFileBytes(values));
  writer.commit();
}

// Keeps an unusable file for inspection under a name nothing writes to.
std::filesystem::path setAside(const std::filesystem::path& file, std::error_code& error) {
  auto aside = file;
  aside += ".unreadable";
  for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(aside, error)); ++n) {
    aside = file;
    aside += ".unreadable-" + std::to_string(n);
  }
  std::filesystem::rename(file, aside, error);
  return aside;
}

// A save killed before its rename leaves its temporary file behind. The
// domain's lock, which every save holds while its temporary file exists, is
// taken first; when someone holds it, the next open cleans up.
void removeTemporariesOfKilledSaves(const std::filesystem::path& file) {
  if (temporariesOf(file).empty()) return;
  std::unique_ptr<FileLock> lock;
  try {
    lock = FileLock::tryAcquire(lockFileFor(file));
  } catch (const std::system_error&) {
  }
  if (lock) removeStaleTemporaries(file, NSUserDefaults::staleTemporaryAge, *lock);
}

std::string executableName() {
  std::error_code error;
  auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return error || executable.filename().empty() ? std::string("unknown") : executable.filename().string();
}

ProcessWide<std::shared_ptr<NSUserDefaults>> standardStore([] {
  const std::string domain = NSBundle::mainBundle()->bundleIdentifier().value_or(executableName());
  if (auto folder = NSUserDefaults::defaultsDirectory()) return NSUserDefaults::make(domain, *folder);
  NSLog("NSUserDefaults: neither XDG_CONFIG_HOME nor HOME is set; settings are kept in memory for this run only");
  return NSUserDefaults::makeInMemory(domain);
});

}  // namespace

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() { return standardStore.get(); }

std::optional<std::filesystem::path> NSUserDefaults::defaultsDirectory() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::filesystem::path(config) / "vurle";
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::filesystem::path(home) / ".config" / "vurle";
  return std::nullopt;
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::make(std::string domain, std::filesystem::path folder) {
  return std::shared_ptr<NSUserDefaults>(new NSUserDefaults(std::move(domain), std::move(folder)));
}

std::shared_ptr<NSUserDefaults> NSUserDefaults::makeInMemory(std::string domain) {
  return std::shared_ptr<NSUserDefaults>(new NSUserDefaults(std::move(domain), std::nullopt));
}

NSUserDefaults::NSUserDefaults(std::string domain, std::optional<std::filesystem::path> folder)
    : domain_(std::move(domain)), folder_(std::move(folder)) {
  if (!isValidDomainName(domain_)) throw std::invalid_argument("NSUserDefaults: invalid domain name \"" + domain_ + "\"");
}

NSUserDefaults::FileStamp NSUserDefaults::stampOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  constexpr long long nano = 1000000000;
  return FileStamp{true,
                   static_cast<unsigned long long>(info.st_dev),
                   static_cast<unsigned long long>(info.st_ino),
                   static_cast<long long>(info.st_size),
                   static_cast<long long>(info.st_mtim.tv_sec) * nano + info.st_mtim.tv_nsec,
                   static_cast<long long>(info.st_ctim.tv_sec) * nano + info.st_ctim.tv_nsec};
}

struct NSUserDefaults::Reading {
  // Where the domain's file is read, written and set aside.
  std::filesystem::path file;
  // What is wrong with it, naming it; empty when it read cleanly or is missing.
  std::string problem;
  // Some keys read (none may have); the others could not.
  bool partly = false;
  // The keys that read, as read.
  PropertyListDictionary kept;
};

void NSUserDefaults::setFilesMeasureEmpty(bool on) { filesMeasureEmpty().store(on); }

NSUserDefaults::Domain& NSUserDefaults::load(const std::string& name) const {
  Domain& domain = domains_[name];
  if (!folder_ || !domain.writable) return domain;
  const auto link = *folder_ / (name + ".json");
  if (!domain.read) removeTemporariesOfKilledSaves(placeOf(link));
  // One stat tells whether another process has replaced the file since.
  if (domain.read && stampOf(link) == domain.stamp) return domain;
  read(name, domain, false);
  return domain;
}

NSUserDefaults::Reading NSUserDefaults::read(const std::string& name, Domain& domain, bool locked) const {
  const auto link = *folder_ / (name + ".json");
  Reading reading;
  reading.file = placeOf(link);
  DomainFile contents = readDomainFile(reading.file);
  // Whatever a link leads to that is not a regular file stays where it is:
  // the link is what gets set aside.
  if (contents.notRegular) reading.file = link;
  std::optional<FileLock> lock;
  if (!contents.clean() && !locked) {
    // Setting the file aside must not race with another process saving:
    // look again under the lock. Without one, it is set aside all the same.
    try {
      lock.emplace(FileLock::acquire(lockFileFor(reading.file)));
      contents = readDomainFile(reading.file);
      if (contents.notRegular) reading.file = link;
    } catch (const std::system_error&) {
    }
  }
  domain.read = true;
  domain.values = contents.values;
  if (!contents.clean()) {
    reading.partly = contents.unusable.empty();
    reading.problem = reading.partly ? "some settings in " + reading.file.string() + " could not be read (" +
                                           joined(contents.unreadableKeys) + ")"
                                     : "the settings file " + reading.file.string() + " is unusable (" +
                                           contents.unusable + ")";
    if (contents.values) reading.kept = *contents.values;
    // A save in progress sets the file aside itself, once its own file is written.
    if (!locked) replaceUnreadable(reading, domain, false);
  }
  domain.stamp = stampOf(reading.file);
  for (const auto& [key, value] : domain.unsaved) {
    if (!domain.values) domain.values.emplace();
    if (value) {
      domain.values->insert_or_assign(key, *value);
    } else {
      domain.values->erase(key);
    }
  }
  return reading;
}

bool NSUserDefaults::replaceUnreadable(const Reading& reading, Domain& domain, bool saving) const {
  const std::size_t kept = reading.kept.size();
  // What goes in the file's place: a save's settings, or the keys that read.
  // Written in full before the file moves, so that a full disk leaves the
  // user's file where it is rather than no file at all.
  std::optional<AtomicFileWriter> writer;
  if (saving || (reading.partly && kept)) {
    try {
      writer.emplace(reading.file);
      writer->write(domainFileBytes(saving ? domain.values.value_or(PropertyListDictionary{}) : reading.kept));
    } catch (const std::exception& failure) {
      NSLog("NSUserDefaults: " + reading.problem + "; " +
            (saving ? std::string("the settings") : "the " + std::to_string(kept) + " settings that read") +
            " could not be written to a new file (" + failure.what() + "), so the file was kept unchanged" +
            (saving ? " and the change is kept until the application quits" : " and they are used as read"));
      return false;
    }
  }
  std::error_code error;
  const auto aside = setAside(reading.file, error);
  if (error) {
    domain.writable = false;
    NSLog("NSUserDefaults: " + reading.problem + " and it could not be moved aside (" + error.message() +
          "); it is left as it is" + (kept ? ", the " + std::to_string(kept) + " settings that read are used" : "") +
          " and changes are not saved");
    return false;
  }
  if (writer) {
    try {
      writer->commit();
    } catch (const std::exception& failure) {
      // The file goes back where the user keeps it.
      std::error_code back;
      std::filesystem::rename(aside, reading.file, back);
      NSLog("NSUserDefaults: " + reading.problem + "; the new file could not take its place (" + failure.what() +
            (back ? "), so the file was kept as " + aside.string() : "), so the file was kept unchanged") +
            (saving ? " and the change is kept until the application quits" : ""));
      return false;
    }
  }
  if (reading.partly) {
    NSLog("NSUserDefaults: " + reading.problem + "; the file was moved to " + aside.string() +
          " as it was and those settings use their defaults" +
          (kept ? "; the other " + std::to_string(kept) + " are kept" : ""));
  } else {
    NSLog("NSUserDefaults: " + reading.problem + "; it was moved to " + aside.string() + " and the defaults are used");
  }
  return true;
}

void NSUserDefaults::save(const std::string& name, Domain& domain) {
  if (!folder_ || !domain.writable) return;
  auto file = placeOf(*folder_ / (name + ".json"));
  try {
    std::filesystem::create_directories(*folder_);
    // Waited for without a limit: saves hold it for one read and one write
    // and are served in turn, and a save that gave up would keep its change
    // in memory only.
    const auto lock = FileLock::acquire(lockFileFor(file));
    // What other processes saved meanwhile, with this store's changes on top.
    const Reading reading = read(name, domain, true);
    file = reading.file;
    if (!reading.problem.empty()) {
      if (!replaceUnreadable(reading, domain, true)) return;
    } else {
      writeDomainFile(file, domain.values.value_or(PropertyListDictionary{}));
    }
    domain.unsaved.clear();
    domain.stamp = stampOf(file);
  } catch (const std::exception& error) {
    NSLog(std::string("NSUserDefaults: could not save the settings to ") + file.string() + ": " + error.what() +
          "; the change is kept until the application quits");
  }
}

void NSUserDefaults::record(Domain& domain, const std::string& key, std::optional<PropertyListValue> value) {
  if (folder_ && domain.writable) domain.unsaved.insert_or_assign(key, std::move(value));
}

void NSUserDefaults::changed() {
  NSNotificationCenter::defaultCenter().postNotificationName(NSUserDefaultsDidChangeNotification, this);
}

std::optional<PropertyListDictionary> NSUserDefaults::persistentDomainForName(const std::string& name) const {
  if (!isValidDomainName(name)) return std::nullopt;
  std::lock_guard<std::mutex> lock(mutex_);
  return load(name).values;
}

void NSUserDefaults::setPersistentDomain(PropertyListDictionary values, const std::string& name) {
  if (!isValidDomainName(name)) throw std::invalid_argument("NSUserDefaults: invalid domain name \"" + name + "\"");
  PropertyListValue whole(std::move(values));
  requireUTF8(whole);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Domain& domain = load(name);
    // A whole-domain write removes every key it does not set.
    for (const auto& [key, value] : domain.values.value_or(PropertyListDictionary{})) {
      if (!whole.dictionary()->contains(key)) record(domain, key, std::nullopt);
    }
    for (const auto& [key, value] : *whole.dictionary()) record(domain, key, value);
    domain.values = *whole.dictionary();
    save(name, domain);
  }
  changed();
}

std::optional<PropertyListValue> NSUserDefaults::objectForKey(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Domain& domain = load(domain_);
  if (!domain.values) return std::nullopt;
  auto found = domain.values->find(key);
  if (found == domain.values->end()) return std::nullopt;
  return found->second;
}

bool NSUserDefaults::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value) return false;
  if (auto flag = value->boolean()) return *flag;
  if (auto whole = value->integer()) return *whole != 0;
  if (auto real = value->real()) return *real != 0.0 && !std::isnan(*real);
  if (auto text = value->string()) {
    if (strcasecmp(text->c_str(), "yes") == 0 || strcasecmp(text->c_str(), "true") == 0) return true;
    return std::strtol(text->c_str(), nullptr, 10) != 0;
  }
  return false;
}

std::optional<std::string> NSUserDefaults::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value) return std::nullopt;
  if (auto text = value->string()) return *text;
  if (auto flag = value->boolean()) return *flag ? "1" : "0";
  if (auto whole = value->integer()) return std::to_string(*whole);
  if (auto real = value->real()) return numberText(*real);
  return std::nullopt;
}

std::optional<Data> NSUserDefaults::dataForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (value && value->data()) return *value->data();
  return std::nullopt;
}

void NSUserDefaults::setObject(PropertyListValue value, const std::string& key) {
  if (!isValidUTF8(key)) throw std::invalid_argument("NSUserDefaults: a key is not valid UTF-8");
  requireUTF8(value);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Domain& domain = load(domain_);
    if (!domain.values) domain.values.emplace();
    record(domain, key, value);
    domain.values->insert_or_assign(key, std::move(value));
    save(domain_, domain);
  }
  changed();
}

void NSUserDefaults::setBool(bool value, const std::string& key) { setObject(value, key); }

}  // namespace platform
