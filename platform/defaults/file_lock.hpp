#pragma once

#include <filesystem>
#include <memory>

namespace platform {

// An advisory whole-file lock (flock) on a lock file, which is created
// (mode 0600) when missing and never removed: removing it would let two
// processes lock two different files of one name. The lock is tied to the
// open file, so it ends when the object goes or the process ends, however it
// ends. Two opens of one file exclude each other within a process too.
class FileLock {
 public:
  // Waits until the lock is free. Throws std::system_error naming the file
  // when it cannot be created, opened or locked.
  static FileLock acquire(const std::filesystem::path& path);
  // Null when another holder has it; throws as acquire() does otherwise.
  static std::unique_ptr<FileLock> tryAcquire(const std::filesystem::path& path);

  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The open lock file, for a holder that keeps a note in it.
  int descriptor() const { return descriptor_; }

 private:
  FileLock(std::filesystem::path path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}

  std::filesystem::path path_;
  int descriptor_ = -1;
};

// The lock file of those who write `file`: beside it, hidden
// (".<file>.lock").
std::filesystem::path lockFileFor(const std::filesystem::path& file);

}  // namespace platform
