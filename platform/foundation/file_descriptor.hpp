#pragma once

// The one owner of an open file descriptor: it closes what it holds when it
// goes, so no return path can leak one. Move-only; a moved-from owner and
// one made from a negative number hold nothing (get() is -1). release()
// hands the descriptor over without closing it, for a call that takes
// ownership (fdopendir) or a close whose result matters.

#include <unistd.h>

#include <utility>

namespace platform {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd < 0 ? -1 : fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      close();
      fd_ = other.release();
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { close(); }

  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  void close() {
    if (fd_ >= 0) ::close(fd_);
  }

  int fd_;
};

}  // namespace platform
