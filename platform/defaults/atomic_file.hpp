#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/coding/data.hpp"
#include "platform/defaults/file_lock.hpp"

namespace platform {

// Replaces a file so that a crash at any moment leaves the old file or the
// new one, never a mix: the bytes go to a temporary file beside it, are
// flushed to disk, and one rename puts them in its place. Every failure
// throws std::system_error naming the file; the old file is then untouched.
class AtomicFileWriter {
 public:
  // Creates the temporary file (mode 0600) in the destination's folder.
  explicit AtomicFileWriter(std::filesystem::path destination);
  // A write that was never committed is abandoned: the temporary file goes.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Writes all the bytes and flushes them to disk.
  void write(const Data& bytes);
  // Renames the temporary file over the destination.
  void commit();

  const std::filesystem::path& temporaryPath() const { return temporary_; }

 private:
  std::filesystem::path destination_;
  std::filesystem::path temporary_;
  int descriptor_ = -1;
  bool committed_ = false;
};

// The temporary files of writes to `file` killed before their rename, or
// still writing (".<file>.XXXXXX", the six letters mkstemp chose). Only
// regular files with names of that shape are listed; a folder or link never
// is.
std::vector<std::filesystem::path> temporariesOf(const std::filesystem::path& file);

// Removes the temporaries of `file` last written more than `age` seconds
// before now or dated more than `age` seconds after it (the clock was set
// back since), so that no writer is still filling them. The caller holds
// `lock`, which every writer of `file` holds while its temporary exists.
// Ages are read on the clock that stamped the files, the file system's (a
// network file system's is its server's): its now is the time it stamps on
// an empty temporary made for that and removed at once (one a crash leaves
// is stale by the next pass). The lock's file is never touched: it may be a
// file of someone else's too. Nothing goes when that temporary cannot be
// made.
void removeStaleTemporaries(const std::filesystem::path& file, double age, const FileLock& lock);

// Test seam: runs each time removeStaleTemporaries has read the file
// system's now, with that now, before it looks at the temporaries. Set it
// before the calls; resetProcessState() clears it.
void setStaleTemporariesNowHook(std::function<void(const timespec&)> hook);

// Test seam: the next `count` writes fail with ENOSPC before a byte is
// written, as on a full disk (adds to any pending count). Thread-safe;
// resetProcessState() clears it.
void failNextAtomicFileWrites(unsigned count = 1);

}  // namespace platform
