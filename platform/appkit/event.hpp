#pragma once

#include "platform/graphics/geometry.hpp"

namespace platform {

class NSEvent {
 public:
  // The pointer in AppKit's global coordinates (origin at the bottom left of
  // the first screen, y up): the window server's location flipped about the
  // top of the first screen (0 without screens).
  static NSPoint mouseLocation();
  // The mouse buttons held now, bit n for button n (1 left, 2 right, 4 the
  // middle button...), from the session's input state.
  static unsigned long pressedMouseButtons();
};

}  // namespace platform
