#include "platform/desktop/system_wallpaper.hpp"

#include <cstdio>
#include <system_error>
#include <utility>

#include "platform/bundle/bundle.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/coding/xml_property_list.hpp"
#include "platform/coreimage/image_source.hpp"
#include "platform/foundation/file_manager.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A host file that reads as a picture here: PNG by content, within bounds,
// every row decodable. A one-pixel thumbnail decodes every row without
// holding the picture, which at the bound would be 256 MB.
bool readablePicture(const fs::path& file) {
  std::error_code error;
  if (!fs::is_regular_file(file, error)) return false;
  const auto source = CGImageSourceCreateWithURL(NSURL::fileURLWithPath(fs::absolute(file, error).string()));
  CGImageSourceThumbnailOptions options;
  options.maxPixelSize = 1;
  options.createThumbnailFromImageAlways = true;
  return source && CGImageSourceCreateThumbnailAtIndex(source, 0, options) != nullptr;
}

std::optional<std::string> writeFile(const fs::path& path, const Data& bytes) {
  const fs::path partial = path.string() + ".partial";
  if (FILE* file = std::fopen(partial.c_str(), "wb")) {
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) == 0 && written) {
      std::error_code error;
      fs::rename(partial, path, error);
      if (!error) return std::nullopt;
    }
  }
  std::error_code ignored;
  fs::remove(partial, ignored);
  return "cannot write " + path.string();
}

}  // namespace

std::optional<std::string> layOutDesktopWallpaper(const fs::path& root, const std::optional<WallpaperPictures>& pictures) {
  WallpaperPictures chosen;
  if (pictures) {
    chosen = *pictures;
  } else {
    const auto bundle = NSBundle::mainBundle();
    const auto light = bundle->URLForResource("wallpaper-light", "png");
    const auto dark = bundle->URLForResource("wallpaper-dark", "png");
    if (!light || !dark)
      return "no bundled wallpaper: " + (bundle->bundlePath() / "Resources" / (light ? "wallpaper-dark.png" : "wallpaper-light.png")).string() +
             " is missing";
    chosen = {light->path(), dark->path()};
  }
  for (const fs::path& picture : {chosen.light, chosen.dark})
    if (!readablePicture(picture)) return "wallpaper " + picture.string() + " is not a readable PNG picture";

  // Everything is written beside the extension first, then moved into
  // place, so a failure leaves what was there before.
  const fs::path target = root / std::string(kDesktopWallpaperExtension).substr(1);
  const fs::path staging = target.string() + ".partial";
  std::error_code error;
  fs::remove_all(staging, error);
  fs::create_directories(staging / "Contents/Resources", error);
  if (error) return "cannot make " + (staging / "Contents/Resources").string() + ": " + error.message();

  const std::string identifier = kDesktopWallpaperIdentifier;
  std::optional<std::string> failure =
      writeFile(staging / "Contents/Resources/manifest.json", JSONEncode(JSON{{"identifier", identifier}}));
  if (!failure)
    failure = writeFile(staging / "Contents/Info.plist",
                        propertyListXMLData(PropertyListDictionary{{"CFBundleIdentifier", "org.vurle.wallpaper.dunes"},
                                                                   {"LSMinimumSystemVersion", "14.0"}}));
  for (const auto& [picture, suffix] : {std::pair{chosen.light, "Light.heic"}, std::pair{chosen.dark, "Dark.heic"}}) {
    if (failure) break;
    fs::copy_file(picture, staging / "Contents/Resources" / (identifier + suffix), fs::copy_options::overwrite_existing,
                  error);
    if (error) failure = "cannot copy " + picture.string() + ": " + error.message();
  }
  if (!failure) {
    fs::remove_all(target, error);
    fs::rename(staging, target, error);
    if (error) failure = "cannot make " + target.string() + ": " + error.message();
  }
  if (failure) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    return failure;
  }
  setSystemRoot(root);
  return std::nullopt;
}

}  // namespace platform
