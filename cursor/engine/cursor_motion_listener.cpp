#include "cursor/engine/cursor_motion_listener.hpp"

namespace vurle {

using namespace platform;

std::shared_ptr<CursorMotionListener> CursorMotionListener::make() {
  return std::shared_ptr<CursorMotionListener>(new CursorMotionListener());
}

CursorMotionListener::~CursorMotionListener() {
  stop();
  onEvent_ = nullptr;
}

bool CursorMotionListener::start(const std::vector<CGEventType>& types, bool active) {
  if (tap_) return true;
  CGEventMask mask = 0;
  for (CGEventType type : types) mask |= CGEventMaskBit(type);
  auto tap = CGEventTapCreate(kCGSessionEventTap, active ? kCGHeadInsertEventTap : kCGTailAppendEventTap,
                              active ? kCGEventTapOptionDefault : kCGEventTapOptionListenOnly, mask,
                              &CursorMotionListener::tapCallback, this);
  if (!tap) return false;
  auto source = CFMachPortCreateRunLoopSource(kCFAllocatorDefault, tap, 0);
  if (!source) {
    CFMachPortInvalidate(tap);
    return false;
  }
  tap_ = std::move(tap);
  source_ = std::move(source);
  CFRunLoopAddSource(CFRunLoopGetMain(), source_, kCFRunLoopCommonModes);
  CGEventTapEnable(tap_, observing_);
  return true;
}

void CursorMotionListener::stop() {
  if (tap_) CFMachPortInvalidate(tap_);
  if (source_) CFRunLoopRemoveSource(CFRunLoopGetMain(), source_, kCFRunLoopCommonModes);
  tap_.reset();
  source_.reset();
}

void CursorMotionListener::setObserving(bool observing) {
  if (observing == observing_) return;
  observing_ = observing;
  if (tap_) CGEventTapEnable(tap_, observing_);
}

CGEventRef CursorMotionListener::tapCallback(CGEventTapProxy /*proxy*/, CGEventType type, CGEventRef event,
                                             void* userInfo) {
  if (userInfo == nullptr) return event;
  // Held for the call: the handler may drop the owner's last reference.
  auto listener = static_cast<CursorMotionListener*>(userInfo)->weak_from_this().lock();
  if (!listener) return event;
  if (type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput) {
    if (listener->observing_ && listener->tap_) CGEventTapEnable(listener->tap_, true);
  } else if (listener->observing_ && listener->onEvent_) {
    listener->onEvent_(type, event);
  }
  return event;
}

}  // namespace vurle
