#include "platform/appkit/event.hpp"

#include "platform/appkit/screen.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {

NSPoint NSEvent::mouseLocation() {
  const CGPoint location = CursorState::shared().cursorLocation();
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  return NSMakePoint(location.x, top - location.y);
}

}  // namespace platform
