#pragma once

// The desktop's own wallpaper, laid out as the system keeps its default
// one: a wallpaper extension under the system root (file_manager.hpp),
//   /System/Library/ExtensionKit/Extensions/WallpaperDunesExtension.appex/
//     Contents/Info.plist             LSMinimumSystemVersion "14.0"
//     Contents/Resources/manifest.json  {"identifier": "Dunes"}
//     Contents/Resources/DunesLight.heic, DunesDark.heic
// The two pictures are PNG whatever their names say: the image reader goes
// by content, as the platform's does. They come from the two files given,
// else from the bundled pair "wallpaper-light.png" and "wallpaper-dark.png"
// in the main bundle's resources.
//
// Main thread or any one thread at a time; the files are written before
// the function returns.

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

struct WallpaperPictures {
  std::filesystem::path light, dark;
};

inline constexpr const char* kDesktopWallpaperIdentifier = "Dunes";
inline constexpr const char* kDesktopWallpaperExtension =
    "/System/Library/ExtensionKit/Extensions/WallpaperDunesExtension.appex";

// Lays the extension out under `root` (made when missing) and makes `root`
// the system root. A picture that is missing or not a readable PNG, or a
// folder that cannot be written, is refused with a message naming the
// file; then the system root and any extension already there are left as
// they were.
std::optional<std::string> layOutDesktopWallpaper(const std::filesystem::path& root,
                                                   const std::optional<WallpaperPictures>& pictures = std::nullopt);

}  // namespace platform
