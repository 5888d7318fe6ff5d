#pragma once

// Deterministic scheduling for tests: every queue, timer and the main run
// loop run in the test's own thread on a virtual clock, only when the test
// says so, and never sleep.
//
//   SimulatedSchedulerScope scope;          // in the fixture
//   DispatchQueue::main()->async(...);
//   scope->runUntilIdle();                  // runs it
//   scope->advance(0.25);                   // timers due within 0.25 s fire
//
// Work runs in order of due time, ties in the order it was queued. A block
// on a queue other than the main queue counts as off the main thread. The
// descriptors of read sources are real: each time the scheduler looks for
// the next work it polls them without waiting, and one found readable has
// its handler queued at the current time.
// Objects made while the scope is installed must be destroyed before the
// scope ends; ones that outlive it do not crash, but drop what they are
// given (sync() throws std::logic_error). RunLoop::main() is the scope's own
// loop: a reference to it must not be kept past the scope. Work still
// pending when the scope ends is dropped.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/dispatch/scheduler.hpp"

namespace platform {

class SimulatedScheduler final : public detail::Scheduler,
                                 public std::enable_shared_from_this<SimulatedScheduler> {
 public:
  struct Options {
    // Not zero, so code that takes an uptime of 0 for "never" is exercised.
    double startUptime = 1000.0;
    double startWallTime = 1'700'000'000.0;
    // Runs, with the new uptime, once a sleep (sleepUntil) has moved the
    // clock: what another process did while the sleeper waited.
    std::function<void(double)> afterSleep{};
  };

  static std::shared_ptr<SimulatedScheduler> make(Options options);
  ~SimulatedScheduler() override;

  // The virtual uptime.
  double now() const;
  // Runs everything due up to now + seconds, moving the clock to each due
  // time in turn, and leaves the clock at exactly now + seconds. The
  // seconds must be finite and not negative (std::invalid_argument).
  void advance(double seconds);
  // Runs everything due now, follow-on work included, without moving time.
  void runUntilIdle();
  // Runs only the given queue's work that is due now (for the main queue:
  // also the main run loop's timers of the current mode).
  void drain(const DispatchQueue& queue);
  void drainMain();
  // Blocks and timer firings waiting to run, due or not (descriptor
  // watches not counted).
  std::size_t pendingCount() const;
  // Processor time (real seconds, not virtual ones) spent running the main
  // queue's blocks and the main run loop's timers so far: what a tick
  // costs the main thread, since under this scheduler every queue shares
  // one thread.
  double mainQueueBusySeconds() const;
  // Distinct instants at which main-queue blocks or main run-loop timers
  // ran so far: the times a real main run loop would have woken up.
  std::uint64_t mainWakeUps() const;

  double uptime() const override { return now(); }
  double wallTime() const override;
  void sleepUntil(double uptime) override;
  bool isMainThread() const override;
  std::shared_ptr<DispatchQueue> mainQueue() override;
  std::shared_ptr<DispatchQueue> globalQueue(QoS qos) override;
  std::shared_ptr<DispatchQueue> makeQueue(std::string label, QoS qos) override;
  RunLoop& mainRunLoop() override;

 private:
  class Queue;
  class Loop;
  friend class SimulatedSchedulerScope;
  struct Item {
    std::shared_ptr<DispatchQueue> queue;
    Block block;
    std::shared_ptr<NSTimer> timer;  // a run-loop timer's firing instead of a block
  };
  using Key = std::pair<double, std::uint64_t>;
  struct Watch {
    int descriptor;
    std::shared_ptr<DispatchQueue> queue;
    Block ready;
    bool armed = true;
    bool closed = false;
  };

  explicit SimulatedScheduler(Options options);
  void setUp();
  std::uint64_t insert(double due, std::shared_ptr<DispatchQueue> queue, Block block,
                       std::shared_ptr<NSTimer> timer);
  void remove(std::uint64_t ticket);
  std::uint64_t watch(int descriptor, std::shared_ptr<DispatchQueue> queue, Block ready);
  void rearm(std::uint64_t ticket);
  void unwatch(std::uint64_t ticket);
  // Queues the handlers of the armed watches whose descriptors read as
  // readable now.
  void collectReadyDescriptors();
  // Runs the first item due by `limit` (of `only`, when given); false if none.
  bool runNext(double limit, const DispatchQueue* only);
  void discardPending();

  const Options options_;
  const std::thread::id owner_;
  mutable std::mutex mutex_;
  double now_;
  double mainBusySeconds_ = 0;
  std::uint64_t mainWakeUps_ = 0;
  double lastMainWake_ = -std::numeric_limits<double>::infinity();
  std::uint64_t nextTicket_ = 1;
  std::map<Key, Item> agenda_;
  std::unordered_map<std::uint64_t, double> dueOf_;
  std::unordered_map<const NSTimer*, std::uint64_t> timerTickets_;
  std::map<std::uint64_t, Watch> watches_;
  std::shared_ptr<DispatchQueue> main_;
  std::shared_ptr<DispatchQueue> globals_[5];
  std::shared_ptr<Loop> loop_;
};

// Makes a new simulated scheduler the process's current one for its
// lifetime and puts the previous one back when it ends.
class SimulatedSchedulerScope {
 public:
  explicit SimulatedSchedulerScope(SimulatedScheduler::Options options = {});
  ~SimulatedSchedulerScope();
  SimulatedSchedulerScope(const SimulatedSchedulerScope&) = delete;
  SimulatedSchedulerScope& operator=(const SimulatedSchedulerScope&) = delete;

  SimulatedScheduler& scheduler() const { return *scheduler_; }
  SimulatedScheduler* operator->() const { return scheduler_.get(); }

 private:
  std::shared_ptr<SimulatedScheduler> scheduler_;
  detail::Scheduler* previous_;
};

}  // namespace platform
