#pragma once
// Pictures of what the simulated screen shows around the pointer, so a
// person can look at a run: the other applications' windows, this
// process's windows drawn from their layers (the overlay panel among
// them) and their hosted views' content (the settings page), and on top
// the cursor the window server shows, where it shows one.
//
// A picture covers a fixed region centred on the pointer, in points, drawn
// at a fixed scale. Frames are compared by their pixels: capture() answers
// none when nothing changed since the last frame it answered, so a recorder
// writes only frames that differ.
//
// Main thread only (it reads windows and layers).
#include <cairo.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {

class NSWindow;
class CALayer;

// One captured picture: premultiplied ARGB in cairo's own layout.
class ScreenPicture {
 public:
  ScreenPicture(int width, int height);
  ScreenPicture(ScreenPicture&& other) noexcept;
  ScreenPicture& operator=(ScreenPicture&& other) noexcept;
  ScreenPicture(const ScreenPicture&) = delete;
  ScreenPicture& operator=(const ScreenPicture&) = delete;
  ~ScreenPicture();

  int width() const { return width_; }
  int height() const { return height_; }
  cairo_surface_t* surface() const { return surface_; }
  // The pixel at (x, y) from the top left as 0xAARRGGBB; 0 outside.
  uint32_t pixel(int x, int y) const;
  uint64_t fingerprint() const;
  // False, with the reason in `error`, when the file cannot be written.
  bool writePNG(const std::string& path, std::string* error) const;

 private:
  int width_;
  int height_;
  cairo_surface_t* surface_;
};

class ScreenRecorder {
 public:
  struct Options {
    // The region around the pointer, in points, and pixels per point.
    CGSize region{160, 120};
    double scale = 2.0;
  };

  explicit ScreenRecorder(Options options);

  // This process's windows to draw, back to front; the recorder keeps them
  // weakly and skips ones that are gone, hidden or fully transparent.
  void setOwnWindows(std::vector<std::weak_ptr<NSWindow>> windows);
  // Rectangles drawn on the other applications' windows with a caption
  // (where a text field or a link is), so a viewer sees why a cursor changed.
  // Each window's marks are drawn with it, so a window in front covers them.
  using MarkedRegions = std::map<CGWindowID, std::vector<std::pair<CGRect, std::string>>>;
  void setMarkedRegions(MarkedRegions regions) { marked_ = std::move(regions); }

  // A picture of the region around `pointer` (window-server coordinates),
  // or none when it is the same as the last one answered.
  std::optional<ScreenPicture> capture(CGPoint pointer);
  // The same picture, whether it changed or not.
  ScreenPicture draw(CGPoint pointer) const;

  const Options& options() const { return options_; }

 private:
  void drawDesktop(cairo_t* cr) const;
  void drawOwnWindows(cairo_t* cr) const;
  void drawCursor(cairo_t* cr, CGPoint pointer) const;

  Options options_;
  std::vector<std::weak_ptr<NSWindow>> ownWindows_;
  MarkedRegions marked_;
  std::optional<uint64_t> lastFingerprint_;
};

// Tiles the pictures into one sheet, `columns` wide, each under its label,
// and writes it as PNG. False, with the reason in `error`, when there is
// nothing to tile or the file cannot be written.
bool writeContactSheet(const std::vector<const ScreenPicture*>& pictures, const std::vector<std::string>& labels,
                       int columns, const std::string& path, std::string* error);

// A picture of one of this process's windows as the user sees it, at
// `scale` pixels a point: its layers and its hosted views' content and, on
// it, an attached sheet hanging centred from the title bar. False, with the
// reason in `error`, when it cannot be drawn or written.
bool writeWindowPicture(const NSWindow& window, const std::string& path, double scale, std::string* error);

// Cairo and fontconfig keep their font caches for the life of the process;
// a program that drew text calls this once at its end, after every picture
// is gone, so the leak checker reports only our own memory. Once views' text
// was set it does nothing: their font map holds those caches to the end.
void releaseDrawingCaches();

}  // namespace platform
