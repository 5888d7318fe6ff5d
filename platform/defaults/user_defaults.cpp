#include "platform/defaults/user_defaults.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <strings.h>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/atomic_file.hpp"
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

NSUserDefaults::Domain& NSUserDefaults::load(const std::string& name) const {
  auto found = domains_.find(name);
  if (found != domains_.end()) return found->second;
  Domain& domain = domains_[name];
  if (!folder_) return domain;
  const auto path = *folder_ / (name + ".json");
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return domain;
  std::string reason;
  if (auto bytes = dataWithContentsOfURL(NSURL::fileURLWithPath(path.string()))) {
    try {
      auto value = propertyListFromTaggedJSON(JSONDecode(*bytes));
      if (auto entries = value.dictionary()) {
        domain.values = *entries;
        return domain;
      }
      reason = "it does not hold a dictionary";
    } catch (const DecodingError& decoding) {
      reason = decoding.what();
    }
  } else {
    reason = "it cannot be read";
  }
  // Keep the user's file for inspection under a name nothing writes to.
  auto aside = path;
  aside += ".unreadable";
  for (int n = 2; std::filesystem::exists(aside, error); ++n) {
    aside = path;
    aside += ".unreadable-" + std::to_string(n);
  }
  std::filesystem::rename(path, aside, error);
  if (error) {
    domain.writable = false;
    NSLog("NSUserDefaults: the settings file " + path.string() + " is unusable (" + reason +
          ") and could not be moved aside (" + error.message() + "); it is left as it is and changes are not saved");
  } else {
    NSLog("NSUserDefaults: the settings file " + path.string() + " is unusable (" + reason + "); it was moved to " +
          aside.string() + " and the defaults are used");
  }
  return domain;
}

void NSUserDefaults::save(const std::string& name, Domain& domain) {
  if (!folder_ || !domain.writable) return;
  const auto path = *folder_ / (name + ".json");
  try {
    std::filesystem::create_directories(*folder_);
    AtomicFileWriter writer(path);
    writer.write(JSONEncode(taggedJSON(domain.values.value_or(PropertyListDictionary{}))));
    writer.commit();
  } catch (const std::exception& error) {
    NSLog(std::string("NSUserDefaults: could not save the settings to ") + path.string() + ": " + error.what() +
          "; the change is kept until the application quits");
  }
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
    (*domain.values).insert_or_assign(key, std::move(value));
    save(domain_, domain);
  }
  changed();
}

void NSUserDefaults::setBool(bool value, const std::string& key) { setObject(value, key); }

}  // namespace platform
