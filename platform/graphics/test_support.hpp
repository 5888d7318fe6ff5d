#pragma once

// Shared by the graphics tests: small tagged pictures and pixel comparison.

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "platform/graphics/image.hpp"

namespace platform::testing {

using Pixel = std::array<uint8_t, 4>;

inline constexpr Pixel kClear{0, 0, 0, 0};
inline constexpr Pixel kRed{255, 0, 0, 255};
inline constexpr Pixel kBlue{0, 0, 255, 255};
inline constexpr Pixel kWhite{255, 255, 255, 255};

// Distinct opaque pixels, so misplaced copies are visible.
inline Pixel tag(int x, int y) { return {uint8_t(x * 16 + 1), uint8_t(y * 16 + 1), 7, 255}; }

inline CGImageRef makeImage(int w, int h, const std::function<Pixel(int, int)>& pixel,
                            CGBitmapInfo info = kCGImageAlphaPremultipliedLast) {
  std::vector<uint8_t> bytes;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Pixel p = pixel(x, y);
      bytes.insert(bytes.end(), p.begin(), p.end());
    }
  return CGImageCreate(size_t(w), size_t(h), 8, 32, 4 * size_t(w), CGColorSpaceCreateDeviceRGB(),
                       info,
                       CGDataProviderCreateWithCFData(CFDataCreate(bytes.data(), bytes.size())),
                       nullptr, true, kCGRenderingIntentDefault);
}

inline Pixel pixelAt(const uint8_t* data, size_t bytesPerRow, int x, int y) {
  const uint8_t* p = data + size_t(y) * bytesPerRow + 4 * size_t(x);
  return {p[0], p[1], p[2], p[3]};
}

inline bool near(Pixel a, Pixel b, int tolerance = 1) {
  for (int i = 0; i < 4; ++i)
    if (std::abs(int(a[i]) - int(b[i])) > tolerance) return false;
  return true;
}

}  // namespace platform::testing
