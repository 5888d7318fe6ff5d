#include "platform/appkit/color.hpp"

#include <algorithm>
#include <cmath>

#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"

namespace platform {
namespace {

CGFloat unit(CGFloat value) { return std::isnan(value) ? 0 : std::clamp<CGFloat>(value, 0, 1); }

}  // namespace

NSColor NSColor::colorWithSRGBRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
  return NSColor(unit(red), unit(green), unit(blue), unit(alpha));
}

NSColor NSColor::systemBlueColor() { return colorWithSRGBRed(0, 122.0 / 255.0, 1, 1); }

void NSColor::setFill() const {
  if (const auto context = NSGraphicsContext::currentContext()) {
    CGContextSetRGBFillColor(context->CGContext(), red_, green_, blue_, alpha_);
  }
}

void NSColor::setStroke() const {
  if (const auto context = NSGraphicsContext::currentContext()) {
    CGContextSetRGBStrokeColor(context->CGContext(), red_, green_, blue_, alpha_);
  }
}

}  // namespace platform
