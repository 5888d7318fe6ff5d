#pragma once

#include <memory>

#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/image.hpp"

namespace vurle {

// The CGImage an NSImage proposes for its own size when drawn at `scale`
// pixels per point: the representation AppKit would pick for that scale.
// The representation for one pixel per point when the scale is unusable;
// null when the image has no bitmap representation.
platform::CGImageRef cursorImageAtScale(const platform::NSImage& image, double scale);

}  // namespace vurle
