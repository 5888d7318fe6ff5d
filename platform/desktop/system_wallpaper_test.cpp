#include "platform/desktop/system_wallpaper.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/coding/xml_property_list.hpp"
#include "platform/coreimage/core_image.hpp"
#include "platform/foundation/file_manager.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class SystemWallpaperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    scratch_ = fs::temp_directory_path() / ("vurle-wallpaper-" + std::to_string(::getpid()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_ / "pictures");
    light_ = fs::path(VURLE_SOURCE_DIR) / "resources/wallpaper-light.png";
    dark_ = fs::path(VURLE_SOURCE_DIR) / "resources/wallpaper-dark.png";
  }
  void TearDown() override {
    fs::remove_all(scratch_);
    resetProcessState();
  }
  fs::path scratch_, light_, dark_;
};

TEST_F(SystemWallpaperTest, TheExtensionHoldsWhatTheSystemsReadersLookFor) {
  const fs::path root = scratch_ / "root";
  ASSERT_EQ(layOutDesktopWallpaper(root, WallpaperPictures{light_, dark_}), std::nullopt);
  EXPECT_EQ(systemRoot(), root);

  const std::string extension = kDesktopWallpaperExtension;
  const auto manifest = dataWithContentsOfURL(NSURL::fileURLWithPath(extension + "/Contents/Resources/manifest.json"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(JSONDecode(*manifest).at("identifier"), kDesktopWallpaperIdentifier);
  const auto info = dictionaryWithContentsOfURL(NSURL::fileURLWithPath(extension + "/Contents/Info.plist"));
  ASSERT_TRUE(info);
  ASSERT_TRUE(info->count("LSMinimumSystemVersion"));
  const std::string* minimum = info->at("LSMinimumSystemVersion").string();
  ASSERT_TRUE(minimum);
  EXPECT_EQ(*minimum, "14.0");

  // The pictures are the given files, named as the system names its own,
  // and read as pictures by content.
  const std::string resources = extension + "/Contents/Resources/" + kDesktopWallpaperIdentifier;
  EXPECT_EQ(bytesOf(resolveFilePath(resources + "Light.heic")), bytesOf(light_));
  EXPECT_EQ(bytesOf(resolveFilePath(resources + "Dark.heic")), bytesOf(dark_));
  EXPECT_TRUE(CIImage::imageWithContentsOfURL(NSURL::fileURLWithPath(resources + "Dark.heic")));
  EXPECT_FALSE(fs::exists(root / (extension.substr(1) + ".partial")));

  // Laid out again with the pictures swapped: the new ones replace the old.
  ASSERT_EQ(layOutDesktopWallpaper(root, WallpaperPictures{dark_, light_}), std::nullopt);
  EXPECT_EQ(bytesOf(resolveFilePath(resources + "Light.heic")), bytesOf(dark_));
}

TEST_F(SystemWallpaperTest, WithoutPicturesTheBundledPairIsUsedAndItsAbsenceIsNamed) {
  const fs::path bundle = scratch_ / "bundle";
  fs::create_directories(bundle / "Resources");
  NSBundle::setMainBundlePath(bundle);
  const auto missing = layOutDesktopWallpaper(scratch_ / "root");
  ASSERT_TRUE(missing);
  EXPECT_NE(missing->find("wallpaper-light.png"), std::string::npos) << *missing;
  EXPECT_EQ(systemRoot(), std::nullopt);

  fs::copy_file(light_, bundle / "Resources/wallpaper-light.png");
  fs::copy_file(dark_, bundle / "Resources/wallpaper-dark.png");
  ASSERT_EQ(layOutDesktopWallpaper(scratch_ / "root"), std::nullopt);
  const std::string resources =
      std::string(kDesktopWallpaperExtension) + "/Contents/Resources/" + kDesktopWallpaperIdentifier;
  EXPECT_EQ(bytesOf(resolveFilePath(resources + "Light.heic")), bytesOf(light_));
  EXPECT_EQ(bytesOf(resolveFilePath(resources + "Dark.heic")), bytesOf(dark_));
}

TEST_F(SystemWallpaperTest, APictureThatIsNotAReadablePNGIsRefusedAndLosesNothing) {
  const fs::path root = scratch_ / "root";
  ASSERT_EQ(layOutDesktopWallpaper(root, WallpaperPictures{light_, dark_}), std::nullopt);
  const fs::path earlier = scratch_ / "earlier";
  fs::create_directories(earlier);
  setSystemRoot(earlier);

  std::ofstream(scratch_ / "pictures/text.png") << "not a picture";
  std::ofstream(scratch_ / "pictures/photo.heic", std::ios::binary) << std::string("\0\0\0\x18" "ftypheic\0\0\0\0", 16);
  fs::copy_file(light_, scratch_ / "pictures/cut.png");
  fs::resize_file(scratch_ / "pictures/cut.png", 400);
  struct Case {
    const char* what;
    fs::path light, dark;
    fs::path named;
  };
  const Case cases[] = {
      {"missing light", scratch_ / "pictures/none.png", dark_, scratch_ / "pictures/none.png"},
      {"missing dark", light_, scratch_ / "pictures/none.png", scratch_ / "pictures/none.png"},
      {"text", light_, scratch_ / "pictures/text.png", scratch_ / "pictures/text.png"},
      {"HEIC", scratch_ / "pictures/photo.heic", dark_, scratch_ / "pictures/photo.heic"},
      {"cut short", scratch_ / "pictures/cut.png", dark_, scratch_ / "pictures/cut.png"},
      {"a folder", scratch_ / "pictures", dark_, scratch_ / "pictures"},
  };
  const std::string light =
      (root / (std::string(kDesktopWallpaperExtension).substr(1) + "/Contents/Resources/DunesLight.heic")).string();
  for (const auto& c : cases) {
    const auto refused = layOutDesktopWallpaper(root, WallpaperPictures{c.light, c.dark});
    ASSERT_TRUE(refused) << c.what;
    EXPECT_NE(refused->find(c.named.string()), std::string::npos) << c.what << ": " << *refused;
    EXPECT_EQ(systemRoot(), earlier) << c.what;
    EXPECT_EQ(bytesOf(light), bytesOf(light_)) << c.what << ": the extension laid out before stays";
  }
}

}  // namespace
}  // namespace platform
