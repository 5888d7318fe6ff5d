#include "platform/appkit/display_link.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/dispatch/clock.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

// What the run loops hold: every added, valid link, in creation order.
struct Scheduled {
  std::mutex mutex;
  std::vector<std::shared_ptr<CADisplayLink>> links;
};

Scheduled& scheduled() {
  static Scheduled* made = [] {
    auto* state = new Scheduled();
    addResetHook(state, [state] {
      std::vector<std::shared_ptr<CADisplayLink>> dropped;
      {
        std::lock_guard<std::mutex> guard(state->mutex);
        dropped.swap(state->links);
      }
      for (auto& link : dropped) link->invalidate();
    });
    return state;
  }();
  return *made;
}

void unschedule(const CADisplayLink* link) {
  std::shared_ptr<CADisplayLink> keep;  // destroyed outside the lock
  auto& state = scheduled();
  std::lock_guard<std::mutex> guard(state.mutex);
  auto it = std::find_if(state.links.begin(), state.links.end(),
                         [link](const std::shared_ptr<CADisplayLink>& held) { return held.get() == link; });
  if (it == state.links.end()) return;
  keep = std::move(*it);
  state.links.erase(it);
}

bool connected(const std::shared_ptr<NSScreen>& screen) {
  if (!screen) return false;
  const auto screens = NSScreen::screens();
  return std::find(screens.begin(), screens.end(), screen) != screens.end();
}

}  // namespace

std::shared_ptr<CADisplayLink> CADisplayLink::make(const std::shared_ptr<NSScreen>& screen, Fire fire) {
  if (!screen) throw std::invalid_argument("CADisplayLink: no screen");
  if (!fire) throw std::invalid_argument("CADisplayLink: no target");
  return std::shared_ptr<CADisplayLink>(new CADisplayLink(screen, std::move(fire)));
}

CADisplayLink::CADisplayLink(const std::shared_ptr<NSScreen>& screen, Fire fire)
    : screen_(screen), fire_(std::move(fire)) {}

CADisplayLink::~CADisplayLink() = default;

void CADisplayLink::addToRunLoop(RunLoop& loop, RunLoopMode mode) {
  if (!valid_) return;
  auto owner = loop_.lock();
  if (owner && owner.get() != &loop) throw std::logic_error("CADisplayLink: the link belongs to another run loop");
  loop_ = loop.weak_from_this();
  inDefault_ = inDefault_ || mode != RunLoopMode::eventTracking;
  inTracking_ = inTracking_ || mode != RunLoopMode::default_;
  auto& state = scheduled();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (std::find(state.links.begin(), state.links.end(), shared_from_this()) == state.links.end()) {
    state.links.push_back(shared_from_this());
  }
}

void CADisplayLink::invalidate() {
  if (!valid_) return;
  const auto self = shared_from_this();  // the run loop's hold may be the last one
  valid_ = false;
  // A running callback holds its own copy (fire), so this cannot pull the
  // target's code out from under it.
  fire_ = nullptr;
  inDefault_ = inTracking_ = false;
  unschedule(this);
}

bool CADisplayLink::isScheduled() const { return valid_ && (inDefault_ || inTracking_) && !loop_.expired(); }

double CADisplayLink::duration() const {
  auto current = screen();
  const long rate = current ? current->maximumFramesPerSecond() : 0;
  return rate > 0 ? 1.0 / static_cast<double>(rate) : 1.0 / 60.0;
}

bool CADisplayLink::firesIn(const RunLoop& loop, RunLoopMode mode) const {
  if (!valid_ || paused_) return false;
  auto owner = loop_.lock();
  if (!owner || owner.get() != &loop) return false;
  // The loop itself runs in default or eventTracking, never in common.
  if (!(mode == RunLoopMode::eventTracking ? inTracking_ : inDefault_)) return false;
  return connected(screen());
}

void CADisplayLink::fire(double timestamp) {
  timestamp_ = timestamp;
  ++frames_;
  auto call = fire_;  // the callback may invalidate the link under us
  if (call && !call(*this)) invalidate();
}

size_t CADisplayLink::fireAll(double timestamp) {
  std::vector<std::shared_ptr<CADisplayLink>> links;
  {
    auto& state = scheduled();
    std::lock_guard<std::mutex> guard(state.mutex);
    links = state.links;
  }
  RunLoop& loop = RunLoop::main();
  size_t fired = 0;
  for (auto& link : links) {
    // Checked one by one: an earlier callback may pause or end a later link.
    if (!link->firesIn(loop, loop.currentMode())) continue;
    link->fire(timestamp);
    ++fired;
  }
  return fired;
}

size_t CADisplayLink::scheduledCount() {
  auto& state = scheduled();
  std::lock_guard<std::mutex> guard(state.mutex);
  return static_cast<size_t>(std::count_if(state.links.begin(), state.links.end(),
                                           [](const std::shared_ptr<CADisplayLink>& link) { return link->isScheduled(); }));
}

std::shared_ptr<NSTimer> CADisplayLink::scheduleRefresh(double interval) {
  if (!std::isfinite(interval) || interval <= 0) throw std::invalid_argument("CADisplayLink: refresh interval");
  auto timer = NSTimer::make(interval, true, [](NSTimer&) { fireAll(systemUptime()); });
  RunLoop::main().add(timer, RunLoopMode::common);
  return timer;
}

}  // namespace platform
