// Plain scalar reference versions of the seven kernels,
// written straight from the definition, one pixel and one operation at a
// time. They exist only for the tests (which prove the fast paths of
// kernels.cpp bit-identical to them) and for the benchmark (which shows the
// speed-up). Production code calls the functions of kernels.hpp.
//
// Conventions taken from the definition:
// - 32-bit float, every product rounded before it is added (the project
//   builds with -ffp-contract=off);
// - min and max of floats are IEEE minNum and maxNum (std::fmin, std::fmax:
//   a NaN operand is ignored); "v clamped to [lo, hi]" is
//   fmin(fmax(v, lo), hi), the order of Metal's clamp;
// - the mended faults of kernels.hpp (refusals, nothing done for sizes below
//   one) hold here as well, so both versions can be run on the same inputs.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vurle::reference {

inline constexpr float kDiagonal = 1.4142135f;

inline void chamferDistance(const uint8_t* rgba, float* out, int32_t width, int32_t height, int32_t inside) {
  if (width < 1 || height < 1) return;
  const int64_t n = int64_t{width} * height;
  const float big = static_cast<float>(2 * int64_t{std::max(width, height)});
  for (int64_t i = 0; i < n; ++i) {
    out[i] = (rgba[4 * i + 3] >> 7) == inside ? 0.0f : big;
  }
  const int64_t w = width;
  auto at = [&](int64_t x, int64_t y) -> float& { return out[y * w + x]; };

  // Forward pass: rows top to bottom, columns left to right.
  for (int64_t x = 1; x < w; ++x) at(x, 0) = std::fmin(at(x, 0), at(x - 1, 0) + 1.0f);
  for (int64_t y = 1; y < height; ++y) {
    float& o = at(0, y);
    o = std::fmin(o, at(0, y - 1) + 1.0f);
    if (w > 1) o = std::fmin(o, at(1, y - 1) + kDiagonal);
    for (int64_t x = 1; x < w; ++x) {
      float& p = at(x, y);
      p = std::fmin(p, at(x - 1, y) + 1.0f);
      p = std::fmin(p, at(x, y - 1) + 1.0f);
      p = std::fmin(p, at(x - 1, y - 1) + kDiagonal);
      if (x + 1 < w) p = std::fmin(p, at(x + 1, y - 1) + kDiagonal);
    }
  }

  // Backward pass: rows bottom to top, columns right to left.
  const int64_t last = height - 1;
  for (int64_t x = w - 2; x >= 0; --x) at(x, last) = std::fmin(at(x, last), at(x + 1, last) + 1.0f);
  for (int64_t y = last - 1; y >= 0; --y) {
    float& o = at(w - 1, y);
    o = std::fmin(o, at(w - 1, y + 1) + 1.0f);
    if (w > 1) o = std::fmin(o, at(w - 2, y + 1) + kDiagonal);
    for (int64_t x = w - 2; x >= 0; --x) {
      float& p = at(x, y);
      p = std::fmin(p, at(x + 1, y) + 1.0f);
      p = std::fmin(p, at(x, y + 1) + 1.0f);
      if (x > 0) p = std::fmin(p, at(x - 1, y + 1) + kDiagonal);
      p = std::fmin(p, at(x + 1, y + 1) + kDiagonal);
    }
  }
}

inline void signedDistanceField(const uint8_t* rgba, float* out, float* scratch, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return;
  chamferDistance(rgba, out, width, height, 0);
  chamferDistance(rgba, scratch, width, height, 1);
  const int64_t n = int64_t{width} * height;
  for (int64_t i = 0; i < n; ++i) out[i] = out[i] - scratch[i];
}

inline void lerpField(const float* a, const float* b, float* out, int32_t count, float t) {
  for (int32_t i = 0; i < count; ++i) {
    const float difference = b[i] - a[i];
    const float product = t * difference;
    out[i] = a[i] + product;
  }
}

inline bool padRaster(const float* sourceField, const uint8_t* sourceRGBA, float* destinationField,
                      uint8_t* destinationRGBA, int32_t sourceWidth, int32_t sourceHeight, int32_t destinationWidth,
                      int32_t destinationHeight, int32_t offsetX, int32_t offsetY) {
  if (sourceWidth < 0 || sourceHeight < 0 || destinationWidth < 0 || destinationHeight < 0) return false;
  if (offsetX < 0 || offsetY < 0) return false;
  if (int64_t{offsetX} + sourceWidth > destinationWidth) return false;
  if (int64_t{offsetY} + sourceHeight > destinationHeight) return false;
  const bool destinationHasPixels = destinationWidth >= 1 && destinationHeight >= 1;
  const bool sourceHasPixels = sourceWidth >= 1 && sourceHeight >= 1;
  if (destinationHasPixels && !sourceHasPixels) return false;

  if (destinationHasPixels) {
    for (int64_t y = 0; y < destinationHeight; ++y) {
      for (int64_t x = 0; x < destinationWidth; ++x) {
        const int64_t sx = x - offsetX;
        const int64_t sy = y - offsetY;
        const int64_t cx = std::clamp<int64_t>(sx, 0, sourceWidth - 1);
        const int64_t cy = std::clamp<int64_t>(sy, 0, sourceHeight - 1);
        const float v = sourceField[cy * sourceWidth + cx];
        const float dx = static_cast<float>(sx - cx);
        const float dy = static_cast<float>(sy - cy);
        const float dx2 = dx * dx;
        const float v2 = v * v;
        const float dy2 = dy * dy;
        const float inner = dx2 + v2;
        destinationField[y * destinationWidth + x] = -std::sqrt(dy2 + inner);
      }
    }
  }
  if (sourceHeight >= 1) {
    for (int64_t r = 0; r < sourceHeight; ++r) {
      const int64_t d = (offsetY + r) * destinationWidth + offsetX;
      std::memcpy(destinationField + d, sourceField + r * sourceWidth,
                  sizeof(float) * static_cast<size_t>(sourceWidth));
      std::memcpy(destinationRGBA + 4 * d, sourceRGBA + 4 * r * sourceWidth, 4 * static_cast<size_t>(sourceWidth));
    }
  }
  return true;
}

namespace morph_detail {

inline float clampf(float v, float lo, float hi) { return std::fmin(std::fmax(v, lo), hi); }

struct Point {
  float x;
  float y;
};

// Bilinear field sample S(u, v).
inline float sample(const float* field, int32_t width, int32_t height, float u, float v) {
  const float cu = clampf(u, 0.0f, static_cast<float>(width - 1));
  const int32_t ulow = static_cast<int32_t>(cu);
  const int32_t uhigh = std::min(ulow + 1, width - 1);
  const float ufraction = cu - static_cast<float>(ulow);
  const float cv = clampf(v, 0.0f, static_cast<float>(height - 1));
  const int32_t vlow = static_cast<int32_t>(cv);
  const int32_t vhigh = std::min(vlow + 1, height - 1);
  const float vfraction = cv - static_cast<float>(vlow);
  const int64_t w = width;
  const float a = field[vlow * w + ulow];
  const float b = field[vlow * w + uhigh];
  const float c = field[vhigh * w + ulow];
  const float e = field[vhigh * w + uhigh];
  const float top = a + (b - a) * ufraction;
  const float bottom = c + (e - c) * ufraction;
  return top * (1.0f - vfraction) + bottom * vfraction;
}

// One Newton update from a gradient, shared by the three steps. Returns false
// when the step stops because the gradient is too flat.
inline bool advance(Point& p, float delta, float gx, float gy, int32_t width, int32_t height) {
  const float length = gx * gx + gy * gy;
  if (length < 0.04f) return false;
  const float step = clampf(delta / length, -8.0f, 8.0f);
  p.x = p.x + gx * step;
  p.y = p.y + gy * step;
  p.x = clampf(p.x, 0.0f, static_cast<float>(width - 1));
  p.y = clampf(p.y, 0.0f, static_cast<float>(height - 1));
  return true;
}

inline Point project(const float* field, int32_t width, int32_t height, int32_t x, int32_t y, float d) {
  Point p{static_cast<float>(x), static_cast<float>(y)};
  const int64_t w = width;
  {
    const float delta = d - field[y * w + x];
    if (std::fabs(delta) < 0.05f) return p;
    const int32_t left = std::max(x - 1, 0);
    const int32_t right = std::min(x + 1, width - 1);
    const int32_t top = std::max(y - 1, 0);
    const int32_t bottom = std::min(y + 1, height - 1);
    const float gx = (field[y * w + right] - field[y * w + left]) * 0.5f;
    const float gy = (field[bottom * w + x] - field[top * w + x]) * 0.5f;
    if (!advance(p, delta, gx, gy, width, height)) return p;
  }
  for (int step = 2; step <= 3; ++step) {
    const float delta = d - sample(field, width, height, p.x, p.y);
    if (std::fabs(delta) < 0.05f) return p;
    const float gx =
        (sample(field, width, height, p.x + 1.0f, p.y) - sample(field, width, height, p.x - 1.0f, p.y)) * 0.5f;
    const float gy =
        (sample(field, width, height, p.x, p.y + 1.0f) - sample(field, width, height, p.x, p.y - 1.0f)) * 0.5f;
    if (!advance(p, delta, gx, gy, width, height)) return p;
  }
  return p;
}

inline void colour(const uint8_t* rgba, int32_t width, int32_t height, Point p, float out[4]) {
  if (p.x < 0.0f || p.y < 0.0f || p.x >= static_cast<float>(width - 1) || p.y >= static_cast<float>(height - 1)) {
    out[0] = out[1] = out[2] = out[3] = 0.0f;
    return;
  }
  const int32_t ix = static_cast<int32_t>(p.x);
  const int32_t iy = static_cast<int32_t>(p.y);
  const float tx = p.x - static_cast<float>(ix);
  const float ty = p.y - static_cast<float>(iy);
  const int64_t i = int64_t{iy} * width + ix;
  for (int k = 0; k < 4; ++k) {
    const float a = rgba[4 * i + k];
    const float b = rgba[4 * (i + 1) + k];
    const float c = rgba[4 * (i + width) + k];
    const float e = rgba[4 * (i + width + 1) + k];
    out[k] = (a + (b - a) * tx) * (1.0f - ty) + (c + (e - c) * tx) * ty;
  }
}

}  // namespace morph_detail

inline void morphCPU(const float* source, const float* target, const uint8_t* fromRGBA, const uint8_t* toRGBA,
                     uint8_t* output, int32_t width, int32_t height, float progress, float scale) {
  using namespace morph_detail;
  if (width < 1 || height < 1) return;
  const float cutoff = scale * -18.0f;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const int64_t i = int64_t{y} * width + x;
      const float d = source[i] + progress * (target[i] - source[i]);
      if (d < cutoff) continue;
      const Point a = project(source, width, height, x, y, d);
      const Point b = project(target, width, height, x, y, d);
      float f[4];
      float t[4];
      colour(fromRGBA, width, height, a, f);
      colour(toRGBA, width, height, b, t);
      for (int k = 0; k < 4; ++k) {
        const float value = f[k] + progress * (t[k] - f[k]);
        output[4 * i + k] = static_cast<uint8_t>(std::fmin(std::fmax(std::round(value), 0.0f), 255.0f));
      }
    }
  }
}

inline bool hasVisibleAlpha(const uint8_t* rgba, int32_t byteCount) {
  if (byteCount < 4) return false;
  for (int64_t i = 3; i < byteCount; i += 4) {
    if (rgba[i] != 0) return true;
  }
  return false;
}

// The definition keeps unsigned 32-bit counters; these are 64-bit, which
// gives the same answer for every count below 2^31 - 127 (the only counts at
// which the walk's running sum could pass 2^32 before it stops).
inline bool imagesNearlyEqual(const uint8_t* a, const uint8_t* b, int32_t count) {
  if (count < 1) return true;
  const uint64_t sumLimit = 2 * uint64_t(count);
  const uint64_t bigLimit = uint64_t(count) / 100;
  uint64_t sum = 0;
  uint64_t big = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int difference = std::abs(int{a[i]} - int{b[i]});
    sum += uint64_t(difference);
    if (difference >= 13) ++big;
    if (sum > sumLimit || big > bigLimit) return false;
  }
  return true;
}

}  // namespace vurle::reference
