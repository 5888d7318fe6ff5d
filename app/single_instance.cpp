#include "app/single_instance.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <system_error>

#include "platform/appkit/application.hpp"
#include "platform/dispatch/dispatch_source_event.hpp"
#include "platform/foundation/log.hpp"

namespace vurle {
namespace {

constexpr char request = '\n';

[[noreturn]] void fail(int error, const std::string& what, const std::filesystem::path& path) {
  throw std::system_error(error, std::generic_category(), what + " " + path.string());
}

// The holder's pipe, made when missing. Opened without blocking for
// reading and writing: the holder is then a writer itself, so the pipe
// reads as empty (never as ended) between the later launches' writes and
// a watch on it wakes only for a request.
int openPipe(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && !S_ISFIFO(info.st_mode)) {
    // Not ours to keep: the name is reserved for the pipe.
    if (::unlink(path.c_str()) != 0) fail(errno, "cannot replace", path);
  }
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) fail(errno, "cannot make the pipe", path);
  const int pipe = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (pipe < 0) fail(errno, "cannot open the pipe", path);
  return pipe;
}

}  // namespace

std::shared_ptr<SingleInstance> SingleInstance::acquire(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) fail(error.value(), "cannot make the settings folder", folder);
  auto lock = platform::FileLock::tryAcquire(folder / lockFileName);
  if (!lock) return nullptr;
  // The process id tells a later launch whom it found; it is a courtesy,
  // so a disk too full to take it keeps the lock and says so, and so does a
  // lock file that is someone else's file as well, which gets nothing. An
  // earlier holder's id is cleared first, so no one is named wrongly.
  const std::string note = std::to_string(::getpid()) + "\n";
  const auto cannotWrite = [&](const std::string& reason) {
    platform::NSLog("vurle: cannot write its process id into " + lock->path().string() + " (" + reason +
                    "); it runs alone on these settings all the same, but a later launch cannot name it");
  };
  if (!lock->hasOneName()) {
    cannotWrite("it is a file with other names as well, left as it is");
  } else {
    bool cleared = ::ftruncate(lock->descriptor(), 0) == 0;
    const ssize_t written = cleared ? ::pwrite(lock->descriptor(), note.data(), note.size(), 0) : -1;
    if (written != static_cast<ssize_t>(note.size())) {
      const int reason = written < 0 ? errno : ENOSPC;
      // Part of an id would name another process.
      if (written > 0) cleared = ::ftruncate(lock->descriptor(), 0) == 0;
      cannotWrite(std::generic_category().message(reason));
    }
  }
  const int pipe = openPipe(folder / reopenPipeName);
  return std::shared_ptr<SingleInstance>(new SingleInstance(std::move(*lock), pipe));
}

SingleInstance::Holder SingleInstance::requestReopen(const std::filesystem::path& folder) {
  Holder holder;
  // Not through a link, nor from a file with other names: that is a file of
  // someone else's too, which may hold any number.
  const int note = ::open((folder / lockFileName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (note >= 0) {
    char text[32];
    struct stat info {};
    const ssize_t length = ::fstat(note, &info) == 0 && info.st_nlink == 1 ? ::read(note, text, sizeof text) : -1;
    ::close(note);
    pid_t pid = 0;
    if (length > 0 && std::from_chars(text, text + length, pid).ec == std::errc() && pid > 0) {
      holder.processIdentifier = pid;
    }
  }
  // Opening for writing without blocking fails unless the holder has the
  // pipe open; one byte is written whole or not at all.
  const int pipe = ::open((folder / reopenPipeName).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (pipe >= 0) {
    // A holder that closes the pipe meanwhile must not end this process.
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    holder.reopenRequested = ::write(pipe, &request, 1) == 1;
    ::sigaction(SIGPIPE, &previous, nullptr);
    ::close(pipe);
  }
  return holder;
}

std::string SingleInstance::describe(const Holder& holder, const std::filesystem::path& folder) {
  std::string line = "vurle is already running";
  if (holder.processIdentifier) line += " as process " + std::to_string(*holder.processIdentifier);
  line += " with the settings in " + folder.string();
  line += holder.reopenRequested ? "; it was asked to show its window" : "; it could not be asked to show its window";
  return line;
}

SingleInstance::~SingleInstance() {
  // Cancelled first: the pipe is watched no more once cancel returns.
  if (source_) source_->cancel();
  if (pipe_ >= 0) ::close(pipe_);
}

void SingleInstance::listen() {
  if (source_) return;
  // The main queue runs in every mode, so a reopen also shows while a menu
  // is open.
  auto source = platform::DispatchSourceRead::make(pipe_, platform::DispatchQueue::main());
  source->setEventHandler([weak = weak_from_this()] {
    if (auto instance = weak.lock()) instance->serve();
  });
  source->resume();
  source_ = std::move(source);
}

void SingleInstance::serve() {
  char buffer[64];
  int requests = 0;
  for (;;) {
    const ssize_t length = ::read(pipe_, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) break;
    for (ssize_t n = 0; n < length; ++n) requests += buffer[n] == request;
  }
  for (int n = 0; n < requests; ++n) platform::NSApplication::shared()->reopen();
}

}  // namespace vurle
