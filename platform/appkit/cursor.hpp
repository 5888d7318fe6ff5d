#pragma once

#include <memory>

#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

// Direction sets of the resize cursors that arrived with macOS 15, with the
// platform's raw values.
enum NSHorizontalDirections : unsigned {
  NSHorizontalDirectionLeft = 1,
  NSHorizontalDirectionRight = 2,
  NSHorizontalDirectionAll = 3,
};
enum NSVerticalDirections : unsigned {
  NSVerticalDirectionUp = 1,
  NSVerticalDirectionDown = 2,
  NSVerticalDirectionAll = 3,
};
enum NSCursorFrameResizePosition : unsigned {
  NSCursorFrameResizePositionTop = 1,
  NSCursorFrameResizePositionLeft = 2,
  NSCursorFrameResizePositionBottom = 4,
  NSCursorFrameResizePositionRight = 8,
  NSCursorFrameResizePositionTopLeft = 3,
  NSCursorFrameResizePositionTopRight = 9,
  NSCursorFrameResizePositionBottomLeft = 6,
  NSCursorFrameResizePositionBottomRight = 12,
};
enum NSCursorFrameResizeDirections : unsigned {
  NSCursorFrameResizeDirectionsInward = 1,
  NSCursorFrameResizeDirectionsOutward = 2,
  NSCursorFrameResizeDirectionsAll = 3,
};

// A cursor: an image and the hot spot (points from the image's top-left
// corner) that the pointer location designates.
//
// The system cursors are the simulated platform's own artwork, drawn once
// per process as vector shapes (black fill, white outline, a soft shadow)
// into an NSImage with a 1× and a 2× bitmap representation; each accessor
// answers the same object on every call. The cursors that arrived with
// macOS 15 answer nullptr when ProcessInfo reports an earlier system, as
// do the parameterised ones for a raw value outside their sets.
class NSCursor : public std::enable_shared_from_this<NSCursor> {
 public:
  // initWithImage:hotSpot:. The image is shared, not copied.
  NSCursor(std::shared_ptr<NSImage> image, NSPoint hotSpot)
      : image_(std::move(image)), hotSpot_(hotSpot) {}
  // nullptr for a null image.
  static std::shared_ptr<NSCursor> make(std::shared_ptr<NSImage> image, NSPoint hotSpot);

  const std::shared_ptr<NSImage>& image() const { return image_; }
  NSPoint hotSpot() const { return hotSpot_; }

  // The cursor on screen now, whoever set it, as a new object: one
  // representation per window-server image (the first frame of an
  // animated cursor). nullptr when the window server's cursor cannot be
  // read (CurrentCursor::setAppKitReadable) or has no usable image.
  static std::shared_ptr<NSCursor> currentSystemCursor();

  // Makes this the application's cursor, the one the pointer shows over
  // its windows; currentCursor answers it (none until a cursor is set, and
  // after resetProcessState). Every call counts, the same cursor again too.
  void set();
  static std::shared_ptr<NSCursor> currentCursor();
  static long setCount();

  static std::shared_ptr<NSCursor> arrowCursor();
  static std::shared_ptr<NSCursor> pointingHandCursor();
  static std::shared_ptr<NSCursor> IBeamCursor();
  static std::shared_ptr<NSCursor> IBeamCursorForVerticalLayout();
  static std::shared_ptr<NSCursor> crosshairCursor();
  static std::shared_ptr<NSCursor> openHandCursor();
  static std::shared_ptr<NSCursor> closedHandCursor();
  static std::shared_ptr<NSCursor> operationNotAllowedCursor();
  static std::shared_ptr<NSCursor> dragCopyCursor();
  static std::shared_ptr<NSCursor> dragLinkCursor();
  static std::shared_ptr<NSCursor> contextualMenuCursor();
  static std::shared_ptr<NSCursor> disappearingItemCursor();
  static std::shared_ptr<NSCursor> resizeLeftCursor();
  static std::shared_ptr<NSCursor> resizeRightCursor();
  static std::shared_ptr<NSCursor> resizeLeftRightCursor();
  static std::shared_ptr<NSCursor> resizeUpCursor();
  static std::shared_ptr<NSCursor> resizeDownCursor();
  static std::shared_ptr<NSCursor> resizeUpDownCursor();

  // macOS 15 and later.
  static std::shared_ptr<NSCursor> zoomInCursor();
  static std::shared_ptr<NSCursor> zoomOutCursor();
  static std::shared_ptr<NSCursor> columnResizeCursor();
  static std::shared_ptr<NSCursor> rowResizeCursor();
  static std::shared_ptr<NSCursor> columnResize(NSHorizontalDirections directions);
  static std::shared_ptr<NSCursor> rowResize(NSVerticalDirections directions);
  static std::shared_ptr<NSCursor> frameResize(NSCursorFrameResizePosition position,
                                               NSCursorFrameResizeDirections directions);

 private:
  std::shared_ptr<NSImage> image_;
  NSPoint hotSpot_;
};

}  // namespace platform
