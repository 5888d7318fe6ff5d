#pragma once

// Pictures for the tests and benchmarks: a CGImage or a PNG file painted
// pixel by pixel, a PNG of any kind, and the pixels of a CGImage read back.

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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

// A PNG as libpng stores it, and how many rows are handed to libpng before
// the file ends: all of them and the picture's end by default; fewer leave
// a picture cut short, none only its header.
struct PNGKind {
  int colorType = PNG_COLOR_TYPE_RGB_ALPHA, depth = 8;
  bool interlaced = false;
  int rowsWritten = -1;
};

using Sampler = std::function<int(int x, int y, int c)>;

// Writes the picture through `png`, packing each row into `row`. libpng's
// error jump lands here; this function owns nothing a jump could leak.
inline bool writeRows(png_structp png, png_infop info, std::FILE* file, int width, int height, const PNGKind& kind,
                      int channels, const Sampler& sample, std::vector<png_byte>& row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), kind.depth, kind.colorType,
               kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (kind.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[16];
    png_byte alphas[16];
    for (int i = 0; i < 16; ++i) {
      palette[i] = {png_byte(i * 16), png_byte(255 - i * 9), png_byte(i * i)};
      alphas[i] = png_byte(i < 4 ? i * 60 : 255);
    }
    png_set_PLTE(png, info, palette, 16);
    png_set_tRNS(png, info, alphas, 16, nullptr);
  }
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  int left = kind.rowsWritten < 0 ? passes * height : kind.rowsWritten;
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < height && left > 0; ++y, --left) {
      // Samples packed as the file stores them, most significant bits first.
      std::fill(row.begin(), row.end(), png_byte(0));
      size_t bit = 0;
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < channels; ++c, bit += size_t(kind.depth)) {
          const unsigned v = unsigned(sample(x, y, c));
          if (kind.depth >= 8)
            for (int b = kind.depth - 8; b >= 0; b -= 8) row[(bit + size_t(kind.depth - 8 - b)) / 8] = png_byte(v >> b);
          else
            row[bit / 8] |= png_byte(v << (8 - kind.depth - bit % 8));
        }
      png_write_row(png, row.data());
    }
  if (kind.rowsWritten < 0) png_write_end(png, nullptr);
  return true;
}

// Writes a PNG of any kind, one row at a time (a large picture costs one
// row of memory): `sample` gives channel c of pixel (x, y) in the depth's
// range; for a palette picture, its index into 16 entries, the first four
// with alphas 0, 60, 120 and 180.
inline bool writePNG(const std::string& path, int width, int height, const PNGKind& kind, const Sampler& sample) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const int channels = kind.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : kind.colorType == PNG_COLOR_TYPE_RGB ? 3
                       : kind.colorType == PNG_COLOR_TYPE_GRAY_ALPHA                                        ? 2
                                                                                                             : 1;
  std::vector<png_byte> row(size_t(width) * size_t(channels) * 2);
  const bool written = png && info && writeRows(png, info, file, width, height, kind, channels, sample, row);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && written;
}

// A picture painted in premultiplied pixels, written in 8-bit RGBA with its
// colour divided by alpha as cairo writes it.
inline bool writePNGFile(const std::string& path, int width, int height, const Painter& paint) {
  Pixel p{};
  int px = -1, py = -1;  // the pixel painted last: its four channels come one after another
  return writePNG(path, width, height, {}, [&](int x, int y, int c) {
    if (x != px || y != py) p = paint(x, y), px = x, py = y;
    const int a = p[3];
    return c == 3 ? a : a == 0 ? 0 : (p[size_t(c)] * 255 + a / 2) / a;
  });
}

inline Pixel pixelAt(const CGImageRef& image, int x, int y) {
  const auto& p = image->params();
  const uint8_t* s = p.provider->data()->data() + size_t(y) * p.bytesPerRow + size_t(x) * 4;
  return {s[0], s[1], s[2], s[3]};
}

}  // namespace platform::testing
