#pragma once

// Pictures for the tests: a CGImage or a PNG file painted pixel by pixel,
// and the pixels of a CGImage read back.

#include <cairo.h>

#include <array>
#include <functional>
#include <string>

#include "platform/graphics/image.hpp"

namespace platform::testing {

using Pixel = std::array<int, 4>;  // premultiplied R, G, B, A in 0 ... 255
// x from the left, y from the top row.
using Painter = std::function<Pixel(int x, int y)>;

inline CGImageRef makeImage(int width, int height, const Painter& paint) {
  auto bytes = std::make_shared<CFData>(size_t(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Pixel p = paint(x, y);
      for (int c = 0; c < 4; ++c) (*bytes)[(size_t(y) * width + x) * 4 + c] = uint8_t(p[c]);
    }
  return CGImageCreate(width, height, 8, 32, size_t(width) * 4, CGColorSpaceCreateDeviceRGB(),
                       kCGImageAlphaPremultipliedLast, CGDataProviderCreateWithCFData(bytes), nullptr, false,
                       kCGRenderingIntentDefault);
}

inline bool writePNGFile(const std::string& path, int width, int height, const Painter& paint) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Pixel p = paint(x, y);
      reinterpret_cast<uint32_t*>(data + y * stride)[x] =
          uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | uint32_t(p[2]);
    }
  cairo_surface_mark_dirty(surface);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

inline Pixel pixelAt(const CGImageRef& image, int x, int y) {
  const auto& p = image->params();
  const uint8_t* s = p.provider->data()->data() + size_t(y) * p.bytesPerRow + size_t(x) * 4;
  return {s[0], s[1], s[2], s[3]};
}

}  // namespace platform::testing
