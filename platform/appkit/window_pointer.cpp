// The window's occlusion and the pointer in its coordinates (its screen is
// in window.cpp).

#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {

void NSWindow::setOccluded(bool occluded) {
  if (occluded_ == occluded) return;
  occluded_ = occluded;
  NSNotificationCenter::defaultCenter().postNotificationName(NSWindowDidChangeOcclusionStateNotification, this);
}

NSPoint NSWindow::convertPointFromScreen(NSPoint point) const {
  return {point.x - frame_.origin.x, point.y - frame_.origin.y};
}

NSPoint NSWindow::mouseLocationOutsideOfEventStream() const { return convertPointFromScreen(NSEvent::mouseLocation()); }

void NSWindow::invalidateCursorRectsForView(const std::shared_ptr<NSView>& view) {
  if (view && view->window().get() == this) view->rebuildCursorRects();
}

}  // namespace platform
