#include "platform/foundation/file_manager.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/foundation/file_descriptor.hpp"
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

const char* kindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "it is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
  if (S_ISDIR(mode)) return "it is a folder, not a regular file";
  if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
  return "it is not a regular file";
}

std::string sizeText(long long bytes) {
  if (bytes % (1024 * 1024) == 0) return std::to_string(bytes / (1024 * 1024)) + " MiB";
  if (bytes % 1024 == 0) return std::to_string(bytes / 1024) + " KiB";
  return std::to_string(bytes) + " bytes";
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

CappedFileReading readCappedFile(const std::filesystem::path& file, long long cap, bool ignoreMeasuredSize) {
  CappedFileReading result;
  const auto failed = [&result] { result.problem = std::string("it cannot be read: ") + std::strerror(errno); };
  FileDescriptor opened;
  do {
    opened = FileDescriptor(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  } while (opened.get() < 0 && errno == EINTR);
  const int descriptor = opened.get();
  if (descriptor < 0) {
    result.openError = errno;
    failed();
    return result;
  }
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    failed();
    return result;
  }
  if (!S_ISREG(info.st_mode)) {
    result.problem = kindOf(info.st_mode);
    result.notRegular = true;
    return result;
  }
  const long long size = ignoreMeasuredSize ? 0 : static_cast<long long>(info.st_size);
  if (size > cap) {
    result.problem = "it is " + std::to_string(size) + " bytes, larger than " + sizeText(cap);
    return result;
  }
  // Reading a regular file does not block anyway; the flag goes so that
  // nothing rests on that.
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags < 0 || ((flags & O_NONBLOCK) && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0)) {
    failed();
    return result;
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  std::uint8_t buffer[16384];
  for (;;) {
    const auto wanted = std::min<long long>(sizeof buffer, cap + 1 - static_cast<long long>(bytes.size()));
    const ssize_t count = ::read(descriptor, buffer, static_cast<std::size_t>(wanted));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      failed();
      return result;
    }
    if (count == 0) break;
    bytes.insert(bytes.end(), buffer, buffer + count);
    if (static_cast<long long>(bytes.size()) > cap) {
      result.problem = "it grew past " + sizeText(cap) + " while it was read";
      return result;
    }
  }
  result.bytes = std::move(bytes);
  return result;
}

}  // namespace platform
