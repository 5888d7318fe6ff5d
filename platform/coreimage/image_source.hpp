#pragma once

// Image files read as the platform's image reader reads them: by their
// content, whatever the file is called. PNG is decoded (through cairo);
// any other content, HEIC included, is recognised where it can be but
// cannot be decoded here, so it reads as no image and callers take their
// fallback. Outside files are bounded before decoding: a picture over
// 16,384 pixels a side or 64 M pixels in all reads as no image. System
// paths resolve under the system root (file_manager.hpp). Any thread.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/foundation/url.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

inline constexpr std::size_t kMaximumImageSide = 16384;
inline constexpr std::size_t kMaximumImagePixels = std::size_t{64} << 20;

// Whether a picture of that many pixels each way is within the bounds.
bool imageSizeIsReadable(std::size_t width, std::size_t height);

class CGImageSource;
using CGImageSourceRef = std::shared_ptr<const CGImageSource>;

class CGImageSource {
 public:
  // "public.png", "public.heic", "public.jpeg", or empty for content of no
  // known kind.
  const std::string& type() const { return type_; }
  const std::string& path() const { return path_; }
  // From the file's header; 0 when unknown.
  std::size_t pixelsWide() const { return width_; }
  std::size_t pixelsHigh() const { return height_; }

  CGImageSource(std::string path, std::string type, std::size_t width, std::size_t height)
      : path_(std::move(path)), type_(std::move(type)), width_(width), height_(height) {}

 private:
  std::string path_, type_;
  std::size_t width_, height_;
};

// Null when the URL is not a file URL or the file cannot be opened.
CGImageSourceRef CGImageSourceCreateWithURL(const NSURL& url);
std::string CGImageSourceGetType(const CGImageSourceRef& source);
// The picture (RGBA, premultiplied alpha, device RGB; index 0 only), or
// null: another index, content that cannot be decoded, a picture over the
// bounds, or a broken file.
CGImageRef CGImageSourceCreateImageAtIndex(const CGImageSourceRef& source, std::size_t index);

}  // namespace platform
