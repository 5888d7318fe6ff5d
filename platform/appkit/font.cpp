#include "platform/appkit/font.hpp"

#include <cmath>

namespace platform {
namespace {

TextFont make(CGFloat size, NSFontWeight weight, bool monospaced) {
  const double points = std::isfinite(size) && size > 0 ? size : NSFont::systemFontSize();
  static constexpr TextWeight weights[] = {TextWeight::regular, TextWeight::medium, TextWeight::semibold,
                                           TextWeight::bold};
  return {points, weights[static_cast<int>(weight)], monospaced};
}

}  // namespace

NSFont NSFont::systemFontOfSize(CGFloat size, NSFontWeight weight) { return NSFont(make(size, weight, false)); }

NSFont NSFont::monospacedSystemFontOfSize(CGFloat size, NSFontWeight weight) {
  return NSFont(make(size, weight, true));
}

NSFontWeight NSFont::weight() const {
  switch (font_.weight) {
    case TextWeight::medium: return NSFontWeight::medium;
    case TextWeight::semibold: return NSFontWeight::semibold;
    case TextWeight::bold: return NSFontWeight::bold;
    default: return NSFontWeight::regular;
  }
}

}  // namespace platform
