#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

namespace platform {

// An advisory whole-file lock (flock) on a lock file, which is created
// (mode 0600) when missing and never removed: removing it would let two
// processes lock two different files of one name. The lock is tied to the
// open file, so it ends when the object goes or the process ends, however it
// ends. Two opens of one file exclude each other within a process too.
//
// Only a regular file is a lock file: a link at its name is never followed
// (whether it leads to a file or to nothing). One with other names as well
// (a hard link, as a copy of the folder made with links leaves) is locked
// all the same, since locking writes nothing; a holder that writes or
// touches it through descriptor() asks hasOneName() first, so that a file
// of someone else's never changes through it.
class FileLock {
 public:
  // Waits until the lock is free. Throws FileLockError when the lock file
  // cannot be created, opened or locked, or is not one.
  static FileLock acquire(const std::filesystem::path& path);
  // Waits at most `limit` seconds on the uptime clock, trying again every
  // retryInterval; past that, throws FileLockError with kind heldElsewhere.
  static FileLock acquire(const std::filesystem::path& path, double limit);
  // Null when another holder has it; throws as acquire() does otherwise.
  static std::unique_ptr<FileLock> tryAcquire(const std::filesystem::path& path);

  // Seconds between two tries of a bounded acquire().
  static constexpr double retryInterval = 0.05;

  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The open lock file, for a holder that keeps a note in it.
  int descriptor() const { return descriptor_; }
  // Whether the file has no name but one right now. Asked at each write,
  // not once: a name may be added to it at any time.
  bool hasOneName() const;

 private:
  FileLock(std::filesystem::path path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}

  std::filesystem::path path_;
  int descriptor_ = -1;
};

// Why a lock could not be had: what() is "cannot lock <file>: <reason>".
class FileLockError : public std::system_error {
 public:
  enum class Kind {
    system,         // the system refused (code() and reason() are its own)
    link,           // a link stands at the lock file's name (ELOOP)
    notRegular,     // something else than a regular file stands there (EINVAL)
    heldElsewhere,  // another holder kept it past a bounded wait (EWOULDBLOCK)
  };

  FileLockError(Kind kind, int error, const std::filesystem::path& path);

  Kind kind() const { return kind_; }
  // What stands in the way, as a phrase that names no file.
  const std::string& reason() const { return reason_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Kind kind_;
  std::string reason_;
  std::string message_;
};

// The lock file of those who write `file`: beside it, hidden
// (".<file>.lock").
std::filesystem::path lockFileFor(const std::filesystem::path& file);

}  // namespace platform
