#include "platform/coreimage/image_source.hpp"

#include <cairo.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/coreimage/core_image.hpp"
#include "platform/coreimage/test_images.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing::Pixel;

class ImageSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    root_ = fs::temp_directory_path() / ("vurle-images-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "System/Pictures");
    setSystemRoot(root_);
  }
  void TearDown() override {
    fs::remove_all(root_);
    resetProcessState();
  }
  std::string put(const std::string& name) { return (root_ / "System/Pictures" / name).string(); }
  static NSURL url(const std::string& name) { return NSURL::fileURLWithPath("/System/Pictures/" + name); }
  // A PNG's header claiming a size, with nothing after it.
  bool putHeader(const std::string& name, int width, int height) {
    return testing::writePNG(put(name), width, height, {.rowsWritten = 0}, [](int, int, int) { return 0; });
  }
  fs::path root_;
};

// The picture as cairo's own PNG reader gives it, in RGBA.
std::vector<uint8_t> readWithCairo(const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  std::vector<uint8_t> pixels;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const bool opaque = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint32_t v = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                             y * cairo_image_surface_get_stride(surface))[x];
        pixels.insert(pixels.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), opaque ? uint8_t(255) : uint8_t(v >> 24)});
      }
  }
  cairo_surface_destroy(surface);
  return pixels;
}

std::vector<uint8_t> bytesOf(const CGImageRef& image) {
  return image ? *image->params().provider->data() : std::vector<uint8_t>();
}

TEST_F(ImageSourceTest, ReadsByContentWhateverTheFileIsCalled) {
  const auto paint = [](int x, int y) { return y == 0 ? Pixel{255, 0, 0, 255} : Pixel{0, 0, x * 60, 255}; };
  ASSERT_TRUE(testing::writePNGFile(put("WallpaperLight.heic"), 4, 3, paint));
  std::ofstream(put("real.heic"), std::ios::binary) << std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16);
  std::ofstream(put("photo.png"), std::ios::binary) << "\xFF\xD8\xFF\xE0 not really";
  std::ofstream(put("text.png"), std::ios::binary) << "just text";
  ASSERT_TRUE(putHeader("truncated.png", 4, 3));

  struct Case {
    std::string name, type;
    bool readable;
  };
  const Case cases[] = {
      {"WallpaperLight.heic", "public.png", true}, {"real.heic", "public.heic", false},
      {"photo.png", "public.jpeg", false},         {"text.png", "", false},
      {"truncated.png", "public.png", false},
  };
  for (const auto& c : cases) {
    const auto source = CGImageSourceCreateWithURL(url(c.name));
    ASSERT_TRUE(source) << c.name;
    EXPECT_EQ(CGImageSourceGetType(source), c.type) << c.name;
    EXPECT_EQ(CGImageSourceCreateImageAtIndex(source, 0) != nullptr, c.readable) << c.name;
    EXPECT_EQ(CIImage::imageWithContentsOfURL(url(c.name)).has_value(), c.readable) << c.name;
  }
  EXPECT_FALSE(CGImageSourceCreateWithURL(url("missing.png")));
  EXPECT_FALSE(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithURL(url("WallpaperLight.heic")), 1));

  const CGImageRef image = CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithURL(url("WallpaperLight.heic")), 0);
  ASSERT_EQ(CGImageGetWidth(image), 4u);
  ASSERT_EQ(CGImageGetHeight(image), 3u);
  EXPECT_EQ(testing::pixelAt(image, 2, 0), (Pixel{255, 0, 0, 255})) << "the first row is the top";
  EXPECT_EQ(testing::pixelAt(image, 3, 2), (Pixel{0, 0, 180, 255}));
}

TEST_F(ImageSourceTest, PicturesOverTheBoundsAreUnreadableBeforeDecoding) {
  struct Case {
    size_t width, height;
    bool readable;
  };
  const Case cases[] = {{16384, 1, true},    {16385, 1, false},   {1, 16384, true},   {1, 16385, false},
                        {8192, 8192, true},  {8192, 8193, false}, {16384, 4096, true}, {16384, 4097, false},
                        {0, 10, false},      {10, 0, false}};
  for (const auto& c : cases) EXPECT_EQ(imageSizeIsReadable(c.width, c.height), c.readable) << c.width << "x" << c.height;

  // A real picture at the side limit reads; one a pixel wider is refused,
  // whole as it is, and a header claiming more without decoding.
  const auto pixel = [](int, int) { return Pixel{1, 2, 3, 255}; };
  ASSERT_TRUE(testing::writePNGFile(put("wide.png"), 16384, 1, pixel));
  EXPECT_TRUE(CIImage::imageWithContentsOfURL(url("wide.png")));
  ASSERT_TRUE(testing::writePNGFile(put("huge.png"), 16385, 1, pixel));
  const auto huge = CGImageSourceCreateWithURL(url("huge.png"));
  EXPECT_EQ(huge->pixelsWide(), 16385u);
  EXPECT_FALSE(CGImageSourceCreateImageAtIndex(huge, 0));
  ASSERT_TRUE(putHeader("many.png", 8192, 8193));
  EXPECT_FALSE(CIImage::imageWithContentsOfURL(url("many.png")));
}

TEST_F(ImageSourceTest, EveryKindOfPNGReadsAsCairoReadsItInterlacedOrNot) {
  struct Case {
    const char* what;
    int colorType, depth;
  };
  const Case cases[] = {
      {"rgb", PNG_COLOR_TYPE_RGB, 8},          {"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8},
      {"gray", PNG_COLOR_TYPE_GRAY, 8},        {"gray and alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
      {"1-bit gray", PNG_COLOR_TYPE_GRAY, 1},  {"4-bit palette with alphas", PNG_COLOR_TYPE_PALETTE, 4},
      {"16-bit rgb", PNG_COLOR_TYPE_RGB, 16},  {"16-bit rgba", PNG_COLOR_TYPE_RGB_ALPHA, 16},
  };
  const CGImageSourceThumbnailOptions reduced{4, true}, whole{0, true};
  // Small pictures leave some of the seven interlacing passes empty.
  const std::pair<int, int> sizes[] = {{11, 7}, {2, 3}, {1, 1}};
  for (const auto& c : cases)
    for (const auto& [width, height] : sizes) {
      const int top = (1 << c.depth) - 1;
      // Every pixel different, alpha from clear to opaque.
      const auto sample = [&](int x, int y, int channel) {
        if (c.colorType == PNG_COLOR_TYPE_PALETTE) return (x + 3 * y) % 16;
        return (x * 37 + y * 101 + channel * 59 + (x * y) % 13 * 7) % (top + 1);
      };
      std::string size = " ";
      size += std::to_string(width) + "x" + std::to_string(height);
      std::vector<uint8_t> thumbnails[2];
      for (const bool interlaced : {false, true}) {
        const std::string what = c.what + size + (interlaced ? ", interlaced" : "");
        const std::string name = what + ".png";
        ASSERT_TRUE(testing::writePNG(put(name), width, height, {c.colorType, c.depth, interlaced}, sample)) << what;
        const auto source = CGImageSourceCreateWithURL(url(name));
        const auto expected = readWithCairo(put(name));
        ASSERT_EQ(expected.size(), size_t(width * height * 4)) << what;
        EXPECT_EQ(bytesOf(CGImageSourceCreateImageAtIndex(source, 0)), expected) << what;
        EXPECT_EQ(bytesOf(CGImageSourceCreateThumbnailAtIndex(source, 0, whole)), expected) << what;
        thumbnails[interlaced] = bytesOf(CGImageSourceCreateThumbnailAtIndex(source, 0, reduced));
        EXPECT_FALSE(thumbnails[interlaced].empty()) << what;
      }
      EXPECT_EQ(thumbnails[0], thumbnails[1]) << c.what << size << ": interlacing changes the thumbnail";
    }
  // Every colour under every alpha, premultiplied as cairo rounds it.
  ASSERT_TRUE(testing::writePNG(put("ramps.png"), 256, 256, {}, [](int x, int y, int c) { return c < 3 ? x : y; }));
  EXPECT_EQ(bytesOf(CGImageSourceCreateImageAtIndex(CGImageSourceCreateWithURL(url("ramps.png")), 0)),
            readWithCairo(put("ramps.png")));
}

TEST_F(ImageSourceTest, AThumbnailIsTheMeanOfTheAreaEachPixelCoversAndNeverLarger) {
  struct Case {
    int width, height;
    size_t maxPixelSize, expectedWidth, expectedHeight;
  };
  const Case cases[] = {
      {12, 8, 6, 6, 4},   {8, 12, 6, 4, 6},   {7, 5, 3, 3, 2},   {5, 7, 3, 2, 3},  {12, 8, 11, 11, 7},
      {12, 8, 12, 12, 8}, {12, 8, 100, 12, 8}, {12, 8, 0, 12, 8}, {200, 2, 10, 10, 1},
      {12, 7, 8, 8, 5},   {12, 5, 8, 8, 3},  // the shorter side rounded to nearest: 4.67 and 3.33
  };
  for (const auto& c : cases) {
    const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + ".png";
    ASSERT_TRUE(testing::writePNGFile(put(name), c.width, c.height, [](int x, int y) {
      return Pixel{(x * 40 + y * 3) % 256, y * 20 % 256, 7, 255};
    }));
    const CGImageRef thumbnail = CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url(name)), 0,
                                                                     {c.maxPixelSize, true});
    const std::string what = name + " at most " + std::to_string(c.maxPixelSize);
    EXPECT_EQ(CGImageGetWidth(thumbnail), c.expectedWidth) << what;
    EXPECT_EQ(CGImageGetHeight(thumbnail), c.expectedHeight) << what;
  }

  // Three columns into two: each output pixel takes one whole column and
  // half of the middle one, over both rows.
  const int reds[2][3] = {{0, 60, 255}, {30, 90, 120}};
  ASSERT_TRUE(testing::writePNGFile(put("thirds.png"), 3, 2, [&](int x, int y) { return Pixel{reds[y][x], 0, 0, 255}; }));
  const CGImageRef thirds = CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url("thirds.png")), 0, {2, true});
  ASSERT_EQ(CGImageGetWidth(thirds), 2u);
  EXPECT_EQ(testing::pixelAt(thirds, 0, 0), (Pixel{35, 0, 0, 255}));   // (0 + 30 + (60 + 90) / 2) / 3
  EXPECT_EQ(testing::pixelAt(thirds, 1, 0), (Pixel{150, 0, 0, 255}));  // ((60 + 90) / 2 + 255 + 120) / 3
  // Premultiplied values are averaged: a clear pixel halves its neighbour.
  ASSERT_TRUE(testing::writePNGFile(put("half.png"), 2, 1, [](int x, int) {
    return x == 0 ? Pixel{200, 100, 0, 255} : Pixel{0, 0, 0, 0};
  }));
  const CGImageRef half = CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url("half.png")), 0, {1, true});
  ASSERT_TRUE(half);
  EXPECT_EQ(testing::pixelAt(half, 0, 0), (Pixel{100, 50, 0, 128}));

  // What gives no thumbnail: no thumbnail asked of the picture, a picture
  // that cannot be read, one over the bounds before a byte is decoded.
  ASSERT_TRUE(putHeader("many.png", 8192, 8193));
  ASSERT_TRUE(putHeader("truncated.png", 400, 300));
  std::ofstream(put("real.heic"), std::ios::binary) << std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16);
  EXPECT_FALSE(CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url("half.png")), 0, {1, false}));
  EXPECT_FALSE(CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url("half.png")), 1, {1, true}));
  for (const char* name : {"many.png", "truncated.png", "real.heic"})
    EXPECT_FALSE(CGImageSourceCreateThumbnailAtIndex(CGImageSourceCreateWithURL(url(name)), 0, {100, true})) << name;
}

}  // namespace
}  // namespace platform
