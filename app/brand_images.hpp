#pragma once

// The two brand images of the bundle, drawn from their SVG files: the
// status-bar mark and the logo other windows show. Each is made once, on
// first use, and shared; both are template images (whoever shows them
// fills their shape with a colour of their own).
//
// An SVG's size in points is its width and height (one CSS pixel is one
// point), else its viewBox's. It is drawn from the vector each time, at the
// scale of the picture it is drawn into, stretched to the rectangle it is
// given. A missing, unreadable or over-1 MiB file, a document that does not
// parse, or a size that is not finite and above 0, gives the empty image (no
// size, draws nothing); nothing is reported. External references in a
// document are not followed. Main thread only.

#include <memory>
#include <string>

#include "platform/graphics/appkit_image.hpp"

namespace vurle {

// The main bundle's resource "<name>.svg".
std::shared_ptr<platform::NSImage> loadBundleSVG(const std::string& name);

// "vurle-mark", scaled so that its larger side is 18 points (an image whose
// larger side is 0 keeps its size), described "vurle".
std::shared_ptr<platform::NSImage> statusMarkImage();
// "vurle-logo".
std::shared_ptr<platform::NSImage> logoImage();

}  // namespace vurle
