#include "cursor/art/cursor_image.hpp"

#include <cmath>
#include <limits>

#include "cursor/art/fatal_error.hpp"
#include "cursor/art/kernels.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {
namespace {

// Points × pixelScale, rounded half away from zero, as a whole pixel count.
int64_t pixelExtent(CGFloat points, CGFloat scale) {
  const double product = points * scale;
  if (!std::isfinite(product)) fatalError("cursor canvas with a non-finite pixel size");
  const double rounded = std::round(product);
  // 2^63 is the first double past the signed 64-bit range.
  if (rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0) {
    fatalError("cursor canvas pixel size out of range");
  }
  return static_cast<int64_t>(rounded);
}

}  // namespace

int64_t CursorCanvas::pixelWidth() const {
  return pixelExtent(platform::CGRectGetWidth(bounds), pixelScale);
}

int64_t CursorCanvas::pixelHeight() const {
  return pixelExtent(platform::CGRectGetHeight(bounds), pixelScale);
}

int64_t CursorCanvas::pixelCount() const {
  int64_t count = 0;
  if (__builtin_mul_overflow(pixelWidth(), pixelHeight(), &count)) {
    fatalError("cursor canvas pixel count overflows");
  }
  return count;
}

size_t CursorCanvasHash::operator()(const CursorCanvas& canvas) const {
  const std::hash<double> hash;
  size_t seed = hash(canvas.pixelScale);
  for (double value : {canvas.bounds.origin.x, canvas.bounds.origin.y, canvas.bounds.size.width,
                       canvas.bounds.size.height}) {
    seed ^= hash(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
  }
  return seed;
}

std::optional<CursorFrame> CursorFrame::make(platform::CFDataRef pixels,
                                             const CursorCanvas& canvas, bool reusable) {
  auto provider = platform::CGDataProviderCreateWithCFData(pixels);
  if (!provider) return std::nullopt;
  const int64_t width = canvas.pixelWidth();
  const int64_t height = canvas.pixelHeight();
  // The image would otherwise read past the end of a short buffer.
  int64_t expected = 0;
  if (width < 1 || height < 1 || __builtin_mul_overflow(width * 4, height, &expected) ||
      static_cast<uint64_t>(expected) != pixels->size()) {
    return std::nullopt;
  }
  auto image = platform::CGImageCreate(
      static_cast<size_t>(width), static_cast<size_t>(height), 8, 32,
      static_cast<size_t>(width * 4), platform::CGColorSpaceCreateDeviceRGB(),
      platform::kCGImageAlphaPremultipliedLast, provider, nullptr, false,
      platform::kCGRenderingIntentDefault);
  if (!image) return std::nullopt;
  CursorFrame frame;
  frame.image = image;
  frame.canvas = canvas;
  frame.pixels = std::move(pixels);
  if (reusable) frame.reuse = std::make_shared<CursorFrameReuse>(image);
  return frame;
}

std::optional<CursorBitmap> CursorBitmap::make(const std::shared_ptr<platform::NSImage>& image,
                                               const CursorCanvas& canvas, CGPoint hotspot) {
  if (!image) return std::nullopt;
  const int64_t width = canvas.pixelWidth();
  const int64_t height = canvas.pixelHeight();
  if (width < 1 || height < 1 || width > kMaximumBitmapSide || height > kMaximumBitmapSide) {
    return std::nullopt;
  }
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  auto rep = platform::NSBitmapImageRep::make(nullptr, w, h, 8, 4, true, false,
                                              platform::NSDeviceRGBColorSpace, 4 * w, 32);
  if (!rep || rep->bitmapData() == nullptr) return std::nullopt;
  // One point of the rep is pixelScale pixels.
  rep->setSize(canvas.bounds.size);
  auto context = platform::NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
  if (!context) return std::nullopt;

  platform::NSGraphicsContext::saveGraphicsState();
  platform::NSGraphicsContext::setCurrentContext(context);
  // The context is not flipped: this puts the image's top-left corner at
  // canvas point (-hotspot.x, -hotspot.y).
  const CGSize size = image->size();
  const CGRect target = platform::CGRectMake(
      -platform::CGRectGetMinX(canvas.bounds) - hotspot.x,
      hotspot.y + platform::CGRectGetMinY(canvas.bounds) + platform::CGRectGetHeight(canvas.bounds) -
          size.height,
      size.width, size.height);
  platform::NSImageHints hints;
  hints.interpolation = platform::NSImageInterpolation::None;
  image->drawInRect(target, platform::CGRectZero, platform::NSCompositingOperationCopy, 1.0, false,
                    hints);
  platform::NSGraphicsContext::restoreGraphicsState();

  auto drawn = rep->CGImage();
  if (!drawn) return std::nullopt;
  const auto* bytes = rep->bitmapData();
  const size_t count = static_cast<size_t>(width * height * 4);
  CursorBitmap bitmap;
  bitmap.frame.image = drawn;
  bitmap.frame.canvas = canvas;
  bitmap.rgba = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + count);
  return bitmap;
}

std::optional<CursorRaster> CursorRaster::make(const std::shared_ptr<platform::NSImage>& image,
                                               CGPoint hotspot, const CursorCanvas& canvas) {
  auto bitmap = CursorBitmap::make(image, canvas, hotspot);
  if (!bitmap) return std::nullopt;
  const int64_t width = canvas.pixelWidth();
  const int64_t height = canvas.pixelHeight();
  if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max()) {
    fatalError("cursor raster larger than the kernels can address");
  }
  const size_t count = static_cast<size_t>(canvas.pixelCount());
  std::vector<float> solid(count, 0.0f);
  std::vector<float> scratch(count, 0.0f);
  signedDistanceField(bitmap->rgba->data(), solid.data(), scratch.data(),
                      static_cast<int32_t>(width), static_cast<int32_t>(height));
  CursorRaster raster;
  raster.frame = bitmap->frame;
  raster.rgba = bitmap->rgba;
  raster.solid = std::make_shared<const std::vector<float>>(std::move(solid));
  return raster;
}

}  // namespace vurle
