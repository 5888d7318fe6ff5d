#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {

// Art size limits, checked at the render scale in force.
inline constexpr double kMaximumArtSidePixels = 2048;
inline constexpr double kMaximumArtCanvasPixels = 262144;
inline constexpr double kMaximumArtHotspot = 1024;

// Bytes of a 32 × 32 RGBA thumbnail.
inline constexpr size_t kThumbnailBytes = 4096;

// A cursor's artwork: a private copy of its image with its size and hot
// spot, and an identity that visually equal artwork shares at one render
// scale. Immutable; identities are only compared within one run.
class NativeCursorArt {
  struct Key {};

 public:
  // No art when the image cannot be copied or drawn, when its size or hot
  // spot is not finite, when it is empty, over 2048 pixels a side or over
  // 262144 pixels with its 3-point margin at the render scale, or when the
  // hot spot lies more than 1024 points away.
  static std::shared_ptr<NativeCursorArt> make(const std::shared_ptr<platform::NSCursor>& cursor);

  const std::shared_ptr<platform::NSImage>& native() const { return native_; }
  CGSize nativeSize() const { return nativeSize_; }
  CGPoint nativeHotspot() const { return nativeHotspot_; }
  int64_t identity() const { return identity_; }
  // No pixel of the drawn art is visible.
  bool isHidden() const { return isHidden_; }

  // The art's rectangle around its hot spot: origin (-hotspot), size
  // nativeSize, y down.
  CGRect localBounds() const;

  // The resting raster at the stored render scale, through the raster cache.
  std::optional<CursorRaster> staticRaster() const;

  NativeCursorArt(Key, std::shared_ptr<platform::NSImage> native, CGSize size, CGPoint hotspot,
                  int64_t identity, bool isHidden);

 private:
  std::shared_ptr<platform::NSImage> native_;
  CGSize nativeSize_;
  CGPoint nativeHotspot_;
  int64_t identity_;
  bool isHidden_;
};

// A private copy of a cursor image: every bitmap representation duplicated
// with its size, so that a later change to the original cannot reach it.
// Null when the image is null or a representation cannot be copied.
std::shared_ptr<platform::NSImage> copyCursorImage(const std::shared_ptr<platform::NSImage>& image);

// The 32 × 32 sRGB thumbnail (4096 bytes, RGBA premultiplied, rows top-down)
// of the whole image stretched to the square; every image comparison of the
// pipeline works on it. None for a null image or when the colour space or
// bitmap context cannot be made. Pure; callable from any thread.
std::optional<std::vector<uint8_t>> cursorThumbnail(const platform::CGImageRef& image);

// The CGImage an NSImage proposes for its own size, with no context and no
// hints: the image that cursor thumbnails are drawn from.
platform::CGImageRef proposedCGImage(const platform::NSImage& image);

}  // namespace vurle
