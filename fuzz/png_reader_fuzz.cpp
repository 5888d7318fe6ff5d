// A picture file, read whole and as thumbnails. The chunks' checksums are
// put right first, so that mutations reach the decoder rather than stop at
// a checksum; pictures over 4,096 pixels are passed over (their bound is
// checked before decoding, and a test covers it).
// Properties: the picture, its thumbnail at its own size and a reduced one
// are all read or none is (the same rows decode whatever is kept of them);
// the thumbnail at its own size is the picture byte for byte; the reduced
// one has the documented size; a one-pixel thumbnail is the exact mean of
// the picture, rounded to nearest.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.hpp"
#include "platform/coreimage/image_source.hpp"

namespace {

using vurle::fuzz::require;

// Every whole chunk after the signature gets the checksum of its type and data.
void fixChecksums(std::string& file) {
  auto* bytes = reinterpret_cast<uint8_t*>(file.data());
  for (size_t at = 8; at + 12 <= file.size();) {
    const size_t length = size_t(bytes[at]) << 24 | size_t(bytes[at + 1]) << 16 | size_t(bytes[at + 2]) << 8 | bytes[at + 3];
    if (length > file.size() - at - 12) break;
    const auto crc = uint32_t(crc32(0, bytes + at + 4, uInt(length + 4)));
    for (int k = 0; k < 4; ++k) bytes[at + 8 + length + size_t(k)] = uint8_t(crc >> (24 - 8 * k));
    at += length + 12;
  }
}

std::vector<uint8_t> bytesOf(const platform::CGImageRef& image) {
  return image ? *image->params().provider->data() : std::vector<uint8_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform;
  std::string file(reinterpret_cast<const char*>(data), size);
  fixChecksums(file);
  const auto path = vurle::fuzz::freshScratchFolder() / "picture.png";
  vurle::fuzz::writeFile(path, file);
  const auto source = CGImageSourceCreateWithURL(NSURL::fileURLWithPath(path.string()));
  require(source != nullptr, "no source for a file");
  const size_t w = source->pixelsWide(), h = source->pixelsHigh();
  if (w * h > 4096 || w > 4096 || h > 4096) return 0;

  const CGImageRef picture = CGImageSourceCreateImageAtIndex(source, 0);
  const CGImageRef whole = CGImageSourceCreateThumbnailAtIndex(source, 0, {0, true});
  const CGImageRef reduced = CGImageSourceCreateThumbnailAtIndex(source, 0, {3, true});
  const CGImageRef pixel = CGImageSourceCreateThumbnailAtIndex(source, 0, {1, true});
  const bool read = picture != nullptr;
  require((whole != nullptr) == read && (reduced != nullptr) == read && (pixel != nullptr) == read,
          "a thumbnail reads where the picture does not, or the other way round");
  if (!read) return 0;

  require(CGImageGetWidth(picture) == w && CGImageGetHeight(picture) == h, "the picture is not its header's size");
  require(bytesOf(whole) == bytesOf(picture), "the thumbnail at the picture's size differs from it");
  const size_t longer = std::max(w, h), n = std::min<size_t>(3, longer);
  const size_t shorter = std::max<size_t>(1, (std::min(w, h) * n + longer / 2) / longer);
  require(CGImageGetWidth(reduced) == (w >= h ? n : shorter) && CGImageGetHeight(reduced) == (w >= h ? shorter : n),
          "the reduced thumbnail has another size");
  const auto pixels = bytesOf(picture), mean = bytesOf(pixel);
  require(mean.size() == 4, "a one-pixel thumbnail of another size");
  for (size_t c = 0; c < 4; ++c) {
    uint64_t sum = 0;
    for (size_t i = c; i < pixels.size(); i += 4) sum += pixels[i];
    require(mean[c] == (sum + w * h / 2) / (w * h), "the one-pixel thumbnail is not the mean");
  }
  return 0;
}
