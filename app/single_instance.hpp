#pragma once

// One running vurle per settings folder. The platform runs an application
// once per user and turns a second launch into a reopen of the first; here
// the first process holds an advisory lock on "<folder>/.vurle-instance.lock"
// for its whole life (its process id written in it, where it can be) and
// listens on the FIFO "<folder>/.vurle-reopen". A later launch finds the
// lock held, writes one request into the FIFO and ends without writing
// anything else. The holder's main queue reads the FIFO as soon as a
// request makes it readable (a read source: nothing polls on a clock) and
// turns each request into the application's reopen event, which the
// delegate answers by showing its window. The lock goes with the process,
// however it ends, so a crash never leaves the folder claimed. Main thread
// only.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/defaults/file_lock.hpp"

namespace platform {
class DispatchSourceRead;
}

namespace vurle {

class SingleInstance : public std::enable_shared_from_this<SingleInstance> {
 public:
  static constexpr const char* lockFileName = ".vurle-instance.lock";
  static constexpr const char* reopenPipeName = ".vurle-reopen";

  // What a later launch learnt of the holder.
  struct Holder {
    // As the holder wrote it; absent while it has not yet.
    std::optional<pid_t> processIdentifier;
    // The request is in the holder's pipe.
    bool reopenRequested = false;
  };

  // Takes the folder's lock, making the folder when needed, and opens the
  // pipe, so requests wait in it from now on. Null when another process
  // holds the lock. Throws std::system_error naming the file when the
  // folder, the lock file or the pipe cannot be made or opened. A process
  // id that cannot be written (a full disk), or must not be (the lock file
  // has other names as well, so it is someone else's file too, and is
  // never written), keeps the lock all the same: it is said once on the
  // console, and later launches then name no process.
  static std::shared_ptr<SingleInstance> acquire(const std::filesystem::path& folder);
  // For a launch that found the lock held: reads the holder's process id
  // (from a lock file with no other name, never through a link) and asks it
  // to reopen. Writes only into the pipe.
  static Holder requestReopen(const std::filesystem::path& folder);
  // The one line such a launch prints.
  static std::string describe(const Holder& holder, const std::filesystem::path& folder);

  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Serves requests, queued ones first, for as long as this object lives.
  // Throws std::system_error when the pipe cannot be watched.
  void listen();

 private:
  SingleInstance(platform::FileLock lock, int pipe) : lock_(std::move(lock)), pipe_(pipe) {}
  // Reads every waiting request; each one reopens the application.
  void serve();

  platform::FileLock lock_;
  int pipe_ = -1;
  std::shared_ptr<platform::DispatchSourceRead> source_;
};

}  // namespace vurle
