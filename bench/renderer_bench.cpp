// The largest morph the pipeline renders, 512 x 512 pixels at scale 2 (a
// disc into a rectangle, progress 0.5), on the compute device through
// MetalCursorRenderer and on the CPU through morphCPU.
//
// Counters: fps (frames per second), ms (milliseconds per frame) and, for
// the device, gpu_ms (the kernel's own time, from the profiling events) and
// device_over_cpu (device time per frame over the CPU's, measured in the
// same run). With pocl the device is this machine's CPU cores.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cursor/art/kernels.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"

namespace {

constexpr int32_t kSide = 512;
constexpr float kScale = 2;
constexpr float kProgress = 0.5f;

struct Picture {
  std::vector<uint8_t> rgba;
  std::vector<float> field;
};

// 4 x 4 supersampled coverage, a colour gradient, premultiplied.
template <class Inside>
Picture picture(Inside inside) {
  Picture p;
  p.rgba.assign(size_t{kSide} * kSide * 4, 0);
  for (int32_t y = 0; y < kSide; ++y) {
    for (int32_t x = 0; x < kSide; ++x) {
      int covered = 0;
      for (int s = 0; s < 16; ++s) covered += inside(x + (s % 4 + 0.5) / 4, y + (s / 4 + 0.5) / 4) ? 1 : 0;
      const double alpha = covered / 16.0;
      uint8_t* q = &p.rgba[4 * (size_t{static_cast<uint32_t>(y)} * kSide + static_cast<uint32_t>(x))];
      q[0] = static_cast<uint8_t>(std::lround(255 * alpha * (0.2 + 0.6 * x / kSide)));
      q[1] = static_cast<uint8_t>(std::lround(255 * alpha * (0.9 - 0.5 * y / kSide)));
      q[2] = static_cast<uint8_t>(std::lround(255 * alpha * 0.5));
      q[3] = static_cast<uint8_t>(std::lround(255 * alpha));
    }
  }
  p.field.resize(size_t{kSide} * kSide);
  std::vector<float> scratch(p.field.size());
  vurle::signedDistanceField(p.rgba.data(), p.field.data(), scratch.data(), kSide, kSide);
  return p;
}

const Picture& disc() {
  static const Picture p = picture([](double x, double y) { return std::hypot(x - 256, y - 256) <= 200; });
  return p;
}

const Picture& rectangle() {
  static const Picture p = picture([](double x, double y) { return x >= 80 && x <= 432 && y >= 140 && y <= 380; });
  return p;
}

void cpuFrame(std::vector<uint8_t>& out) {
  // The caller hands in a zeroed output; clearing it is part of a frame.
  std::fill(out.begin(), out.end(), 0);
  vurle::morphCPU(disc().field.data(), rectangle().field.data(), disc().rgba.data(), rectangle().rgba.data(),
                  out.data(), kSide, kSide, kProgress, kScale);
}

bool deviceFrame(vurle::MetalCursorRenderer& renderer, std::vector<uint8_t>& out) {
  return renderer.render(disc().field.data(), rectangle().field.data(), disc().rgba.data(), rectangle().rgba.data(),
                         out.data(), kSide, kSide, kProgress, kScale);
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Frame rates from the loop's own clock: the device benchmark's thread
// mostly waits, so CPU-time rates would overstate it.
void setFrameCounters(benchmark::State& state, double milliseconds) {
  const double perFrame = milliseconds / static_cast<double>(state.iterations());
  state.counters["ms"] = perFrame;
  state.counters["fps"] = 1000.0 / perFrame;
}

void BM_Morph512_CPU(benchmark::State& state) {
  std::vector<uint8_t> out(disc().rgba.size());
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    cpuFrame(out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  setFrameCounters(state, millisecondsSince(start));
}

void BM_Morph512_Device(benchmark::State& state) {
  // Prepared here, on this thread: the kernel is compiled before timing.
  static const auto renderer = [] {
    platform::SimulatedSchedulerScope scope;
    auto made = vurle::MetalCursorRenderer::make();
    scope->runUntilIdle();
    return made;
  }();
  std::vector<uint8_t> out(disc().rgba.size());
  // The CPU's time for the ratio, taken before the device's worker threads
  // have run and could compete with it.
  constexpr int kCPUFrames = 10;
  const auto cpuStart = std::chrono::steady_clock::now();
  for (int i = 0; i < kCPUFrames; ++i) cpuFrame(out);
  const double cpuMs = millisecondsSince(cpuStart) / kCPUFrames;

  if (!renderer->isPrepared() || !deviceFrame(*renderer, out)) {  // the warm-up frame also sizes the buffers
    state.SkipWithError(("no compute device: " + renderer->preparationError().value_or("render refused")).c_str());
    return;
  }
  double gpu = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!deviceFrame(*renderer, out)) {
      state.SkipWithError("render refused");
      return;
    }
    gpu += renderer->lastGPUTime();
    benchmark::DoNotOptimize(out.data());
  }
  const double deviceMs = millisecondsSince(start);
  setFrameCounters(state, deviceMs);
  state.counters["gpu_ms"] = gpu / static_cast<double>(state.iterations());

  state.counters["device_over_cpu"] = deviceMs / static_cast<double>(state.iterations()) / cpuMs;
}

BENCHMARK(BM_Morph512_CPU)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Morph512_Device)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
