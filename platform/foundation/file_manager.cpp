#include "platform/foundation/file_manager.hpp"

#include <atomic>
#include <mutex>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

struct RootState {
  std::mutex mutex;
  std::optional<fs::path> root;
};

RootState& rootState() {
  static RootState* made = [] {
    auto* created = new RootState();
    addResetHook(created, [created] {
      std::lock_guard<std::mutex> guard(created->mutex);
      created->root.reset();
    });
    return created;
  }();
  return *made;
}

std::atomic<unsigned> failingListings{0};

bool consumeListingFault() {
  unsigned n = failingListings.load();
  while (n > 0) {
    if (failingListings.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

bool isSystemPath(const std::string& path) {
  return path == "/System" || path.starts_with("/System/");
}

}  // namespace

void setSystemRoot(std::optional<fs::path> root) {
  auto& state = rootState();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.root = std::move(root);
}

std::optional<fs::path> systemRoot() {
  auto& state = rootState();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.root;
}

fs::path resolveFilePath(const std::string& path) {
  if (!isSystemPath(path)) return fs::path(path);
  const auto root = systemRoot();
  if (!root) return {};
  std::string base = fs::absolute(*root).lexically_normal().string();
  if (!base.ends_with('/')) base += '/';
  const fs::path resolved = (fs::path(base) / path.substr(1)).lexically_normal();
  // ".." may not climb out of the root.
  std::string inside = resolved.string();
  if (!inside.ends_with('/')) inside += '/';
  if (!inside.starts_with(base)) return {};
  return resolved;
}

void FileManagerFaults::failNextListing(unsigned count) { failingListings.fetch_add(count); }
void FileManagerFaults::reset() { failingListings.store(0); }

NSFileManager& NSFileManager::defaultManager() {
  static NSFileManager manager;
  return manager;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const {
  const fs::path resolved = resolveFilePath(path);
  std::error_code error;
  return !resolved.empty() && fs::exists(resolved, error);
}

std::optional<std::vector<NSURL>> NSFileManager::contentsOfDirectoryAtURL(const NSURL& url) const {
  if (!url.isFileURL()) return std::nullopt;
  if (consumeListingFault()) return std::nullopt;
  const fs::path resolved = resolveFilePath(url.path());
  if (resolved.empty()) return std::nullopt;
  std::error_code error;
  fs::directory_iterator it(resolved, error);
  if (error) return std::nullopt;
  std::vector<NSURL> entries;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) return std::nullopt;
    entries.push_back(url.URLByAppendingPathComponent(it->path().filename().string()));
  }
  if (error) return std::nullopt;
  return entries;
}

}  // namespace platform
