// The onboarding backdrop's render, on its own queue, of one appearance:
// - Wallpaper/render-bundled: the bundled 1280 × 800 wallpaper;
// - Wallpaper/render-64MP: an 8192 × 8192 one, the reader's bound;
// both for the onboarding's 400 × 190 point view on a 1440 × 900 point
// screen at backing scale 2. Each reports the median time (median_ms) and
// how far the render raised the process's peak resident memory
// (peak_rss_growth_mb, from the first iteration). The peak is the
// process's, so run these alone for that figure:
//   vurle_bench --benchmark_filter=Wallpaper
// Goal at the bound: under 2 s and a peak growth well under 300 MB.
#include <benchmark/benchmark.h>
#include <png.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/desktop/system_wallpaper.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_wide.hpp"
#include "ui/onboarding/onboarding_wallpaper.hpp"

namespace {

namespace fs = std::filesystem;
using namespace platform;

// A dune-like RGB picture with a little grain, written row by row so that
// making it raises the peak by one row only.
bool writeWallpaper(const fs::path& path, unsigned width, unsigned height) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> row(size_t(width) * 3);
  volatile bool written = false;  // read after libpng's error jump
  if (png && info && !setjmp(png_jmpbuf(png))) {
    png_init_io(png, file);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    unsigned seed = 1;
    for (unsigned y = 0; y < height; ++y) {
      for (unsigned x = 0; x < width; ++x) {
        seed = seed * 1103515245u + 12345u;
        const unsigned grain = (seed >> 16) % 6, wave = (x / 37 + y / 23 + (x * y) / 90001) % 64;
        row[x * 3] = png_byte(150 + wave + grain);
        row[x * 3 + 1] = png_byte(110 + wave / 2 + y * 60 / height);
        row[x * 3 + 2] = png_byte(80 + x * 90 / width + grain);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    written = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && written;
}

double peakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) / 1024.0;
}

void renderWallpaper(benchmark::State& state, unsigned side) {
  resetProcessState();
  const fs::path root = fs::temp_directory_path() / ("vurle-wallpaper-bench-" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::optional<WallpaperPictures> pictures;
  if (side > 0) {
    if (!writeWallpaper(root / "wallpaper.png", side, side)) {
      state.SkipWithError("cannot write the wallpaper");
      return;
    }
    pictures = WallpaperPictures{root / "wallpaper.png", root / "wallpaper.png"};
  } else {
    pictures = WallpaperPictures{fs::path(VURLE_RESOURCES_DIR) / "wallpaper-light.png",
                                 fs::path(VURLE_RESOURCES_DIR) / "wallpaper-dark.png"};
  }
  if (const auto failure = layOutDesktopWallpaper(root / "system", pictures)) {
    state.SkipWithError(failure->c_str());
    return;
  }
  const vurle::OnboardingWallpaperView::RenderKey key{{400, 190}, {1440, 900}, 2, false};
  const double before = peakMegabytes();
  double growth = -1;
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto picture = vurle::OnboardingWallpaperView::renderBackdrop(key);
    samples.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!picture) state.SkipWithError("no picture");
    if (growth < 0) growth = peakMegabytes() - before;
  }
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) state.counters["median_ms"] = samples[samples.size() / 2];
  state.counters["peak_rss_growth_mb"] = growth;
  fs::remove_all(root);
  resetProcessState();
}

void BM_WallpaperBundled(benchmark::State& state) { renderWallpaper(state, 0); }
void BM_Wallpaper64MP(benchmark::State& state) { renderWallpaper(state, 8192); }

BENCHMARK(BM_WallpaperBundled)->Name("Wallpaper/render-bundled")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Wallpaper64MP)->Name("Wallpaper/render-64MP")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
