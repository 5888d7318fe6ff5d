#pragma once

// Core Graphics data, colour spaces and images.
//
// Pixel formats: the layer draws only 8-bit, 4-channel, premultiplied pixels
// in one of two memory orders:
//   * R,G,B,A  — kCGImageAlphaPremultipliedLast with byte order Default or 32Big
//                (the system's format everywhere);
//   * B,G,R,A  — kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little
//                (what cairo keeps natively on a little-endian machine).
// Every other combination is refused at creation (nullptr), so an unsupported
// picture never reaches a drawing call.
//
// Colour spaces are recorded but no colour management happens: pixel values
// pass through unchanged.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics/geometry.hpp"

namespace platform {

// ---- data ----------------------------------------------------------------

using CFData = std::vector<uint8_t>;
using CFDataRef = std::shared_ptr<const CFData>;

// Copies `length` bytes; a null `bytes` with a non-zero length gives nullptr.
CFDataRef CFDataCreate(const uint8_t* bytes, size_t length);

class CGDataProvider {
 public:
  explicit CGDataProvider(CFDataRef data) : data_(std::move(data)) {}
  const CFDataRef& data() const { return data_; }

 private:
  CFDataRef data_;
};
using CGDataProviderRef = std::shared_ptr<const CGDataProvider>;

// Shares the bytes (no copy). Null data -> nullptr.
CGDataProviderRef CGDataProviderCreateWithCFData(CFDataRef data);
// The provider's bytes; they are immutable, so the same data object is returned.
CFDataRef CGDataProviderCopyData(const CGDataProviderRef& provider);

// ---- colour spaces -------------------------------------------------------

inline constexpr const char* kCGColorSpaceSRGB = "kCGColorSpaceSRGB";
inline constexpr const char* kCGColorSpaceDeviceRGB = "kCGColorSpaceDeviceRGB";

class CGColorSpace {
 public:
  explicit CGColorSpace(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};
using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
// Knows kCGColorSpaceSRGB only; any other name -> nullptr.
CGColorSpaceRef CGColorSpaceCreateWithName(std::string_view name);
// kCGColorSpaceDeviceRGB or kCGColorSpaceSRGB; empty for a null space.
std::string CGColorSpaceCopyName(const CGColorSpaceRef& space);

// ---- bitmap info ---------------------------------------------------------

using CGBitmapInfo = uint32_t;

enum CGImageAlphaInfo : uint32_t {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,
  kCGImageAlphaPremultipliedFirst = 2,
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
  kCGImageAlphaNoneSkipFirst = 6,
  kCGImageAlphaOnly = 7,
};

inline constexpr CGBitmapInfo kCGBitmapAlphaInfoMask = 0x1F;
inline constexpr CGBitmapInfo kCGBitmapFloatComponents = 1u << 8;
inline constexpr CGBitmapInfo kCGBitmapByteOrderMask = 0x7000;
inline constexpr CGBitmapInfo kCGBitmapByteOrderDefault = 0;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Little = 1u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Little = 2u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder16Big = 3u << 12;
inline constexpr CGBitmapInfo kCGBitmapByteOrder32Big = 4u << 12;

enum CGColorRenderingIntent : int32_t {
  kCGRenderingIntentDefault = 0,
  kCGRenderingIntentAbsoluteColorimetric,
  kCGRenderingIntentRelativeColorimetric,
  kCGRenderingIntentPerceptual,
  kCGRenderingIntentSaturation,
};

// ---- images --------------------------------------------------------------

// Immutable. Identity matters to callers (the same picture is the same
// object), so images are only ever handed around as shared pointers.
class CGImage {
 public:
  struct Params {
    size_t width, height, bitsPerComponent, bitsPerPixel, bytesPerRow;
    CGColorSpaceRef space;
    CGBitmapInfo bitmapInfo;
    CGDataProviderRef provider;
    bool shouldInterpolate;
    CGColorRenderingIntent intent;
  };
  explicit CGImage(Params p) : p_(std::move(p)) {}
  const Params& params() const { return p_; }

 private:
  Params p_;
};
using CGImageRef = std::shared_ptr<const CGImage>;

// nullptr when: provider or space is null, width or height is 0 or above
// 32767 (the drawing engine's limit), bitsPerComponent != 8, bitsPerPixel !=
// 32, the bitmap info is not one of the two supported formats above, decode
// is not null (decode arrays are not supported), bytesPerRow < 4 × width, or
// the provider holds fewer than bytesPerRow × (height − 1) + 4 × width bytes.
// The image shares the provider's bytes.
//
// shouldInterpolate is recorded only: scaled drawing always uses the
// context's interpolation quality, so every drawing path resamples alike.
CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo,
                         CGDataProviderRef provider, const CGFloat* decode, bool shouldInterpolate,
                         CGColorRenderingIntent intent);

// The part of the image inside `rect` (pixels, origin at the image's top-left
// corner), after CGRectIntegral and clipping to the image; a copy of those
// pixels in the same format. nullptr when nothing of the image is inside.
CGImageRef CGImageCreateWithImageInRect(const CGImageRef& image, CGRect rect);

// Accessors answer 0 / nullptr for a null image.
size_t CGImageGetWidth(const CGImageRef& image);
size_t CGImageGetHeight(const CGImageRef& image);
size_t CGImageGetBitsPerComponent(const CGImageRef& image);
size_t CGImageGetBitsPerPixel(const CGImageRef& image);
size_t CGImageGetBytesPerRow(const CGImageRef& image);
CGBitmapInfo CGImageGetBitmapInfo(const CGImageRef& image);
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& image);
CGColorSpaceRef CGImageGetColorSpace(const CGImageRef& image);
CGDataProviderRef CGImageGetDataProvider(const CGImageRef& image);
bool CGImageGetShouldInterpolate(const CGImageRef& image);

// ---- failure injection for tests -----------------------------------------

enum class GraphicsFault {
  DataProvider,     // CGDataProviderCreateWithCFData
  ColorSpace,       // CGColorSpaceCreateDeviceRGB / CGColorSpaceCreateWithName
  Image,            // every CGImage creation, including copies made by contexts and reps
  BitmapContext,    // CGBitmapContextCreate
  BitmapRep,        // NSBitmapImageRep::make / makeWithCGImage
  GraphicsContext,  // NSGraphicsContext::graphicsContextWithBitmapImageRep
  Enlargement,      // a high-quality enlargement's working memory (drawn at medium quality instead)
};

// Process-wide count of upcoming failures per kind; thread-safe.
struct GraphicsFaults {
  // The next `count` creations of that kind fail (adds to any pending count).
  static void failNext(GraphicsFault kind, unsigned count = 1);
  static unsigned pending(GraphicsFault kind);
  static void reset();
  // Used by the layer: true (and one fewer pending) when this creation must fail.
  static bool consume(GraphicsFault kind);
};

}  // namespace platform
