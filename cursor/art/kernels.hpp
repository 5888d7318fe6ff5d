// Distance-field and morph kernels: seven numeric routines over
// raw, caller-owned pixel buffers. They allocate nothing and keep no state.
//
// Layout: buffers are row-major with row 0 at the top. Colour buffers are
// RGBA, 8 bits per component, premultiplied alpha last, 4 bytes per pixel.
// Fields are one 32-bit float per pixel, positive inside the shape.
//
// Numerics: 32-bit float with every product rounded before it is added (no
// fused multiply-add; the project builds with -ffp-contract=off and the
// vector paths never enable FMA). min and max are IEEE minNum and maxNum (a
// NaN operand is ignored) and "v clamped to [lo, hi]" is fmin(fmax(v, lo), hi).
// Every vector path gives results bit-identical to the plain scalar loops of
// kernels_reference.hpp, on every input.
//
// Preconditions common to all routines:
// - No two buffers passed to one call overlap, not even partly (the fast
//   paths read and write them through restrict-qualified pointers).
// - A buffer holds at least the number of elements stated for it below
//   whenever the routine reads or writes it; a routine that does nothing for
//   the given sizes touches no buffer (null pointers are then allowed).
#pragma once

#include <cstdint>

namespace vurle {

// Signed distance field of a bitmap, in pixels: positive inside the shape
// (alpha >= 128), negative outside; a fully transparent bitmap gives
// -2 * max(width, height) everywhere. `rgba` holds width * height * 4 bytes;
// `out` and `scratch` hold width * height floats each. `scratch` ends with
// the distance to the nearest opaque pixel (chamferDistance, inside 1).
// Nothing is done when width < 1 or height < 1.
void signedDistanceField(const uint8_t* rgba, float* out, float* scratch, int32_t width, int32_t height);

// Two-pass 8-neighbour chamfer distance (weights 1 and 1.4142135) of each
// pixel to the nearest pixel whose (alpha >> 7) equals `inside`; those
// pixels get 0, and with no such pixel every pixel gets 2 * max(width, height).
// `rgba` holds width * height * 4 bytes and `out` width * height floats.
// Nothing at all is done (no buffer is touched) when width < 1 or height < 1.
void chamferDistance(const uint8_t* rgba, float* out, int32_t width, int32_t height, int32_t inside);

// out[i] = a[i] + t * (b[i] - a[i]) for i < count (subtraction, rounded
// product, addition). Nothing is done when count < 1.
void lerpField(const float* a, const float* b, float* out, int32_t count, float t);

// Places a source field and its colours at (offsetX, offsetY) in a
// destination of its own size. Every destination field value outside the
// copied block is extrapolated as -sqrt(dy^2 + (dx^2 + v^2)), with v the
// nearest source value and (dx, dy) the distance in pixels to it; the block
// itself carries the source values and colours, and destination colours
// outside it are left as they were.
// Buffers: the source field holds sourceWidth * sourceHeight floats, the
// source colours 4 times as many bytes; likewise for the destination.
// Returns false and touches nothing when a size or an offset is negative,
// when the source rectangle at the offset does not lie inside the
// destination, or when the destination has pixels but the source has none
// (there would be no value to extrapolate from). Returns true otherwise.
bool padRaster(const float* sourceField, const uint8_t* sourceRGBA, float* destinationField, uint8_t* destinationRGBA,
               int32_t sourceWidth, int32_t sourceHeight, int32_t destinationWidth, int32_t destinationHeight,
               int32_t offsetX, int32_t offsetY);

// Per-pixel morph between two cursor pictures (the CPU twin of the Metal
// kernel `morph`). `source` and `target` hold width * height floats, the
// three colour buffers width * height * 4 bytes each. A pixel whose blended
// distance lies below scale * -18 is left untouched (callers hand in a zeroed
// output); every other pixel gets the blend of the `from` colour at its
// projection onto the source field and the `to` colour at its projection onto
// the target field, rounded half away from zero and clamped to [0, 255].
// Nothing is done when width < 1 or height < 1.
void morphCPU(const float* source, const float* target, const uint8_t* fromRGBA, const uint8_t* toRGBA, uint8_t* output,
              int32_t width, int32_t height, float progress, float scale);

// True when an alpha byte (offsets 3, 7, 11, ... of whole pixels within
// byteCount) is non-zero; false for byteCount < 4.
bool hasVisibleAlpha(const uint8_t* rgba, int32_t byteCount);

// Tolerant comparison of two byte images of `count` bytes each: true when the
// sum of |a[i] - b[i]| is at most 2 * count and at most count / 100 bytes
// differ by 13 or more. True for count < 1.
bool imagesNearlyEqual(const uint8_t* a, const uint8_t* b, int32_t count);

// Internal switch between the instruction-set paths, for the tests and the
// benchmark only. Production code never calls it: the fastest path the
// processor supports is chosen on first use.
namespace kernels_detail {

enum class KernelPath : int32_t {
  baseline = 0,  // SSE2, the x86-64 baseline (4 lanes)
  avx2 = 1,      // AVX2 (8 lanes)
  avx512 = 2,    // AVX-512 F, DQ, VL and BW (16 lanes)
};

// Whether this processor can run the path.
bool pathSupported(KernelPath path);
// The path in force.
KernelPath currentPath();
// Forces a supported path and returns the previous one; an unsupported path
// is ignored (the previous path stays and is returned).
KernelPath setPathForTesting(KernelPath path);

}  // namespace kernels_detail

}  // namespace vurle
