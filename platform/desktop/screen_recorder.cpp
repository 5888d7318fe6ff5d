#include "platform/graphics/context.hpp"
#include "platform/desktop/screen_recorder.hpp"

#include <fontconfig/fontconfig.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/appkit/layer.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/graphics/image.hpp"
#include "platform/ui/drawing.hpp"
#include "platform/graphics/text.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {
namespace {

struct SurfaceHandle {
  cairo_surface_t* surface = nullptr;
  ~SurfaceHandle() {
    if (surface) cairo_surface_destroy(surface);
  }
};

// A copy of an image as a cairo surface; null for a missing image or one
// whose bytes do not cover it.
cairo_surface_t* surfaceFromImage(const CGImageRef& image, size_t firstRow, size_t rows) {
  if (!image) return nullptr;
  const auto& p = image->params();
  if (!p.provider || !p.provider->data() || rows == 0 || firstRow + rows > p.height) return nullptr;
  const auto& bytes = *p.provider->data();
  if (bytes.size() < p.bytesPerRow * (firstRow + rows - 1) + 4 * p.width) return nullptr;
  const bool bgra = (p.bitmapInfo & kCGBitmapAlphaInfoMask) == kCGImageAlphaPremultipliedFirst;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(p.width), static_cast<int>(rows));
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  unsigned char* out = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (size_t y = 0; y < rows; ++y) {
    const uint8_t* in = bytes.data() + (firstRow + y) * p.bytesPerRow;
    auto* row = reinterpret_cast<uint32_t*>(out + y * static_cast<size_t>(stride));
    for (size_t x = 0; x < p.width; ++x) {
      const uint8_t* px = in + 4 * x;
      const uint32_t r = bgra ? px[2] : px[0], g = px[1], b = bgra ? px[0] : px[2], a = px[3];
      row[x] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

// Draws `surface` into `rect` (points, in the current user space).
void paintSurface(cairo_t* cr, cairo_surface_t* surface, CGRect rect, bool nearest) {
  const double w = cairo_image_surface_get_width(surface);
  const double h = cairo_image_surface_get_height(surface);
  if (w <= 0 || h <= 0 || rect.size.width <= 0 || rect.size.height <= 0) return;
  cairo_save(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, rect.size.width / w, rect.size.height / h);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), nearest ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_fill(cr);
  cairo_restore(cr);
}

CGFloat primaryHeight() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 0 : screens.front()->frame().size.height;
}

// A layer and its sublayers. Layer geometry is y-up inside its superlayer,
// so each level flips into the top-down space the picture uses.
void drawLayer(cairo_t* cr, const std::shared_ptr<CALayer>& layer, CGFloat superHeight) {
  if (!layer || layer->isHidden()) return;
  const CGRect frame = layer->frame();
  if (!std::isfinite(frame.origin.x) || !std::isfinite(frame.origin.y) || !std::isfinite(frame.size.width) ||
      !std::isfinite(frame.size.height)) {
    return;
  }
  cairo_save(cr);
  cairo_translate(cr, frame.origin.x, superHeight - frame.origin.y - frame.size.height);
  if (auto contents = layer->contents()) {
    SurfaceHandle image{surfaceFromImage(contents, 0, CGImageGetHeight(contents))};
    if (image.surface) {
      const bool nearest = layer->magnificationFilter() == kCAFilterNearest;
      paintSurface(cr, image.surface, CGRectMake(0, 0, frame.size.width, frame.size.height), nearest);
    }
  }
  for (const auto& sublayer : layer->sublayers()) drawLayer(cr, sublayer, frame.size.height);
  cairo_restore(cr);
}

void label(cairo_t* cr, const std::string& text, double x, double y, double size) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

// A window's content in its own top-down space, origin at its top-left
// corner, clipped to it: the content view's layers, then the content view
// drawn with its subviews, as the window's own picture draws it.
void drawWindowContent(cairo_t* cr, const NSWindow& window, double scale) {
  auto view = window.contentView();
  if (!view) return;
  const CGRect f = window.frame();
  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, f.size.width, f.size.height);
  cairo_clip(cr);
  if (const auto root = view->layer(); root && !root->isHidden()) {
    // The content view's layer fills the window; its own frame may be unset.
    if (auto contents = root->contents()) {
      SurfaceHandle image{surfaceFromImage(contents, 0, CGImageGetHeight(contents))};
      if (image.surface) paintSurface(cr, image.surface, CGRectMake(0, 0, f.size.width, f.size.height), false);
    }
    for (const auto& sublayer : root->sublayers()) drawLayer(cr, sublayer, f.size.height);
  }
  if (!view->isHidden()) ui::drawWindowContentView(cr, window, scale);
  cairo_restore(cr);
}

}  // namespace

bool writeWindowPicture(const NSWindow& window, const std::string& path, double scale, std::string* error) {
  const CGRect f = window.frame();
  if (!(scale > 0) || !std::isfinite(f.size.width) || !std::isfinite(f.size.height) || f.size.width < 1 ||
      f.size.height < 1 || f.size.width * scale > 16384 || f.size.height * scale > 16384) {
    if (error) *error = "cannot draw a window of that size";
    return false;
  }
  ScreenPicture picture(static_cast<int>(std::ceil(f.size.width * scale)), static_cast<int>(std::ceil(f.size.height * scale)));
  cairo_t* cr = cairo_create(picture.surface());
  cairo_scale(cr, scale, scale);
  cairo_set_source_rgb(cr, 0.925, 0.925, 0.925);
  cairo_paint(cr);
  drawWindowContent(cr, window, scale);
  if (const auto sheet = window.attachedSheet()) {
    const CGPoint origin = ui::drawAttachedSheetEdge(cr, window, *sheet);
    const CGRect s = sheet->frame();
    cairo_save(cr);
    cairo_translate(cr, origin.x, origin.y);
    cairo_rectangle(cr, 0, 0, s.size.width, s.size.height);
    cairo_set_source_rgb(cr, 0.925, 0.925, 0.925);
    cairo_fill(cr);
    drawWindowContent(cr, *sheet, scale);
    cairo_restore(cr);
  }
  cairo_destroy(cr);
  cairo_surface_flush(picture.surface());
  return picture.writePNG(path, error);
}

ScreenPicture::ScreenPicture(int width, int height)
    : width_(std::max(width, 1)), height_(std::max(height, 1)),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_)) {}

ScreenPicture::ScreenPicture(ScreenPicture&& other) noexcept
    : width_(other.width_), height_(other.height_), surface_(other.surface_) {
  other.surface_ = nullptr;
}

ScreenPicture& ScreenPicture::operator=(ScreenPicture&& other) noexcept {
  if (this != &other) {
    if (surface_) cairo_surface_destroy(surface_);
    width_ = other.width_;
    height_ = other.height_;
    surface_ = other.surface_;
    other.surface_ = nullptr;
  }
  return *this;
}

ScreenPicture::~ScreenPicture() {
  if (surface_) cairo_surface_destroy(surface_);
}

uint32_t ScreenPicture::pixel(int x, int y) const {
  if (!surface_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  const int stride = cairo_image_surface_get_stride(surface_);
  uint32_t value;
  std::memcpy(&value, data + static_cast<size_t>(y) * static_cast<size_t>(stride) + 4 * static_cast<size_t>(x), 4);
  return value;
}

uint64_t ScreenPicture::fingerprint() const {
  if (!surface_) return 0;
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  const size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface_));
  uint64_t hash = 1469598103934665603ull;  // FNV-1a over the visible bytes of every row
  for (int y = 0; y < height_; ++y) {
    const unsigned char* row = data + static_cast<size_t>(y) * stride;
    for (size_t i = 0; i < 4 * static_cast<size_t>(width_); ++i) hash = (hash ^ row[i]) * 1099511628211ull;
  }
  return hash;
}

bool ScreenPicture::writePNG(const std::string& path, std::string* error) const {
  const cairo_status_t status = surface_ ? cairo_surface_write_to_png(surface_, path.c_str()) : CAIRO_STATUS_NULL_POINTER;
  if (status == CAIRO_STATUS_SUCCESS) return true;
  if (error) *error = "cannot write " + path + " (" + cairo_status_to_string(status) + ")";
  return false;
}

ScreenRecorder::ScreenRecorder(Options options) : options_(options) {}

void ScreenRecorder::setOwnWindows(std::vector<std::weak_ptr<NSWindow>> windows) { ownWindows_ = std::move(windows); }

std::optional<ScreenPicture> ScreenRecorder::capture(CGPoint pointer) {
  ScreenPicture picture = draw(pointer);
  const uint64_t fingerprint = picture.fingerprint();
  if (lastFingerprint_ && *lastFingerprint_ == fingerprint) return std::nullopt;
  lastFingerprint_ = fingerprint;
  return picture;
}

ScreenPicture ScreenRecorder::draw(CGPoint pointer) const {
  const int width = static_cast<int>(std::lround(options_.region.width * options_.scale));
  const int height = static_cast<int>(std::lround(options_.region.height * options_.scale));
  ScreenPicture picture(width, height);
  cairo_t* cr = cairo_create(picture.surface());
  cairo_scale(cr, options_.scale, options_.scale);
  // Whole points keep the desktop still while the pointer moves within a point.
  cairo_translate(cr, -std::floor(pointer.x - options_.region.width / 2),
                  -std::floor(pointer.y - options_.region.height / 2));
  drawDesktop(cr);
  drawOwnWindows(cr);
  drawCursor(cr, pointer);
  cairo_destroy(cr);
  cairo_surface_flush(picture.surface());
  return picture;
}

void ScreenRecorder::drawDesktop(cairo_t* cr) const {
  cairo_set_source_rgb(cr, 0.12, 0.12, 0.14);
  cairo_paint(cr);
  const CGFloat top = primaryHeight();
  for (const auto& screen : NSScreen::screens()) {
    const CGRect f = screen->frame();
    cairo_rectangle(cr, f.origin.x, top - f.origin.y - f.size.height, f.size.width, f.size.height);
    cairo_set_source_rgb(cr, 0.23, 0.42, 0.62);
    cairo_fill(cr);
  }
  const int32_t self = static_cast<int32_t>(::getpid());
  auto windows = WindowTable::shared().windows();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    const auto& w = *it;
    if (!w.onScreen || w.ownerPID == self || w.alpha <= 0) continue;
    const CGRect b = w.bounds;
    cairo_save(cr);
    cairoRoundedRectPath(cr, b, 8);
    cairo_set_source_rgba(cr, 0.96, 0.96, 0.96, w.alpha);
    cairo_fill_preserve(cr);
    cairo_set_source_rgba(cr, 0.55, 0.55, 0.58, w.alpha);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    cairo_rectangle(cr, b.origin.x, b.origin.y, b.size.width, std::min<CGFloat>(22, b.size.height));
    cairo_set_source_rgba(cr, 0.86, 0.86, 0.88, w.alpha);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0.2, 0.2, 0.2, w.alpha);
    label(cr, w.ownerName, b.origin.x + 10, b.origin.y + 15, 11);
    if (auto marks = marked_.find(w.number); marks != marked_.end()) {
      for (const auto& [r, caption] : marks->second) {
        cairo_rectangle(cr, r.origin.x + 0.5, r.origin.y + 0.5, r.size.width - 1, r.size.height - 1);
        cairo_set_source_rgba(cr, 1, 1, 1, w.alpha);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 0.45, 0.6, 0.85, w.alpha);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
        cairo_set_source_rgba(cr, 0.5, 0.5, 0.5, w.alpha);
        label(cr, caption, r.origin.x + 4, r.origin.y + std::min<CGFloat>(13, r.size.height - 2), 9);
      }
    }
    cairo_restore(cr);
  }
}

void ScreenRecorder::drawOwnWindows(cairo_t* cr) const {
  const CGFloat top = primaryHeight();
  for (const auto& weak : ownWindows_) {
    auto window = weak.lock();
    if (!window || !window->isVisible() || !(window->alphaValue() > 0)) continue;
    if (!window->contentView()) continue;
    const CGRect f = window->frame();
    cairo_save(cr);
    cairo_push_group(cr);
    // The content view's layer fills the window; its own frame may be unset.
    cairo_translate(cr, f.origin.x, top - f.origin.y - f.size.height);
    drawWindowContent(cr, *window, options_.scale);
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, window->alphaValue());
    cairo_restore(cr);
  }
}

void ScreenRecorder::drawCursor(cairo_t* cr, CGPoint pointer) const {
  if (!CursorState::shared().cursorIsVisible()) return;
  const CursorImageSet cursor = CurrentCursor::shared().cursor();
  if (cursor.size.width <= 0 || cursor.size.height <= 0) return;
  // The representation nearest the picture's scale, as the server picks one.
  CGImageRef best;
  double bestDistance = INFINITY;
  for (const auto& image : cursor.images) {
    if (!image) continue;
    const double distance = std::fabs(static_cast<double>(CGImageGetWidth(image)) / cursor.size.width - options_.scale);
    if (distance < bestDistance) {
      best = image;
      bestDistance = distance;
    }
  }
  if (!best) return;
  const int64_t frames = std::max<int64_t>(cursor.frameCount, 1);
  const size_t frameRows = CGImageGetHeight(best) / static_cast<size_t>(frames);
  int64_t frame = 0;
  if (frames > 1 && cursor.frameDuration > 0) {
    frame = static_cast<int64_t>(std::floor(systemUptime() / cursor.frameDuration)) % frames;
  }
  SurfaceHandle image{surfaceFromImage(best, static_cast<size_t>(frame) * frameRows, frameRows)};
  if (!image.surface) return;
  paintSurface(cr, image.surface,
               CGRectMake(pointer.x - cursor.hotSpot.x, pointer.y - cursor.hotSpot.y, cursor.size.width,
                          cursor.size.height),
               false);
}

void releaseDrawingCaches() {
  // The views' font map holds cairo's and fontconfig's fonts for the life of
  // the process (they are allocated where the leak checker does not look);
  // releasing the caches under it would pull them from under pango.
  if (textFontsMade()) return;
  cairo_debug_reset_static_data();
  FcFini();
}

bool writeContactSheet(const std::vector<const ScreenPicture*>& pictures, const std::vector<std::string>& labels,
                       int columns, const std::string& path, std::string* error) {
  if (pictures.empty() || columns < 1) {
    if (error) *error = "no frames to put on a contact sheet";
    return false;
  }
  const int cellWidth = pictures.front()->width();
  const int cellHeight = pictures.front()->height();
  const int labelHeight = 16;
  const int count = static_cast<int>(pictures.size());
  const int cols = std::min(columns, count);
  const int rows = (count + cols - 1) / cols;
  ScreenPicture sheet(cols * (cellWidth + 4) + 4, rows * (cellHeight + labelHeight + 4) + 4);
  cairo_t* cr = cairo_create(sheet.surface());
  cairo_set_source_rgb(cr, 0.18, 0.18, 0.2);
  cairo_paint(cr);
  for (int i = 0; i < count; ++i) {
    const double x = 4 + (i % cols) * (cellWidth + 4);
    const double y = 4 + (i / cols) * (cellHeight + labelHeight + 4);
    cairo_set_source_surface(cr, pictures[static_cast<size_t>(i)]->surface(), x, y + labelHeight);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
    label(cr, i < static_cast<int>(labels.size()) ? labels[static_cast<size_t>(i)] : std::to_string(i), x + 2,
          y + 12, 11);
  }
  cairo_destroy(cr);
  return sheet.writePNG(path, error);
}

}  // namespace platform
