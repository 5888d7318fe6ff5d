#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/graphics/geometry.hpp"

namespace platform {

// Core Graphics event types by raw value.
using CGEventType = uint32_t;
inline constexpr CGEventType kCGEventNull = 0;
inline constexpr CGEventType kCGEventLeftMouseDown = 1;
inline constexpr CGEventType kCGEventLeftMouseUp = 2;
inline constexpr CGEventType kCGEventRightMouseDown = 3;
inline constexpr CGEventType kCGEventRightMouseUp = 4;
inline constexpr CGEventType kCGEventMouseMoved = 5;
inline constexpr CGEventType kCGEventLeftMouseDragged = 6;
inline constexpr CGEventType kCGEventRightMouseDragged = 7;
inline constexpr CGEventType kCGEventKeyDown = 10;
inline constexpr CGEventType kCGEventKeyUp = 11;
inline constexpr CGEventType kCGEventFlagsChanged = 12;
inline constexpr CGEventType kCGEventScrollWheel = 22;
inline constexpr CGEventType kCGEventOtherMouseDown = 25;
inline constexpr CGEventType kCGEventOtherMouseUp = 26;
inline constexpr CGEventType kCGEventOtherMouseDragged = 27;
// Pseudo-events a tap receives when the system has disabled it.
inline constexpr CGEventType kCGEventTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr CGEventType kCGEventTapDisabledByUserInput = 0xFFFFFFFF;
// Asks the event-source state about any input event.
inline constexpr CGEventType kCGAnyInputEventType = 0xFFFFFFFF;

using CGEventMask = uint64_t;
// The mask bit of a type; a type of 64 or more has none.
constexpr CGEventMask CGEventMaskBit(CGEventType type) { return type < 64 ? CGEventMask{1} << type : 0; }

using CGEventFlags = uint64_t;
inline constexpr CGEventFlags kCGEventFlagMaskAlphaShift = 0x10000;
inline constexpr CGEventFlags kCGEventFlagMaskShift = 0x20000;
inline constexpr CGEventFlags kCGEventFlagMaskControl = 0x40000;
inline constexpr CGEventFlags kCGEventFlagMaskAlternate = 0x80000;
inline constexpr CGEventFlags kCGEventFlagMaskCommand = 0x100000;

using CGMouseButton = uint32_t;
inline constexpr CGMouseButton kCGMouseButtonLeft = 0;
inline constexpr CGMouseButton kCGMouseButtonRight = 1;
inline constexpr CGMouseButton kCGMouseButtonCenter = 2;

using CGKeyCode = uint16_t;

enum CGEventField : uint32_t {
  kCGMouseEventButtonNumber = 3,
  kCGKeyboardEventKeycode = 9,
};

enum CGEventSourceStateID : int32_t {
  kCGEventSourceStatePrivate = -1,
  kCGEventSourceStateCombinedSessionState = 0,
  kCGEventSourceStateHIDSystemState = 1,
};

// Only the absent source (nullptr) exists here: events made without one
// carry the current session state.
struct CGEventSource;
using CGEventSourceRef = CGEventSource*;

// One input event. Events are handed around by reference and may be
// changed in place by their holder, as on the platform.
class CGEvent {
 public:
  CGEventType type = kCGEventNull;
  CGPoint location;  // window-server coordinates
  CGEventFlags flags = 0;
  uint64_t timestamp = 0;  // nanoseconds of uptime
  int64_t buttonNumber = 0;
  int64_t keycode = 0;
  // The text a key event types, in UTF-8 (the platform keeps UTF-16).
  std::string unicodeString;
};
using CGEventRef = std::shared_ptr<CGEvent>;

// A null event at the pointer's current location with the current
// modifier flags.
CGEventRef CGEventCreate(CGEventSourceRef source);
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType type, CGPoint location,
                                   CGMouseButton button);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode key, bool keyDown);

// Reads of a null event give zero values; writes to it do nothing.
CGEventType CGEventGetType(const CGEventRef& event);
void CGEventSetType(const CGEventRef& event, CGEventType type);
CGPoint CGEventGetLocation(const CGEventRef& event);
void CGEventSetLocation(const CGEventRef& event, CGPoint location);
CGEventFlags CGEventGetFlags(const CGEventRef& event);
void CGEventSetFlags(const CGEventRef& event, CGEventFlags flags);
int64_t CGEventGetIntegerValueField(const CGEventRef& event, CGEventField field);
void CGEventSetIntegerValueField(const CGEventRef& event, CGEventField field, int64_t value);

// The text a key event types (empty for other events). A new keyboard
// event types what the session's layout gives its key with the current
// modifiers; changing its flags later does not change its text.
std::string CGEventKeyboardGetUnicodeString(const CGEventRef& event);
void CGEventKeyboardSetUnicodeString(const CGEventRef& event, const std::string& text);

// The session's keyboard layout, a US (ANSI) one, as key translation gives
// it: the UTF-8 text the key types with these modifiers. Shift gives the
// shifted row and caps lock capital letters; control folds letters and
// "[", "\", "]" to their control characters; option is not modelled and
// types as without it. Keys that type nothing (modifier keys, codes of no
// key) give the empty string. Function, arrow and navigation keys type the
// platform's private-use function-key characters (U+F700 up...).
std::string keyboardLayoutCharacters(CGKeyCode key, CGEventFlags flags);

// Where an event enters the stream; every location runs the same taps here.
enum CGEventTapLocation : uint32_t {
  kCGHIDEventTap = 0,
  kCGSessionEventTap = 1,
  kCGAnnotatedSessionEventTap = 2,
};

// Posts an input event as the hardware would: the session state (pointer,
// buttons, modifiers, time of the last event of each type) changes at once,
// and the event runs through the taps on the main run loop (EventSystem).
void CGEventPost(CGEventTapLocation location, const CGEventRef& event);

// The session's input state. The private state knows no input. Seconds
// since an event type that never happened are a large finite number
// (EventSystem::kSecondsWithoutEvent), never infinity.
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID state);
bool CGEventSourceButtonState(CGEventSourceStateID state, CGMouseButton button);
double CGEventSourceSecondsSinceLastEventType(CGEventSourceStateID state, CGEventType type);

}  // namespace platform
