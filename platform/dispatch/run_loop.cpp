#include "platform/dispatch/run_loop.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/scheduler.hpp"

namespace platform {
namespace {

constexpr unsigned kDefaultBit = 1;
constexpr unsigned kEventTrackingBit = 2;

unsigned modeBits(RunLoopMode mode) {
  switch (mode) {
    case RunLoopMode::default_: return kDefaultBit;
    case RunLoopMode::eventTracking: return kEventTrackingBit;
    case RunLoopMode::common: return kDefaultBit | kEventTrackingBit;
  }
  throw std::invalid_argument("unknown run loop mode");
}

}  // namespace

RunLoop& RunLoop::main() { return detail::currentScheduler().mainRunLoop(); }

void RunLoop::add(const std::shared_ptr<NSTimer>& timer, RunLoopMode mode) {
  if (!timer) throw std::invalid_argument("RunLoop::add: null timer");
  const unsigned bits = modeBits(mode);
  {
    std::lock_guard<std::mutex> lock(timer->mutex_);
    if (!timer->valid_) return;
    auto owner = timer->loop_.lock();
    if (owner && owner.get() != this) {
      throw std::logic_error("RunLoop::add: the timer belongs to another run loop");
    }
    timer->modes_ |= bits;
    timer->loop_ = weak_from_this();
  }
  scheduleTimer(timer);
}

void RunLoop::perform(Block block) {
  if (!block) throw std::invalid_argument("RunLoop::perform: empty block");
  enqueue(std::move(block));
}

void RunLoop::run() { runLoop(std::numeric_limits<double>::infinity()); }

RunLoop::RunResult RunLoop::runUntil(double uptimeDeadline) {
  if (std::isnan(uptimeDeadline)) throw std::invalid_argument("RunLoop::runUntil: deadline is not a number");
  return runLoop(uptimeDeadline);
}

void RunLoop::setCurrentMode(RunLoopMode mode) {
  if (mode != RunLoopMode::default_ && mode != RunLoopMode::eventTracking) {
    throw std::invalid_argument("RunLoop::setCurrentMode: the loop runs in default or eventTracking only");
  }
  switchMode(mode);
}

bool RunLoop::timerRunsIn(const NSTimer& timer, RunLoopMode mode) {
  std::lock_guard<std::mutex> lock(timer.mutex_);
  return timer.valid_ && (timer.modes_ & modeBits(mode)) != 0;
}

void RunLoop::fireTimer(NSTimer& timer) { timer.fire(); }

std::shared_ptr<NSTimer> NSTimer::scheduledTimer(double interval, bool repeats, TimerBlock block) {
  auto timer = make(interval, repeats, std::move(block));
  RunLoop::main().add(timer, RunLoopMode::default_);
  return timer;
}

namespace {

double shortestInterval(double interval) { return std::max(interval, 0.0001); }

}  // namespace

std::shared_ptr<NSTimer> NSTimer::make(double interval, bool repeats, TimerBlock block) {
  if (!std::isfinite(interval)) throw std::invalid_argument("NSTimer: interval is not finite");
  if (!block) throw std::invalid_argument("NSTimer: empty block");
  return std::shared_ptr<NSTimer>(
      new NSTimer(systemUptime() + shortestInterval(interval), interval, 0, repeats, std::move(block)));
}

std::shared_ptr<NSTimer> NSTimer::makeOnGrid(double base, double interval, std::int64_t firstIndex,
                                             TimerBlock block) {
  if (!std::isfinite(interval)) throw std::invalid_argument("NSTimer: interval is not finite");
  if (!std::isfinite(base)) throw std::invalid_argument("NSTimer: grid base is not finite");
  if (firstIndex < 0) throw std::invalid_argument("NSTimer: negative grid index");
  if (!block) throw std::invalid_argument("NSTimer: empty block");
  return std::shared_ptr<NSTimer>(new NSTimer(base, interval, firstIndex, true, std::move(block)));
}

NSTimer::NSTimer(double base, double interval, std::int64_t firstIndex, bool repeats, TimerBlock block)
    : interval_(shortestInterval(interval)),
      repeats_(repeats),
      block_(std::make_shared<const TimerBlock>(std::move(block))),
      firstFireDate_(base),
      index_(firstIndex) {}

void NSTimer::invalidate() {
  std::shared_ptr<const TimerBlock> released;
  std::shared_ptr<RunLoop> loop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return;
    valid_ = false;
    std::swap(released, block_);
    loop = loop_.lock();
  }
  if (loop) loop->unscheduleTimer(*this);
}

bool NSTimer::isValid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

double NSTimer::fireDate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return detail::gridTime(firstFireDate_, interval_, index_);
}

double NSTimer::timeInterval() const { return repeats_ ? interval_ : 0.0; }

double NSTimer::tolerance() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tolerance_;
}

void NSTimer::setTolerance(double seconds) {
  if (!(seconds >= 0.0) || !std::isfinite(seconds)) {
    throw std::invalid_argument("NSTimer::setTolerance: tolerance must be finite and not negative");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  tolerance_ = seconds;
}

void NSTimer::fire() {
  std::shared_ptr<const TimerBlock> block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return;
    block = block_;
  }
  // Keeps the timer alive even if the block drops the last reference to it.
  auto self = shared_from_this();
  (*block)(*this);
  if (!repeats_) {
    invalidate();
    return;
  }
  // Read before locking: the simulated clock's lock ranks above a timer's.
  const double now = systemUptime();
  std::shared_ptr<RunLoop> loop;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return;
    index_ = detail::nextGridIndex(firstFireDate_, interval_, index_, now);
    loop = loop_.lock();
  }
  if (loop) loop->scheduleTimer(self);
}

}  // namespace platform
