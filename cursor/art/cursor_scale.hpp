#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cursor/art/cursor_image.hpp"

namespace vurle {

// Largest morph canvas, in pixels.
inline constexpr int64_t kMaximumMorphPixels = 262144;

// The window server's pointer-size factor, read once at first use and then
// only changed by refreshRenderScale(). 1.0 when the window server cannot
// answer, or answers something not finite or below 1.
double cursorScale();
// A fresh read of the pointer-size factor; nothing is stored.
double currentCursorScale();

// Pixels per point at which cursor art is rasterised, computed at first
// use from the screens and the stored cursor scale, then only changed by
// refreshRenderScale().
double renderScale();
// Cursor factor × the largest usable backing factor (2.0 when there is
// none). Pure.
double renderScale(const std::vector<double>& backingFactors, double cursorScale);
// The render scale of one screen, with the stored cursor scale; for
// per-screen pixel sizes.
double renderScale(double forBackingFactor);

// Re-reads the screens and the cursor scale; true when either stored scale
// changed, in which case the cursor art must be rebuilt.
bool refreshRenderScale();

// Pixels a morph canvas may have at a scale: 24576 up to scale 2, growing
// with the square of the scale, capped at 262144; 0 for an unusable scale.
int64_t defaultPixelLimit(double scale);

// Whether a canvas in points may be morphed at the scale, against the given
// pixel limit or defaultPixelLimit(scale) when none is given.
bool canvasFits(CGRect rect, double scale, std::optional<int64_t> pixelLimit = std::nullopt);

// The rectangle grown to whole pixels at the scale.
CGRect pixelAligned(CGRect rect, double scale);

// An art's canvas: its local bounds outset by 3 points on every side,
// pixel-aligned at the scale.
CursorCanvas artCanvas(CGRect localBounds, double scale);

}  // namespace vurle
