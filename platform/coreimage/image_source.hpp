#pragma once

// Image files read as the platform's image reader reads them: by their
// content, whatever the file is called. PNG is decoded (through libpng, to
// the pixels cairo's reader gives); any other content, HEIC included, is
// recognised where it can be but cannot be decoded here, so it reads as no
// image and callers take their fallback. Outside files are bounded before
// decoding: a picture over 16,384 pixels a side or 64 M pixels in all reads
// as no image. System paths resolve under the system root
// (file_manager.hpp). Any thread.
//
// Memory: a picture costs its own pixels (4 bytes each) and nothing more; a
// thumbnail is reduced while the rows are decoded, so it costs its own
// pixels and a few rows of the picture. An interlaced PNG gives its odd
// rows last: its thumbnail also keeps the even rows while decoding (half
// the picture's pixels).

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

// The thumbnail keys our callers set (kCGImageSourceThumbnailMaxPixelSize,
// kCGImageSourceCreateThumbnailFromImageAlways).
struct CGImageSourceThumbnailOptions {
  // The thumbnail's longer side at most; 0 (the key absent) for the
  // picture's own size.
  std::size_t maxPixelSize = 0;
  // Without it only a thumbnail stored in the file is taken, and PNG stores
  // none: the answer is null, as the platform's.
  bool createThumbnailFromImageAlways = false;
};

// The picture reduced so that its longer side is the max pixel size and its
// shorter side keeps the proportion (rounded, at least 1); never enlarged.
// Each pixel is the exact mean of the picture's area it covers (a box
// filter with fractional edges), premultiplied like the picture. Null when
// the picture would be (see above) or for the options' reason.
CGImageRef CGImageSourceCreateThumbnailAtIndex(const CGImageSourceRef& source, std::size_t index,
                                               const CGImageSourceThumbnailOptions& options);

}  // namespace platform
