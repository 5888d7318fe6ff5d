#include "cursor/native/native_cursor_images.hpp"

#include <algorithm>
#include <cmath>

namespace vurle {

platform::CGImageRef cursorImageAtScale(const platform::NSImage& image, double scale) {
  platform::NSRect proposed{platform::CGPointZero, image.size()};
  // The representation is chosen by the context's pixels per point, so a
  // one-row bitmap of that density stands for the scaled transform.
  std::shared_ptr<platform::NSGraphicsContext> context;
  if (std::isfinite(scale) && scale > 0 && scale <= 64) {
    const int pixels = std::max(1, static_cast<int>(std::ceil(scale)));
    auto rep = platform::NSBitmapImageRep::make(nullptr, pixels, 1, 8, 4, true, false,
                                                platform::NSDeviceRGBColorSpace, 4 * pixels, 32);
    if (rep) {
      rep->setSize(platform::NSMakeSize(pixels / scale, 1));
      context = platform::NSGraphicsContext::graphicsContextWithBitmapImageRep(rep);
    }
  }
  return image.CGImageForProposedRect(&proposed, context, nullptr);
}

}  // namespace vurle
