#pragma once

// Internal to the graphics layer: the supported pixel formats and the exact
// conversions between them and cairo's native ARGB32.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/graphics/image.hpp"

namespace platform::detail {

enum class PixelFormat {
  RGBA,  // premultiplied, bytes R,G,B,A
  BGRA,  // premultiplied, bytes B,G,R,A
};

// The format a bitmap info denotes, or nothing when the layer cannot draw it.
std::optional<PixelFormat> pixelFormatFor(CGBitmapInfo info);

// A read-only view of premultiplied pixels, rows top-down.
struct PixelSource {
  const uint8_t* data;
  size_t bytesPerRow;
  int width, height;
  PixelFormat format;
};

// The view of an image's bytes; the image must not be null.
PixelSource pixelSourceOf(const CGImage& image);

// Cairo's ARGB32 keeps each pixel as one native-endian uint32 (A<<24 | R<<16 |
// G<<8 | B), also premultiplied, so both directions are a pure permutation of
// bytes: no rounding, lossless both ways.
void rowToArgb32(const uint8_t* src, PixelFormat format, uint32_t* dst, int width);
void rowFromArgb32(const uint32_t* src, uint8_t* dst, PixelFormat format, int width);

// Copies `source` into RGBA rows of `dstBytesPerRow` bytes.
void copyToRgba(const PixelSource& source, uint8_t* dst, size_t dstBytesPerRow);

// The device RGB space, without consulting injected faults (for images the
// layer makes itself).
const CGColorSpaceRef& deviceRGB();

// Largest side cairo's image surfaces accept.
inline constexpr size_t kMaxPixelSide = 32767;
// Largest pixel store a context or bitmap rep sets up (rows × bytes per row);
// a compact 32767 × 32767 store fits.
inline constexpr size_t kMaxPixelBytes = size_t{1} << 32;

}  // namespace platform::detail
