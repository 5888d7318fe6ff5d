// Benchmarks of the distance-field and morph kernels.
//
// Cases:
// - signedDistanceField of a typical cursor canvas and of a 512 x 512 canvas
//   (the largest the pipeline morphs: 262144 pixels);
// - morphCPU at progress 0.5 from an arrow to an I-beam, both drawn with
//   plain code (anti-aliased by supersampling, premultiplied RGBA) with a
//   3-point margin, fields by signedDistanceField, placed hotspot-aligned on
//   their union canvas with padRaster:
//     scale2         render scale 2, arrow image 17 x 23 points, I-beam
//                    9 x 18 points: union canvas 47 x 68 pixels;
//     scale2_66x107  the same on a 66 x 107 pixel canvas (wider margins),
//                    the canvas size of the performance target;
//     scale3         render scale 3 (cursor scale 1.5 on a Retina screen):
//                    71 x 102 pixels;
// - morphCPU at progress 0.5 between a big disc and a big rectangle on
//   512 x 512 pixels at scale 2.
// Each case runs the dispatched fast path ("fast": the best path of this
// processor), the AVX2 path ("avx2", where supported), the SSE2 baseline
// path ("sse2") and the plain scalar reference ("reference"). Items are
// pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cursor/art/kernels.hpp"
#include "cursor/art/kernels_reference.hpp"

namespace {

using vurle::kernels_detail::KernelPath;

struct Point {
  double x;
  double y;
};
using Polygon = std::vector<Point>;

// Even-odd point-in-polygon test.
bool insidePolygon(const Polygon& polygon, double x, double y) {
  bool inside = false;
  for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
    const Point& a = polygon[i];
    const Point& b = polygon[j];
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) inside = !inside;
  }
  return inside;
}

bool insideAny(const std::vector<Polygon>& shapes, double x, double y) {
  for (const Polygon& p : shapes) {
    if (insidePolygon(p, x, y)) return true;
  }
  return false;
}

Polygon rectangle(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

Polygon disc(double cx, double cy, double r) {
  Polygon p;
  for (int i = 0; i < 180; ++i) {
    const double a = 2 * 3.14159265358979323846 * i / 180;
    p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return p;
}

// A canvas in points (hotspot at the origin, y down) at a pixel scale.
struct Canvas {
  double minX, minY, maxX, maxY;
  double scale;
  int32_t width() const { return static_cast<int32_t>(std::lround((maxX - minX) * scale)); }
  int32_t height() const { return static_cast<int32_t>(std::lround((maxY - minY) * scale)); }
};

// Canvas of an image of (w, h) points with its hotspot (hx, hy), outset by a
// 3-point margin and aligned to whole pixels.
Canvas artCanvas(double w, double h, double hx, double hy, double scale) {
  const double minX = -hx - 3, minY = -hy - 3, maxX = w - hx + 3, maxY = h - hy + 3;
  return {std::floor(minX * scale) / scale, std::floor(minY * scale) / scale, std::ceil(maxX * scale) / scale,
          std::ceil(maxY * scale) / scale, scale};
}

Canvas unionCanvas(const Canvas& a, const Canvas& b) {
  return {std::min(a.minX, b.minX), std::min(a.minY, b.minY), std::max(a.maxX, b.maxX), std::max(a.maxY, b.maxY),
          a.scale};
}

// Premultiplied RGBA of the shapes, 4 x 4 supersampled; a colour gradient so
// that the colour sampling of the morph has something to blend.
std::vector<uint8_t> draw(const std::vector<Polygon>& shapes, const Canvas& canvas) {
  const int32_t w = canvas.width(), h = canvas.height();
  std::vector<uint8_t> rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      int covered = 0;
      for (int sy = 0; sy < 4; ++sy) {
        for (int sx = 0; sx < 4; ++sx) {
          const double px = canvas.minX + (x + (sx + 0.5) / 4) / canvas.scale;
          const double py = canvas.minY + (y + (sy + 0.5) / 4) / canvas.scale;
          if (insideAny(shapes, px, py)) ++covered;
        }
      }
      const double alpha = covered / 16.0;
      const double r = 0.2 + 0.6 * x / w, g = 0.9 - 0.5 * y / h, b = 0.5;
      uint8_t* p = &rgba[4 * (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x))];
      p[0] = static_cast<uint8_t>(std::lround(255 * alpha * r));
      p[1] = static_cast<uint8_t>(std::lround(255 * alpha * g));
      p[2] = static_cast<uint8_t>(std::lround(255 * alpha * b));
      p[3] = static_cast<uint8_t>(std::lround(255 * alpha));
    }
  }
  return rgba;
}

struct Picture {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;
  std::vector<float> field;
};

Picture picture(const std::vector<Polygon>& shapes, const Canvas& canvas) {
  Picture p;
  p.width = canvas.width();
  p.height = canvas.height();
  p.rgba = draw(shapes, canvas);
  p.field.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
  std::vector<float> scratch(p.field.size());
  vurle::signedDistanceField(p.rgba.data(), p.field.data(), scratch.data(), p.width, p.height);
  return p;
}

// The picture placed on a larger canvas with padRaster (zeroed colours).
Picture padded(const Picture& source, const Canvas& from, const Canvas& to) {
  Picture p;
  p.width = to.width();
  p.height = to.height();
  p.rgba.assign(static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 4, 0);
  p.field.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
  const auto offsetX = static_cast<int32_t>(std::lround((from.minX - to.minX) * to.scale));
  const auto offsetY = static_cast<int32_t>(std::lround((from.minY - to.minY) * to.scale));
  vurle::padRaster(source.field.data(), source.rgba.data(), p.field.data(), p.rgba.data(), source.width, source.height,
                   p.width, p.height, offsetX, offsetY);
  return p;
}

// Arrow image 17 x 23 points, hotspot at its tip (4, 4): an outlined arrow.
std::vector<Polygon> arrowShapes() {
  return {{{0, 0}, {0, 17.5}, {4.2, 13.6}, {7.2, 20.2}, {10.4, 18.8}, {7.5, 12.4}, {13, 12.4}}};
}
constexpr double kArrowW = 17, kArrowH = 23, kArrowHotX = 4, kArrowHotY = 4;

// I-beam image 9 x 18 points, hotspot at its centre: a stem with two serifs.
std::vector<Polygon> ibeamShapes() {
  return {rectangle(-0.9, -7.5, 0.9, 7.5), rectangle(-3.8, -8.6, 3.8, -6.8), rectangle(-3.8, 6.8, 3.8, 8.6)};
}
constexpr double kBeamW = 9, kBeamH = 18, kBeamHotX = 4.5, kBeamHotY = 9;

struct MorphCase {
  Picture from, to;
  float scale = 2;
};

// The arrow and the I-beam, hotspot-aligned on their union canvas. With
// `pixels` set, the union canvas is widened evenly (by whole pixels) to that
// size: a wider margin around the same pictures.
MorphCase cursorCase(double scale, std::pair<int32_t, int32_t> pixels = {0, 0}) {
  const Canvas arrowCanvas = artCanvas(kArrowW, kArrowH, kArrowHotX, kArrowHotY, scale);
  const Canvas beamCanvas = artCanvas(kBeamW, kBeamH, kBeamHotX, kBeamHotY, scale);
  Canvas both = unionCanvas(arrowCanvas, beamCanvas);
  if (pixels.first > 0) {
    const int32_t extraX = pixels.first - both.width(), extraY = pixels.second - both.height();
    both.minX -= (extraX / 2) / scale;
    both.minY -= (extraY / 2) / scale;
    both.maxX = both.minX + pixels.first / scale;
    both.maxY = both.minY + pixels.second / scale;
  }
  MorphCase c;
  c.from = padded(picture(arrowShapes(), arrowCanvas), arrowCanvas, both);
  c.to = padded(picture(ibeamShapes(), beamCanvas), beamCanvas, both);
  c.scale = static_cast<float>(scale);
  return c;
}

MorphCase largeCase() {
  const Canvas canvas{0, 0, 256, 256, 2};  // 512 x 512 pixels
  MorphCase c;
  c.from = picture({disc(128, 128, 100)}, canvas);
  c.to = picture({rectangle(40, 70, 216, 190)}, canvas);
  c.scale = 2;
  return c;
}

const MorphCase& cursorCase2() {
  static const MorphCase c = cursorCase(2);
  return c;
}
const MorphCase& cursorCase66x107() {
  static const MorphCase c = cursorCase(2, {66, 107});
  return c;
}
const MorphCase& cursorCase3() {
  static const MorphCase c = cursorCase(3);
  return c;
}
const MorphCase& largeMorphCase() {
  static const MorphCase c = largeCase();
  return c;
}

enum class Variant { fast, avx2, sse2, reference };

// Puts the variant's path in force for the life of the object.
class PathScope {
 public:
  explicit PathScope(Variant v) : previous_(vurle::kernels_detail::currentPath()) {
    if (v == Variant::sse2) vurle::kernels_detail::setPathForTesting(KernelPath::baseline);
    if (v == Variant::avx2) vurle::kernels_detail::setPathForTesting(KernelPath::avx2);
  }
  ~PathScope() { vurle::kernels_detail::setPathForTesting(previous_); }

 private:
  KernelPath previous_;
};

void sdf(benchmark::State& state, const Picture& p, Variant variant) {
  PathScope scope(variant);
  std::vector<float> out(p.field.size()), scratch(p.field.size());
  for (auto _ : state) {
    if (variant == Variant::reference) {
      vurle::reference::signedDistanceField(p.rgba.data(), out.data(), scratch.data(), p.width, p.height);
    } else {
      vurle::signedDistanceField(p.rgba.data(), out.data(), scratch.data(), p.width, p.height);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(out.size()));
  state.counters["width"] = p.width;
  state.counters["height"] = p.height;
}

void morph(benchmark::State& state, const MorphCase& c, Variant variant) {
  PathScope scope(variant);
  const int32_t w = c.from.width, h = c.from.height;
  std::vector<uint8_t> out(c.from.rgba.size());
  for (auto _ : state) {
    // The caller hands in a zeroed output; clearing it is part of a frame.
    std::fill(out.begin(), out.end(), 0);
    if (variant == Variant::reference) {
      vurle::reference::morphCPU(c.from.field.data(), c.to.field.data(), c.from.rgba.data(), c.to.rgba.data(),
                                 out.data(), w, h, 0.5f, c.scale);
    } else {
      vurle::morphCPU(c.from.field.data(), c.to.field.data(), c.from.rgba.data(), c.to.rgba.data(), out.data(), w, h,
                      0.5f, c.scale);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t{w} * h);
  state.counters["width"] = w;
  state.counters["height"] = h;
}

const char* variantName(Variant v) {
  switch (v) {
    case Variant::fast:
      return "fast";
    case Variant::avx2:
      return "avx2";
    case Variant::sse2:
      return "sse2";
    case Variant::reference:
      return "reference";
  }
  return "";
}

void registerAll() {
  const bool avx2 = vurle::kernels_detail::pathSupported(KernelPath::avx2);
  for (Variant v : {Variant::fast, Variant::avx2, Variant::sse2, Variant::reference}) {
    if (v == Variant::avx2 && !avx2) continue;
    const std::string suffix = std::string("/") + variantName(v);
    benchmark::RegisterBenchmark(("SignedDistanceField/arrow_scale2" + suffix).c_str(), [v](benchmark::State& s) {
      static const Picture p = picture(arrowShapes(), artCanvas(kArrowW, kArrowH, kArrowHotX, kArrowHotY, 2));
      sdf(s, p, v);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("SignedDistanceField/512x512" + suffix).c_str(), [v](benchmark::State& s) {
      static const Picture p = largeMorphCase().from;
      sdf(s, p, v);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("MorphCPU/arrow_to_ibeam_scale2" + suffix).c_str(), [v](benchmark::State& s) {
      morph(s, cursorCase2(), v);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("MorphCPU/arrow_to_ibeam_scale2_66x107" + suffix).c_str(), [v](benchmark::State& s) {
      morph(s, cursorCase66x107(), v);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("MorphCPU/arrow_to_ibeam_scale3" + suffix).c_str(), [v](benchmark::State& s) {
      morph(s, cursorCase3(), v);
    })->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("MorphCPU/disc_to_rect_512x512" + suffix).c_str(), [v](benchmark::State& s) {
      morph(s, largeMorphCase(), v);
    })->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  registerAll();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
