#pragma once

#include <optional>
#include <string_view>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

// The simulated platform's artwork of one system cursor, drawn at 1 and 2
// pixels per point.
struct SystemCursorArt {
  NSSize size;
  NSPoint hotSpot;
  CGImageRef oneX, twoX;
};

// Keys: the AppKit accessor's name without "Cursor" ("arrow", "IBeam",
// "resizeLeftRight", "zoomIn", ...), "column 1" to "column 3", "row 1" to
// "row 3" and "frame P/D" with the raw values of a frame-resize position
// and direction set. nullopt for an unknown key or when drawing fails.
std::optional<SystemCursorArt> drawSystemCursor(std::string_view key);

}  // namespace platform
