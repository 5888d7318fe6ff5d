#include "platform/graphics/image.hpp"

#include <array>
#include <atomic>
#include <cmath>

#include "platform/graphics/pixels.hpp"

namespace platform {

// ---- failure injection ---------------------------------------------------

namespace {
constexpr size_t kFaultKinds = 7;
std::array<std::atomic<unsigned>, kFaultKinds> gFaults{};

std::atomic<unsigned>& faultSlot(GraphicsFault kind) { return gFaults[static_cast<size_t>(kind)]; }
}  // namespace

void GraphicsFaults::failNext(GraphicsFault kind, unsigned count) {
  faultSlot(kind).fetch_add(count);
}

unsigned GraphicsFaults::pending(GraphicsFault kind) { return faultSlot(kind).load(); }

void GraphicsFaults::reset() {
  for (auto& slot : gFaults) slot.store(0);
}

bool GraphicsFaults::consume(GraphicsFault kind) {
  auto& slot = faultSlot(kind);
  unsigned n = slot.load();
  while (n > 0) {
    if (slot.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}

// ---- data ----------------------------------------------------------------

CFDataRef CFDataCreate(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr && length > 0) return nullptr;
  if (length == 0) return std::make_shared<const CFData>();
  return std::make_shared<const CFData>(bytes, bytes + length);
}

CGDataProviderRef CGDataProviderCreateWithCFData(CFDataRef data) {
  if (!data) return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::DataProvider)) return nullptr;
  return std::make_shared<const CGDataProvider>(std::move(data));
}

CFDataRef CGDataProviderCopyData(const CGDataProviderRef& provider) {
  return provider ? provider->data() : nullptr;
}

// ---- colour spaces -------------------------------------------------------

const CGColorSpaceRef& detail::deviceRGB() {
  static const CGColorSpaceRef device =
      std::make_shared<const CGColorSpace>(std::string(kCGColorSpaceDeviceRGB));
  return device;
}

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() {
  if (GraphicsFaults::consume(GraphicsFault::ColorSpace)) return nullptr;
  return detail::deviceRGB();
}

CGColorSpaceRef CGColorSpaceCreateWithName(std::string_view name) {
  if (name != kCGColorSpaceSRGB) return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::ColorSpace)) return nullptr;
  static const CGColorSpaceRef srgb =
      std::make_shared<const CGColorSpace>(std::string(kCGColorSpaceSRGB));
  return srgb;
}

std::string CGColorSpaceCopyName(const CGColorSpaceRef& space) {
  return space ? space->name() : std::string();
}

// ---- images --------------------------------------------------------------

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent intent) {
  if (!provider || !provider->data() || !space) return nullptr;
  if (width == 0 || height == 0 || width > detail::kMaxPixelSide || height > detail::kMaxPixelSide)
    return nullptr;
  if (bitsPerComponent != 8 || bitsPerPixel != 32 || decode != nullptr) return nullptr;
  if (!detail::pixelFormatFor(bitmapInfo)) return nullptr;
  if (bytesPerRow < 4 * width) return nullptr;
  // bytesPerRow × (height − 1) + 4 × width, refusing sizes that overflow.
  const size_t rows = height - 1;
  if (rows > 0 && bytesPerRow > (SIZE_MAX - 4 * width) / rows) return nullptr;
  if (provider->data()->size() < bytesPerRow * rows + 4 * width) return nullptr;
  if (GraphicsFaults::consume(GraphicsFault::Image)) return nullptr;
  return std::make_shared<const CGImage>(
      CGImage::Params{width, height, bitsPerComponent, bitsPerPixel, bytesPerRow, std::move(space),
                      bitmapInfo, std::move(provider), shouldInterpolate, intent});
}

CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect) {
  if (!image) return nullptr;
  const auto& p = image->params();
  const CGRect bounds =
      CGRectMake(0, 0, static_cast<CGFloat>(p.width), static_cast<CGFloat>(p.height));
  const CGRect r = CGRectIntersection(CGRectIntegral(rect), bounds);
  if (CGRectIsEmpty(r)) return nullptr;
  const auto x = static_cast<size_t>(r.origin.x), y = static_cast<size_t>(r.origin.y);
  const auto w = static_cast<size_t>(r.size.width), h = static_cast<size_t>(r.size.height);
  const uint8_t* src = p.provider->data()->data();
  CFData bytes(w * 4 * h);
  for (size_t row = 0; row < h; ++row) {
    const uint8_t* from = src + (y + row) * p.bytesPerRow + x * 4;
    std::copy(from, from + w * 4, bytes.begin() + static_cast<std::ptrdiff_t>(row * w * 4));
  }
  auto provider =
      std::make_shared<const CGDataProvider>(std::make_shared<const CFData>(std::move(bytes)));
  return CGImageCreate(w, h, 8, 32, w * 4, p.space, p.bitmapInfo, std::move(provider), nullptr,
                       p.shouldInterpolate, p.intent);
}

size_t CGImageGetWidth(const CGImageRef& i) { return i ? i->params().width : 0; }
size_t CGImageGetHeight(const CGImageRef& i) { return i ? i->params().height : 0; }
size_t CGImageGetBitsPerComponent(const CGImageRef& i) {
  return i ? i->params().bitsPerComponent : 0;
}
size_t CGImageGetBitsPerPixel(const CGImageRef& i) { return i ? i->params().bitsPerPixel : 0; }
size_t CGImageGetBytesPerRow(const CGImageRef& i) { return i ? i->params().bytesPerRow : 0; }
CGBitmapInfo CGImageGetBitmapInfo(const CGImageRef& i) { return i ? i->params().bitmapInfo : 0; }
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& i) {
  return static_cast<CGImageAlphaInfo>(CGImageGetBitmapInfo(i) & kCGBitmapAlphaInfoMask);
}
CGColorSpaceRef CGImageGetColorSpace(const CGImageRef& i) {
  return i ? i->params().space : nullptr;
}
CGDataProviderRef CGImageGetDataProvider(const CGImageRef& i) {
  return i ? i->params().provider : nullptr;
}
bool CGImageGetShouldInterpolate(const CGImageRef& i) { return i && i->params().shouldInterpolate; }

// ---- pixel formats -------------------------------------------------------

namespace detail {

std::optional<PixelFormat> pixelFormatFor(CGBitmapInfo info) {
  const CGBitmapInfo alpha = info & kCGBitmapAlphaInfoMask;
  const CGBitmapInfo order = info & kCGBitmapByteOrderMask;
  if ((info & ~(kCGBitmapAlphaInfoMask | kCGBitmapByteOrderMask)) != 0) return std::nullopt;
  if (alpha == kCGImageAlphaPremultipliedLast &&
      (order == kCGBitmapByteOrderDefault || order == kCGBitmapByteOrder32Big))
    return PixelFormat::RGBA;
  if (alpha == kCGImageAlphaPremultipliedFirst && order == kCGBitmapByteOrder32Little)
    return PixelFormat::BGRA;
  return std::nullopt;
}

PixelSource pixelSourceOf(const CGImage& image) {
  const auto& p = image.params();
  return {p.provider->data()->data(), p.bytesPerRow, static_cast<int>(p.width),
          static_cast<int>(p.height), *pixelFormatFor(p.bitmapInfo)};
}

void rowToArgb32(const uint8_t* src, PixelFormat format, uint32_t* dst, int width) {
  const int r = format == PixelFormat::RGBA ? 0 : 2;
  const int b = 2 - r;
  for (int i = 0; i < width; ++i, src += 4) {
    dst[i] =
        uint32_t{src[3]} << 24 | uint32_t{src[r]} << 16 | uint32_t{src[1]} << 8 | uint32_t{src[b]};
  }
}

void rowFromArgb32(const uint32_t* src, uint8_t* dst, PixelFormat format, int width) {
  const int r = format == PixelFormat::RGBA ? 0 : 2;
  const int b = 2 - r;
  for (int i = 0; i < width; ++i, dst += 4) {
    const uint32_t v = src[i];
    dst[r] = static_cast<uint8_t>(v >> 16);
    dst[1] = static_cast<uint8_t>(v >> 8);
    dst[b] = static_cast<uint8_t>(v);
    dst[3] = static_cast<uint8_t>(v >> 24);
  }
}

void copyToRgba(const PixelSource& s, uint8_t* dst, size_t dstBytesPerRow) {
  for (int y = 0; y < s.height; ++y) {
    const uint8_t* from = s.data + static_cast<size_t>(y) * s.bytesPerRow;
    uint8_t* to = dst + static_cast<size_t>(y) * dstBytesPerRow;
    for (int x = 0; x < s.width; ++x, from += 4, to += 4) {
      const bool swap = s.format == PixelFormat::BGRA;
      to[0] = from[swap ? 2 : 0];
      to[1] = from[1];
      to[2] = from[swap ? 0 : 2];
      to[3] = from[3];
    }
  }
}

}  // namespace detail
}  // namespace platform
