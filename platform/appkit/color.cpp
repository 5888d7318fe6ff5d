#include "platform/appkit/color.hpp"

#include <algorithm>
#include <cmath>

#include "platform/appkit/appearance.hpp"
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

namespace {

bool drawingDark() {
  const auto appearance = NSAppearance::currentDrawingAppearance();
  return appearance && appearance->isDark();
}

NSColor named(bool dark, CGFloat lightWhite, CGFloat lightAlpha, CGFloat darkWhite, CGFloat darkAlpha) {
  return dark ? NSColor::colorWithSRGBRed(darkWhite, darkWhite, darkWhite, darkAlpha)
              : NSColor::colorWithSRGBRed(lightWhite, lightWhite, lightWhite, lightAlpha);
}

}  // namespace

NSColor NSColor::textColor() { return named(drawingDark(), 0, 1, 1, 1); }
NSColor NSColor::textBackgroundColor() { return named(drawingDark(), 1, 1, 0.118, 1); }
NSColor NSColor::linkColor() {
  return drawingDark() ? colorWithSRGBRed(0.255, 0.612, 1, 1) : colorWithSRGBRed(0, 0.408, 0.855, 1);
}
NSColor NSColor::windowBackgroundColor() { return named(drawingDark(), 0.925, 1, 0.196, 1); }
NSColor NSColor::controlBackgroundColor() { return named(drawingDark(), 1, 1, 0.118, 1); }
NSColor NSColor::controlColor() { return named(drawingDark(), 1, 1, 1, 0.25); }
NSColor NSColor::labelColor() { return named(drawingDark(), 0, 0.85, 1, 0.85); }
NSColor NSColor::secondaryLabelColor() { return named(drawingDark(), 0, 0.5, 1, 0.55); }
NSColor NSColor::separatorColor() { return named(drawingDark(), 0, 0.1, 1, 0.1); }
NSColor NSColor::controlAccentColor() {
  return drawingDark() ? colorWithSRGBRed(10.0 / 255.0, 132.0 / 255.0, 1, 1) : systemBlueColor();
}

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
