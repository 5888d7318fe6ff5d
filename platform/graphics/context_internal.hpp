#pragma once

// Internal to the graphics layer: what the AppKit image types need of contexts.

#include "platform/graphics/context.hpp"
#include "platform/graphics/pixels.hpp"

namespace platform::detail {

// CGBitmapContextCreate for the layer's own RGBA contexts; does not consume
// injected faults (those belong to the caller-facing creation functions).
CGContextRef makeBitmapContext(void* data, size_t width, size_t height, size_t bytesPerRow,
                               CGColorSpaceRef space);

// The one image drawing path (CGContextDrawImage and NSImage::drawInRect).
void drawPixels(const CGContextRef& c, CGRect rect, const PixelSource& source);

CGFloat contextAlpha(const CGContextRef& c);

}  // namespace platform::detail
