#pragma once

// CADisplayLink as a screen hands it out (`[screen displayLinkWithTarget:
// selector:]`): a per-screen frame callback that runs on the main run loop.
//
// Contract:
// - A link does nothing until it is added to a run loop (addToRunLoop), in
//   the default or the common modes; adding it in a further mode widens its
//   modes. The run loop keeps an added link alive until it is invalidated,
//   whoever else lets go of it, as on the platform.
// - The link holds its target weakly: a frame that finds the target gone
//   invalidates the link instead of calling it, so a link can never keep
//   its target alive (no retain cycle through the run loop).
// - There is no vertical blank here. Frames come from fireAll(timestamp):
//   every live link (valid, added to the current main run loop in a mode
//   the loop runs in now, not paused, its screen still connected) is called
//   once, in creation order, with `timestamp` as the frame time. Tests call
//   it at the times they choose; a real run drives it with
//   scheduleRefresh(). A callback may invalidate or pause its own link or
//   any other, and may make new links; links made during a pass first fire
//   in the next one.
// - The refresh wakes the main run loop only while some link would fire
//   (valid, added, not paused, its screen connected): links that rest cost
//   nothing, as a display with no link wants no frame.
// Main thread only, as on the platform.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/appkit/screen.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {

class DisplayRefresh;

class CADisplayLink : public std::enable_shared_from_this<CADisplayLink> {
 public:
  // Calls the target with the link; answers false when the target is gone.
  using Fire = std::function<bool(CADisplayLink&)>;

  // The link of `displayLinkWithTarget` below; a null screen or an empty
  // callback is std::invalid_argument.
  static std::shared_ptr<CADisplayLink> make(const std::shared_ptr<NSScreen>& screen, Fire fire);
  ~CADisplayLink();
  CADisplayLink(const CADisplayLink&) = delete;
  CADisplayLink& operator=(const CADisplayLink&) = delete;

  // Modes: default_ or common (eventTracking alone is accepted as well).
  // Adding an invalidated link does nothing; a link belongs to one run loop
  // (a second one is std::logic_error).
  void addToRunLoop(RunLoop& loop, RunLoopMode mode);
  // Stops the link for good and releases its target and the run loop's hold.
  void invalidate();
  bool isValid() const { return valid_; }
  bool isPaused() const { return paused_; }
  void setPaused(bool paused);
  // Whether a run loop holds the link (added and still valid).
  bool isScheduled() const;

  // The screen the link follows; null once it is gone.
  std::shared_ptr<NSScreen> screen() const { return screen_.lock(); }
  // The frame time of the last call (0 before the first) and the time the
  // next frame is expected at.
  double timestamp() const { return timestamp_; }
  double targetTimestamp() const { return timestamp_ + duration(); }
  // One refresh interval of the screen: 1 / its maximum frames per second
  // (1/60 s once the screen is gone or reports no rate).
  double duration() const;
  // Frames delivered so far.
  long frameCount() const { return frames_; }

  // One frame to every live link (see the contract); answers how many were
  // called. Also used by the simulated desktop.
  static size_t fireAll(double timestamp);
  // Links a run loop holds now (valid and added), whatever their state.
  static size_t scheduledCount();
  // The refresh of a real run (see DisplayRefresh); it replaces, and
  // stops, any refresh made before. A non-positive or non-finite interval
  // throws std::invalid_argument.
  static std::shared_ptr<DisplayRefresh> scheduleRefresh(double interval);

 private:
  friend class DisplayRefresh;
  CADisplayLink(const std::shared_ptr<NSScreen>& screen, Fire fire);
  bool firesIn(const RunLoop& loop, RunLoopMode mode) const;
  // Valid, added, not paused and on a connected screen, in whatever mode.
  bool wouldFire() const;
  // A link changed in a way that may start or stop the refresh.
  static void linksChanged();
  void fire(double timestamp);

  std::weak_ptr<NSScreen> screen_;
  Fire fire_;
  std::weak_ptr<RunLoop> loop_;
  bool inDefault_ = false;   // added in the default or the common modes
  bool inTracking_ = false;  // added in the eventTracking or the common modes
  bool valid_ = true;
  bool paused_ = false;
  double timestamp_ = 0;
  long frames_ = 0;
};

// What stands in for the screens' vertical blank in a real run: every
// `interval` seconds, on the grid of its start, a repeating timer on the
// main run loop in the common modes fires every live link at the current
// uptime. The timer exists only while some link would fire: pausing,
// resuming, adding or invalidating a link and a change of the screens
// start or stop it, and a timer started again keeps the grid's phase and
// never repeats a frame time already given. Main thread only.
class DisplayRefresh : public std::enable_shared_from_this<DisplayRefresh> {
 public:
  DisplayRefresh(const DisplayRefresh&) = delete;
  DisplayRefresh& operator=(const DisplayRefresh&) = delete;
  ~DisplayRefresh();

  // Stops for good; links no longer get frames from it.
  void invalidate();
  bool isValid() const { return valid_; }
  // Whether its timer is on the main run loop now.
  bool isTicking() const { return timer_ != nullptr; }
  double interval() const { return interval_; }

 private:
  friend class CADisplayLink;
  DisplayRefresh(double interval, double firstFrame);
  // Starts or stops the timer to match the links.
  void reconsider();
  void frame(NSTimer& timer);

  const double interval_;
  const double firstFrame_;  // frame k is due at firstFrame_ + k × interval_
  std::int64_t nextIndex_ = 0;  // the first frame not yet given
  bool valid_ = true;
  std::shared_ptr<NSTimer> timer_;
  NotificationToken screenObserver_;
};

// `[screen displayLinkWithTarget:target selector:selector]`: the selector
// receives the link, as `tick:` does. The target is held weakly.
template <class T>
std::shared_ptr<CADisplayLink> displayLinkWithTarget(const std::shared_ptr<NSScreen>& screen,
                                                     const std::shared_ptr<T>& target,
                                                     void (T::*selector)(CADisplayLink&)) {
  std::weak_ptr<T> weak = target;
  return CADisplayLink::make(screen, [weak, selector](CADisplayLink& link) {
    auto strong = weak.lock();
    if (!strong) return false;
    ((*strong).*selector)(link);
    return true;
  });
}

// The same for a selector that takes no argument.
template <class T>
std::shared_ptr<CADisplayLink> displayLinkWithTarget(const std::shared_ptr<NSScreen>& screen,
                                                     const std::shared_ptr<T>& target, void (T::*selector)()) {
  std::weak_ptr<T> weak = target;
  return CADisplayLink::make(screen, [weak, selector](CADisplayLink&) {
    auto strong = weak.lock();
    if (!strong) return false;
    ((*strong).*selector)();
    return true;
  });
}

}  // namespace platform
