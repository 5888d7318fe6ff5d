#include "platform/dispatch/scheduler.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "platform/dispatch/clock.hpp"

namespace platform {
namespace detail {
namespace {

std::atomic<Scheduler*> installed{nullptr};
thread_local std::vector<Frame> frames;

}  // namespace

Scheduler& currentScheduler() {
  Scheduler* scheduler = installed.load(std::memory_order_acquire);
  return scheduler ? *scheduler : realScheduler();
}

Scheduler* installScheduler(Scheduler* scheduler) {
  return installed.exchange(scheduler, std::memory_order_acq_rel);
}

FrameScope::FrameScope(const DispatchQueue* queue, bool mainThread) {
  frames.push_back(Frame{queue, mainThread});
}

FrameScope::~FrameScope() { frames.pop_back(); }

const Frame* innermostFrame() { return frames.empty() ? nullptr : &frames.back(); }

bool runningOn(const DispatchQueue* queue) {
  return std::any_of(frames.begin(), frames.end(),
                     [queue](const Frame& frame) { return frame.queue == queue; });
}

double gridTime(double base, double interval, std::int64_t k) {
  return k == 0 ? base : base + static_cast<double>(k) * interval;
}

std::int64_t nextGridIndex(double base, double interval, std::int64_t after, double now) {
  std::int64_t k = after + 1;
  if (gridTime(base, interval, k) > now) return k;
  const double behind = std::floor((now - base) / interval);
  // The bound keeps the conversion defined; the loop below covers the rest.
  if (behind > static_cast<double>(k) && behind < 1e18) k = static_cast<std::int64_t>(behind);
  while (gridTime(base, interval, k) <= now) ++k;
  return k;
}

}  // namespace detail

double systemUptime() { return detail::currentScheduler().uptime(); }
double wallClockTime() { return detail::currentScheduler().wallTime(); }
void sleepUntil(double deadline) { detail::currentScheduler().sleepUntil(deadline); }
DispatchTime DispatchTime::now() { return DispatchTime{systemUptime()}; }
bool isMainThread() { return detail::currentScheduler().isMainThread(); }

}  // namespace platform
