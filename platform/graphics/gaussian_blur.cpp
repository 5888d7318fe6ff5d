#include "platform/graphics/gaussian_blur.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform {
namespace {

// One box pass over `n` samples of `channels` values: out[i] = the mean of
// in[i - left ... i + right], with samples outside counting as zero.
void boxPass(const std::vector<double>& in, std::vector<double>& out, int n, int channels, int left, int right,
             std::vector<double>& prefix) {
  const double size = double(left + right + 1);
  prefix.assign(size_t(n + 1) * channels, 0.0);
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < channels; ++c)
      prefix[size_t(i + 1) * channels + c] = prefix[size_t(i) * channels + c] + in[size_t(i) * channels + c];
  for (int i = 0; i < n; ++i) {
    const int lo = std::max(0, i - left), hi = std::min(n - 1, i + right);
    for (int c = 0; c < channels; ++c) {
      const double sum = lo <= hi ? prefix[size_t(hi + 1) * channels + c] - prefix[size_t(lo) * channels + c] : 0.0;
      out[size_t(i) * channels + c] = sum / size;
    }
  }
}

// The three passes along one line of `n` samples. The line is worked on
// with a clear margin of the blur's reach on each side, so what the first
// passes spread past the ends still comes back in the last: the result is
// the zero-padded line convolved with the whole kernel.
void blurLine(std::vector<double>& line, int n, int channels, int d, std::vector<double>& scratch,
              std::vector<double>& prefix) {
  const int margin = 3 * (d / 2);
  const int padded = n + 2 * margin;
  std::vector<double> work(size_t(padded) * channels, 0.0);
  std::copy(line.begin(), line.begin() + size_t(n) * channels, work.begin() + size_t(margin) * channels);
  scratch.assign(work.size(), 0.0);
  const int h = d / 2;
  // Odd d: three centred boxes; even d: left edge, right edge, then d + 1 centred.
  const int left[3] = {h, d % 2 ? h : h - 1, h}, right[3] = {d % 2 ? h : h - 1, h, h};
  boxPass(work, scratch, padded, channels, left[0], right[0], prefix);
  boxPass(scratch, work, padded, channels, left[1], right[1], prefix);
  boxPass(work, scratch, padded, channels, left[2], right[2], prefix);
  std::copy(scratch.begin() + size_t(margin) * channels, scratch.begin() + size_t(margin + n) * channels, line.begin());
}

}  // namespace

int gaussianBoxSize(double sigma) {
  if (!std::isfinite(sigma) || sigma <= 0) return 0;
  const double d = std::floor(sigma * 3.0 * std::sqrt(2.0 * M_PI) / 4.0 + 0.5);
  // Far beyond any picture; keeps the arithmetic in range.
  return int(std::min(d, 1e6));
}

int gaussianReach(double sigma) {
  const int d = gaussianBoxSize(sigma);
  if (d <= 1) return 0;
  // Odd d: three passes of d / 2 each side; even d: d / 2 + (d / 2 − 1) +
  // d / 2, one less. 3 (d / 2) bounds both.
  return 3 * (d / 2);
}

void gaussianBlur(float* pixels, int width, int height, int channels, double sigmaX, double sigmaY) {
  if (!pixels || width <= 0 || height <= 0 || channels <= 0) return;
  const int dx = gaussianBoxSize(sigmaX), dy = gaussianBoxSize(sigmaY);
  std::vector<double> line, scratch, prefix;
  if (dx > 1) {
    for (int y = 0; y < height; ++y) {
      float* row = pixels + size_t(y) * width * channels;
      line.assign(row, row + size_t(width) * channels);
      blurLine(line, width, channels, dx, scratch, prefix);
      for (size_t i = 0; i < line.size(); ++i) row[i] = float(line[i]);
    }
  }
  if (dy > 1) {
    line.resize(size_t(height) * channels);
    for (int x = 0; x < width; ++x) {
      for (int y = 0; y < height; ++y)
        for (int c = 0; c < channels; ++c) line[size_t(y) * channels + c] = pixels[(size_t(y) * width + x) * channels + c];
      blurLine(line, height, channels, dy, scratch, prefix);
      for (int y = 0; y < height; ++y)
        for (int c = 0; c < channels; ++c) pixels[(size_t(y) * width + x) * channels + c] = float(line[size_t(y) * channels + c]);
    }
  }
}

}  // namespace platform
