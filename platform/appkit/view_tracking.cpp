// The view's lifecycle hooks, layout pass, visibility and mouse tracking.

#include <algorithm>

#include "platform/appkit/cursor.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"

namespace platform {

void NSView::viewWillMoveToWindow(const std::shared_ptr<NSWindow>& newWindow) { (void)newWindow; }
void NSView::layout() {}
void NSView::updateTrackingAreas() {}
void NSView::resetCursorRects() {}
void NSView::mouseEntered(const NSEvent& event) { (void)event; }
void NSView::mouseExited(const NSEvent& event) { (void)event; }
void NSView::mouseMoved(const NSEvent& event) { (void)event; }
void NSView::cursorUpdate(const NSEvent& event) { (void)event; }
void NSView::mouseDown(const NSEvent& event) { (void)event; }
void NSView::mouseUp(const NSEvent& event) { (void)event; }

std::string NSView::stringForToolTip(NSPoint point) const {
  (void)point;
  return {};
}

void NSView::layoutSubtreeIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layout();
  }
  const auto children = subviews_;
  for (const auto& child : children) child->layoutSubtreeIfNeeded();
}

bool NSView::isHiddenOrHasHiddenAncestor() const {
  for (const NSView* v = this; v; v = v->superview_.lock().get())
    if (v->hidden_) return true;
  return false;
}

NSRect NSView::visibleRect() const {
  if (!window() || isHiddenOrHasHiddenAncestor()) return NSZeroRect;
  // Walk up, clipping to each ancestor's bounds; flips are not needed for
  // the clip of a view that lies inside its ancestors.
  NSRect visible = bounds();
  NSPoint offset = frame_.origin;  // this view's origin in the ancestor's coordinates
  for (auto parent = superview(); parent; parent = parent->superview()) {
    const NSRect clip = CGRectOffset(parent->bounds(), -offset.x, -offset.y);
    visible = CGRectIntersection(visible, clip);
    if (CGRectIsNull(visible)) return NSZeroRect;
    offset.x += parent->frame().origin.x;
    offset.y += parent->frame().origin.y;
  }
  return visible;
}

NSPoint NSView::convertPointFromWindow(NSPoint point) const {
  // The chain from the content view down to this view.
  std::vector<const NSView*> chain;
  for (const NSView* v = this; v; v = v->superview_.lock().get()) chain.push_back(v);
  std::reverse(chain.begin(), chain.end());
  bool outerFlipped = false;  // window coordinates have y up
  for (const NSView* v : chain) {
    const NSRect f = v->frame_;
    point.x -= f.origin.x;
    point.y = v->isFlipped() == outerFlipped ? point.y - f.origin.y : CGRectGetMaxY(f) - point.y;
    outerFlipped = v->isFlipped();
  }
  return point;
}

void NSView::addTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
  if (area) trackingAreas_.push_back(area);
}

void NSView::removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
  std::erase(trackingAreas_, area);
}

long NSView::addToolTipRect(NSRect rect) {
  toolTipRects_.push_back(rect);
  return long(toolTipRects_.size());
}

void NSView::addCursorRect(NSRect rect, const std::shared_ptr<NSCursor>& cursor) {
  if (collectingCursorRects_ && cursor) cursorRects_.push_back({rect, cursor});
}

void NSView::rebuildCursorRects() {
  cursorRects_.clear();
  ++cursorRectRebuilds_;
  collectingCursorRects_ = true;
  resetCursorRects();
  collectingCursorRects_ = false;
}

}  // namespace platform
