#include "platform/defaults/file_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/dispatch/clock.hpp"

namespace platform {
namespace {

std::string reasonOf(FileLockError::Kind kind, int error) {
  switch (kind) {
    case FileLockError::Kind::link:
      return "A link stands at its name";
    case FileLockError::Kind::notRegular:
      return "It is not a regular file";
    case FileLockError::Kind::heldElsewhere:
      return "Another program holds it";
    case FileLockError::Kind::system:
      break;
  }
  return std::generic_category().message(error);
}

// The lock file, opened without following a link at its name: with
// O_NOFOLLOW a link (to a file, or to nothing that O_CREAT would make) fails
// the open instead of being followed.
int openLockFile(const std::filesystem::path& path) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    const int error = errno;
    struct stat info {};
    // ELOOP also stands for too many links on the way to the folder.
    if (error == ELOOP && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
      throw FileLockError(FileLockError::Kind::link, ELOOP, path);
    }
    throw FileLockError(FileLockError::Kind::system, error, path);
  }
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    const int error = errno;
    ::close(descriptor);
    throw FileLockError(FileLockError::Kind::system, error, path);
  }
  if (S_ISREG(info.st_mode)) return descriptor;
  ::close(descriptor);
  throw FileLockError(FileLockError::Kind::notRegular, EINVAL, path);
}

// 0, or the errno of the failed flock.
int lock(int descriptor, int operation) {
  while (::flock(descriptor, operation) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

FileLockError::FileLockError(Kind kind, int error, const std::filesystem::path& path)
    : std::system_error(error, std::generic_category()), kind_(kind), reason_(reasonOf(kind, error)) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
  // "literal" + std::string at -O3.
  message_ = "cannot lock ";
  message_ += path.string();
  message_ += ": ";
  message_ += reason_;
}

FileLock FileLock::acquire(const std::filesystem::path& path) {
  const int descriptor = openLockFile(path);
  if (const int error = lock(descriptor, LOCK_EX)) {
    ::close(descriptor);
    throw FileLockError(FileLockError::Kind::system, error, path);
  }
  return FileLock(path, descriptor);
}

FileLock FileLock::acquire(const std::filesystem::path& path, double limit) {
  const int descriptor = openLockFile(path);
  const double deadline = systemUptime() + limit;
  for (;;) {
    const int error = lock(descriptor, LOCK_EX | LOCK_NB);
    if (error == 0) return FileLock(path, descriptor);
    // flock has no timeout and tells no one when the lock is let go: look
    // again a little later, until the deadline.
    if (error == EWOULDBLOCK && systemUptime() < deadline) {
      sleepUntil(std::min(deadline, systemUptime() + retryInterval));
      continue;
    }
    ::close(descriptor);
    throw FileLockError(error == EWOULDBLOCK ? FileLockError::Kind::heldElsewhere : FileLockError::Kind::system,
                        error, path);
  }
}

std::unique_ptr<FileLock> FileLock::tryAcquire(const std::filesystem::path& path) {
  const int descriptor = openLockFile(path);
  if (const int error = lock(descriptor, LOCK_EX | LOCK_NB)) {
    ::close(descriptor);
    if (error == EWOULDBLOCK) return nullptr;
    throw FileLockError(FileLockError::Kind::system, error, path);
  }
  return std::unique_ptr<FileLock>(new FileLock(path, descriptor));
}

std::filesystem::path lockFileFor(const std::filesystem::path& file) {
  // Appended piece by piece, for the reason above.
  std::string name = ".";
  name += file.filename().string();
  name += ".lock";
  return file.parent_path() / name;
}

bool FileLock::hasOneName() const {
  struct stat info {};
  return ::fstat(descriptor_, &info) == 0 && info.st_nlink == 1;
}

FileLock::FileLock(FileLock&& other) noexcept : path_(std::move(other.path_)), descriptor_(other.descriptor_) {
  other.descriptor_ = -1;
}

FileLock::~FileLock() {
  // Closing the only descriptor of the open file releases its lock.
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace platform
