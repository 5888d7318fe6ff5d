#include "platform/appkit/display_link.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

// What the run loops hold: every added, valid link, in creation order; and
// the refresh that gives them frames, if there is one.
struct Scheduled {
  std::mutex mutex;
  std::vector<std::shared_ptr<CADisplayLink>> links;
  std::weak_ptr<DisplayRefresh> refresh;
};

Scheduled& scheduled() {
  static Scheduled* made = [] {
    auto* state = new Scheduled();
    addResetHook(state, [state] {
      std::vector<std::shared_ptr<CADisplayLink>> dropped;
      std::shared_ptr<DisplayRefresh> refresh;
      {
        std::lock_guard<std::mutex> guard(state->mutex);
        dropped.swap(state->links);
        refresh = state->refresh.lock();
        state->refresh.reset();
      }
      if (refresh) refresh->invalidate();
      for (auto& link : dropped) link->invalidate();
    });
    return state;
  }();
  return *made;
}

std::shared_ptr<DisplayRefresh> currentRefresh() {
  auto& state = scheduled();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.refresh.lock();
}


}  // namespace

void CADisplayLink::linksChanged() {
  if (auto refresh = currentRefresh()) refresh->reconsider();
}

namespace {

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
  {
    auto& state = scheduled();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (std::find(state.links.begin(), state.links.end(), shared_from_this()) == state.links.end()) {
      state.links.push_back(shared_from_this());
    }
  }
  linksChanged();
}

void CADisplayLink::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  linksChanged();
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
  linksChanged();
}

bool CADisplayLink::isScheduled() const { return valid_ && (inDefault_ || inTracking_) && !loop_.expired(); }

double CADisplayLink::duration() const {
  auto current = screen();
  const long rate = current ? current->maximumFramesPerSecond() : 0;
  return rate > 0 ? 1.0 / static_cast<double>(rate) : 1.0 / 60.0;
}

bool CADisplayLink::wouldFire() const {
  return valid_ && !paused_ && (inDefault_ || inTracking_) && !loop_.expired() && connected(screen());
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

std::shared_ptr<DisplayRefresh> CADisplayLink::scheduleRefresh(double interval) {
  if (!std::isfinite(interval) || interval <= 0) throw std::invalid_argument("CADisplayLink: refresh interval");
  std::shared_ptr<DisplayRefresh> refresh(new DisplayRefresh(interval, systemUptime() + interval));
  std::shared_ptr<DisplayRefresh> replaced;
  {
    auto& state = scheduled();
    std::lock_guard<std::mutex> guard(state.mutex);
    replaced = state.refresh.lock();
    state.refresh = refresh;
  }
  if (replaced) replaced->invalidate();
  // A screen that comes back brings its links' frames back with it.
  refresh->screenObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationDidChangeScreenParametersNotification, nullptr, nullptr,
      [weak = std::weak_ptr<DisplayRefresh>(refresh)](const NSNotification&) {
        if (auto live = weak.lock()) live->reconsider();
      });
  refresh->reconsider();
  return refresh;
}

DisplayRefresh::DisplayRefresh(double interval, double firstFrame) : interval_(interval), firstFrame_(firstFrame) {}

DisplayRefresh::~DisplayRefresh() {
  if (timer_) timer_->invalidate();
}

void DisplayRefresh::invalidate() {
  if (!valid_) return;
  valid_ = false;
  if (timer_) timer_->invalidate();
  timer_.reset();
  screenObserver_.reset();
  auto& state = scheduled();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.refresh.lock().get() == this) state.refresh.reset();
}

void DisplayRefresh::reconsider() {
  bool wanted = false;
  if (valid_) {
    std::vector<std::shared_ptr<CADisplayLink>> links;
    {
      auto& state = scheduled();
      std::lock_guard<std::mutex> guard(state.mutex);
      links = state.links;
    }
    wanted = std::any_of(links.begin(), links.end(),
                         [](const std::shared_ptr<CADisplayLink>& link) { return link->wouldFire(); });
  }
  if (wanted == (timer_ != nullptr)) return;
  if (!wanted) {
    timer_->invalidate();
    timer_.reset();
    return;
  }
  // The first frame at or after now that was not given yet, so a link
  // resumed on a frame's own time still gets that frame.
  const double now = systemUptime();
  std::int64_t k = nextIndex_;
  if (now > firstFrame_) {
    const double behind = std::ceil((now - firstFrame_) / interval_);
    if (behind > static_cast<double>(k) && behind < 1e18) k = static_cast<std::int64_t>(behind);
  }
  while (k > nextIndex_ && firstFrame_ + static_cast<double>(k - 1) * interval_ >= now) --k;
  while (firstFrame_ + static_cast<double>(k) * interval_ < now) ++k;
  timer_ = NSTimer::makeOnGrid(firstFrame_, interval_, k, [weak = weak_from_this()](NSTimer& timer) {
    if (auto refresh = weak.lock()) refresh->frame(timer);
  });
  RunLoop::main().add(timer_, RunLoopMode::common);
}

void DisplayRefresh::frame(NSTimer& timer) {
  nextIndex_ = std::llround((timer.fireDate() - firstFrame_) / interval_) + 1;
  CADisplayLink::fireAll(systemUptime());
  // A screen may have gone without a word; the next frame is then not wanted.
  reconsider();
}

}  // namespace platform
