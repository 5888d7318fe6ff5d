#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/lock.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {

class NativeCursorArt;

using platform::CGFloat;
using platform::CGPoint;
using platform::CGRect;
using platform::CGSize;

// Largest side, in pixels, of any cursor bitmap.
inline constexpr int64_t kMaximumBitmapSide = 4096;

// A pixel grid: bounds in points around the hotspot (x right, y down, the
// hotspot at the origin) at pixelScale pixels per point. Pixel row 0 is the
// top edge, the smallest y.
struct CursorCanvas {
  CGFloat pixelScale = 1;
  CGRect bounds;

  // Width and height in pixels, rounded half away from zero. A non-finite
  // or out-of-range product is a programming error and stops the process:
  // callers only build canvases that passed canvasFits or came from art.
  int64_t pixelWidth() const;
  int64_t pixelHeight() const;
  int64_t pixelCount() const;

  bool operator==(const CursorCanvas& other) const {
    return pixelScale == other.pixelScale && bounds == other.bounds;
  }
};

struct CursorCanvasHash {
  size_t operator()(const CursorCanvas& canvas) const;
};

// Shared by every copy of a reusable frame: the one-image array the window
// server's cursor registration takes, and a fingerprint that the first
// consumer computes and later consumers reuse.
class CursorFrameReuse {
 public:
  explicit CursorFrameReuse(platform::CGImageRef image) : images_{std::move(image)} {}

  const std::vector<platform::CGImageRef>& images() const { return images_; }

  std::optional<int64_t> fingerprint() {
    std::lock_guard<platform::NSLock> guard(lock_);
    return fingerprint_;
  }
  void setFingerprint(int64_t value) {
    std::lock_guard<platform::NSLock> guard(lock_);
    fingerprint_ = value;
  }

 private:
  const std::vector<platform::CGImageRef> images_;
  platform::NSLock lock_;
  std::optional<int64_t> fingerprint_;
};

// One displayable picture: RGBA, 8 bits per component, premultiplied alpha
// last, device RGB. Two frames show the same picture when their image
// objects are the same object.
struct CursorFrame {
  platform::CGImageRef image;
  CursorCanvas canvas;
  // The bytes the image was made from; absent for frames of a bitmap.
  platform::CFDataRef pixels;
  std::shared_ptr<CursorFrameReuse> reuse;

  // A frame over the given bytes, which must be exactly pixel width ×
  // pixel height × 4 long; anything else is refused, never read past.
  static std::optional<CursorFrame> make(platform::CFDataRef pixels, const CursorCanvas& canvas,
                                         bool reusable);
};

using PixelBytes = std::shared_ptr<const std::vector<uint8_t>>;
using FieldValues = std::shared_ptr<const std::vector<float>>;

// A cursor image drawn onto a canvas.
struct CursorBitmap {
  CursorFrame frame;
  // pixel width × pixel height × 4 bytes, premultiplied RGBA, rows top-down.
  PixelBytes rgba;

  // Draws the image with its hotspot (points from the image's top-left
  // corner) at the canvas origin. No bitmap for a canvas under one pixel or
  // over 4096 pixels on a side, or when the system cannot draw it.
  static std::optional<CursorBitmap> make(const std::shared_ptr<platform::NSImage>& image,
                                          const CursorCanvas& canvas, CGPoint hotspot);
};

// A bitmap plus its signed distance field, the unit morphs work on.
struct CursorRaster {
  CursorFrame frame;
  PixelBytes rgba;
  // One value per pixel: distance in pixels to the shape's edge, positive
  // inside (alpha at least 128), negative outside.
  FieldValues solid;

  // The raster of a cursor image drawn with its hotspot on the canvas.
  static std::optional<CursorRaster> make(const std::shared_ptr<platform::NSImage>& image, CGPoint hotspot,
                                          const CursorCanvas& canvas);
  // The raster of an art: its native image drawn with its native hotspot.
  static std::optional<CursorRaster> make(const NativeCursorArt& art, const CursorCanvas& canvas);
};

}  // namespace vurle
