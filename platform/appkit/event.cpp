#include "platform/appkit/event.hpp"

#include "platform/appkit/screen.hpp"
#include "platform/events/event.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {

NSPoint NSEvent::mouseLocation() {
  const CGPoint location = CursorState::shared().cursorLocation();
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  return NSMakePoint(location.x, top - location.y);
}

unsigned long NSEvent::pressedMouseButtons() {
  unsigned long buttons = 0;
  for (CGMouseButton button = 0; button < 32; ++button) {
    if (CGEventSourceButtonState(kCGEventSourceStateCombinedSessionState, button)) buttons |= 1ul << button;
  }
  return buttons;
}

}  // namespace platform
