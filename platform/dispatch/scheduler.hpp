#pragma once

// The seam between the public dispatch objects and the two ways of running
// them: real threads in production, a virtual clock in tests.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace platform::detail {

class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual double uptime() const = 0;
  virtual double wallTime() const = 0;
  virtual void sleepUntil(double uptime) = 0;
  virtual bool isMainThread() const = 0;
  virtual std::shared_ptr<DispatchQueue> mainQueue() = 0;
  virtual std::shared_ptr<DispatchQueue> globalQueue(QoS qos) = 0;
  virtual std::shared_ptr<DispatchQueue> makeQueue(std::string label, QoS qos) = 0;
  virtual RunLoop& mainRunLoop() = 0;
};

// The simulated scheduler a scope installed, else the real one.
Scheduler& currentScheduler();
// Installs `scheduler` (null: the real one) and returns the one it replaces.
Scheduler* installScheduler(Scheduler* scheduler);
Scheduler& realScheduler();

// What the calling thread is running, innermost last: the queue whose block
// it is, and whether that work counts as main-thread work.
struct Frame {
  const DispatchQueue* queue;
  bool mainThread;
};
class FrameScope {
 public:
  FrameScope(const DispatchQueue* queue, bool mainThread);
  ~FrameScope();
  FrameScope(const FrameScope&) = delete;
  FrameScope& operator=(const FrameScope&) = delete;
};
const Frame* innermostFrame();
bool runningOn(const DispatchQueue* queue);

// Timers fire at base + k × interval; k = 0 is the base itself, so a one-shot
// timer (infinite interval) has no time for k ≥ 1.
double gridTime(double base, double interval, std::int64_t k);
// The first k after `after` whose time lies beyond `now`: the firings a busy
// timer missed collapse into the one it fires now.
std::int64_t nextGridIndex(double base, double interval, std::int64_t after, double now);

}  // namespace platform::detail
