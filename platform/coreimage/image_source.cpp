#include "platform/coreimage/image_source.hpp"

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/foundation/file_manager.hpp"

namespace platform {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};

std::uint32_t bigEndian32(const unsigned char* bytes) {
  return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) | bytes[3];
}

// The kind of content a file's first bytes announce, and a PNG's size from
// its header chunk.
void identify(const unsigned char* head, std::size_t length, std::string& type, std::size_t& width,
              std::size_t& height) {
  static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (length >= 24 && std::memcmp(head, png, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0) {
    type = "public.png";
    width = bigEndian32(head + 16);
    height = bigEndian32(head + 20);
  } else if (length >= 12 && std::memcmp(head + 4, "ftyp", 4) == 0 &&
             (std::memcmp(head + 8, "heic", 4) == 0 || std::memcmp(head + 8, "heix", 4) == 0 ||
              std::memcmp(head + 8, "mif1", 4) == 0)) {
    type = "public.heic";
  } else if (length >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) {
    type = "public.jpeg";
  }
}

cairo_status_t readFromFile(void* closure, unsigned char* data, unsigned int length) {
  auto* file = static_cast<std::FILE*>(closure);
  return std::fread(data, 1, length, file) == length ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_READ_ERROR;
}

}  // namespace

bool imageSizeIsReadable(std::size_t width, std::size_t height) {
  return width > 0 && height > 0 && width <= kMaximumImageSide && height <= kMaximumImageSide &&
         width * height <= kMaximumImagePixels;
}

CGImageSourceRef CGImageSourceCreateWithURL(const NSURL& url) {
  if (!url.isFileURL()) return nullptr;
  const auto path = resolveFilePath(url.path());
  if (path.empty()) return nullptr;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) return nullptr;
  unsigned char head[24] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file.get());
  std::string type;
  std::size_t width = 0, height = 0;
  identify(head, got, type, width, height);
  return std::make_shared<const CGImageSource>(path.string(), type, width, height);
}

std::string CGImageSourceGetType(const CGImageSourceRef& source) { return source ? source->type() : std::string(); }

CGImageRef CGImageSourceCreateImageAtIndex(const CGImageSourceRef& source, std::size_t index) {
  if (!source || index != 0 || source->type() != "public.png") return nullptr;
  const std::size_t w = source->pixelsWide(), h = source->pixelsHigh();
  // Bounded by the header before a byte is decoded.
  if (!imageSizeIsReadable(w, h)) return nullptr;
  FilePtr file(std::fopen(source->path().c_str(), "rb"));
  if (!file) return nullptr;
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(
      cairo_image_surface_create_from_png_stream(readFromFile, file.get()));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  const cairo_format_t format = cairo_image_surface_get_format(surface.get());
  if ((format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) ||
      std::size_t(cairo_image_surface_get_width(surface.get())) != w ||
      std::size_t(cairo_image_surface_get_height(surface.get())) != h)
    return nullptr;
  cairo_surface_flush(surface.get());
  const unsigned char* pixels = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  auto bytes = std::make_shared<CFData>(w * h * 4);
  for (std::size_t y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(pixels + y * std::size_t(stride));
    std::uint8_t* out = bytes->data() + y * w * 4;
    for (std::size_t x = 0; x < w; ++x) {
      const std::uint32_t v = row[x];
      out[4 * x] = std::uint8_t(v >> 16);
      out[4 * x + 1] = std::uint8_t(v >> 8);
      out[4 * x + 2] = std::uint8_t(v);
      out[4 * x + 3] = format == CAIRO_FORMAT_RGB24 ? 255 : std::uint8_t(v >> 24);
    }
  }
  auto provider = CGDataProviderCreateWithCFData(bytes);
  return CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast, provider,
                       nullptr, false, kCGRenderingIntentDefault);
}

}  // namespace platform
