#include "app/brand_images.hpp"

#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr std::uintmax_t kMaxFileBytes = 1 << 20;
// Far above any size a brand image is shown at; a picture beyond it is not drawn.
constexpr int kMaxPixelSide = 8192;

struct HandleDeleter {
  void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};
using Handle = std::shared_ptr<RsvgHandle>;

std::shared_ptr<NSImage> emptyImage() { return NSImage::make(NSZeroSize); }

// At most kMaxFileBytes of the file; nothing when it is larger or unreadable.
std::optional<std::vector<uint8_t>> readBounded(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size > kMaxFileBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Read one byte past the limit, so a file that grew since is refused too.
  std::vector<uint8_t> bytes(kMaxFileBytes + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(size_t(in.gcount()));
  if (bytes.size() > kMaxFileBytes) return std::nullopt;
  return bytes;
}

// The document's size in points: width and height, else the viewBox.
std::optional<NSSize> documentSize(RsvgHandle* handle) {
  double width = 0, height = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle, &width, &height)) {
    gboolean hasWidth = false, hasHeight = false, hasViewBox = false;
    RsvgLength w{}, h{};
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(handle, &hasWidth, &w, &hasHeight, &h, &hasViewBox, &viewBox);
    if (!hasViewBox) return std::nullopt;
    width = viewBox.width;
    height = viewBox.height;
  }
  if (!std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0) return std::nullopt;
  return NSMakeSize(width, height);
}

// Renders the whole document stretched over dst, at the current context's scale.
bool drawDocument(const Handle& handle, NSSize documentSize, NSRect dst) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return false;
  const double scale = context->pixelsPerPoint();
  const double pw = std::ceil(dst.size.width * scale), ph = std::ceil(dst.size.height * scale);
  if (!(pw >= 1 && ph >= 1 && pw <= kMaxPixelSide && ph <= kMaxPixelSide)) return false;
  const int w = int(pw), h = int(ph);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return false;
  }
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, w / documentSize.width, h / documentSize.height);
  const RsvgRectangle viewport{0, 0, documentSize.width, documentSize.height};
  GError* error = nullptr;
  const bool rendered = rsvg_handle_render_document(handle.get(), cr, &viewport, &error);
  if (error) g_error_free(error);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  bool drawn = false;
  if (rendered) {
    // Cairo keeps premultiplied B, G, R, A in memory on this machine, which
    // the image layer takes as it is.
    const int stride = cairo_image_surface_get_stride(surface);
    CFDataRef bytes = CFDataCreate(cairo_image_surface_get_data(surface), size_t(stride) * size_t(h));
    CGImageRef image = CGImageCreate(size_t(w), size_t(h), 8, 32, size_t(stride), CGColorSpaceCreateDeviceRGB(),
                                     kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little,
                                     CGDataProviderCreateWithCFData(bytes), nullptr, true, kCGRenderingIntentDefault);
    if (image) {
      CGContextDrawImage(context->CGContext(), dst, image);
      drawn = true;
    }
  }
  cairo_surface_destroy(surface);
  return drawn;
}

}  // namespace

std::shared_ptr<NSImage> loadBundleSVG(const std::string& name) {
  const auto url = NSBundle::mainBundle()->URLForResource(name, "svg");
  if (!url) return emptyImage();
  const auto bytes = readBounded(url->path());
  if (!bytes || bytes->empty()) return emptyImage();
  GError* error = nullptr;
  RsvgHandle* raw = rsvg_handle_new_from_data(bytes->data(), gsize(bytes->size()), &error);
  if (error) g_error_free(error);
  if (!raw) return emptyImage();
  const Handle handle(raw, HandleDeleter());
  // One CSS pixel is one point.
  rsvg_handle_set_dpi(raw, 96);
  const auto size = documentSize(raw);
  if (!size) return emptyImage();
  auto image = NSImage::imageWithSize(*size, false, [handle, document = *size](NSRect dst) {
    return drawDocument(handle, document, dst);
  });
  return image ? image : emptyImage();
}

std::shared_ptr<NSImage> statusMarkImage() {
  static ProcessWide<std::shared_ptr<NSImage>> mark([] {
    auto image = loadBundleSVG("vurle-mark");
    const NSSize size = image->size();
    const double larger = std::max(size.width, size.height);
    if (larger > 0) image->setSize(NSMakeSize(size.width * 18 / larger, size.height * 18 / larger));
    image->setTemplate(true);
    image->setAccessibilityDescription("vurle");
    return image;
  });
  return mark.get();
}

std::shared_ptr<NSImage> logoImage() {
  static ProcessWide<std::shared_ptr<NSImage>> logo([] {
    auto image = loadBundleSVG("vurle-logo");
    image->setTemplate(true);
    return image;
  });
  return logo.get();
}

}  // namespace vurle
