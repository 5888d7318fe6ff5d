#pragma once

#include "platform/graphics/geometry.hpp"

namespace platform {

enum class NSEventType { mouseEntered, mouseExited, mouseMoved, cursorUpdate, leftMouseDown, leftMouseUp };

// An event as views receive it; the class functions read the session's
// input state now.
class NSEvent {
 public:
  NSEvent(NSEventType type, NSPoint locationInWindow, double timestamp, long eventNumber)
      : type_(type), locationInWindow_(locationInWindow), timestamp_(timestamp), eventNumber_(eventNumber) {}
  NSEventType type() const { return type_; }
  // In the window's coordinates (origin at its bottom left, y up).
  NSPoint locationInWindow() const { return locationInWindow_; }
  double timestamp() const { return timestamp_; }
  long eventNumber() const { return eventNumber_; }

  // The pointer in AppKit's global coordinates (origin at the bottom left of
  // the first screen, y up): the window server's location flipped about the
  // top of the first screen (0 without screens).
  static NSPoint mouseLocation();
  // The mouse buttons held now, bit n for button n (1 left, 2 right, 4 the
  // middle button...), from the session's input state.
  static unsigned long pressedMouseButtons();

 private:
  NSEventType type_ = NSEventType::mouseMoved;
  NSPoint locationInWindow_{};
  double timestamp_ = 0;
  long eventNumber_ = 0;
};

}  // namespace platform
