// Whole pointer animations, through PointerAnimation as the engine drives
// them, on the CPU (prefersMetal off) and on the compute device (on):
// - Transition/*: arrow -> I-beam at scale 2, one pass = rest on the arrow,
//   begin the 0.15 s morph and take the picture of each of its 129 steps.
//   "uncached" empties the transition-frame store before every pass, so the
//   127 inner pictures are rendered and stored; "cached" serves them all
//   from the store.
// - Worst512/*: one uncached picture of a 512 x 512 pixel morph at scale 2
//   (a 250-point disc into a 250-point square, the largest morph allowed).
//
// Counters: fps (pictures per second, wall clock), ms (per pass or per
// picture) and, on the device, device_over_cpu (its time over the CPU's,
// measured in the same run). With pocl the device is this machine's cores.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/pointer_animation.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/windowserver/window_server.hpp"

namespace {

using vurle::ArtRef;
using vurle::PointerAnimation;
using vurle::PointerKind;

constexpr double kScale = 2;
constexpr int kSteps = 129;

std::shared_ptr<vurle::NativeCursorLibrary> library() {
  platform::WindowServer::shared();
  return vurle::NativeCursorLibrary::shared();
}

// The shared renderer the animations use, prepared on this thread before
// any timing; none when the machine has no compute device.
std::shared_ptr<vurle::MetalCursorRenderer> preparedRenderer() {
  static const auto renderer = [] {
    platform::SimulatedSchedulerScope scope;
    auto made = vurle::MetalCursorRenderer::shared();
    scope->runUntilIdle();
    return made;
  }();
  return renderer->isPrepared() ? renderer : nullptr;
}

// A 250 x 250 point cursor drawn at 2x with 4 x 4 supersampled coverage,
// a colour gradient, premultiplied; its hot spot in the middle.
ArtRef bigArt(const std::function<bool(double, double)>& inside) {
  constexpr int kPixels = 500;
  auto rep = platform::NSBitmapImageRep::make(nullptr, kPixels, kPixels, 8, 4, true, false,
                                              std::string(platform::NSDeviceRGBColorSpace), 4 * kPixels, 32);
  for (int y = 0; y < kPixels; ++y) {
    for (int x = 0; x < kPixels; ++x) {
      int covered = 0;
      for (int s = 0; s < 16; ++s) covered += inside((x + (s % 4 + 0.5) / 4) / 2, (y + (s / 4 + 0.5) / 4) / 2);
      const double alpha = covered / 16.0;
      uint8_t* p = rep->bitmapData() + y * rep->bytesPerRow() + 4 * x;
      p[0] = static_cast<uint8_t>(std::lround(255 * alpha * (0.2 + 0.6 * x / kPixels)));
      p[1] = static_cast<uint8_t>(std::lround(255 * alpha * (0.9 - 0.5 * y / kPixels)));
      p[2] = static_cast<uint8_t>(std::lround(255 * alpha * 0.5));
      p[3] = static_cast<uint8_t>(std::lround(255 * alpha));
    }
  }
  rep->setSize(platform::NSMakeSize(250, 250));
  auto image = platform::NSImage::make(platform::NSMakeSize(250, 250));
  image->addRepresentation(rep);
  library();
  return vurle::NativeCursorArt::make(platform::NSCursor::make(image, platform::NSMakePoint(125, 125)));
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One whole transition; false when a picture is missing.
bool transitionPass(bool metal) {
  const auto lib = library();
  PointerAnimation animation(kScale, std::nullopt, metal, false);
  if (!animation.show(lib->art(PointerKind::arrow), 0) || !animation.begin(lib->art(PointerKind::text), 1, 0.15)) {
    return false;
  }
  for (int step = 0; step < kSteps; ++step) {
    auto frame = animation.frame(1 + 0.15 * step / 128.0);
    if (!frame) return false;
    benchmark::DoNotOptimize(frame);
  }
  return true;
}

// The worst-case morph, begun once; each picture at mid progress is rendered.
PointerAnimation& worstCase(bool metal) {
  static const ArtRef disc = bigArt([](double x, double y) { return std::hypot(x - 125, y - 125) <= 100; });
  static const ArtRef square = bigArt([](double x, double y) { return x >= 30 && x <= 220 && y >= 60 && y <= 190; });
  static PointerAnimation animations[2] = {PointerAnimation(kScale, vurle::kMaximumMorphPixels, false, false),
                                           PointerAnimation(kScale, vurle::kMaximumMorphPixels, true, false)};
  PointerAnimation& animation = animations[metal ? 1 : 0];
  if (!animation.to) {
    animation.show(disc, 0);
    animation.begin(square, 1, 0.15);
  }
  return animation;
}

bool worstPicture(bool metal) {
  auto frame = worstCase(metal).frame(1.075);
  benchmark::DoNotOptimize(frame);
  return frame && frame->canvas.pixelCount() == vurle::kMaximumMorphPixels;
}

// Times `passes` runs of the CPU version, for the device's ratio.
double cpuMilliseconds(const std::function<void()>& pass, int passes) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < passes; ++i) pass();
  return millisecondsSince(start) / passes;
}

// Runs the loop on the wall clock; `pictures` per iteration.
template <class Body>
double timeLoop(benchmark::State& state, int pictures, Body body) {
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    if (!body()) {
      state.SkipWithError("a picture was not rendered");
      return 0;
    }
  }
  const double perIteration = millisecondsSince(start) / static_cast<double>(state.iterations());
  state.counters["ms"] = perIteration;
  state.counters["fps"] = 1000.0 * pictures / perIteration;
  return perIteration;
}

// Checks the device is there and takes the morph, not the CPU fallback.
bool requireDevice(benchmark::State& state, const std::function<bool()>& probe) {
  const auto renderer = preparedRenderer();
  const int64_t fallbacks = renderer ? renderer->fallbacks() : 0;
  if (!renderer || !probe() || renderer->fallbacks() != fallbacks) {
    state.SkipWithError("no compute device, or it refused the morph");
    return false;
  }
  return true;
}

void uncachedPass(benchmark::State& state, bool metal) {
  const auto body = [&] {
    state.PauseTiming();
    vurle::CursorTransitionFrames::removeAll();
    state.ResumeTiming();
    return transitionPass(metal);
  };
  if (metal && !requireDevice(state, [&] { return transitionPass(true); })) return;
  const double ms = timeLoop(state, kSteps, body);
  if (metal && ms > 0) {
    state.counters["device_over_cpu"] = ms / cpuMilliseconds(
                                                 [] {
                                                   vurle::CursorTransitionFrames::removeAll();
                                                   transitionPass(false);
                                                 },
                                                 5);
  }
}

void cachedPass(benchmark::State& state, bool metal) {
  if (metal && !requireDevice(state, [] { return transitionPass(true); })) return;
  if (!transitionPass(metal)) {  // fills the store
    state.SkipWithError("a picture was not rendered");
    return;
  }
  timeLoop(state, kSteps, [metal] { return transitionPass(metal); });
}

void worst(benchmark::State& state, bool metal) {
  if (metal && !requireDevice(state, [] { return worstPicture(true); })) return;
  const double ms = timeLoop(state, 1, [metal] { return worstPicture(metal); });
  if (metal && ms > 0) state.counters["device_over_cpu"] = ms / cpuMilliseconds([] { worstPicture(false); }, 10);
}

void BM_Transition_Uncached_CPU(benchmark::State& s) { uncachedPass(s, false); }
void BM_Transition_Uncached_Device(benchmark::State& s) { uncachedPass(s, true); }
void BM_Transition_Cached_CPU(benchmark::State& s) { cachedPass(s, false); }
void BM_Transition_Cached_Device(benchmark::State& s) { cachedPass(s, true); }
void BM_Worst512_CPU(benchmark::State& s) { worst(s, false); }
void BM_Worst512_Device(benchmark::State& s) { worst(s, true); }

BENCHMARK(BM_Transition_Uncached_CPU)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transition_Uncached_Device)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transition_Cached_CPU)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Transition_Cached_Device)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Worst512_CPU)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Worst512_Device)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
