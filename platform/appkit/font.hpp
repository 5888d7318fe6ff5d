#pragma once

// The system fonts AppKit views are set in, on the pinned fonts of the
// graphics layer (Inter, and DejaVu Sans Mono for the monospaced system
// font). A value: equal fonts are the same font.

#include "platform/appkit/color.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/graphics/text.hpp"

namespace platform {

enum class NSFontWeight { regular, medium, semibold, bold };

class NSFont {
 public:
  // Sizes that are not finite and above 0 become the system size.
  static NSFont systemFontOfSize(CGFloat size, NSFontWeight weight = NSFontWeight::regular);
  static NSFont monospacedSystemFontOfSize(CGFloat size, NSFontWeight weight = NSFontWeight::regular);
  static CGFloat systemFontSize() { return 13; }

  CGFloat pointSize() const { return font_.size; }
  NSFontWeight weight() const;
  bool isMonospaced() const { return font_.monospaced; }
  const TextFont& textFont() const { return font_; }

  bool operator==(const NSFont&) const = default;

 private:
  explicit NSFont(TextFont font) : font_(font) {}
  TextFont font_;
};

// The colour as the text layer takes it.
inline TextColor textColorOf(const NSColor& color) {
  return {color.redComponent(), color.greenComponent(), color.blueComponent(), color.alphaComponent()};
}

}  // namespace platform
