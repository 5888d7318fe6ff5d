#pragma once

// Colours as the views fill with them. No colour management happens in the
// graphics layer, so an sRGB colour's components are written as they are.

#include "platform/graphics/geometry.hpp"

namespace platform {

class NSColor {
 public:
  // Components are clamped to [0, 1]; NaN counts as 0.
  static NSColor colorWithSRGBRed(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);
  // The light appearance's system blue, sRGB (0, 122, 255).
  static NSColor systemBlueColor();
  // Fully transparent: every component 0.
  static NSColor clearColor() { return NSColor(0, 0, 0, 0); }
  // The system's named colours, in the current drawing appearance
  // (appearance.hpp): resolved when asked for, so ask while drawing. The
  // dark values are our own, chosen so a dark window is dark throughout.
  // A text view's colours are among them, so that text set in a label
  // colour stays legible on its background in either appearance.
  static NSColor textColor();
  static NSColor textBackgroundColor();
  static NSColor linkColor();
  static NSColor windowBackgroundColor();
  static NSColor controlBackgroundColor();
  static NSColor controlColor();
  static NSColor labelColor();
  static NSColor secondaryLabelColor();
  static NSColor separatorColor();
  // The user's accent colour, which default buttons are filled with: the
  // system blue of each appearance (the desktop keeps the default accent).
  static NSColor controlAccentColor();

  CGFloat redComponent() const { return red_; }
  CGFloat greenComponent() const { return green_; }
  CGFloat blueComponent() const { return blue_; }
  CGFloat alphaComponent() const { return alpha_; }

  // Makes the colour the fill colour of the current graphics context; does
  // nothing when there is none.
  void setFill() const;
  void setStroke() const;

  bool operator==(const NSColor&) const = default;

 private:
  NSColor(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
      : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

  CGFloat red_, green_, blue_, alpha_;
};

}  // namespace platform
