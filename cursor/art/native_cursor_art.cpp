#include "cursor/art/native_cursor_art.hpp"

#include <cmath>
#include <cstring>

#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/identity_hasher.hpp"
#include "cursor/art/kernels.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {

std::shared_ptr<platform::NSImage> copyCursorImage(const std::shared_ptr<platform::NSImage>& image) {
  if (!image) return nullptr;
  auto copy = platform::NSImage::make(image->size());
  if (!copy) return nullptr;
  for (const auto& rep : image->representations()) {
    auto bitmap = std::dynamic_pointer_cast<platform::NSBitmapImageRep>(rep);
    if (!bitmap) continue;
    auto duplicate = platform::NSBitmapImageRep::makeWithCGImage(bitmap->CGImage());
    if (!duplicate) return nullptr;
    duplicate->setSize(bitmap->size());
    copy->addRepresentation(duplicate);
  }
  return copy;
}

NativeCursorArt::NativeCursorArt(Key, std::shared_ptr<platform::NSImage> native, CGSize size,
                                 CGPoint hotspot, int64_t identity, bool isHidden)
    : native_(std::move(native)),
      nativeSize_(size),
      nativeHotspot_(hotspot),
      identity_(identity),
      isHidden_(isHidden) {}

std::shared_ptr<NativeCursorArt> NativeCursorArt::make(
    const std::shared_ptr<platform::NSCursor>& cursor) {
  if (!cursor || !cursor->image()) return nullptr;
  auto image = copyCursorImage(cursor->image());
  if (!image) return nullptr;
  const CGSize size = image->size();
  const CGPoint hotspot = cursor->hotSpot();
  const double w = size.width, h = size.height, hx = hotspot.x, hy = hotspot.y;
  if (!std::isfinite(w) || !std::isfinite(h) || !std::isfinite(hx) || !std::isfinite(hy)) {
    return nullptr;
  }
  const double s = renderScale();
  if (w <= 0 || h <= 0 || w * s > kMaximumArtSidePixels || h * s > kMaximumArtSidePixels ||
      (w + 6) * (h + 6) * s * s > kMaximumArtCanvasPixels || std::fabs(hx) > kMaximumArtHotspot ||
      std::fabs(hy) > kMaximumArtHotspot) {
    return nullptr;
  }
  const CursorCanvas canvas = artCanvas(platform::CGRectMake(-hx, -hy, w, h), s);
  const auto bitmap = CursorBitmap::make(image, canvas, hotspot);
  if (!bitmap) return nullptr;

  IdentityHasher hasher;
  for (double value : {w, h, hx, hy}) hasher.combine(value);
  hasher.combine(canvas.pixelWidth());
  hasher.combine(canvas.pixelHeight());
  hasher.combine(bitmap->rgba->data(), bitmap->rgba->size());
  // The limits above keep the byte count far inside 32 bits.
  const bool hidden =
      !hasVisibleAlpha(bitmap->rgba->data(), static_cast<int32_t>(bitmap->rgba->size()));
  return std::make_shared<NativeCursorArt>(Key{}, std::move(image), size, hotspot, hasher.finish(),
                                           hidden);
}

CGRect NativeCursorArt::localBounds() const {
  return platform::CGRectMake(-nativeHotspot_.x, -nativeHotspot_.y, nativeSize_.width,
                              nativeSize_.height);
}

std::optional<CursorRaster> NativeCursorArt::staticRaster() const {
  return CursorRasterCache::raster(*this, artCanvas(localBounds(), renderScale()));
}

std::optional<CursorRaster> CursorRaster::make(const NativeCursorArt& art,
                                               const CursorCanvas& canvas) {
  return make(art.native(), art.nativeHotspot(), canvas);
}

std::optional<std::vector<uint8_t>> cursorThumbnail(const platform::CGImageRef& image) {
  if (!image) return std::nullopt;
  auto space = platform::CGColorSpaceCreateWithName(platform::kCGColorSpaceSRGB);
  if (!space) return std::nullopt;
  std::vector<uint8_t> pixels(kThumbnailBytes, 0);
  {
    auto context = platform::CGBitmapContextCreate(pixels.data(), 32, 32, 8, 128, space,
                                                   platform::kCGImageAlphaPremultipliedLast);
    if (!context) return std::nullopt;
    platform::CGContextSetInterpolationQuality(context, platform::kCGInterpolationHigh);
    platform::CGContextDrawImage(context, platform::CGRectMake(0, 0, 32, 32), image);
  }
  return pixels;
}

platform::CGImageRef proposedCGImage(const platform::NSImage& image) {
  platform::NSRect proposed{platform::CGPointZero, image.size()};
  return image.CGImageForProposedRect(&proposed, nullptr, nullptr);
}

}  // namespace vurle
