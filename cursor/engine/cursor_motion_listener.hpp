#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/events/event_tap.hpp"

namespace vurle {

// One session event tap on the main run loop that hands every event of the
// listed types to `onEvent` and always passes the event on unchanged. The
// system disables a tap that keeps it waiting; the listener re-enables it
// while it is observing.
class CursorMotionListener : public std::enable_shared_from_this<CursorMotionListener> {
 public:
  using Handler = std::function<void(platform::CGEventType, const platform::CGEventRef&)>;

  // The tap holds the listener unretained, so it lives in a shared_ptr and
  // its destructor stops the tap first.
  static std::shared_ptr<CursorMotionListener> make();
  ~CursorMotionListener();
  CursorMotionListener(const CursorMotionListener&) = delete;
  CursorMotionListener& operator=(const CursorMotionListener&) = delete;

  // True when a tap is running afterwards. An active tap is inserted at the
  // head and sees each event before its target; a passive one listens at
  // the tail. Types of 64 or more add nothing to the mask.
  bool start(const std::vector<platform::CGEventType>& types, bool active);
  // Safe on a listener that never started; it can start again afterwards.
  void stop();

  bool observing() const { return observing_; }
  // Stores a changed value and applies it to a running tap at once; a tap
  // started later applies it then.
  void setObserving(bool observing);
  void setOnEvent(Handler handler) { onEvent_ = std::move(handler); }
  const platform::CFMachPortRef& tap() const { return tap_; }

  static platform::CGEventRef tapCallback(platform::CGEventTapProxy proxy, platform::CGEventType type,
                                          platform::CGEventRef event, void* userInfo);

 private:
  CursorMotionListener() = default;

  platform::CFMachPortRef tap_;
  platform::CFRunLoopSourceRef source_;
  bool observing_ = true;
  Handler onEvent_;
};

}  // namespace vurle
