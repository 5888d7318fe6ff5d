#include "platform/dispatch/simulated_scheduler.hpp"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

class SimulatedScheduler::Queue final : public DispatchQueue {
 public:
  Queue(std::weak_ptr<SimulatedScheduler> scheduler, std::string label, QoS qos, Kind kind)
      : DispatchQueue(std::move(label), qos, kind), scheduler_(std::move(scheduler)) {}

 private:
  std::uint64_t submit(double due, Block block) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) return 0;
    return scheduler->insert(due, shared_from_this(), std::move(block), nullptr);
  }

  void withdraw(std::uint64_t ticket) override {
    if (auto scheduler = scheduler_.lock()) scheduler->remove(ticket);
  }

  std::uint64_t watch(int descriptor, Block ready) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) return 0;
    return scheduler->watch(descriptor, shared_from_this(), std::move(ready));
  }

  void rearm(std::uint64_t ticket) override {
    if (auto scheduler = scheduler_.lock()) scheduler->rearm(ticket);
  }

  void unwatch(std::uint64_t ticket) override {
    if (auto scheduler = scheduler_.lock()) scheduler->unwatch(ticket);
  }

  void runSync(const Block& block) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) {
      throw std::logic_error("DispatchQueue::sync: the simulated scheduler of '" + label() + "' has ended");
    }
    // On a serial queue the blocks queued before this one run first.
    if (kind() != Kind::global) scheduler->drain(*this);
    detail::FrameScope frame(this, kind() == Kind::main || scheduler->isMainThread());
    block();
  }

  std::weak_ptr<SimulatedScheduler> scheduler_;
};

class SimulatedScheduler::Loop final : public RunLoop {
 public:
  explicit Loop(std::weak_ptr<SimulatedScheduler> scheduler) : scheduler_(std::move(scheduler)) {}

  void stop() override { stopRequested_ = true; }
  RunLoopMode currentMode() const override { return mode_; }

  bool runs(const NSTimer& timer) const { return timerRunsIn(timer, mode_); }
  void fire(NSTimer& timer) { fireTimer(timer); }

 private:
  void scheduleTimer(const std::shared_ptr<NSTimer>& timer) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) return;
    std::uint64_t previous = 0;
    {
      std::lock_guard<std::mutex> lock(scheduler->mutex_);
      auto found = scheduler->timerTickets_.find(timer.get());
      if (found != scheduler->timerTickets_.end()) previous = found->second;
    }
    scheduler->remove(previous);
    const std::uint64_t ticket = scheduler->insert(timer->fireDate(), scheduler->main_, nullptr, timer);
    std::lock_guard<std::mutex> lock(scheduler->mutex_);
    scheduler->timerTickets_[timer.get()] = ticket;
  }

  void unscheduleTimer(const NSTimer& timer) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) return;
    std::uint64_t ticket = 0;
    {
      std::lock_guard<std::mutex> lock(scheduler->mutex_);
      auto found = scheduler->timerTickets_.find(&timer);
      if (found == scheduler->timerTickets_.end()) return;
      ticket = found->second;
      scheduler->timerTickets_.erase(found);
    }
    scheduler->remove(ticket);
  }

  void enqueue(Block block) override {
    if (auto scheduler = scheduler_.lock()) {
      scheduler->insert(-std::numeric_limits<double>::infinity(), scheduler->main_, std::move(block), nullptr);
    }
  }

  RunResult runLoop(double deadline) override {
    auto scheduler = scheduler_.lock();
    if (!scheduler) return RunResult::stopped;
    for (;;) {
      if (stopRequested_.exchange(false)) return RunResult::stopped;
      if (!scheduler->runNext(deadline, nullptr)) break;
    }
    // With nothing left to run, a loop without deadline ends instead of
    // waiting forever.
    if (std::isfinite(deadline)) {
      std::lock_guard<std::mutex> lock(scheduler->mutex_);
      scheduler->now_ = std::max(scheduler->now_, deadline);
    }
    return RunResult::timedOut;
  }

  void switchMode(RunLoopMode mode) override { mode_ = mode; }

  std::weak_ptr<SimulatedScheduler> scheduler_;
  std::atomic<RunLoopMode> mode_{RunLoopMode::default_};
  std::atomic<bool> stopRequested_{false};
};

std::shared_ptr<SimulatedScheduler> SimulatedScheduler::make(Options options) {
  if (!std::isfinite(options.startUptime) || !std::isfinite(options.startWallTime)) {
    throw std::invalid_argument("SimulatedScheduler: start times must be finite");
  }
  std::shared_ptr<SimulatedScheduler> scheduler(new SimulatedScheduler(std::move(options)));
  scheduler->setUp();
  return scheduler;
}

SimulatedScheduler::SimulatedScheduler(Options options)
    : options_(std::move(options)), owner_(std::this_thread::get_id()), now_(options_.startUptime) {}

SimulatedScheduler::~SimulatedScheduler() = default;

void SimulatedScheduler::setUp() {
  main_ = std::make_shared<Queue>(weak_from_this(), "main", QoS::userInteractive, DispatchQueue::Kind::main);
  const char* labels[] = {"global.user-interactive", "global.user-initiated", "global.default",
                          "global.utility", "global.background"};
  for (int i = 0; i < 5; ++i) {
    globals_[i] = std::make_shared<Queue>(weak_from_this(), labels[i], static_cast<QoS>(i),
                                          DispatchQueue::Kind::global);
  }
  loop_ = std::make_shared<Loop>(weak_from_this());
}

double SimulatedScheduler::now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

double SimulatedScheduler::wallTime() const {
  return options_.startWallTime + (now() - options_.startUptime);
}

void SimulatedScheduler::sleepUntil(double uptime) {
  if (!std::isfinite(uptime)) {
    throw std::invalid_argument("SimulatedScheduler::sleepUntil: a deadline that is not finite never passes");
  }
  double slept;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slept = now_ = std::max(now_, uptime);
  }
  if (options_.afterSleep) options_.afterSleep(slept);
}

bool SimulatedScheduler::isMainThread() const {
  if (std::this_thread::get_id() != owner_) return false;
  const detail::Frame* frame = detail::innermostFrame();
  return frame == nullptr || frame->mainThread;
}

std::shared_ptr<DispatchQueue> SimulatedScheduler::mainQueue() { return main_; }

std::shared_ptr<DispatchQueue> SimulatedScheduler::globalQueue(QoS qos) {
  return globals_[static_cast<int>(qos)];
}

std::shared_ptr<DispatchQueue> SimulatedScheduler::makeQueue(std::string label, QoS qos) {
  return std::make_shared<Queue>(weak_from_this(), std::move(label), qos, DispatchQueue::Kind::serial);
}

RunLoop& SimulatedScheduler::mainRunLoop() { return *loop_; }

void SimulatedScheduler::advance(double seconds) {
  if (!(seconds >= 0.0) || !std::isfinite(seconds)) {
    throw std::invalid_argument("SimulatedScheduler::advance: seconds must be finite and not negative");
  }
  const double target = now() + seconds;
  while (runNext(target, nullptr)) {
  }
  std::lock_guard<std::mutex> lock(mutex_);
  now_ = std::max(now_, target);
}

void SimulatedScheduler::runUntilIdle() {
  while (runNext(now(), nullptr)) {
  }
}

void SimulatedScheduler::drain(const DispatchQueue& queue) {
  while (runNext(now(), &queue)) {
  }
}

void SimulatedScheduler::drainMain() { drain(*main_); }

std::size_t SimulatedScheduler::pendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return agenda_.size();
}

std::uint64_t SimulatedScheduler::insert(double due, std::shared_ptr<DispatchQueue> queue, Block block,
                                         std::shared_ptr<NSTimer> timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A deadline already past queues behind what is queued now, as on the
  // platform, instead of jumping ahead of it.
  due = std::max(due, now_);
  const std::uint64_t ticket = nextTicket_++;
  agenda_.emplace(Key{due, ticket}, Item{std::move(queue), std::move(block), std::move(timer)});
  dueOf_.emplace(ticket, due);
  return ticket;
}

void SimulatedScheduler::remove(std::uint64_t ticket) {
  Item released;
  std::lock_guard<std::mutex> lock(mutex_);
  auto due = dueOf_.find(ticket);
  if (due == dueOf_.end()) return;
  auto entry = agenda_.find(Key{due->second, ticket});
  released = std::move(entry->second);
  agenda_.erase(entry);
  dueOf_.erase(due);
}

std::uint64_t SimulatedScheduler::watch(int descriptor, std::shared_ptr<DispatchQueue> queue, Block ready) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t ticket = nextTicket_++;
  watches_.emplace(ticket, Watch{descriptor, std::move(queue), std::move(ready)});
  return ticket;
}

void SimulatedScheduler::rearm(std::uint64_t ticket) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = watches_.find(ticket);
  if (found != watches_.end() && !found->second.closed) found->second.armed = true;
}

void SimulatedScheduler::unwatch(std::uint64_t ticket) {
  Watch released{};
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = watches_.find(ticket);
  if (found == watches_.end()) return;
  released = std::move(found->second);
  watches_.erase(found);
}

void SimulatedScheduler::collectReadyDescriptors() {
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> ready;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [ticket, watch] : watches_) {
      if (!watch.armed) continue;
      pollfd polled{watch.descriptor, POLLIN, 0};
      if (::poll(&polled, 1, 0) <= 0 || polled.revents == 0) continue;
      watch.armed = false;
      watch.closed = (polled.revents & POLLNVAL) != 0;
      ready.emplace_back(watch.queue, watch.ready);
    }
  }
  for (auto& [queue, block] : ready) insert(now(), std::move(queue), std::move(block), nullptr);
}

bool SimulatedScheduler::runNext(double limit, const DispatchQueue* only) {
  collectReadyDescriptors();
  Item item;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto entry = agenda_.begin();
    for (; entry != agenda_.end() && entry->first.first <= limit; ++entry) {
      const Item& candidate = entry->second;
      if (only != nullptr && candidate.queue.get() != only) continue;
      // A run-loop timer waits while the loop runs in a mode it is not in.
      if (candidate.timer && !loop_->runs(*candidate.timer)) continue;
      break;
    }
    if (entry == agenda_.end() || entry->first.first > limit) return false;
    now_ = std::max(now_, entry->first.first);
    if (entry->second.queue->kind() == DispatchQueue::Kind::main && now_ != lastMainWake_) {
      ++mainWakeUps_;
      lastMainWake_ = now_;
    }
    item = std::move(entry->second);
    dueOf_.erase(entry->first.second);
    if (item.timer) timerTickets_.erase(item.timer.get());
    agenda_.erase(entry);
  }
  const bool onMain = item.queue->kind() == DispatchQueue::Kind::main;
  detail::FrameScope frame(item.queue.get(), onMain);
  const auto started = std::chrono::steady_clock::now();
  if (item.timer) {
    loop_->fire(*item.timer);
  } else {
    item.block();
  }
  if (onMain) {
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - started;
    std::lock_guard<std::mutex> lock(mutex_);
    mainBusySeconds_ += spent.count();
  }
  return true;
}

std::uint64_t SimulatedScheduler::mainWakeUps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mainWakeUps_;
}

double SimulatedScheduler::mainQueueBusySeconds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mainBusySeconds_;
}

void SimulatedScheduler::discardPending() {
  for (;;) {
    std::map<Key, Item> dropped;
    std::map<std::uint64_t, Watch> unwatched;
    std::lock_guard<std::mutex> lock(mutex_);
    if (agenda_.empty() && watches_.empty()) return;
    dropped.swap(agenda_);
    unwatched.swap(watches_);
    dueOf_.clear();
    timerTickets_.clear();
  }
}

SimulatedSchedulerScope::SimulatedSchedulerScope(SimulatedScheduler::Options options)
    : scheduler_(SimulatedScheduler::make(std::move(options))), previous_(detail::installScheduler(scheduler_.get())) {}

SimulatedSchedulerScope::~SimulatedSchedulerScope() {
  // Dropped while still installed, so whatever the dropped blocks' owners
  // queue as they go lands here and is dropped too.
  scheduler_->discardPending();
  detail::installScheduler(previous_);
}

}  // namespace platform
