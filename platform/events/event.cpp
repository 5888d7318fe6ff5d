#include "platform/events/event.hpp"

#include <cmath>

#include "platform/dispatch/clock.hpp"
#include "platform/events/event_tap.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {
namespace {

uint64_t nowNanoseconds() { return static_cast<uint64_t>(std::llround(systemUptime() * 1e9)); }

CGEventRef makeEvent(CGEventType type, CGPoint location, CGEventFlags flags) {
  auto event = std::make_shared<CGEvent>();
  event->type = type;
  event->location = location;
  event->flags = flags;
  event->timestamp = nowNanoseconds();
  return event;
}

}  // namespace

CGEventRef CGEventCreate(CGEventSourceRef /*source*/) {
  return makeEvent(kCGEventNull, CursorState::shared().cursorLocation(), EventSystem::shared().flags());
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef /*source*/, CGEventType type, CGPoint location,
                                   CGMouseButton button) {
  auto event = makeEvent(type, location, 0);
  event->buttonNumber = button;
  return event;
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef /*source*/, CGKeyCode key, bool keyDown) {
  auto event = makeEvent(keyDown ? kCGEventKeyDown : kCGEventKeyUp, CursorState::shared().cursorLocation(), 0);
  event->keycode = key;
  event->unicodeString = keyboardLayoutCharacters(key, EventSystem::shared().flags());
  return event;
}

CGEventType CGEventGetType(const CGEventRef& event) { return event ? event->type : kCGEventNull; }

void CGEventSetType(const CGEventRef& event, CGEventType type) {
  if (event) event->type = type;
}

CGPoint CGEventGetLocation(const CGEventRef& event) { return event ? event->location : CGPointZero; }

void CGEventSetLocation(const CGEventRef& event, CGPoint location) {
  if (event) event->location = location;
}

CGEventFlags CGEventGetFlags(const CGEventRef& event) { return event ? event->flags : 0; }

void CGEventSetFlags(const CGEventRef& event, CGEventFlags flags) {
  if (event) event->flags = flags;
}

int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field) {
  if (!event) return 0;
  switch (field) {
    case kCGMouseEventButtonNumber: return event->buttonNumber;
    case kCGKeyboardEventKeycode: return event->keycode;
  }
  return 0;
}

void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, int64_t value) {
  if (!event) return;
  switch (field) {
    case kCGMouseEventButtonNumber: event->buttonNumber = value; break;
    case kCGKeyboardEventKeycode: event->keycode = value; break;
  }
}

std::string CGEventKeyboardGetUnicodeString(const CGEventRef& event) {
  return event ? event->unicodeString : std::string();
}

void CGEventKeyboardSetUnicodeString(const CGEventRef& event, const std::string& text) {
  if (event) event->unicodeString = text;
}

void CGEventPost(CGEventTapLocation /*location*/, const CGEventRef& event) {
  if (event) EventSystem::shared().post(event);
}

CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID state) {
  return state == kCGEventSourceStatePrivate ? 0 : EventSystem::shared().flags();
}

bool CGEventSourceButtonState(CGEventSourceStateID state, CGMouseButton button) {
  return state != kCGEventSourceStatePrivate && EventSystem::shared().buttonDown(button);
}

double CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID state, CGEventType type) {
  if (state == kCGEventSourceStatePrivate) return EventSystem::kSecondsWithoutEvent;
  return EventSystem::shared().secondsSinceLastEvent(type);
}

}  // namespace platform
