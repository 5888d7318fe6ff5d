#include "platform/appkit/view.hpp"

#include <algorithm>
#include <cmath>

#include "platform/appkit/appearance.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/appkit/window.hpp"
#include "platform/graphics/context.hpp"

namespace platform {
namespace {

bool finiteRect(NSRect r) {
  return std::isfinite(r.origin.x) && std::isfinite(r.origin.y) && std::isfinite(r.size.width) &&
         std::isfinite(r.size.height);
}

}  // namespace

NSView::NSView(NSRect frame) : frame_(frame) {}

NSView::NSView(NSCoder&) : frame_(NSZeroRect) {}

void NSView::setWantsLayer(bool flag) {
  wantsLayer_ = flag;
  if (flag && !layer_) {
    layer_ = CALayer::make();
    layer_->setBounds(bounds());
  }
}

bool NSView::isDescendantOf(const NSView* view) const {
  for (auto node = superview(); node; node = node->superview()) {
    if (node.get() == view) return true;
  }
  return false;
}

void NSView::addSubview(const std::shared_ptr<NSView>& view) {
  if (!view || view.get() == this || isDescendantOf(view.get())) return;
  const auto keep = view;  // may be a reference into the old superview's list
  keep->detachFromSuperview();
  subviews_.push_back(keep);
  keep->superview_ = weak_from_this();
  keep->moveToWindow(window());
}

void NSView::detachFromSuperview() {
  const auto parent = superview();
  if (!parent) return;
  auto& siblings = parent->subviews_;
  siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                [this](const auto& view) { return view.get() == this; }),
                 siblings.end());
  superview_.reset();
}

void NSView::removeFromSuperview() {
  if (!superview()) return;
  // The superview may hold the last reference to this view.
  const auto self = shared_from_this();
  detachFromSuperview();
  moveToWindow(nullptr);
}

void NSView::moveToWindow(const std::shared_ptr<NSWindow>& window) {
  const bool changed = window_.lock() != window;
  if (changed) viewWillMoveToWindow(window);
  // A first responder that leaves its window hands the role to the window.
  if (auto old = window_.lock(); changed && old && old->firstResponder_.lock().get() == this) {
    old->firstResponder_.reset();
  }
  window_ = window;
  if (changed) viewDidMoveToWindow();
  if (changed && window) updateTrackingAreas();
  // A copy: the notification may rearrange the subviews.
  const auto children = subviews_;
  for (const auto& child : children) child->moveToWindow(window);
}

void NSView::notifyBackingChange() {
  viewDidChangeBackingProperties();
  const auto children = subviews_;
  for (const auto& child : children) child->notifyBackingChange();
}

std::shared_ptr<NSView> NSView::hitTest(NSPoint point) {
  if (!CGRectContainsPoint(frame_, point)) return nullptr;
  const auto parent = superview();
  const bool parentFlipped = parent && parent->isFlipped();
  const NSPoint local{point.x - frame_.origin.x, isFlipped() != parentFlipped
                                                    ? CGRectGetMaxY(frame_) - point.y
                                                    : point.y - frame_.origin.y};
  const auto children = subviews_;
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (auto hit = (*it)->hitTest(local)) return hit;
  }
  return shared_from_this();
}

void NSView::drawRect(NSRect) {}
void NSView::viewDidMoveToWindow() {}
void NSView::viewDidChangeBackingProperties() {}

std::shared_ptr<NSBitmapImageRep> NSView::bitmapImageRepForCachingDisplayInRect(NSRect rect) const {
  rect = CGRectStandardize(rect);
  if (!finiteRect(rect) || CGRectIsEmpty(rect)) return nullptr;
  const auto window = this->window();
  const CGFloat scale = window ? window->backingScaleFactor() : 1.0;
  const double width = std::ceil(rect.size.width * scale);
  const double height = std::ceil(rect.size.height * scale);
  // The rep refuses larger sides; checked here so the int conversion is safe.
  if (!(width >= 1 && width <= 32767 && height >= 1 && height <= 32767)) return nullptr;
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  auto rep = NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false,
                                    std::string(NSDeviceRGBColorSpace), 4 * w, 32);
  if (rep) rep->setSize(rect.size);
  return rep;
}

void NSView::cacheDisplayInRect(NSRect rect, const std::shared_ptr<NSBitmapImageRep>& rep) {
  rect = CGRectStandardize(rect);
  if (!rep || !finiteRect(rect) || CGRectIsEmpty(rect)) return;
  const auto context = NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
  if (!context) return;
  const NSSize size = rep->size();
  NSGraphicsContext::saveGraphicsState();
  NSGraphicsContext::setCurrentContext(context);
  const CGContextRef cg = context->CGContext();
  CGContextSaveGState(cg);
  // The rep's user space (its size in points, y up) covers exactly the rect.
  CGContextScaleCTM(cg, size.width / rect.size.width, size.height / rect.size.height);
  if (isFlipped()) {
    CGContextTranslateCTM(cg, -rect.origin.x, CGRectGetMaxY(rect));
    CGContextScaleCTM(cg, 1, -1);
    context->setFlipped(true);
  } else {
    CGContextTranslateCTM(cg, -rect.origin.x, -rect.origin.y);
  }
  CGContextClipToRect(cg, rect);
  displayInCurrentContext(rect);
  CGContextRestoreGState(cg);
  NSGraphicsContext::restoreGraphicsState();
}

void NSView::displayInCurrentContext(NSRect rect) {
  // Named colours resolve against the view's appearance while it draws.
  effectiveAppearance()->performAsCurrentDrawingAppearance([&] { drawRect(rect); });
  if (drawsOwnSubviews()) return;
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const CGContextRef cg = context->CGContext();
  // A copy: drawing must not rearrange the list, but a view may try.
  const auto children = subviews_;
  for (const auto& child : children) {
    if (child->isHidden()) continue;
    const NSRect f = child->frame_;
    if (!finiteRect(f) || CGRectIsEmpty(f)) continue;
    CGContextSaveGState(cg);
    if (child->isFlipped() == isFlipped()) {
      CGContextTranslateCTM(cg, f.origin.x, f.origin.y);
    } else {
      CGContextTranslateCTM(cg, f.origin.x, f.origin.y + f.size.height);
      CGContextScaleCTM(cg, 1, -1);
    }
    CGContextClipToRect(cg, child->bounds());
    const bool flipped = context->isFlipped();
    context->setFlipped(child->isFlipped());
    child->displayInCurrentContext(child->bounds());
    context->setFlipped(flipped);
    CGContextRestoreGState(cg);
  }
}

}  // namespace platform
