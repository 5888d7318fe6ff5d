#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/dispatch_queue.hpp"

namespace platform {

// A timer is added for one or more modes and fires only while the run loop
// runs in one of them. `common` stands for both default and eventTracking;
// the loop itself always runs in default or eventTracking.
enum class RunLoopMode { default_, common, eventTracking };

class NSTimer;

// The main run loop. It serves, on the main thread, the blocks given to
// perform() and to DispatchQueue::main() in one FIFO (in every mode), and
// the NSTimers of its current mode.
class RunLoop : public std::enable_shared_from_this<RunLoop> {
 public:
  enum class RunResult { stopped, timedOut };

  static RunLoop& main();

  virtual ~RunLoop() = default;
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Retains the timer until it is invalidated (a one-shot timer invalidates
  // itself after firing). Adding it in a further mode widens its modes.
  // Adding an invalidated timer does nothing.
  void add(const std::shared_ptr<NSTimer>& timer, RunLoopMode mode);
  // Queues the block from any thread for a later pass of the loop.
  void perform(Block block);

  // Serve the loop on the calling thread, which becomes the main thread,
  // until stop() (run) or until stop() or the uptime deadline (runUntil).
  // A stop() that comes while the loop is not running ends the next run as
  // soon as it starts, so a stop sent from another thread is never lost.
  // Under a simulated scheduler these advance the virtual clock instead.
  void run();
  RunResult runUntil(double uptimeDeadline);
  virtual void stop() = 0;

  virtual RunLoopMode currentMode() const = 0;
  // Switches the mode the loop runs in (a menu tracks in eventTracking).
  // `common` is not a mode to run in: std::invalid_argument.
  void setCurrentMode(RunLoopMode mode);

 protected:
  RunLoop() = default;
  // (Re)arms a valid timer at its fire date.
  virtual void scheduleTimer(const std::shared_ptr<NSTimer>& timer) = 0;
  virtual void unscheduleTimer(const NSTimer& timer) = 0;
  virtual void enqueue(Block block) = 0;
  virtual RunResult runLoop(double uptimeDeadline) = 0;
  virtual void switchMode(RunLoopMode mode) = 0;

  static bool timerRunsIn(const NSTimer& timer, RunLoopMode mode);
  static void fireTimer(NSTimer& timer);

 private:
  friend class NSTimer;
};

// A main-thread timer. Intervals and tolerance are seconds; the fire date is
// an uptime. A repeating timer fires at its first fire date + k × interval
// and skips the firings it missed; the tolerance is recorded only.
class NSTimer : public std::enable_shared_from_this<NSTimer> {
 public:
  using TimerBlock = std::function<void(NSTimer&)>;

  // A timer first due `interval` from now, added to the main run loop in
  // the default mode. An interval below 0.1 ms is taken as 0.1 ms; one that
  // is not finite, or an empty block, throws std::invalid_argument.
  static std::shared_ptr<NSTimer> scheduledTimer(double interval, bool repeats, TimerBlock block);
  // The same timer, not yet added to a run loop (RunLoop::add).
  static std::shared_ptr<NSTimer> make(double interval, bool repeats, TimerBlock block);
  // A repeating timer, not yet added, whose k-th firing is due at
  // base + k × interval, starting at k = firstIndex: a timer stopped and
  // made again on the same base keeps the phase of the first one. The
  // interval is taken as make() takes it; a base that is not finite or a
  // negative index throws std::invalid_argument.
  static std::shared_ptr<NSTimer> makeOnGrid(double base, double interval, std::int64_t firstIndex,
                                             TimerBlock block);

  NSTimer(const NSTimer&) = delete;
  NSTimer& operator=(const NSTimer&) = delete;

  // Stops the timer for good and releases its block; safe from any thread,
  // from the block itself too.
  void invalidate();
  bool isValid() const;
  double fireDate() const;
  // 0 for a one-shot timer.
  double timeInterval() const;
  double tolerance() const;
  // Throws std::invalid_argument for a negative or non-finite tolerance.
  void setTolerance(double seconds);

 private:
  friend class RunLoop;
  NSTimer(double base, double interval, std::int64_t firstIndex, bool repeats, TimerBlock block);
  void fire();

  const double interval_;
  const bool repeats_;
  mutable std::mutex mutex_;
  std::shared_ptr<const TimerBlock> block_;
  double firstFireDate_;
  std::int64_t index_ = 0;  // k of the next firing
  double tolerance_ = 0.0;
  bool valid_ = true;
  unsigned modes_ = 0;
  std::weak_ptr<RunLoop> loop_;
};

}  // namespace platform
