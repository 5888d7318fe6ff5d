#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "cursor/art/cursor_image.hpp"
#include "platform/appkit/view.hpp"
#include "platform/graphics/appkit_image.hpp"

namespace vurle {

// Draws one cursor frame inside an ordinary window, for previews: the
// frame's hot spot lands on `hotspot`, scaled by pointerScale, and a small
// blue dot can mark the hot spot. It never takes mouse events, so the
// pointer keeps the behaviour of whatever lies underneath. Main thread only.
class PointerDrawingView : public platform::NSView {
 public:
  // Starts with the arrow's resting frame at the render scale, when the
  // library has the arrow art.
  explicit PointerDrawingView(CGRect frame);
  // Never made from an archive: stops the process.
  explicit PointerDrawingView(platform::NSCoder& coder);

  bool isFlipped() const override { return true; }
  // Always none: clicks go to the view or window underneath.
  std::shared_ptr<platform::NSView> hitTest(CGPoint point) override;

  const std::optional<CursorFrame>& image() const { return image_; }
  // Asks for a redraw only when the picture object changes, or when exactly
  // one of the old and new values is absent.
  void setImage(std::optional<CursorFrame> image);

  CGFloat pointerScale() const { return pointerScale_; }
  // A different factor changes the pixels per point the owner must render
  // at, so it calls onRenderScaleChanged; it does not redraw by itself.
  void setPointerScale(CGFloat scale);

  // Plain settings; setting them does not redraw by itself.
  platform::NSImageInterpolation imageInterpolation = platform::NSImageInterpolationHigh;
  // Called when the view enters a window and when its backing changes, so
  // the owner re-renders its frames. Capture the owner weakly.
  std::function<void()> onRenderScaleChanged;
  CGPoint hotspot{40, 40};
  bool showAnchor = false;

  void drawRect(CGRect dirtyRect) override;
  void viewDidMoveToWindow() override;
  void viewDidChangeBackingProperties() override;

 private:
  void renderScaleChanged();

  std::optional<CursorFrame> image_;
  CGFloat pointerScale_ = 1.0;
};

}  // namespace vurle
