#include "cursor/art/pointer_drawing_view.hpp"

#include "cursor/art/fatal_error.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "platform/appkit/color.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {

PointerDrawingView::PointerDrawingView(CGRect frame) : platform::NSView(frame) {
  setWantsLayer(true);
  setLayerContentsRedrawPolicy(platform::NSViewLayerContentsRedrawPolicy::OnSetNeedsDisplay);
  if (const auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow)) {
    if (auto raster = arrow->staticRaster()) setImage(raster->frame);
  }
}

PointerDrawingView::PointerDrawingView(platform::NSCoder& coder) : platform::NSView(coder) {
  fatalError("init(coder:) has not been implemented");
}

std::shared_ptr<platform::NSView> PointerDrawingView::hitTest(CGPoint) { return nullptr; }

void PointerDrawingView::setImage(std::optional<CursorFrame> image) {
  const bool changed = image_.has_value() != image.has_value() ||
                       (image_ && image_->image != image->image);
  image_ = std::move(image);
  if (changed) setNeedsDisplay(true);
}

void PointerDrawingView::setPointerScale(CGFloat scale) {
  if (scale == pointerScale_) return;
  pointerScale_ = scale;
  renderScaleChanged();
}

void PointerDrawingView::renderScaleChanged() {
  // A copy: the owner may replace the action while it runs.
  if (const auto action = onRenderScaleChanged) action();
}

void PointerDrawingView::viewDidMoveToWindow() {
  platform::NSView::viewDidMoveToWindow();
  renderScaleChanged();
}

void PointerDrawingView::viewDidChangeBackingProperties() {
  platform::NSView::viewDidChangeBackingProperties();
  renderScaleChanged();
  setNeedsDisplay(true);
}

void PointerDrawingView::drawRect(CGRect dirtyRect) {
  using namespace platform;
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const CGContextRef cg = context->CGContext();
  CGContextClearRect(cg, dirtyRect);

  if (image_) {
    const CGRect bounds = image_->canvas.bounds;
    const CGFloat scale = pointerScale_;
    const CGRect destination =
        CGRectMake(hotspot.x + CGRectGetMinX(bounds) * scale, hotspot.y + CGRectGetMinY(bounds) * scale,
                   CGRectGetWidth(bounds) * scale, CGRectGetHeight(bounds) * scale);
    if (const auto picture = NSImage::makeWithCGImage(image_->image, bounds.size)) {
      picture->drawInRect(destination, NSZeroRect, NSCompositingOperationSourceOver, 1.0, true,
                          NSImageHints{imageInterpolation});
    }
  }

  if (showAnchor) {
    NSColor::systemBlueColor().setFill();
    CGContextFillEllipseInRect(cg, CGRectMake(hotspot.x - 2, hotspot.y - 2, 4, 4));
  }
}

}  // namespace vurle
