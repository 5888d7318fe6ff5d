#include "platform/bundle/bundle.hpp"

#include <mutex>

#include "platform/coding/json_coding.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

std::shared_ptr<NSBundle> makeMainBundle();

namespace {

std::mutex overrideMutex;
std::optional<std::filesystem::path> mainBundleOverride;

std::optional<std::filesystem::path> runningExecutable() {
  std::error_code error;
  auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::nullopt;
  return executable;
}

std::filesystem::path executableFolder() {
  auto executable = runningExecutable();
  return executable ? executable->parent_path() : std::filesystem::current_path();
}

ProcessWide<std::shared_ptr<NSBundle>> sharedMainBundle([] { return makeMainBundle(); });

const int overrideReset = [] {
  addResetHook(&mainBundleOverride, [] {
    std::lock_guard<std::mutex> lock(overrideMutex);
    mainBundleOverride.reset();
  });
  return 0;
}();

}  // namespace

std::shared_ptr<NSBundle> makeMainBundle() {
  std::optional<std::filesystem::path> chosen;
  {
    std::lock_guard<std::mutex> lock(overrideMutex);
    chosen = mainBundleOverride;
  }
  auto bundle = NSBundle::bundleWithPath(chosen.value_or(executableFolder()));
  // A main bundle always exists, even over a folder that has gone.
  if (!bundle) bundle = NSBundle::bundleWithPath(std::filesystem::current_path());
  if (bundle && !chosen) bundle->runningExecutable_ = runningExecutable();
  return bundle;
}

std::shared_ptr<NSBundle> NSBundle::mainBundle() { return sharedMainBundle.get(); }

void NSBundle::setMainBundlePath(std::filesystem::path path) {
  {
    std::lock_guard<std::mutex> lock(overrideMutex);
    mainBundleOverride = std::move(path);
  }
  sharedMainBundle.reset();
}

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return nullptr;
  return std::shared_ptr<NSBundle>(new NSBundle(std::filesystem::absolute(path, error)));
}

NSBundle::NSBundle(std::filesystem::path path) : path_(std::move(path)) {
  const auto infoURL = NSURL::fileURLWithPath((path_ / "Info.json").string());
  auto bytes = dataWithContentsOfURL(infoURL);
  if (!bytes) return;
  try {
    auto info = propertyListFromJSON(JSONDecode(*bytes));
    if (!info.dictionary()) throw DecodingError("not a JSON object");
    info_ = *info.dictionary();
  } catch (const DecodingError& error) {
    NSLog("NSBundle: ignoring the malformed information dictionary " + infoURL.path() + ": " + error.what());
  }
}

std::optional<std::string> NSBundle::bundleIdentifier() const {
  auto value = objectForInfoDictionaryKey("CFBundleIdentifier");
  if (value && value->string()) return *value->string();
  return std::nullopt;
}

std::optional<std::filesystem::path> NSBundle::executablePath() const {
  if (runningExecutable_) return runningExecutable_;
  auto value = objectForInfoDictionaryKey("CFBundleExecutable");
  if (!value || !value->string()) return std::nullopt;
  const std::string& name = *value->string();
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  return path_ / name;
}

const PropertyListValue* NSBundle::objectForInfoDictionaryKey(const std::string& key) const {
  auto found = info_.find(key);
  return found == info_.end() ? nullptr : &found->second;
}

std::optional<NSURL> NSBundle::URLForResource(const std::string& name, const std::string& extension) const {
  const std::string file = extension.empty() ? name : name + "." + extension;
  if (name.empty() || file.find('/') != std::string::npos || file == "." || file == "..") return std::nullopt;
  const auto path = path_ / "Resources" / file;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  return NSURL::fileURLWithPath(path.string());
}

}  // namespace platform
