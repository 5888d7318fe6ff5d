#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_library.hpp"

namespace vurle {

// One morph in progress between two cursor pictures, or the picture the
// pointer rests on. A plain value: its owner builds it with the four
// settings, keeps it and mutates it in place, on one thread. Times are
// seconds of system uptime.
//
// Resting: duration 0, the destination is the art's raster on its own
// canvas and the source arrays are that raster's field and bytes. Running:
// duration > 0 and t < started + duration, the destination on the canvas
// that holds both pictures. Empty: no art; frame() yields nothing.
struct PointerAnimation {
  struct CachedTransition {
    int64_t source = 0;  // art identities
    int64_t target = 0;
    bool operator==(const CachedTransition&) const = default;
  };

  // Empty, with the owner's settings. Without a fixed scale the stored
  // render scale applies at each operation; without a pixel limit the
  // default limit of the scale.
  explicit PointerAnimation(std::optional<CGFloat> fixedScale = std::nullopt,
                            std::optional<int64_t> pixelLimit = std::nullopt, bool prefersMetal = false,
                            bool cacheStaticCustomTransitions = false)
      : fixedScale(fixedScale),
        pixelLimit(pixelLimit),
        prefersMetal(prefersMetal),
        cacheStaticCustomTransitions(cacheStaticCustomTransitions) {}

  std::optional<CGFloat> fixedScale;
  std::optional<int64_t> pixelLimit;
  bool prefersMetal = false;
  // Cache the frames of morphs between any two resting arts, not only
  // between standard cursors.
  bool cacheStaticCustomTransitions = false;

  ArtRef to;
  std::optional<CursorRaster> destination;
  std::vector<float> sourceSolid;  // on the destination's canvas
  std::vector<uint8_t> sourceRGBA;
  double started = 0;
  double duration = 0;
  std::optional<CursorFrame> initialFrame;
  // Only for a morph whose frames may be cached: exactly 129 of them.
  std::optional<CachedTransition> cachedTransition;

  // Rests on the art without a morph. False, with the animation emptied,
  // when its raster cannot be built; false with nothing changed for no art.
  bool show(const ArtRef& art, double t);

  // Starts a morph to the art from whatever is on screen at the sampling
  // time (t when not given), also from the middle of a running morph. The
  // showing frame, the picture the caller has on screen, stands for the
  // current picture when it lies on the current canvas and the morph is not
  // to be cached. A morph too large for the pixel limit shows the art at
  // once. False when no morph or picture can be made; the animation is then
  // empty (nothing changes for no art).
  bool begin(const ArtRef& art, double t, double seconds,
             std::optional<double> samplingTime = std::nullopt,
             const std::optional<CursorFrame>& showingFrame = std::nullopt);

  // The picture for the moment: the initial frame before the start, the
  // destination's frame from the end on, else a cached or rendered morph
  // frame. None when nothing can be rendered.
  std::optional<CursorFrame> frame(double t) const;

  bool isRunning(double t) const { return duration > 0 && t < started + duration; }
  // Whether a morph to the art would fit the pixel limit.
  bool canTransition(const NativeCursorArt& art, double t) const;
  // Smoothstep of the linear progress; 1 when resting. Cached morphs use the
  // progress of their frame step, so they have exactly 129 pictures.
  float easedProgress(double t) const;
  // The linear progress in 128ths, 0 to 128; 128 when resting.
  int64_t frameStep(double t) const;
  // The source field blended towards the destination's at the eased
  // progress; empty without a destination or with mismatched fields.
  std::vector<float> interpolatedField(double t) const;

 private:
  double scale() const;
  void empty(double t);
};

// Redraws the image into `pixels`, a zeroed buffer of width × height RGBA
// pixels (premultiplied, device RGB), stretched over the whole buffer.
// False when the buffer is not exactly that size or no context can be made.
bool rgbaPixels(const platform::CGImageRef& image, int64_t width, int64_t height,
                std::vector<uint8_t>& pixels);

}  // namespace vurle
