#include "platform/appkit/scroll_view.hpp"

#include <algorithm>

#include "platform/graphics/appkit_image.hpp"

namespace platform {

NSScrollView::NSScrollView(NSRect frame) : NSView(frame), clipView_(std::make_shared<NSClipView>()) {}

void NSScrollView::setBorderType(NSBorderType type) {
  borderType_ = type;
  tile();
}

void NSScrollView::setHasVerticalScroller(bool flag) {
  hasVerticalScroller_ = flag;
  tile();
}

void NSScrollView::setHasHorizontalScroller(bool flag) {
  hasHorizontalScroller_ = flag;
  tile();
}

void NSScrollView::setAutohidesScrollers(bool flag) {
  autohidesScrollers_ = flag;
  tile();
}

void NSScrollView::setDocumentView(const std::shared_ptr<NSView>& view) {
  if (view == documentView_) return;
  if (documentView_) documentView_->removeFromSuperview();
  documentView_ = view;
  if (!view) return;
  // Added here, not in the constructor: a view cannot take subviews before
  // it lives in a shared_ptr.
  if (clipView_->superview().get() != this) addSubview(clipView_);
  clipView_->addSubview(view);
  tile();
}

NSSize NSScrollView::contentSize() const {
  const CGFloat border = borderWidth();
  const CGFloat width = frame().size.width - 2 * border - (showsVerticalScroller() ? kScrollerWidth : 0);
  const CGFloat height = frame().size.height - 2 * border - (showsHorizontalScroller() ? kScrollerWidth : 0);
  return NSMakeSize(std::max<CGFloat>(0, width), std::max<CGFloat>(0, height));
}

void NSScrollView::tile() {
  const NSSize content = contentSize();
  const CGFloat border = borderWidth();
  clipView_->setFrame(NSMakeRect(border, border, content.width, content.height));
  if (!documentView_) return;
  NSRect f = documentView_->frame();
  if (documentView_->autoresizingMask() & NSViewWidthSizable) f.size.width = content.width;
  const CGFloat needed = documentView_->fittingSizeForWidth(f.size.width).height;
  if (needed >= 0) f.size.height = needed;
  // Scrolled to the top.
  f.origin = NSMakePoint(0, 0);
  documentView_->setFrame(f);
}

void NSScrollView::resizeSubviewsWithOldSize(NSSize) { tile(); }

void NSScrollView::drawRect(NSRect) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const NSRect box = bounds();
  const NSColor background = backgroundColor_;
  const NSBorderType border = borderType_;
  const bool vertical = showsVerticalScroller(), horizontal = showsHorizontalScroller();
  CGContextDrawWithCairo(context->CGContext(), box, [&](cairo_t* cr, double) {
    cairo_set_source_rgba(cr, background.redComponent(), background.greenComponent(), background.blueComponent(),
                          background.alphaComponent());
    cairo_paint(cr);
    const double w = box.size.width, h = box.size.height;
    cairo_set_source_rgba(cr, 0.96, 0.96, 0.96, 1);
    if (vertical) cairo_rectangle(cr, w - kScrollerWidth - 1, 1, kScrollerWidth, h - 2), cairo_fill(cr);
    if (horizontal) cairo_rectangle(cr, 1, h - kScrollerWidth - 1, w - 2, kScrollerWidth), cairo_fill(cr);
    if (border == NSBorderType::noBorder) return;
    // A bezel is darker along its top edge, as if set into the window.
    cairo_set_line_width(cr, 1);
    cairo_set_source_rgba(cr, 0, 0, 0, border == NSBorderType::bezelBorder ? 0.2 : 0.3);
    cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
    cairo_stroke(cr);
    if (border == NSBorderType::bezelBorder) {
      cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
      cairo_move_to(cr, 1, 1.5);
      cairo_line_to(cr, w - 1, 1.5);
      cairo_stroke(cr);
    }
  });
}

}  // namespace platform
