// A 16 × 8192 picture drawn over a whole 8192 × 8192 context, enlarged
// 512 times across:
// - Enlarge/high and Enlarge/medium: at each quality;
// - Enlarge/high-clipped: at high quality through a 64 × 64 clip.
// Each reports the median time (median_ms) and how far one draw raised
// the peak resident memory above the context's own (peak_growth_mb; the
// peak is set back before each draw, so the order of the runs does not
// matter). Goal: high quality adds to medium's growth no more than a few
// rows of the context (its enlarged picture takes the place of the
// drawing's scratch surface), and through the clip next to nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "bench/peak_memory.hpp"
#include "platform/graphics/context.hpp"

namespace {

using namespace platform;

constexpr int kSide = 8192, kPictureWidth = 16;

void drawEnlarged(benchmark::State& state, CGInterpolationQuality quality, bool clipped) {
  std::vector<uint8_t> pixels(size_t(kPictureWidth) * kSide * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i % 4 == 3 ? 255 : (i * 7) % 256);
  const CGImageRef picture =
      CGImageCreate(kPictureWidth, kSide, 8, 32, kPictureWidth * 4, CGColorSpaceCreateDeviceRGB(),
                    kCGImageAlphaPremultipliedLast,
                    CGDataProviderCreateWithCFData(CFDataCreate(pixels.data(), pixels.size())), nullptr, true,
                    kCGRenderingIntentDefault);
  double growth = 0;
  std::vector<double> samples;
  for (auto _ : state) {
    state.PauseTiming();
    const CGContextRef context = CGBitmapContextCreate(nullptr, kSide, kSide, 8, size_t(kSide) * 4,
                                                       CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast);
    if (!context || !picture || !vurle::bench::resetPeakResident()) {
      state.SkipWithError("no context, no picture or no peak to reset");
      return;
    }
    CGContextSetInterpolationQuality(context, quality);
    if (clipped) CGContextClipToRect(context, CGRectMake(kSide / 2, kSide / 2, 64, 64));
    const double before = vurle::bench::peakResidentMegabytes();
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    CGContextDrawImage(context, CGRectMake(0, 0, kSide, kSide), picture);
    samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    growth = std::max(growth, vurle::bench::peakResidentMegabytes() - before);
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) state.counters["median_ms"] = samples[samples.size() / 2];
  state.counters["peak_growth_mb"] = growth;
}

void BM_EnlargeHigh(benchmark::State& state) { drawEnlarged(state, kCGInterpolationHigh, false); }
void BM_EnlargeMedium(benchmark::State& state) { drawEnlarged(state, kCGInterpolationMedium, false); }
void BM_EnlargeHighClipped(benchmark::State& state) { drawEnlarged(state, kCGInterpolationHigh, true); }

BENCHMARK(BM_EnlargeHigh)->Name("Enlarge/high")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EnlargeMedium)->Name("Enlarge/medium")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EnlargeHighClipped)->Name("Enlarge/high-clipped")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
