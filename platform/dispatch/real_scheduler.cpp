// Production scheduling: serial and global queues run on a pool of worker
// threads, deadlines wait on one timer thread, descriptors of the read
// sources on one watcher thread, and the main queue and the main run loop
// are served by whichever thread runs the loop.
//
// The scheduler is made on first use and never destroyed, because objects
// destroyed late in process exit may still cancel timers or queue blocks.
// Its threads are stopped and joined when static objects are destroyed:
// queued blocks that have not started are then dropped (never destroyed),
// blocks that are running are waited for, and a thread waiting in sync() for
// a block that will not run is released with an exception that unwinds it.

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/dispatch/scheduler.hpp"

namespace platform::detail {
namespace {

using Clock = std::chrono::steady_clock;

double steadySeconds() {
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

// Waits never sleep longer than a minute at a time, so a far deadline
// cannot overflow the clock's arithmetic; the waiters re-check anyway.
Clock::time_point wakeTime(double uptime) {
  const double wait = std::clamp(uptime - steadySeconds(), 0.0, 60.0);
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(wait));
}

struct Abandoned : std::runtime_error {
  Abandoned() : std::runtime_error("dispatch: the process is exiting; the block will not run") {}
};

void joinAll(std::vector<std::thread>& threads) {
  for (auto& thread : threads) {
    // exit() called from one of our own threads runs this on that thread.
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

class WorkerPool {
 public:
  void post(Block job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    jobs_.push_back(std::move(job));
    // Grow while every worker is busy: a block blocked in sync() must not
    // keep the work it waits for from running.
    if (idle_ < jobs_.size() && threads_.size() < kMaxThreads) {
      threads_.emplace_back([this] { work(); });
    }
    wake_.notify_one();
  }

  void shutdown() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      threads.swap(threads_);
    }
    wake_.notify_all();
    joinAll(threads);
  }

 private:
  static constexpr std::size_t kMaxThreads = 64;

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_;
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      --idle_;
      if (stopping_) return;
      Block job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      try {
        job();
      } catch (const Abandoned&) {
      }
      job = nullptr;  // its captures go before the lock is taken again
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Block> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

// Holds blocks until their deadline, then hands them to their queue.
class TimerAgenda {
 public:
  std::uint64_t add(double due, Block handOff) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return 0;
    const std::uint64_t ticket = nextTicket_++;
    const bool earliest = entries_.empty() || due < entries_.begin()->first.first;
    entries_.emplace(std::make_pair(due, ticket), std::move(handOff));
    dueOf_.emplace(ticket, due);
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    if (earliest) wake_.notify_one();
    return ticket;
  }

  void remove(std::uint64_t ticket) {
    Block released;
    std::lock_guard<std::mutex> lock(mutex_);
    auto due = dueOf_.find(ticket);
    if (due == dueOf_.end()) return;
    auto entry = entries_.find(std::make_pair(due->second, ticket));
    released = std::move(entry->second);
    entries_.erase(entry);
    dueOf_.erase(due);
  }

  void shutdown() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      if (thread_.joinable()) threads.push_back(std::move(thread_));
    }
    wake_.notify_all();
    joinAll(threads);
  }

 private:
  void loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      if (entries_.empty()) {
        wake_.wait(lock);
        continue;
      }
      auto first = entries_.begin();
      if (first->first.first > steadySeconds()) {
        wake_.wait_until(lock, wakeTime(first->first.first));
        continue;
      }
      Block handOff = std::move(first->second);
      dueOf_.erase(first->first.second);
      entries_.erase(first);
      lock.unlock();
      handOff();
      handOff = nullptr;
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::pair<double, std::uint64_t>, Block> entries_;
  std::unordered_map<std::uint64_t, double> dueOf_;
  std::uint64_t nextTicket_ = 1;
  std::thread thread_;
  bool stopping_ = false;
};

// Polls the descriptors of the read sources on one thread, made with the
// first watch, and hands each readiness to the watch's queue; the thread
// sleeps in poll() without a timeout, so a quiet descriptor costs no
// wake-up. A watch rests from its readiness until the source's handler has
// run and rearms it, so a descriptor the handler has not emptied yet is not
// reported twice. One descriptor of its own (an eventfd) wakes the thread
// when the set of watches changes.
class DescriptorWatcher {
 public:
  std::uint64_t watch(int descriptor, std::shared_ptr<DispatchQueue> queue, Block ready) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return 0;
    if (wake_ < 0) {
      const int made = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
      if (made < 0) throw std::system_error(errno, std::generic_category(), "dispatch: cannot make the watcher's eventfd");
      wake_ = made;
    }
    if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
    const std::uint64_t ticket = nextTicket_++;
    entries_.emplace(ticket, Entry{descriptor, std::move(queue), std::make_shared<const Block>(std::move(ready))});
    wakeLocked();
    return ticket;
  }

  void rearm(std::uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = entries_.find(ticket);
    if (entry == entries_.end() || entry->second.armed || entry->second.closed) return;
    entry->second.armed = true;
    wakeLocked();
  }

  void unwatch(std::uint64_t ticket) {
    Entry released;
    std::unique_lock<std::mutex> lock(mutex_);
    auto entry = entries_.find(ticket);
    if (entry == entries_.end()) return;
    released = std::move(entry->second);
    entries_.erase(entry);
    // A poll under way may still hold the descriptor: wait for it to end,
    // so the caller may close it.
    if (!polling_ || thread_.get_id() == std::this_thread::get_id()) return;
    const std::uint64_t pass = passes_;
    wakeLocked();
    settled_.wait(lock, [&] { return passes_ != pass || stopping_; });
  }

  void shutdown() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      if (thread_.joinable()) threads.push_back(std::move(thread_));
      wakeLocked();
    }
    settled_.notify_all();
    joinAll(threads);
  }

 private:
  struct Entry {
    int descriptor = -1;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<const Block> ready;
    bool armed = true;
    bool closed = false;  // polled as not open: nothing can come any more
  };

  void wakeLocked() {
    if (wake_ < 0) return;
    const std::uint64_t one = 1;
    // A full counter already wakes the thread; nothing else can fail here.
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
  }

  void loop() {
    std::vector<pollfd> polled;
    std::vector<std::uint64_t> tickets;
    std::vector<std::pair<std::shared_ptr<DispatchQueue>, std::shared_ptr<const Block>>> ready;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
      polled.assign(1, pollfd{wake_, POLLIN, 0});
      tickets.assign(1, 0);
      for (const auto& [ticket, entry] : entries_) {
        if (!entry.armed) continue;
        polled.push_back(pollfd{entry.descriptor, POLLIN, 0});
        tickets.push_back(ticket);
      }
      polling_ = true;
      lock.unlock();
      const int count = ::poll(polled.data(), polled.size(), -1);
      lock.lock();
      polling_ = false;
      ++passes_;
      settled_.notify_all();
      if (count <= 0) continue;  // EINTR: poll again
      if (polled[0].revents != 0) {
        std::uint64_t drained;
        [[maybe_unused]] const ssize_t read = ::read(wake_, &drained, sizeof drained);
      }
      for (std::size_t i = 1; i < polled.size(); ++i) {
        if (polled[i].revents == 0) continue;
        auto entry = entries_.find(tickets[i]);
        if (entry == entries_.end() || !entry->second.armed) continue;
        entry->second.armed = false;
        entry->second.closed = (polled[i].revents & POLLNVAL) != 0;
        ready.emplace_back(entry->second.queue, entry->second.ready);
      }
      lock.unlock();
      for (auto& handOff : ready) handOff.first->async([block = handOff.second] { (*block)(); });
      ready.clear();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable settled_;
  std::map<std::uint64_t, Entry> entries_;
  std::uint64_t nextTicket_ = 1;
  std::uint64_t passes_ = 0;
  int wake_ = -1;
  bool polling_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

class RealScheduler;

// One sync() caller waiting for its turn; guarded by the scheduler's
// syncMutex.
struct SyncWait {
  bool ready = false;
  std::exception_ptr error;
};

class RealQueue final : public DispatchQueue {
 public:
  RealQueue(RealScheduler& scheduler, std::string label, QoS qos, Kind kind)
      : DispatchQueue(std::move(label), qos, kind), scheduler_(scheduler) {}

  void enqueue(Block block);

 private:
  struct Entry {
    Block block;
    std::shared_ptr<SyncWait> waiter;  // set for a sync() caller's turn
  };

  std::uint64_t submit(double due, Block block) override;
  void withdraw(std::uint64_t ticket) override;
  std::uint64_t watch(int descriptor, Block ready) override;
  void rearm(std::uint64_t ticket) override;
  void unwatch(std::uint64_t ticket) override;
  void runSync(const Block& block) override;
  void drain();
  void endTurn();
  std::shared_ptr<RealQueue> self() { return std::static_pointer_cast<RealQueue>(shared_from_this()); }

  RealScheduler& scheduler_;
  std::mutex mutex_;
  std::deque<Entry> entries_;
  bool running_ = false;  // serial queues: a drain or a sync() caller owns the queue
};

class RealRunLoop final : public RunLoop {
 public:
  explicit RealRunLoop(RealScheduler& scheduler) : scheduler_(scheduler) {}

  void stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
    wake_.notify_all();
  }

  RunLoopMode currentMode() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
  }

  void enqueue(Block block) override {
    std::lock_guard<std::mutex> lock(mutex_);
    fifo_.push_back(std::move(block));
    wake_.notify_all();
  }

  void shutdown() {
    std::lock_guard<std::mutex> lock(mutex_);
    exiting_ = true;
    wake_.notify_all();
  }

 private:
  void scheduleTimer(const std::shared_ptr<NSTimer>& timer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (std::find(timers_.begin(), timers_.end(), timer) == timers_.end()) timers_.push_back(timer);
    wake_.notify_all();
  }

  void unscheduleTimer(const NSTimer& timer) override {
    std::shared_ptr<NSTimer> released;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find_if(timers_.begin(), timers_.end(),
                              [&timer](const auto& entry) { return entry.get() == &timer; });
    if (found == timers_.end()) return;
    released = std::move(*found);
    timers_.erase(found);
  }

  void switchMode(RunLoopMode mode) override {
    std::lock_guard<std::mutex> lock(mutex_);
    mode_ = mode;
    wake_.notify_all();
  }

  RunResult runLoop(double deadline) override;

  RealScheduler& scheduler_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Block> fifo_;
  std::vector<std::shared_ptr<NSTimer>> timers_;
  RunLoopMode mode_ = RunLoopMode::default_;
  bool stopRequested_ = false;
  bool exiting_ = false;
  int depth_ = 0;
  pid_t runner_ = 0;
};

class RealScheduler final : public Scheduler {
 public:
  RealScheduler() : loop_(std::make_shared<RealRunLoop>(*this)) {
    main_ = std::make_shared<RealQueue>(*this, "main", QoS::userInteractive, DispatchQueue::Kind::main);
    static constexpr std::array<const char*, 5> kLabels = {
        "global.user-interactive", "global.user-initiated", "global.default", "global.utility",
        "global.background"};
    for (std::size_t i = 0; i < globals_.size(); ++i) {
      globals_[i] = std::make_shared<RealQueue>(*this, kLabels[i], static_cast<QoS>(i),
                                                DispatchQueue::Kind::global);
    }
  }

  double uptime() const override { return steadySeconds(); }

  double wallTime() const override {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  }

  void sleepUntil(double uptime) override {
    while (steadySeconds() < uptime) std::this_thread::sleep_until(wakeTime(uptime));
  }

  bool isMainThread() const override {
    const pid_t main = mainThread_.load();
    return gettid() == (main != 0 ? main : getpid());
  }

  std::shared_ptr<DispatchQueue> mainQueue() override { return main_; }
  std::shared_ptr<DispatchQueue> globalQueue(QoS qos) override {
    return globals_[static_cast<std::size_t>(qos)];
  }
  std::shared_ptr<DispatchQueue> makeQueue(std::string label, QoS qos) override {
    return std::make_shared<RealQueue>(*this, std::move(label), qos, DispatchQueue::Kind::serial);
  }
  RunLoop& mainRunLoop() override { return *loop_; }

  void becomeMainThread() { mainThread_.store(gettid()); }

  // Waits until the waiter's turn came; throws Abandoned once the process
  // exits before it does.
  void awaitTurn(const SyncWait& wait) {
    std::unique_lock<std::mutex> lock(syncMutex_);
    turn_.wait(lock, [&] { return wait.ready || exiting_; });
    if (!wait.ready) throw Abandoned();
  }

  void giveTurn(SyncWait& wait, std::exception_ptr error = nullptr) {
    {
      std::lock_guard<std::mutex> lock(syncMutex_);
      wait.ready = true;
      wait.error = std::move(error);
    }
    turn_.notify_all();
  }

  void shutdown() {
    {
      std::lock_guard<std::mutex> lock(syncMutex_);
      exiting_ = true;
    }
    turn_.notify_all();
    loop_->shutdown();
    descriptors.shutdown();
    timers.shutdown();
    pool.shutdown();
  }

  WorkerPool pool;
  TimerAgenda timers;
  DescriptorWatcher descriptors;

 private:
  std::shared_ptr<RealRunLoop> loop_;
  std::shared_ptr<RealQueue> main_;
  std::array<std::shared_ptr<RealQueue>, 5> globals_;
  std::atomic<pid_t> mainThread_{0};
  std::mutex syncMutex_;
  std::condition_variable turn_;
  bool exiting_ = false;
};

void RealQueue::enqueue(Block block) {
  switch (kind()) {
    case Kind::main:
      scheduler_.mainRunLoop().perform(std::move(block));
      return;
    case Kind::global:
      scheduler_.pool.post([self = self(), block = std::move(block)] {
        FrameScope frame(self.get(), false);
        block();
      });
      return;
    case Kind::serial: {
      std::lock_guard<std::mutex> lock(mutex_);
      entries_.push_back(Entry{std::move(block), nullptr});
      if (running_) return;
      running_ = true;
    }
      scheduler_.pool.post([self = self()] { self->drain(); });
      return;
  }
}

std::uint64_t RealQueue::submit(double due, Block block) {
  if (due <= steadySeconds()) {
    enqueue(std::move(block));
    return 0;
  }
  // Like the platform, a pending block keeps its queue alive.
  return scheduler_.timers.add(due, [self = self(), block = std::move(block)]() mutable {
    self->enqueue(std::move(block));
  });
}

void RealQueue::withdraw(std::uint64_t ticket) {
  if (ticket != 0) scheduler_.timers.remove(ticket);
}

std::uint64_t RealQueue::watch(int descriptor, Block ready) {
  return scheduler_.descriptors.watch(descriptor, self(), std::move(ready));
}

void RealQueue::rearm(std::uint64_t ticket) { scheduler_.descriptors.rearm(ticket); }

void RealQueue::unwatch(std::uint64_t ticket) { scheduler_.descriptors.unwatch(ticket); }

void RealQueue::drain() {
  for (;;) {
    Entry entry;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (entries_.empty()) {
        running_ = false;
        return;
      }
      entry = std::move(entries_.front());
      entries_.pop_front();
    }
    if (entry.waiter) {
      // The queue now belongs to the sync() caller, which ends its turn.
      scheduler_.giveTurn(*entry.waiter);
      return;
    }
    FrameScope frame(this, false);
    entry.block();
  }
}

void RealQueue::endTurn() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) {
      running_ = false;
      return;
    }
  }
  scheduler_.pool.post([self = self()] { self->drain(); });
}

void RealQueue::runSync(const Block& block) {
  const bool main = scheduler_.isMainThread();
  if (kind() == Kind::global) {
    FrameScope frame(this, main);
    block();
    return;
  }
  if (kind() == Kind::main) {
    auto wait = std::make_shared<SyncWait>();
    enqueue([this, wait, block] {
      std::exception_ptr error;
      try {
        block();
      } catch (...) {
        error = std::current_exception();
      }
      scheduler_.giveTurn(*wait, error);
    });
    scheduler_.awaitTurn(*wait);
    if (wait->error) std::rethrow_exception(wait->error);
    return;
  }
  // A serial queue: wait for the blocks queued before this one, then run the
  // block on the calling thread while holding the queue, as the platform does.
  std::shared_ptr<SyncWait> wait;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
      running_ = true;
    } else {
      wait = std::make_shared<SyncWait>();
      entries_.push_back(Entry{nullptr, wait});
    }
  }
  if (wait) scheduler_.awaitTurn(*wait);
  struct Turn {
    RealQueue& queue;
    ~Turn() { queue.endTurn(); }
  } turn{*this};
  FrameScope frame(this, main);
  block();
}

RunLoop::RunResult RealRunLoop::runLoop(double deadline) {
  const pid_t me = gettid();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ > 0 && runner_ != me) {
      throw std::logic_error("RunLoop: the main run loop is already running on another thread");
    }
    ++depth_;
    runner_ = me;
  }
  scheduler_.becomeMainThread();
  struct Leave {
    RealRunLoop& loop;
    ~Leave() {
      std::lock_guard<std::mutex> lock(loop.mutex_);
      --loop.depth_;
    }
  } leave{*this};

  for (;;) {
    std::vector<std::shared_ptr<NSTimer>> due;
    std::size_t blocks = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      for (;;) {
        if (stopRequested_ || exiting_) {
          stopRequested_ = false;
          return RunResult::stopped;
        }
        const double now = steadySeconds();
        double wake = deadline;
        for (const auto& timer : timers_) {
          if (!timerRunsIn(*timer, mode_)) continue;
          const double fireDate = timer->fireDate();
          if (fireDate <= now) {
            due.push_back(timer);
          } else {
            wake = std::min(wake, fireDate);
          }
        }
        blocks = fifo_.size();
        if (!due.empty() || blocks > 0) break;
        if (now >= deadline) return RunResult::timedOut;
        if (std::isinf(wake)) {
          wake_.wait(lock);
        } else {
          wake_.wait_until(lock, wakeTime(wake));
        }
      }
    }
    // One pass: the timers due at its start, earliest first, then the blocks
    // queued before it; what they queue waits for the next pass.
    std::stable_sort(due.begin(), due.end(),
                     [](const auto& a, const auto& b) { return a->fireDate() < b->fireDate(); });
    for (const auto& timer : due) {
      // An earlier timer's block may have switched the mode.
      if (timerRunsIn(*timer, currentMode())) fireTimer(*timer);
    }
    due.clear();
    for (std::size_t i = 0; i < blocks; ++i) {
      Block block;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fifo_.empty()) break;
        block = std::move(fifo_.front());
        fifo_.pop_front();
      }
      block();
    }
  }
}

RealScheduler& instance() {
  static RealScheduler* const scheduler = new RealScheduler();
  static const struct ExitGuard {
    ~ExitGuard() { scheduler->shutdown(); }
  } guard;
  return *scheduler;
}

}  // namespace

Scheduler& realScheduler() { return instance(); }

}  // namespace platform::detail
