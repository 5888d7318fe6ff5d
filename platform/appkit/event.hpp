#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/events/event.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

// AppKit's event types share the raw values of the Core Graphics types.
using NSEventType = CGEventType;
using NSEventMask = uint64_t;
constexpr NSEventMask NSEventMaskFromType(NSEventType type) { return CGEventMaskBit(type); }

using NSEventModifierFlags = uint64_t;
inline constexpr NSEventModifierFlags NSEventModifierFlagCapsLock = 1 << 16;
inline constexpr NSEventModifierFlags NSEventModifierFlagShift = 1 << 17;
inline constexpr NSEventModifierFlags NSEventModifierFlagControl = 1 << 18;
inline constexpr NSEventModifierFlags NSEventModifierFlagOption = 1 << 19;
inline constexpr NSEventModifierFlags NSEventModifierFlagCommand = 1 << 20;

// The types of the events a window hands its views (AppKit's raw values).
inline constexpr NSEventType NSEventTypeKeyDown = 10;
inline constexpr NSEventType NSEventTypeKeyUp = 11;
inline constexpr NSEventType NSEventTypeLeftMouseDown = 1;
inline constexpr NSEventType NSEventTypeLeftMouseUp = 2;
inline constexpr NSEventType NSEventTypeMouseMoved = 5;
inline constexpr NSEventType NSEventTypeLeftMouseDragged = 6;
inline constexpr NSEventType NSEventTypeMouseEntered = 8;
inline constexpr NSEventType NSEventTypeMouseExited = 9;
inline constexpr NSEventType NSEventTypeCursorUpdate = 17;

class NSEventMonitor;
using NSEventMonitorToken = std::shared_ptr<NSEventMonitor>;

// An input event as the application sees it, made from a Core Graphics
// event. Events here carry no window: their location is the pointer's, in
// AppKit's global coordinates. Main thread only, like the monitors.
class NSEvent {
 public:
  // None for a missing event.
  static std::shared_ptr<NSEvent> eventWithCGEvent(const CGEventRef& event);
  NSEvent() = default;
  // An event a window hands one of its views: the location is in the
  // window's coordinates (origin at its bottom left, y up).
  NSEvent(NSEventType type, NSPoint locationInWindow, double timestamp, long eventNumber)
      : type_(type), timestamp_(timestamp), location_(locationInWindow), eventNumber_(eventNumber) {}
  // The window server's number of the event; 0 for events made from Core
  // Graphics events.
  long eventNumber() const { return eventNumber_; }

  // A key event made by the program, as a shortcut's display does: none
  // for a type other than key-down or key-up, or for characters that are
  // not well-formed UTF-8 (the platform's strings hold only text). Its
  // location is the pointer's; its time 0; it belongs to no window.
  static std::shared_ptr<NSEvent> keyEventWithType(NSEventType type, NSEventModifierFlags flags,
                                                   const std::string& characters,
                                                   const std::string& charactersIgnoringModifiers,
                                                   uint16_t keyCode);

  NSEventType type() const { return type_; }
  NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
  uint16_t keyCode() const { return keyCode_; }
  // Key events only (none for others): the text the key typed with every
  // modifier applied; the text as if only shift (and caps lock) applied;
  // the text the key types in the session's layout with the given
  // modifiers instead of its own, none when the layout has no such key.
  const std::optional<std::string>& characters() const { return characters_; }
  const std::optional<std::string>& charactersIgnoringModifiers() const { return charactersIgnoringModifiers_; }
  std::optional<std::string> charactersByApplyingModifiers(NSEventModifierFlags modifiers) const;
  // Seconds of system uptime.
  double timestamp() const { return timestamp_; }
  NSPoint locationInWindow() const { return location_; }
  const CGEventRef& CGEvent() const { return event_; }

  // Monitors see the events of the types in the mask that reach an
  // application after the event taps: a global monitor those that go to
  // another application, a local one those that go to this one (the
  // frontmost application) before they are dispatched; a local handler
  // returns the event to pass on. Removing a monitor, or dropping its
  // last token, ends it.
  using GlobalHandler = std::function<void(const std::shared_ptr<NSEvent>&)>;
  using LocalHandler = std::function<std::shared_ptr<NSEvent>(const std::shared_ptr<NSEvent>&)>;
  static NSEventMonitorToken addGlobalMonitorForEventsMatchingMask(NSEventMask mask, GlobalHandler handler);
  static NSEventMonitorToken addLocalMonitorForEventsMatchingMask(NSEventMask mask, LocalHandler handler);
  static void removeMonitor(const NSEventMonitorToken& monitor);
  // Monitors in place now, for tests.
  static size_t monitorCount();
  // Routes the events that get past the event taps: to the monitors, then
  // to this process's windows (NSApplication::sendEvent). Installed by the
  // first monitor and by the application object; idempotent.
  static void routeDeliveredEvents();

  // The pointer in AppKit's global coordinates (origin at the bottom left of
  // the first screen, y up): the window server's location flipped about the
  // top of the first screen (0 without screens).
  static NSPoint mouseLocation();
  // The mouse buttons held now, bit n for button n (1 left, 2 right, 4 the
  // middle button...), from the session's input state.
  static unsigned long pressedMouseButtons();

 private:
  NSEventType type_ = 0;
  NSEventModifierFlags modifierFlags_ = 0;
  uint16_t keyCode_ = 0;
  std::optional<std::string> characters_;
  std::optional<std::string> charactersIgnoringModifiers_;
  double timestamp_ = 0;
  NSPoint location_;
  CGEventRef event_;
  long eventNumber_ = 0;
};

// The token of one monitor, handed out by NSEvent's add functions.
class NSEventMonitor {
 public:
  NSEventMonitor() = default;
  ~NSEventMonitor();
  NSEventMonitor(const NSEventMonitor&) = delete;
  NSEventMonitor& operator=(const NSEventMonitor&) = delete;
};

}  // namespace platform
