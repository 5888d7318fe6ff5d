#pragma once

// Compares a view graph's picture with the one stored beside the test.
// Stored pictures change only on purpose: run the test with
// VURLE_UPDATE_PICTURES=1 to write them, then look at them before
// committing. Without a stored picture the test fails.

#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/ui/drawing.hpp"

namespace platform::ui {

// `write` writes the picture to the path it is given.
inline void expectMatchesStoredPicture(const std::function<bool(const std::string&)>& write, const std::string& folder,
                                       const std::string& name) {
  const std::string stored = folder + "/" + name + ".png";
  const char* update = std::getenv("VURLE_UPDATE_PICTURES");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(write(stored)) << stored;
    return;
  }
  const auto actual = std::filesystem::temp_directory_path() /
                      ("vurle-" + name + "-" + std::to_string(::getpid()) + ".png");
  ASSERT_TRUE(write(actual.string()));
  const auto result = comparePNG(stored, actual.string(), 24);
  ASSERT_TRUE(result.loaded) << "no stored picture " << stored << " (VURLE_UPDATE_PICTURES=1 writes it)";
  EXPECT_TRUE(result.sameSize) << stored;
  // Antialiasing may move a little; anything beyond a few edge pixels is a change.
  EXPECT_LT(result.differingFraction, 0.005) << "differs from " << stored << "; see " << actual.string();
  if (result.sameSize && result.differingFraction < 0.005) std::filesystem::remove(actual);
}

inline void expectMatchesStoredPicture(ViewGraph& graph, const std::string& folder, const std::string& name) {
  expectMatchesStoredPicture([&](const std::string& path) { return writePNG(graph, path, 1); }, folder, name);
}

// A window's picture at scale 1 (writeWindowPNG).
inline void expectWindowMatchesStoredPicture(NSWindow& window, const std::string& folder, const std::string& name) {
  expectMatchesStoredPicture([&](const std::string& path) { return writeWindowPNG(window, path, 1); }, folder, name);
}

// One pixel of a picture at scale 1 (as `write` writes it to the path it is
// given), as {red, green, blue, alpha} in 0 ... 255 (premultiplied), for a
// check of one exact spot that a picture tolerance would let through.
inline std::optional<std::array<int, 4>> pixelOf(const std::function<bool(const std::string&)>& write, int x, int y) {
  const auto path = std::filesystem::temp_directory_path() / ("vurle-pixel-" + std::to_string(::getpid()) + ".png");
  if (!write(path.string())) return std::nullopt;
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  std::filesystem::remove(path);
  std::optional<std::array<int, 4>> pixel;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && x >= 0 && y >= 0 &&
      x < cairo_image_surface_get_width(surface) && y < cairo_image_surface_get_height(surface)) {
    cairo_surface_flush(surface);
    const unsigned char* row = cairo_image_surface_get_data(surface) + y * cairo_image_surface_get_stride(surface);
    const uint32_t v = reinterpret_cast<const uint32_t*>(row)[x];
    pixel = std::array<int, 4>{int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255), int(v >> 24)};
  }
  cairo_surface_destroy(surface);
  return pixel;
}

inline std::optional<std::array<int, 4>> pixelOf(ViewGraph& graph, int x, int y) {
  return pixelOf([&](const std::string& path) { return writePNG(graph, path, 1); }, x, y);
}

inline std::optional<std::array<int, 4>> pixelOf(NSWindow& window, int x, int y) {
  return pixelOf([&](const std::string& path) { return writeWindowPNG(window, path, 1); }, x, y);
}

}  // namespace platform::ui
