#include "cursor/art/pointer_animation.hpp"

#include <cmath>
#include <limits>
#include <memory>

#include "cursor/art/cursor_raster_cache.hpp"
#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/cursor_transition_frames.hpp"
#include "cursor/art/fatal_error.hpp"
#include "cursor/art/kernels.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {
namespace {

using platform::CGRectGetHeight;
using platform::CGRectGetMinX;
using platform::CGRectGetMinY;
using platform::CGRectGetWidth;

// Quantised progress steps of a cached morph: 129 pictures, 0 to 128.
constexpr int64_t kFrameSteps = 128;

CGRect artRect(const NativeCursorArt& art) { return platform::CGRectInset(art.localBounds(), -3, -3); }

bool sameCanvas(const CursorCanvas& a, const CursorCanvas& b) {
  return a.pixelScale == b.pixelScale && platform::CGRectEqualToRect(a.bounds, b.bounds);
}

bool fitsInt32(int64_t value) { return value >= 0 && value <= std::numeric_limits<int32_t>::max(); }

}  // namespace

double PointerAnimation::scale() const { return fixedScale ? *fixedScale : renderScale(); }

void PointerAnimation::empty(double t) {
  started = t;
  duration = 0;
  to.reset();
  destination.reset();
  initialFrame.reset();
  cachedTransition.reset();
  sourceSolid.clear();
  sourceRGBA.clear();
}

bool PointerAnimation::show(const ArtRef& art, double t) {
  if (!art) return false;
  const double s = scale();
  // An unusable fixed scale would make a canvas of no size; nothing to rest on.
  std::optional<CursorRaster> raster;
  if (std::isfinite(s) && s > 0) raster = CursorRasterCache::raster(*art, artCanvas(art->localBounds(), s));
  if (!raster) {
    empty(t);
    return false;
  }
  cachedTransition.reset();
  to = art;
  initialFrame = raster->frame;
  sourceSolid = *raster->solid;
  sourceRGBA = *raster->rgba;
  destination = std::move(raster);
  started = t;
  duration = 0;
  return true;
}

int64_t PointerAnimation::frameStep(double t) const {
  if (duration <= 0) return kFrameSteps;
  double p = (t - started) / duration;
  p = (p < 0 || std::isnan(p)) ? 0 : std::min(p, 1.0);
  return static_cast<int64_t>(std::round(p * kFrameSteps));
}

float PointerAnimation::easedProgress(double t) const {
  if (duration <= 0) return 1.0f;
  float p;
  if (cachedTransition) {
    p = static_cast<float>(frameStep(t)) * 0.0078125f;
  } else {
    const double linear = (t - started) / duration;
    p = static_cast<float>((linear < 0 || std::isnan(linear)) ? 0 : std::min(linear, 1.0));
  }
  return p * p * (3.0f - (p + p));
}

std::vector<float> PointerAnimation::interpolatedField(double t) const {
  if (!destination) return {};
  const float e = easedProgress(t);
  const std::vector<float>& target = *destination->solid;
  if (duration <= 0 || e >= 1) return target;
  if (e <= 0) return sourceSolid;
  if (sourceSolid.size() != target.size() || !fitsInt32(static_cast<int64_t>(target.size()))) return {};
  std::vector<float> out(target.size());
  lerpField(sourceSolid.data(), target.data(), out.data(), static_cast<int32_t>(out.size()), e);
  return out;
}

bool PointerAnimation::canTransition(const NativeCursorArt& art, double t) const {
  CGRect r = artRect(art);
  if (to && destination) {
    const CGRect current = isRunning(t) ? destination->frame.canvas.bounds : artRect(*to);
    r = platform::CGRectUnion(current, r);
  }
  return canvasFits(r, scale(), pixelLimit);
}

bool PointerAnimation::begin(const ArtRef& art, double t, double seconds,
                             std::optional<double> samplingTime,
                             const std::optional<CursorFrame>& showingFrame) {
  if (!art) return false;
  if (!to) return show(art, t);
  const double s = scale();
  if (!destination || destination->frame.canvas.pixelScale != s) {
    if (!show(ArtRef(to), t)) return false;
  }
  const double ts = samplingTime.value_or(t);
  if (!canTransition(*art, ts)) return show(art, t);

  std::optional<CachedTransition> key;
  if (!isRunning(ts)) {
    const auto library = NativeCursorLibrary::shared();
    if (cacheStaticCustomTransitions || (library->isStandard(*to) && library->isStandard(*art))) {
      key = CachedTransition{to->identity(), art->identity()};
    }
    if (!show(ArtRef(to), ts)) return false;
  }
  if (!destination) return false;

  const CursorCanvas current = destination->frame.canvas;
  const CursorCanvas unionCanvas{
      s, pixelAligned(platform::CGRectUnion(current.bounds, artRect(*art)), s)};
  const double width = std::round(CGRectGetWidth(unionCanvas.bounds) * s);
  const double height = std::round(CGRectGetHeight(unionCanvas.bounds) * s);
  if (!(width <= kMaximumBitmapSide && height <= kMaximumBitmapSide &&
        width * height <= kMaximumMorphPixels)) {
    return show(art, t);
  }

  std::vector<float> field = interpolatedField(ts);

  // The frames of a cached morph are reused for every later move between the
  // two arts, so they start from the resting picture itself, never from a
  // showing frame that may be a picture of an earlier morph.
  std::optional<CursorFrame> picture;
  if (!key && showingFrame && sameCanvas(showingFrame->canvas, current)) {
    picture = showingFrame;
  } else {
    picture = frame(ts);
  }
  if (!picture) {
    empty(t);
    return false;
  }

  auto target = CursorRasterCache::raster(*art, unionCanvas);
  if (!target) {
    empty(t);
    return false;
  }
  cachedTransition = key;

  std::vector<uint8_t> colours;
  if (picture->pixels) {
    colours = *picture->pixels;
  } else if (duration != 0) {
    colours.assign(static_cast<size_t>(current.pixelCount()) * 4, 0);
    if (!rgbaPixels(picture->image, current.pixelWidth(), current.pixelHeight(), colours)) {
      empty(t);
      return false;
    }
  } else {
    colours = *destination->rgba;
  }

  if (sameCanvas(unionCanvas, current)) {
    sourceSolid = std::move(field);
    sourceRGBA = std::move(colours);
    initialFrame = std::move(picture);
  } else {
    const auto offsetX = static_cast<int32_t>(std::round(s * (CGRectGetMinX(current.bounds) -
                                                              CGRectGetMinX(unionCanvas.bounds))));
    const auto offsetY = static_cast<int32_t>(std::round(s * (CGRectGetMinY(current.bounds) -
                                                              CGRectGetMinY(unionCanvas.bounds))));
    const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
    std::vector<float> paddedField(static_cast<size_t>(w) * h, 0.0f);
    auto paddedColours = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(w) * h * 4, 0);
    const int64_t count = current.pixelCount();
    const bool padded =
        field.size() == static_cast<size_t>(count) && colours.size() == static_cast<size_t>(count) * 4 &&
        padRaster(field.data(), colours.data(), paddedField.data(), paddedColours->data(),
                  static_cast<int32_t>(current.pixelWidth()), static_cast<int32_t>(current.pixelHeight()),
                  w, h, offsetX, offsetY);
    auto first = padded ? CursorFrame::make(paddedColours, unionCanvas, false) : std::nullopt;
    if (!first) {
      empty(t);
      return false;
    }
    sourceSolid = std::move(paddedField);
    sourceRGBA = *paddedColours;
    initialFrame = std::move(first);
  }
  destination = std::move(target);
  to = art;
  started = t;
  duration = seconds;
  return true;
}

std::optional<CursorFrame> PointerAnimation::frame(double t) const {
  if (!destination) return std::nullopt;
  const float e = easedProgress(t);
  if (e >= 1) return destination->frame;
  if (e <= 0) return initialFrame;

  const CursorCanvas& canvas = destination->frame.canvas;
  std::optional<CursorTransitionFrames::Key> key;
  if (cachedTransition) {
    key = CursorTransitionFrames::Key{cachedTransition->source, cachedTransition->target, canvas,
                                      frameStep(t)};
    if (auto stored = CursorTransitionFrames::frame(*key)) return stored;
  }

  const int64_t n = canvas.pixelCount();
  const int64_t width = canvas.pixelWidth(), height = canvas.pixelHeight();
  const std::vector<float>& targetField = *destination->solid;
  const std::vector<uint8_t>& targetColours = *destination->rgba;
  if (sourceSolid.size() != static_cast<size_t>(n) || sourceRGBA.size() != static_cast<size_t>(n) * 4 ||
      targetField.size() != static_cast<size_t>(n) || targetColours.size() != static_cast<size_t>(n) * 4 ||
      !fitsInt32(width) || !fitsInt32(height)) {
    return std::nullopt;
  }

  auto output = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(n) * 4, 0);
  const float scale = static_cast<float>(canvas.pixelScale);
  const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
  const bool rendered =
      prefersMetal && MetalCursorRenderer::shared()->render(sourceSolid.data(), targetField.data(),
                                                            sourceRGBA.data(), targetColours.data(),
                                                            output->data(), w, h, e, scale);
  if (!rendered) {
    morphCPU(sourceSolid.data(), targetField.data(), sourceRGBA.data(), targetColours.data(),
             output->data(), w, h, e, scale);
  }

  auto made = CursorFrame::make(std::move(output), canvas, cachedTransition.has_value());
  if (made && key) CursorTransitionFrames::insert(*made, *key);
  return made;
}

bool rgbaPixels(const platform::CGImageRef& image, int64_t width, int64_t height,
                std::vector<uint8_t>& pixels) {
  int64_t rowBytes = 0, total = 0;
  if (__builtin_mul_overflow(width, int64_t{4}, &rowBytes)) fatalError("pixel row size overflows");
  if (!image || width < 1 || height < 1 || __builtin_mul_overflow(rowBytes, height, &total) ||
      static_cast<uint64_t>(total) != pixels.size()) {
    return false;
  }
  const auto context = platform::CGBitmapContextCreate(
      pixels.data(), static_cast<size_t>(width), static_cast<size_t>(height), 8, static_cast<size_t>(rowBytes),
      platform::CGColorSpaceCreateDeviceRGB(), platform::kCGImageAlphaPremultipliedLast);
  if (!context) return false;
  platform::CGContextDrawImage(context, platform::CGRectMake(0, 0, static_cast<CGFloat>(width),
                                                             static_cast<CGFloat>(height)),
                               image);
  return true;
}

}  // namespace vurle
