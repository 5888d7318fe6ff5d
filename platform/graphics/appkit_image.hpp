#pragma once

// AppKit image types over the Core Graphics layer: bitmap representations,
// graphics contexts on them and multi-representation images.
//
// Representation choice (NSImage::CGImageForProposedRect and NSImage::drawInRect
// use this one rule): an image with a custom (vector) representation draws
// that one, at every size. Otherwise, among its bitmap representations, take the one
// with the smallest pixelsWide that is at least the wanted pixel width; when
// none is that wide, the widest one. Equal widths: the earlier representation.
// The wanted pixel width is
//   * CGImageForProposedRect: the proposed rect's width (the image's size()
//     when proposed is nullptr) × the given context's pixelsPerPoint(), or × 1
//     with no context;
//   * drawInRect: the destination rect's width × the current context's
//     pixelsPerPoint().

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/context.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

enum NSCompositingOperation : unsigned {
  NSCompositingOperationClear = 0,
  NSCompositingOperationCopy = 1,
  NSCompositingOperationSourceOver = 2,
};

// Raw values as on the platform (they equal CGInterpolationQuality's).
enum class NSImageInterpolation : int {
  Default = 0,
  None = 1,
  Low = 2,
  Medium = 4,
  High = 3,
};
inline constexpr NSImageInterpolation NSImageInterpolationDefault = NSImageInterpolation::Default;
inline constexpr NSImageInterpolation NSImageInterpolationNone = NSImageInterpolation::None;
inline constexpr NSImageInterpolation NSImageInterpolationLow = NSImageInterpolation::Low;
inline constexpr NSImageInterpolation NSImageInterpolationMedium = NSImageInterpolation::Medium;
inline constexpr NSImageInterpolation NSImageInterpolationHigh = NSImageInterpolation::High;

// The NSImageHintInterpolation hint; absent means the context's own setting.
struct NSImageHints {
  std::optional<NSImageInterpolation> interpolation;
};

inline constexpr const char* NSDeviceRGBColorSpace = "NSDeviceRGBColorSpace";
inline constexpr const char* NSCalibratedRGBColorSpace = "NSCalibratedRGBColorSpace";

class NSImageRep {
 public:
  virtual ~NSImageRep() = default;
  NSSize size() const;  // points
  void setSize(NSSize size);
  int pixelsWide() const { return pixelsWide_; }
  int pixelsHigh() const { return pixelsHigh_; }

 protected:
  NSImageRep(NSSize size, int pixelsWide, int pixelsHigh)
      : size_(size), pixelsWide_(pixelsWide), pixelsHigh_(pixelsHigh) {}

 private:
  mutable std::mutex mutex_;
  NSSize size_;
  int pixelsWide_, pixelsHigh_;
};

// Always 8-bit RGBA, premultiplied alpha last, rows top-down, in its own store.
class NSBitmapImageRep : public NSImageRep {
  struct Key {};

 public:
  // Supports exactly: planes == nullptr (the rep allocates a zeroed store),
  // 1...32767 pixels each way, 8 bits per sample, 4 samples, alpha, not
  // planar, NSDeviceRGBColorSpace or NSCalibratedRGBColorSpace, bytesPerRow
  // >= 4 × pixelsWide, 32 bits per pixel, at most 4 GiB of pixels. Anything
  // else -> nullptr. The size starts as the pixel size in points.
  static std::shared_ptr<NSBitmapImageRep> make(unsigned char** planes, int pixelsWide,
                                                int pixelsHigh, int bitsPerSample,
                                                int samplesPerPixel, bool hasAlpha, bool isPlanar,
                                                std::string colorSpaceName, int bytesPerRow,
                                                int bitsPerPixel);
  // A copy of the image's pixels; size = pixel size in points. Null image -> nullptr.
  static std::shared_ptr<NSBitmapImageRep> makeWithCGImage(const CGImageRef& image);

  uint8_t* bitmapData() { return store_.data(); }
  const uint8_t* bitmapData() const { return store_.data(); }
  int bytesPerRow() const { return bytesPerRow_; }
  // A new image holding a copy of the current bytes (device RGB,
  // premultiplied-last); nullptr when image creation fails.
  CGImageRef CGImage() const;

  NSBitmapImageRep(Key, int pixelsWide, int pixelsHigh, int bytesPerRow);

 private:
  int bytesPerRow_;
  std::vector<uint8_t> store_;
};

// A representation drawn afresh each time the image is drawn, by a handler
// that draws the whole image into the rectangle it is given, in the current
// context's user space (y up; with `flipped`, y down inside the rectangle).
// A handler that rasterises takes the context's pixelsPerPoint() as its
// scale. It answers whether it drew. It has no pixels of its own
// (pixelsWide and pixelsHigh are 0).
class NSCustomImageRep : public NSImageRep {
 public:
  using DrawingHandler = std::function<bool(NSRect dstRect)>;
  NSCustomImageRep(NSSize size, bool flipped, DrawingHandler handler)
      : NSImageRep(size, 0, 0), flipped_(flipped), handler_(std::move(handler)) {}
  bool isFlipped() const { return flipped_; }
  bool draw(NSRect dstRect) const { return handler_ && handler_(dstRect); }

 private:
  bool flipped_;
  DrawingHandler handler_;
};

// Draws into a bitmap rep. User space is the rep's size() in points at
// creation, origin at the bottom-left, y up. A view that draws with y down
// flips the transform itself and marks the context flipped for the length
// of its drawing, so that images drawn with respectFlipped stay upright.
class NSGraphicsContext {
  struct Key {};

 public:
  // nullptr for a null rep, a rep whose size is not positive and finite, or
  // an injected failure.
  static std::shared_ptr<NSGraphicsContext> graphicsContextWithBitmapImageRep(
      const std::shared_ptr<NSBitmapImageRep>& rep);

  // The current context and the save/restore stack are per thread, as in AppKit.
  static std::shared_ptr<NSGraphicsContext> currentContext();
  static void setCurrentContext(std::shared_ptr<NSGraphicsContext> context);
  // Pushes the current context (and saves its graphics state).
  static void saveGraphicsState();
  // Pops the context pushed last, makes it current again and restores its
  // graphics state; does nothing when nothing was saved.
  static void restoreGraphicsState();

  CGContextRef CGContext() const { return cg_; }
  // Read from and written to the CGContext's interpolation quality.
  NSImageInterpolation imageInterpolation() const;
  void setImageInterpolation(NSImageInterpolation interpolation);
  bool isFlipped() const { return flipped_; }
  void setFlipped(bool flipped) { flipped_ = flipped; }
  // Device pixels per point along x (the rep's pixelsWide / size.width).
  CGFloat pixelsPerPoint() const { return pixelsPerPoint_; }

  NSGraphicsContext(Key, std::shared_ptr<NSBitmapImageRep> rep, CGContextRef cg,
                    CGFloat pixelsPerPoint);

 private:
  std::shared_ptr<NSBitmapImageRep> rep_;  // keeps the pixels alive
  CGContextRef cg_;
  CGFloat pixelsPerPoint_;
  bool flipped_ = false;
};

class NSImage {
  struct Key {};

 public:
  // nullptr for a negative or non-finite size.
  static std::shared_ptr<NSImage> make(NSSize size);
  // One bitmap rep copied from the image; a zero size means the pixel size.
  // nullptr for a null image or when the rep cannot be made.
  static std::shared_ptr<NSImage> makeWithCGImage(const CGImageRef& image, NSSize size);
  // One custom representation with the handler (see NSCustomImageRep);
  // nullptr for a negative or non-finite size or no handler.
  static std::shared_ptr<NSImage> imageWithSize(NSSize size, bool flipped, NSCustomImageRep::DrawingHandler handler);

  // Changing the size changes where a custom representation draws, not its
  // own size: a vector drawn at a new size is drawn sharp.
  NSSize size() const;
  void setSize(NSSize size);
  // A template image is a shape: whoever shows it uses only its alpha,
  // filled with a colour of their own.
  bool isTemplate() const;
  void setTemplate(bool isTemplate);
  std::string accessibilityDescription() const;
  void setAccessibilityDescription(std::string description);
  std::vector<std::shared_ptr<NSImageRep>> representations() const;
  void addRepresentation(std::shared_ptr<NSImageRep> rep);  // null is ignored

  // Draws into the current NSGraphicsContext (nothing when there is none).
  // `from` is in the image's points, y up; an empty `from` means the whole
  // image. Copy replaces the destination inside `dst` (transparent pixels
  // included), SourceOver blends, Clear clears `dst`. `fraction` multiplies
  // the context's alpha. The interpolation hint, when given, decides the
  // resampling (see context.hpp); parts falling outside the bitmap are not
  // drawn. With respectFlipped in a flipped context the image is drawn
  // upright (mirrored about dst's middle, which maps dst onto itself).
  void drawInRect(NSRect dst, NSRect from, NSCompositingOperation op, CGFloat fraction,
                  bool respectFlipped, const NSImageHints& hints) const;

  // The chosen representation's CGImage (a new copy of its pixels), as is:
  // no resampling to the proposed size, and *proposed is left unchanged.
  // A custom representation is drawn into a new picture of the proposed
  // size (the image's when nullptr) in pixels of the context (× 1 with no
  // context), rounded up. nullptr when the image has no representation
  // that can be drawn, or the picture cannot be made.
  CGImageRef CGImageForProposedRect(NSRect* proposed,
                                    const std::shared_ptr<NSGraphicsContext>& context,
                                    const NSImageHints* hints) const;

  explicit NSImage(Key, NSSize size);

 private:
  std::shared_ptr<NSBitmapImageRep> choose(CGFloat pixelWidth) const;
  std::shared_ptr<NSCustomImageRep> customRep() const;
  void drawCustom(const NSCustomImageRep& rep, NSRect dst, NSRect whole, CGBlendMode blend, CGFloat fraction,
                  bool respectFlipped, const NSImageHints& hints) const;

  mutable std::mutex mutex_;
  NSSize size_;
  bool template_ = false;
  std::string accessibilityDescription_;
  std::vector<std::shared_ptr<NSImageRep>> reps_;
};

}  // namespace platform
