#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/dispatch_time.hpp"

namespace platform {

// A timer whose handler runs on a dispatch queue. It starts suspended and
// fires nothing until resume(); it fires at deadline + k × interval, never
// twice at once: firings missed while the handler or its queue was busy
// collapse into one. Cancelling it, or destroying it, stops it for good; a
// handler already running finishes. Every operation may be called from any
// thread, the handler included. Under a simulated scheduler it fires at
// exactly its deadlines; the leeway is only recorded.
class DispatchSourceTimer : public std::enable_shared_from_this<DispatchSourceTimer> {
 public:
  struct Schedule {
    DispatchTime deadline;
    double interval = kIntervalNever;  // seconds
    double leeway = 0.0;               // seconds
    friend bool operator==(const Schedule&, const Schedule&) = default;
  };

  // Throws std::invalid_argument for a null queue.
  static std::shared_ptr<DispatchSourceTimer> make(std::shared_ptr<DispatchQueue> queue);
  ~DispatchSourceTimer();
  DispatchSourceTimer(const DispatchSourceTimer&) = delete;
  DispatchSourceTimer& operator=(const DispatchSourceTimer&) = delete;

  // Replaces any pending deadline. The interval is kIntervalNever for a
  // one-shot timer, else at least 1 ns; the leeway is not negative. Bad
  // values throw std::invalid_argument and leave the timer as it was.
  void schedule(DispatchTime deadline, double interval = kIntervalNever, double leeway = 0.0);
  void setEventHandler(Block handler);
  // Starts a suspended timer; a second resume throws std::logic_error (it
  // would unbalance the suspension), a resume after cancel does nothing.
  void resume();
  void cancel();
  bool isCancelled() const;
  // The last schedule() call's values, if any.
  std::optional<Schedule> lastSchedule() const;

 private:
  explicit DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue);
  void armLocked();
  void disarmLocked();
  void fire(std::uint64_t generation);

  const std::shared_ptr<DispatchQueue> queue_;
  mutable std::mutex mutex_;
  std::optional<Schedule> schedule_;
  std::shared_ptr<const Block> handler_;
  bool resumed_ = false;
  bool cancelled_ = false;
  bool firing_ = false;
  // Bumped by every schedule and cancel so that a firing already on its way
  // to the queue recognises itself as stale.
  std::uint64_t generation_ = 0;
  std::uint64_t ticket_ = 0;
  std::int64_t nextIndex_ = 0;  // k of the next firing
};

}  // namespace platform
