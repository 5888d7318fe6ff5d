#include "platform/coreimage/image_source.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

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
  // A PNG header (signature and IHDR) claiming a size, with nothing after it.
  void putHeader(const std::string& name, uint32_t width, uint32_t height) {
    std::ofstream file(put(name), std::ios::binary);
    const unsigned char head[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                                  uint8_t(width >> 24), uint8_t(width >> 16), uint8_t(width >> 8), uint8_t(width),
                                  uint8_t(height >> 24), uint8_t(height >> 16), uint8_t(height >> 8), uint8_t(height),
                                  8, 6, 0, 0, 0};
    file.write(reinterpret_cast<const char*>(head), sizeof head);
  }
  fs::path root_;
};

TEST_F(ImageSourceTest, ReadsByContentWhateverTheFileIsCalled) {
  const auto paint = [](int x, int y) { return y == 0 ? Pixel{255, 0, 0, 255} : Pixel{0, 0, x * 60, 255}; };
  ASSERT_TRUE(testing::writePNGFile(put("WallpaperLight.heic"), 4, 3, paint));
  std::ofstream(put("real.heic"), std::ios::binary) << std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16);
  std::ofstream(put("photo.png"), std::ios::binary) << "\xFF\xD8\xFF\xE0 not really";
  std::ofstream(put("text.png"), std::ios::binary) << "just text";
  putHeader("truncated.png", 4, 3);

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

  // A real picture at the side limit reads; a header claiming more is
  // refused without decoding (nothing follows it).
  ASSERT_TRUE(testing::writePNGFile(put("wide.png"), 16384, 1, [](int, int) { return Pixel{1, 2, 3, 255}; }));
  EXPECT_TRUE(CIImage::imageWithContentsOfURL(url("wide.png")));
  putHeader("huge.png", 16385, 1);
  const auto huge = CGImageSourceCreateWithURL(url("huge.png"));
  EXPECT_EQ(huge->pixelsWide(), 16385u);
  EXPECT_FALSE(CGImageSourceCreateImageAtIndex(huge, 0));
  putHeader("many.png", 8192, 8193);
  EXPECT_FALSE(CIImage::imageWithContentsOfURL(url("many.png")));
}

}  // namespace
}  // namespace platform
