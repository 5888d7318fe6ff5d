#include "platform/defaults/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {
namespace {

int openLockFile(const std::filesystem::path& path) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open the lock file " + path.string());
  }
  return descriptor;
}

// 0, or the errno of the failed flock.
int lock(int descriptor, int operation) {
  while (::flock(descriptor, operation) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

FileLock FileLock::acquire(const std::filesystem::path& path) {
  const int descriptor = openLockFile(path);
  if (const int error = lock(descriptor, LOCK_EX)) {
    ::close(descriptor);
    throw std::system_error(error, std::generic_category(), "cannot lock " + path.string());
  }
  return FileLock(path, descriptor);
}

std::unique_ptr<FileLock> FileLock::tryAcquire(const std::filesystem::path& path) {
  const int descriptor = openLockFile(path);
  if (const int error = lock(descriptor, LOCK_EX | LOCK_NB)) {
    ::close(descriptor);
    if (error == EWOULDBLOCK) return nullptr;
    throw std::system_error(error, std::generic_category(), "cannot lock " + path.string());
  }
  return std::unique_ptr<FileLock>(new FileLock(path, descriptor));
}

std::filesystem::path lockFileFor(const std::filesystem::path& file) {
  return file.parent_path() / ("." + file.filename().string() + ".lock");
}

FileLock::FileLock(FileLock&& other) noexcept : path_(std::move(other.path_)), descriptor_(other.descriptor_) {
  other.descriptor_ = -1;
}

FileLock::~FileLock() {
  // Closing the only descriptor of the open file releases its lock.
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace platform
