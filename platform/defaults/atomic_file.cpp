#include "platform/defaults/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <system_error>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

std::atomic<unsigned>& pendingWriteFaults() {
  static std::atomic<unsigned>* made = [] {
    auto* created = new std::atomic<unsigned>(0);
    addResetHook(created, [created] { created->store(0); });
    return created;
  }();
  return *made;
}

std::function<void(const timespec&)>& staleTemporariesNowHook() {
  static auto* made = [] {
    auto* created = new std::function<void(const timespec&)>();
    addResetHook(created, [created] { *created = nullptr; });
    return created;
  }();
  return *made;
}

bool consumeWriteFault() {
  auto& pending = pendingWriteFaults();
  unsigned left = pending.load();
  while (left > 0 && !pending.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(errno, std::generic_category(), what + " " + path.string());
}

// The name AtomicFileWriter gives its temporary file for `file`.
bool isTemporaryOf(const std::string& name, const std::string& file) {
  const std::string prefix = "." + file + ".";
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Seconds from `earlier` to `later`, the whole seconds and the nanoseconds
// apart, so that a difference of a nanosecond survives.
double secondsBetween(const timespec& earlier, const timespec& later) {
  return (static_cast<double>(later.tv_sec) - static_cast<double>(earlier.tv_sec)) +
         static_cast<double>(later.tv_nsec - earlier.tv_nsec) * 1e-9;
}

}  // namespace

std::vector<std::filesystem::path> temporariesOf(const std::filesystem::path& file) {
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(file.parent_path(), error), end; !error && entry != end;
       entry.increment(error)) {
    const auto path = entry->path();
    struct stat info {};
    if (!isTemporaryOf(path.filename().string(), file.filename().string()) || ::lstat(path.c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
      continue;
    }
    found.push_back(path);
  }
  return found;
}

void removeStaleTemporaries(const std::filesystem::path& file, double age, const FileLock&) {
  // The probe is a write's temporary that is abandoned at once: made under
  // the caller's lock, it is gone before the temporaries are listed.
  struct stat made {};
  try {
    AtomicFileWriter probe(file);
    if (::lstat(probe.temporaryPath().c_str(), &made) != 0) return;
  } catch (const std::system_error&) {
    return;
  }
  if (staleTemporariesNowHook()) staleTemporariesNowHook()(made.st_mtim);
  for (const auto& path : temporariesOf(file)) {
    struct stat info {};
    // One dated ahead by more than the limit was written before the clock
    // was set back: no writer can still be filling it either.
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        std::abs(secondsBetween(info.st_mtim, made.st_mtim)) > age) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
  }
}

AtomicFileWriter::AtomicFileWriter(std::filesystem::path destination) : destination_(std::move(destination)) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
  // "literal" + std::string at -O3.
  std::string name = ".";
  name += destination_.filename().string();
  name += ".XXXXXX";
  std::string pattern = (destination_.parent_path() / name).string();
  descriptor_ = ::mkstemp(pattern.data());
  if (descriptor_ < 0) fail("cannot create a temporary file for", destination_);
  temporary_ = pattern;
}

AtomicFileWriter::~AtomicFileWriter() {
  if (descriptor_ >= 0) ::close(descriptor_);
  if (!committed_) ::unlink(temporary_.c_str());
}

void setStaleTemporariesNowHook(std::function<void(const timespec&)> hook) {
  staleTemporariesNowHook() = std::move(hook);
}

void failNextAtomicFileWrites(unsigned count) { pendingWriteFaults().fetch_add(count); }

void AtomicFileWriter::write(const Data& bytes) {
  if (consumeWriteFault()) {
    errno = ENOSPC;
    fail("cannot write", temporary_);
  }
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t result = ::write(descriptor_, bytes.data() + written, bytes.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) fail("cannot write", temporary_);
    written += static_cast<size_t>(result);
  }
  if (::fsync(descriptor_) != 0) fail("cannot flush", temporary_);
}

void AtomicFileWriter::commit() {
  if (committed_) return;
  if (::close(descriptor_) != 0) {
    descriptor_ = -1;
    fail("cannot close", temporary_);
  }
  descriptor_ = -1;
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0) fail("cannot replace", destination_);
  committed_ = true;
  // Make the rename itself durable; a failure here loses nothing already written.
  const int folder = ::open(destination_.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
}

}  // namespace platform
