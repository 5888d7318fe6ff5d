#pragma once

// Core Graphics bitmap contexts over caller memory, drawn with cairo.
//
// Coordinates: user space starts as the platform's: origin at the bottom-left
// corner, y up, one unit per pixel. Memory row 0 is the TOP row of the picture.
// The CTM only ever translates and scales (there is no rotation here), so a
// clip is always a rectangle in device space.
//
// Memory: the caller's RGBA premultiplied-last bytes stay authoritative. Each
// call converts the pixels it can touch (its extent, clipped) to cairo ARGB32,
// in a scratch surface or, enlarging at high quality, in place (where start and
// bytesPerRow are multiples of 4), draws, and converts them back: an exact byte
// permutation, so untouched pixels survive; the caller may write between calls.
//
// Resampling (scaled image draws): one function for every path, CGContextDrawImage
// and NSImage::drawInRect alike, chosen by the interpolation quality only:
//   * kCGInterpolationNone    -> CAIRO_FILTER_NEAREST (pixel duplication);
//   * kCGInterpolationLow     -> CAIRO_FILTER_FAST (point sampling);
//   * kCGInterpolationDefault and
//     kCGInterpolationMedium  -> CAIRO_FILTER_GOOD: bilinear when enlarging;
//   * kCGInterpolationHigh    -> enlarging: Catmull-Rom (bicubic) interpolation
//     of our own, in two passes, so a cursor drawn at 3.4 × has smooth edges;
//     its picture of what the clip lets through takes the scratch surface's
//     place: a few rows beyond Medium's memory, and short of them, Medium's draw.
//     Not CAIRO_FILTER_BEST: cairo 1.16 enlarges with it by drawing every
//     source pixel as a square, the stair steps themselves (and pixman's
//     cubic convolution costs some twenty times the bilinear draw).
//   Reducing on either axis, every quality but None and Low uses
//   CAIRO_FILTER_GOOD's box filter, so a 32 × 32 thumbnail averages the source
//   instead of picking four pixels per output pixel and stays stable when the
//   same picture arrives at a slightly different size (CAIRO_FILTER_BEST's
//   cubic kernel does not).
// Image edges are padded (the border pixels extend), never faded to clear.
// Unscaled pixel-aligned draws copy pixels exactly under every quality.
//
// Shadows (CGContextSetShadowWithColor): the shape's alpha is rendered into a
// scratch mask, blurred by three passes of a box of 2r + 1 pixels horizontally
// and then vertically (r = round(min(blur, 128) / 2) device pixels, close to a
// Gaussian of sigma blur / 2), offset by (offset.width, offset.height) device
// pixels with y up, and composited source-over in the shadow colour beneath
// the shape. Parts of the shape outside the canvas or the clip still cast
// their shadow; the shadow itself is clipped like any drawing.
//
// A context is used from one thread at a time, as on the platform. Every
// function does nothing (or answers nullptr) for a null context.

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

struct CGContext;
using CGContextRef = std::shared_ptr<CGContext>;

enum CGInterpolationQuality : int32_t {
  kCGInterpolationDefault = 0,
  kCGInterpolationNone = 1,
  kCGInterpolationLow = 2,
  kCGInterpolationMedium = 4,
  kCGInterpolationHigh = 3,
};

// The three modes the system uses; other values are ignored (mode unchanged).
enum CGBlendMode : int32_t {
  kCGBlendModeNormal = 0,
  kCGBlendModeClear = 16,
  kCGBlendModeCopy = 17,
};

enum CGPathDrawingMode : int32_t {
  kCGPathFill = 0,
  kCGPathEOFill,
  kCGPathStroke,
  kCGPathFillStroke,
  kCGPathEOFillStroke,
};

enum CGLineJoin : int32_t { kCGLineJoinMiter = 0, kCGLineJoinRound, kCGLineJoinBevel };
enum CGLineCap : int32_t { kCGLineCapButt = 0, kCGLineCapRound, kCGLineCapSquare };

// Over caller memory `data` of bytesPerRow × height bytes, which must outlive
// the context; with data == nullptr the context allocates and owns zeroed
// memory. nullptr when: width or height is 0 or above 32767, bitsPerComponent
// != 8, bytesPerRow < 4 × width (0 is not accepted either), bytesPerRow ×
// height above 4 GiB, space is null, or the bitmap info is not
// premultiplied-last RGBA (byte order Default or 32Big).
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space,
                                   CGBitmapInfo bitmapInfo);
void* CGBitmapContextGetData(const CGContextRef& c);
// A new image holding a copy of the current bytes (same layout and space).
CGImageRef CGBitmapContextCreateImage(const CGContextRef& c);

// Graphics state: CTM, clip, colours, line style, alpha, blend mode,
// interpolation quality, antialiasing and shadow. The current path is not part
// of it. Restoring with nothing saved does nothing.
void CGContextSaveGState(const CGContextRef& c);
void CGContextRestoreGState(const CGContextRef& c);
void CGContextTranslateCTM(const CGContextRef& c, CGFloat tx, CGFloat ty);
void CGContextScaleCTM(const CGContextRef& c, CGFloat sx, CGFloat sy);
void CGContextClipToRect(const CGContextRef& c, CGRect rect);
void CGContextSetInterpolationQuality(const CGContextRef& c, CGInterpolationQuality q);
CGInterpolationQuality CGContextGetInterpolationQuality(const CGContextRef& c);
void CGContextSetBlendMode(const CGContextRef& c, CGBlendMode mode);
void CGContextSetAlpha(const CGContextRef& c, CGFloat alpha);  // clamped to 0...1
void CGContextSetShouldAntialias(const CGContextRef& c, bool antialias);
void CGContextSetRGBFillColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetRGBStrokeColor(const CGContextRef& c, CGFloat r, CGFloat g, CGFloat b, CGFloat a);
void CGContextSetLineWidth(const CGContextRef& c, CGFloat width);
void CGContextSetLineJoin(const CGContextRef& c, CGLineJoin join);
void CGContextSetLineCap(const CGContextRef& c, CGLineCap cap);
// A colour alpha of 0 turns the shadow off.
void CGContextSetShadowWithColor(const CGContextRef& c, CGSize offset, CGFloat blur, CGFloat r,
                                 CGFloat g, CGFloat b, CGFloat a);

// Clears the rectangle to transparent; ignores blend mode, alpha and shadow,
// honours the clip.
void CGContextClearRect(const CGContextRef& c, CGRect rect);
// Draws the whole image stretched into `rect` (standardised), the image's top
// row along the rect's maxY. Copy replaces the destination inside the rect,
// Clear clears it, Normal blends source-over.
void CGContextDrawImage(const CGContextRef& c, CGRect rect, const CGImageRef& image);

// Path construction; points go through the CTM as they are added. A line or
// curve without a current point is ignored, as on the platform.
void CGContextBeginPath(const CGContextRef& c);
void CGContextMoveToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(const CGContextRef& c, CGFloat x, CGFloat y);
void CGContextAddCurveToPoint(const CGContextRef& c, CGFloat cp1x, CGFloat cp1y, CGFloat cp2x,
                              CGFloat cp2y, CGFloat x, CGFloat y);
void CGContextAddQuadCurveToPoint(const CGContextRef& c, CGFloat cpx, CGFloat cpy, CGFloat x,
                                  CGFloat y);
void CGContextClosePath(const CGContextRef& c);
void CGContextAddRect(const CGContextRef& c, CGRect rect);
void CGContextAddEllipseInRect(const CGContextRef& c, CGRect rect);

// Painting the current path empties it. Fill and stroke in one call cast one
// shadow for the combined shape.
void CGContextFillPath(const CGContextRef& c);    // non-zero winding
void CGContextEOFillPath(const CGContextRef& c);  // even-odd
void CGContextStrokePath(const CGContextRef& c);
void CGContextDrawPath(const CGContextRef& c, CGPathDrawingMode mode);
// These leave the current path alone.
void CGContextFillRect(const CGContextRef& c, CGRect rect);
void CGContextFillEllipseInRect(const CGContextRef& c, CGRect rect);

// For drawing code that speaks cairo (pinned-font text, view graphs): runs
// `paint` on a cairo context whose user space is the rect's, one unit a
// point, origin at the rect's top-left corner as the picture shows it and
// y down whatever the flip, clipped to the rect and the context's clip,
// with the pixels per point it is drawn at. The context's alpha and blend
// mode apply to the result; it casts no shadow.
void CGContextDrawWithCairo(const CGContextRef& c, CGRect rect,
                            const std::function<void(cairo_t* cr, double pixelsPerPoint)>& paint);

// Adds a closed rounded-rectangle sub-path to cr's path (the radius
// clamped to half the shorter side, never below 0), for views drawing
// straight into cairo.
void cairoRoundedRectPath(cairo_t* cr, CGRect r, double radius);

}  // namespace platform
