#pragma once

#include <mutex>

namespace platform {

// The platform's locks. Both satisfy BasicLockable, so std::lock_guard and
// std::unique_lock work with them; tryLock exists because some recorders
// must never wait for a busy lock.
class NSLock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool tryLock() { return mutex_.try_lock(); }
  bool try_lock() { return tryLock(); }

 private:
  std::mutex mutex_;
};

class NSRecursiveLock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool tryLock() { return mutex_.try_lock(); }
  bool try_lock() { return tryLock(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace platform
