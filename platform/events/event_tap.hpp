#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/events/event.hpp"
#include "platform/events/run_loop_source.hpp"

namespace platform {

enum CGEventTapPlacement : uint32_t {
  kCGHeadInsertEventTap = 0,
  kCGTailAppendEventTap = 1,
};

enum CGEventTapOptions : uint32_t {
  kCGEventTapOptionDefault = 0,  // active: may change or drop events
  kCGEventTapOptionListenOnly = 1,
};

// Identifies the tap a callback runs for.
using CGEventTapProxy = const void*;
// Returns the event to pass on (an active tap may return another event, or
// null to drop it); a listen-only tap's answer is ignored.
using CGEventTapCallBack = CGEventRef (*)(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                          void* userInfo);

// An event tap's Mach port. The user info is held as given, never retained.
class CFMachPort {
 public:
  CFMachPort(const CFMachPort&) = delete;
  CFMachPort& operator=(const CFMachPort&) = delete;

  CGEventTapLocation location() const { return location_; }
  CGEventTapPlacement placement() const { return placement_; }
  CGEventTapOptions options() const { return options_; }
  CGEventMask mask() const { return mask_; }
  void* userInfo() const { return userInfo_; }

 private:
  friend class EventSystem;
  CFMachPort(CGEventTapLocation location, CGEventTapPlacement placement, CGEventTapOptions options,
             CGEventMask mask, CGEventTapCallBack callback, void* userInfo)
      : location_(location), placement_(placement), options_(options), mask_(mask), callback_(callback),
        userInfo_(userInfo) {}

  const CGEventTapLocation location_;
  const CGEventTapPlacement placement_;
  const CGEventTapOptions options_;
  const CGEventMask mask_;
  const CGEventTapCallBack callback_;
  void* const userInfo_;
  // Guarded by the event system's lock.
  bool enabled_ = true;
  bool valid_ = true;
  std::weak_ptr<CFRunLoopSource> source_;
};
using CFMachPortRef = std::shared_ptr<CFMachPort>;

// A new tap, enabled, that sees the types in the mask once its run-loop
// source is on the main run loop. Null when the session refuses it (no
// input permission for that kind of tap), or without a callback.
CFMachPortRef CGEventTapCreate(CGEventTapLocation location, CGEventTapPlacement placement,
                               CGEventTapOptions options, CGEventMask mask, CGEventTapCallBack callback,
                               void* userInfo);
// Enabling or disabling an invalidated tap does nothing.
void CGEventTapEnable(const CFMachPortRef& tap, bool enable);
bool CGEventTapIsEnabled(const CFMachPortRef& tap);
// The tap sees no event from now on; its run-loop source is invalidated too.
void CFMachPortInvalidate(const CFMachPortRef& port);
bool CFMachPortIsValid(const CFMachPortRef& port);
// The source that runs the tap on a run loop; it retains the port. Null
// when the system cannot make one, or for an invalid port.
CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, const CFMachPortRef& port,
                                                 CFIndex order);

// The simulated session's input: the state the event-source functions read,
// the taps, and what the simulated desktop (and tests) do to them. Posted
// events run, on the main run loop, through every valid, enabled tap whose
// mask holds their type and whose source is on the main run loop, in chain
// order (a head-inserted tap before the taps already there, a tail-appended
// one after), then reach their target (deliveredEvents), unless a hot key
// takes a key-down first (setHotKeyRoute).
class EventSystem {
 public:
  // What CGEventSourceSecondsSinceLastEventType answers for a type that
  // never came.
  static constexpr double kSecondsWithoutEvent = 1.0e9;

  static EventSystem& shared();
  // No taps, no input so far, every permission granted. Also run by
  // resetProcessState().
  void reset();

  // Whether the session grants taps of each kind; a refused tap is not
  // created.
  void setListenOnlyTapsPermitted(bool permitted);
  void setActiveTapsPermitted(bool permitted);
  // While set, CFMachPortCreateRunLoopSource fails.
  void setRunLoopSourceCreationFails(bool fails);

  void post(const CGEventRef& event);
  // The system disables the tap (reason kCGEventTapDisabledByTimeout or
  // kCGEventTapDisabledByUserInput) and tells it with that pseudo-event on
  // the main run loop; the pseudo-event ignores the mask.
  void disableTap(const CFMachPortRef& tap, CGEventType reason);

  // Valid taps, in chain order.
  std::vector<CFMachPortRef> taps() const;
  int tapsCreated() const;
  // Events that got past every tap, in order, as their target saw them.
  std::vector<CGEventRef> deliveredEvents() const;
  // Called on the main run loop with each event that got past the taps,
  // where its target application receives it (AppKit's event monitors
  // listen here). One observer; reset() removes it.
  void setDeliveryObserver(std::function<void(const CGEventRef&)> observer);
  // Called on the main run loop with each key-down that got past the taps,
  // before any application sees it; answering true means a hot key took it
  // and no application receives it (the hot-key system listens here). One
  // route; reset() removes it.
  void setHotKeyRoute(std::function<bool(const CGEventRef&)> route);

  CGEventFlags flags() const;
  bool buttonDown(CGMouseButton button) const;
  double secondsSinceLastEvent(CGEventType type) const;

 private:
  friend CFMachPortRef CGEventTapCreate(CGEventTapLocation, CGEventTapPlacement, CGEventTapOptions,
                                        CGEventMask, CGEventTapCallBack, void*);
  friend void CGEventTapEnable(const CFMachPortRef&, bool);
  friend bool CGEventTapIsEnabled(const CFMachPortRef&);
  friend void CFMachPortInvalidate(const CFMachPortRef&);
  friend bool CFMachPortIsValid(const CFMachPortRef&);
  friend CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef, const CFMachPortRef&, CFIndex);

  EventSystem() = default;
  CFMachPortRef createTap(CGEventTapLocation location, CGEventTapPlacement placement,
                          CGEventTapOptions options, CGEventMask mask, CGEventTapCallBack callback,
                          void* userInfo);
  void enableTap(const CFMachPortRef& tap, bool enable);
  bool isTapEnabled(const CFMachPortRef& tap) const;
  void invalidate(const CFMachPortRef& port);
  bool isValid(const CFMachPortRef& port) const;
  CFRunLoopSourceRef makeSource(const CFMachPortRef& port, CFIndex order);
  void deliver(CGEventRef event);
  void deliverPseudoEvent(const std::weak_ptr<CFMachPort>& tap, CGEventType reason);
  bool runsOnMainLoop(const CFMachPort& tap) const;  // caller holds mutex_

  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<CFMachPort>> chain_;
  int tapsCreated_ = 0;
  bool listenOnlyPermitted_ = true;
  bool activePermitted_ = true;
  bool sourceCreationFails_ = false;
  std::vector<CGEventRef> delivered_;
  std::shared_ptr<const std::function<void(const CGEventRef&)>> deliveryObserver_;
  std::shared_ptr<const std::function<bool(const CGEventRef&)>> hotKeyRoute_;
  CGEventFlags flags_ = 0;
  uint32_t buttons_ = 0;
  std::map<CGEventType, double> lastEventAt_;
};

}  // namespace platform
