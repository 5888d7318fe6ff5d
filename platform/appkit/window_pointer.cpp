// The window's screen, occlusion and the pointer in its coordinates.

#include <atomic>

#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {

std::shared_ptr<NSScreen> NSWindow::screen() const {
  std::shared_ptr<NSScreen> best;
  CGFloat bestArea = 0;
  for (const auto& candidate : NSScreen::screens()) {
    const CGRect shared = CGRectIntersection(candidate->frame(), frame_);
    if (CGRectIsNull(shared)) continue;
    const CGFloat area = CGRectGetWidth(shared) * CGRectGetHeight(shared);
    if (area > bestArea) best = candidate, bestArea = area;
  }
  return best;
}

namespace {

std::atomic<bool>& screensShownFlag() {
  static std::atomic<bool>* shared = [] {
    auto* made = new std::atomic<bool>(true);
    addResetHook(made, [made] { made->store(true); });
    return made;
  }();
  return *shared;
}

}  // namespace

bool NSWindow::screensShown() { return screensShownFlag().load(); }

void NSWindow::setScreensShown(bool shown) {
  if (screensShownFlag().exchange(shown) == shown) return;
  for (const auto& window : NSApplication::shared()->windows())
    if (window->visible_ && !window->occluded_)
      NSNotificationCenter::defaultCenter().postNotificationName(NSWindowDidChangeOcclusionStateNotification,
                                                                 window.get());
}

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
