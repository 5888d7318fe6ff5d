#pragma once

// Core Image as far as the onboarding backdrop uses it: immutable images
// described as recipes (a bitmap, transformed, clamped, cropped, passed
// through filters) that a context renders on the CPU when a picture is
// asked for, over only the pixels that picture needs.
//
// Coordinates are pixels with y up, as the platform's: a bitmap's extent
// is (0, 0, width, height), its top row along y = height. Values are
// premultiplied RGBA floats taken as they are (sRGB values, no colour
// management, no linearisation); a context writes them to 8 bits,
// clamped, rounded to nearest.
//
// Sampling rules, the ones every node below keeps:
//   * a pixel (x, y) covers [x, x + 1) × [y, y + 1); images are sampled at
//     pixel centres, and a transformed image bilinearly, its edge pixels
//     extended up to its extent and clear beyond it;
//   * clamping to the extent extends the edge pixels (those whose centres
//     lie inside it) without end; cropping keeps the pixels whose centres
//     lie inside the rectangle;
//   * a generator (the linear gradient) is evaluated at the middle of each
//     pixel's top edge, (x + ½, y + 1), so a ramp that starts on a pixel
//     boundary has its full starting value in the first row;
//   * a mask's value is its luminance (Rec. 709 weights of its colour).
//
// Filters, by name: "CILinearGradient" (inputPoint0, inputPoint1,
// inputColor0, inputColor1), "CIMaskedVariableBlur" (inputImage, inputMask,
// inputRadius: the blur at each pixel blends, by the mask's value, between
// Gaussian blurs of 0, ¼, ½, ¾ and the full radius as standard deviation;
// the extent is the input's), "CIColumnAverage" (inputImage, inputExtent:
// one row of the exact mean of each column over the extent, at the
// extent's origin), "CIColorMatrix" (inputImage, inputRVector ...
// inputAVector, inputBiasVector, on unpremultiplied colour) and
// "CIBlendWithMask" (inputImage over inputBackgroundImage through
// inputMaskImage: image × mask + background × (1 − mask)). Any filter may
// give no output: when an input it needs is missing, and when a test
// says so (CoreImageFaults), as the platform's filters may.
//
// Images and filters may be made on any thread and used from any thread
// once made; a filter is set up by one thread at a time.

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "platform/foundation/url.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

namespace detail {
struct CINode;
}

struct CIVector {
  CGFloat x = 0, y = 0, z = 0, w = 0;
  static CIVector vectorWithX(CGFloat x, CGFloat y) { return {x, y, 0, 0}; }
  static CIVector vectorWithX(CGFloat x, CGFloat y, CGFloat z, CGFloat w) { return {x, y, z, w}; }
  bool operator==(const CIVector&) const = default;
};

// Unpremultiplied components.
struct CIColor {
  CGFloat red = 0, green = 0, blue = 0, alpha = 1;
  static CIColor whiteColor() { return {1, 1, 1, 1}; }
  static CIColor blackColor() { return {0, 0, 0, 1}; }
  static CIColor clearColor() { return {0, 0, 0, 0}; }
  bool operator==(const CIColor&) const = default;
};

class CIImage {
 public:
  // Nothing: an empty extent.
  static CIImage emptyImage();
  // The bitmap's pixels, its bytes shared rather than copied: a render
  // reads only the pixels it needs. An empty image for a null bitmap.
  static CIImage imageWithCGImage(const CGImageRef& image);
  // The file read by its content (image_source.hpp); none when it cannot
  // be read.
  static std::optional<CIImage> imageWithContentsOfURL(const NSURL& url);

  // Null for the empty image; CGRectInfinite once clamped.
  CGRect extent() const;
  CIImage imageByApplyingTransform(CGAffineTransform transform) const;
  CIImage imageByClampingToExtent() const;
  CIImage imageByCroppingToRect(CGRect rect) const;

  const std::shared_ptr<const detail::CINode>& node() const { return node_; }
  explicit CIImage(std::shared_ptr<const detail::CINode> node) : node_(std::move(node)) {}

 private:
  std::shared_ptr<const detail::CINode> node_;
};

using CIValue = std::variant<CIImage, CIVector, CIColor, double, CGRect>;

inline const std::string kCIInputImageKey = "inputImage";

class CIFilter {
 public:
  // Null for a name that is not one of the filters above.
  static std::shared_ptr<CIFilter> filterWithName(const std::string& name);

  const std::string& name() const { return name_; }
  // Keys the filter does not take are kept and ignored.
  void setValue(CIValue value, const std::string& key);
  const CIValue* valueForKey(const std::string& key) const;
  // None when an input it needs is missing or of the wrong kind, or when a
  // fault is pending for this filter's name.
  std::optional<CIImage> outputImage() const;

  explicit CIFilter(std::string name);

 private:
  std::string name_;
  std::map<std::string, CIValue> values_;
};

// The next `count` outputs of the named filter give nothing; any thread.
struct CoreImageFaults {
  static void failNextOutput(const std::string& filterName, unsigned count = 1);
  static void failNextRender(unsigned count = 1);
  static void reset();
  static bool consumeOutput(const std::string& filterName);
  static bool consumeRender();
};

inline const std::string kCIContextCacheIntermediates = "kCIContextCacheIntermediates";

class CIContext {
 public:
  static std::shared_ptr<CIContext> contextWithOptions(const std::map<std::string, bool>& options = {});

  // Recorded only: every render here computes what it needs afresh.
  bool cachesIntermediates() const { return cachesIntermediates_; }
  // The image over the rect (made integral) as an RGBA premultiplied
  // picture of its pixels, its first row the rect's top; null for an empty
  // rect, one over 16,384 pixels a side, or an injected render failure.
  // Pixels outside the image's extent are clear. Safe from any thread.
  CGImageRef createCGImage(const CIImage& image, CGRect fromRect) const;
  // How many pictures this context has rendered.
  int renderCount() const;

  explicit CIContext(bool cachesIntermediates) : cachesIntermediates_(cachesIntermediates) {}

 private:
  bool cachesIntermediates_;
  mutable std::atomic<int> renders_{0};
};

}  // namespace platform
