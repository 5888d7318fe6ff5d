#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace platform {

// Process-wide state (shared instances, symbol lookups, stored scales) is
// made once, on first use, from any thread. Tests put every such value back
// to its first-use state with resetProcessState(), so one test's lookups or
// scales never leak into the next.
void resetProcessState();

// Hooks run by resetProcessState(); key identifies the hook for removal.
void addResetHook(const void* key, std::function<void()> reset);
void removeResetHook(const void* key);

template <class T>
class ProcessWide {
 public:
  explicit ProcessWide(std::function<T()> make) : make_(std::move(make)) {
    addResetHook(this, [this] { reset(); });
  }
  ~ProcessWide() { removeResetHook(this); }
  ProcessWide(const ProcessWide&) = delete;
  ProcessWide& operator=(const ProcessWide&) = delete;

  // The value, made on the first call. The maker runs outside the lock so it
  // may itself read other process-wide values; when two threads race, the
  // first stored value wins and both see it.
  T get() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (value_) return *value_;
    }
    T made = make_();
    std::lock_guard<std::mutex> guard(mutex_);
    if (!value_) value_.emplace(std::move(made));
    return *value_;
  }

  void reset() {
    std::lock_guard<std::mutex> guard(mutex_);
    value_.reset();
  }

 private:
  std::function<T()> make_;
  std::mutex mutex_;
  std::optional<T> value_;
};

}  // namespace platform
