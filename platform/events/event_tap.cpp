#include "platform/events/event_tap.hpp"

#include <algorithm>

#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {
namespace {

// Kept for tests to inspect; older deliveries are forgotten.
constexpr size_t kDeliveredLimit = 1024;

bool isMouseEvent(CGEventType type) {
  return (type >= kCGEventLeftMouseDown && type <= kCGEventRightMouseDragged) ||
         (type >= kCGEventOtherMouseDown && type <= kCGEventOtherMouseDragged);
}

// The button a press or release concerns; none for other types.
std::optional<CGMouseButton> buttonOf(const CGEvent& event) {
  switch (event.type) {
    case kCGEventLeftMouseDown:
    case kCGEventLeftMouseUp: return kCGMouseButtonLeft;
    case kCGEventRightMouseDown:
    case kCGEventRightMouseUp: return kCGMouseButtonRight;
    case kCGEventOtherMouseDown:
    case kCGEventOtherMouseUp:
      if (event.buttonNumber >= 0 && event.buttonNumber < 32) return static_cast<CGMouseButton>(event.buttonNumber);
      return std::nullopt;
    default: return std::nullopt;
  }
}

}  // namespace

EventSystem& EventSystem::shared() {
  static EventSystem* system = [] {
    auto* made = new EventSystem();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *system;
}

void EventSystem::reset() {
  std::vector<CFRunLoopSourceRef> sources;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& weak : chain_) {
      if (auto tap = weak.lock()) {
        tap->valid_ = false;
        if (auto source = tap->source_.lock()) sources.push_back(source);
      }
    }
    chain_.clear();
    deliveryObserver_.reset();
    hotKeyRoute_.reset();
    tapsCreated_ = 0;
    listenOnlyPermitted_ = true;
    activePermitted_ = true;
    sourceCreationFails_ = false;
    delivered_.clear();
    flags_ = 0;
    buttons_ = 0;
    lastEventAt_.clear();
  }
  for (const auto& source : sources) CFRunLoopSourceInvalidate(source);
}

void EventSystem::setListenOnlyTapsPermitted(bool permitted) {
  std::lock_guard<std::mutex> guard(mutex_);
  listenOnlyPermitted_ = permitted;
}

void EventSystem::setActiveTapsPermitted(bool permitted) {
  std::lock_guard<std::mutex> guard(mutex_);
  activePermitted_ = permitted;
}

void EventSystem::setRunLoopSourceCreationFails(bool fails) {
  std::lock_guard<std::mutex> guard(mutex_);
  sourceCreationFails_ = fails;
}

CFMachPortRef EventSystem::createTap(CGEventTapLocation location, CGEventTapPlacement placement,
                                     CGEventTapOptions options, CGEventMask mask, CGEventTapCallBack callback,
                                     void* userInfo) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (callback == nullptr) return nullptr;
  if (!(options == kCGEventTapOptionListenOnly ? listenOnlyPermitted_ : activePermitted_)) return nullptr;
  CFMachPortRef tap(new CFMachPort(location, placement, options, mask, callback, userInfo));
  std::erase_if(chain_, [](const std::weak_ptr<CFMachPort>& weak) { return weak.expired(); });
  if (placement == kCGHeadInsertEventTap) {
    chain_.insert(chain_.begin(), tap);
  } else {
    chain_.push_back(tap);
  }
  ++tapsCreated_;
  return tap;
}

bool EventSystem::runsOnMainLoop(const CFMachPort& tap) const {
  auto source = tap.source_.lock();
  return tap.valid_ && source && source->isScheduled();
}

void EventSystem::post(const CGEventRef& event) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const CGEvent& e = *event;
    if (isMouseEvent(e.type)) CursorState::shared().setCursorLocation(e.location);
    if (auto button = buttonOf(e)) {
      const bool down = e.type == kCGEventLeftMouseDown || e.type == kCGEventRightMouseDown ||
                        e.type == kCGEventOtherMouseDown;
      const uint32_t bit = uint32_t{1} << *button;
      buttons_ = down ? (buttons_ | bit) : (buttons_ & ~bit);
    }
    if (e.type == kCGEventFlagsChanged) flags_ = e.flags;
    if (e.type != kCGEventNull && e.type < kCGEventTapDisabledByTimeout) lastEventAt_[e.type] = systemUptime();
  }
  RunLoop::main().perform([event] { EventSystem::shared().deliver(event); });
}

void EventSystem::deliver(CGEventRef event) {
  std::vector<CFMachPortRef> chain;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& weak : chain_) {
      if (auto tap = weak.lock()) chain.push_back(tap);
    }
  }
  for (const auto& tap : chain) {
    {
      // A callback earlier in the chain may have switched this tap off.
      std::lock_guard<std::mutex> guard(mutex_);
      if (!tap->enabled_ || !runsOnMainLoop(*tap) || !(tap->mask_ & CGEventMaskBit(event->type))) continue;
    }
    CGEventRef result = tap->callback_(tap.get(), event->type, event, tap->userInfo_);
    if (tap->options_ == kCGEventTapOptionListenOnly) continue;
    if (!result) return;  // an active tap dropped it
    event = result;
  }
  if (event->type == kCGEventKeyDown) {
    std::shared_ptr<const std::function<bool(const CGEventRef&)>> route;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      route = hotKeyRoute_;
    }
    if (route && (*route)(event)) return;  // a hot key took it
  }
  std::shared_ptr<const std::function<void(const CGEventRef&)>> observer;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    delivered_.push_back(event);
    if (delivered_.size() > kDeliveredLimit) delivered_.erase(delivered_.begin());
    observer = deliveryObserver_;
  }
  if (observer) (*observer)(event);
}

void EventSystem::setHotKeyRoute(std::function<bool(const CGEventRef&)> route) {
  std::lock_guard<std::mutex> guard(mutex_);
  hotKeyRoute_ = route ? std::make_shared<const std::function<bool(const CGEventRef&)>>(std::move(route)) : nullptr;
}

void EventSystem::setDeliveryObserver(std::function<void(const CGEventRef&)> observer) {
  std::lock_guard<std::mutex> guard(mutex_);
  deliveryObserver_ = observer ? std::make_shared<const std::function<void(const CGEventRef&)>>(std::move(observer))
                               : nullptr;
}

void EventSystem::disableTap(const CFMachPortRef& tap, CGEventType reason) {
  if (!tap) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!tap->valid_) return;
    tap->enabled_ = false;
  }
  std::weak_ptr<CFMachPort> weak = tap;
  RunLoop::main().perform([weak, reason] { EventSystem::shared().deliverPseudoEvent(weak, reason); });
}

void EventSystem::deliverPseudoEvent(const std::weak_ptr<CFMachPort>& weak, CGEventType reason) {
  auto tap = weak.lock();
  if (!tap) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!runsOnMainLoop(*tap)) return;
  }
  auto event = CGEventCreate(nullptr);
  event->type = reason;
  tap->callback_(tap.get(), reason, event, tap->userInfo_);
}

std::vector<CFMachPortRef> EventSystem::taps() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<CFMachPortRef> taps;
  for (const auto& weak : chain_) {
    auto tap = weak.lock();
    if (tap && tap->valid_) taps.push_back(tap);
  }
  return taps;
}

int EventSystem::tapsCreated() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return tapsCreated_;
}

std::vector<CGEventRef> EventSystem::deliveredEvents() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return delivered_;
}

CGEventFlags EventSystem::flags() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return flags_;
}

bool EventSystem::buttonDown(CGMouseButton button) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return button < 32 && (buttons_ & (uint32_t{1} << button)) != 0;
}

double EventSystem::secondsSinceLastEvent(CGEventType type) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::optional<double> last;
  if (type == kCGAnyInputEventType) {
    for (const auto& entry : lastEventAt_) last = std::max(last.value_or(entry.second), entry.second);
  } else if (auto it = lastEventAt_.find(type); it != lastEventAt_.end()) {
    last = it->second;
  }
  return last ? systemUptime() - *last : kSecondsWithoutEvent;
}

CFMachPortRef CGEventTapCreate(CGEventTapLocation location, CGEventTapPlacement placement,
                               CGEventTapOptions options, CGEventMask mask, CGEventTapCallBack callback,
                               void* userInfo) {
  return EventSystem::shared().createTap(location, placement, options, mask, callback, userInfo);
}

void EventSystem::enableTap(const CFMachPortRef& tap, bool enable) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (tap->valid_) tap->enabled_ = enable;
}

bool EventSystem::isTapEnabled(const CFMachPortRef& tap) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return tap->valid_ && tap->enabled_;
}

void EventSystem::invalidate(const CFMachPortRef& port) {
  CFRunLoopSourceRef source;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    port->valid_ = false;
    source = port->source_.lock();
  }
  CFRunLoopSourceInvalidate(source);
}

bool EventSystem::isValid(const CFMachPortRef& port) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return port->valid_;
}

CFRunLoopSourceRef EventSystem::makeSource(const CFMachPortRef& port, CFIndex order) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (sourceCreationFails_ || !port->valid_) return nullptr;
  auto source = CFRunLoopSource::make(order, port);
  port->source_ = source;
  return source;
}

void CGEventTapEnable(const CFMachPortRef& tap, bool enable) {
  if (tap) EventSystem::shared().enableTap(tap, enable);
}

bool CGEventTapIsEnabled(const CFMachPortRef& tap) { return tap && EventSystem::shared().isTapEnabled(tap); }

void CFMachPortInvalidate(const CFMachPortRef& port) {
  if (port) EventSystem::shared().invalidate(port);
}

bool CFMachPortIsValid(const CFMachPortRef& port) { return port && EventSystem::shared().isValid(port); }

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef /*allocator*/, const CFMachPortRef& port,
                                                 CFIndex order) {
  return port ? EventSystem::shared().makeSource(port, order) : nullptr;
}

}  // namespace platform
