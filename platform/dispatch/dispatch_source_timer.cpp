#include "platform/dispatch/dispatch_source_timer.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/scheduler.hpp"

namespace platform {

std::shared_ptr<DispatchSourceTimer> DispatchSourceTimer::make(std::shared_ptr<DispatchQueue> queue) {
  if (!queue) throw std::invalid_argument("DispatchSourceTimer::make: null queue");
  return std::shared_ptr<DispatchSourceTimer>(new DispatchSourceTimer(std::move(queue)));
}

DispatchSourceTimer::DispatchSourceTimer(std::shared_ptr<DispatchQueue> queue)
    : queue_(std::move(queue)) {}

DispatchSourceTimer::~DispatchSourceTimer() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  disarmLocked();
}

void DispatchSourceTimer::schedule(DispatchTime deadline, double interval, double leeway) {
  if (std::isnan(deadline.uptime)) {
    throw std::invalid_argument("DispatchSourceTimer::schedule: deadline is not a number");
  }
  // Shorter than the clock's resolution, a repeating timer would never let
  // time move on.
  if (!(interval >= 1e-9)) {
    throw std::invalid_argument("DispatchSourceTimer::schedule: interval must be at least 1 ns or never");
  }
  if (!(leeway >= 0.0) || !std::isfinite(leeway)) {
    throw std::invalid_argument("DispatchSourceTimer::schedule: leeway must be finite and not negative");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  disarmLocked();
  schedule_ = Schedule{deadline, interval, leeway};
  nextIndex_ = 0;
  armLocked();
}

void DispatchSourceTimer::setEventHandler(Block handler) {
  std::shared_ptr<const Block> next = handler ? std::make_shared<const Block>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  // The old handler goes with `next` after the lock is released.
  std::swap(handler_, next);
}

void DispatchSourceTimer::resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return;
  if (resumed_) throw std::logic_error("DispatchSourceTimer::resume: the timer is not suspended");
  resumed_ = true;
  armLocked();
}

void DispatchSourceTimer::cancel() {
  std::shared_ptr<const Block> released;
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return;
  cancelled_ = true;
  disarmLocked();
  std::swap(released, handler_);
}

bool DispatchSourceTimer::isCancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

std::optional<DispatchSourceTimer::Schedule> DispatchSourceTimer::lastSchedule() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return schedule_;
}

void DispatchSourceTimer::armLocked() {
  // While the handler runs, fire() arms the next firing when it returns, so
  // that the handler never runs twice at once even on a concurrent queue.
  if (!resumed_ || cancelled_ || firing_ || !schedule_) return;
  const double due = detail::gridTime(schedule_->deadline.uptime, schedule_->interval, nextIndex_);
  if (std::isinf(due)) return;
  ticket_ = queue_->submit(due, [weak = weak_from_this(), generation = generation_] {
    if (auto self = weak.lock()) self->fire(generation);
  });
}

void DispatchSourceTimer::disarmLocked() {
  ++generation_;
  if (ticket_ != 0) queue_->withdraw(ticket_);
  ticket_ = 0;
}

void DispatchSourceTimer::fire(std::uint64_t generation) {
  std::shared_ptr<const Block> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_ || generation != generation_ || firing_) return;
    ticket_ = 0;
    firing_ = true;
    handler = handler_;
  }
  struct Rearm {
    DispatchSourceTimer& timer;
    std::uint64_t generation;
    ~Rearm() {
      const double now = systemUptime();
      std::lock_guard<std::mutex> lock(timer.mutex_);
      timer.firing_ = false;
      // A schedule() made while the handler ran has reset the grid already.
      if (generation == timer.generation_) {
        timer.nextIndex_ = detail::nextGridIndex(timer.schedule_->deadline.uptime,
                                                 timer.schedule_->interval, timer.nextIndex_, now);
      }
      timer.armLocked();
    }
  } rearm{*this, generation};
  if (handler && *handler) (*handler)();
}

}  // namespace platform
