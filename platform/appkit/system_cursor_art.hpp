#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

// The simulated platform's artwork of one system cursor, drawn at each of
// kSystemCursorScales pixels per point: as the system's cursors, it stays
// sharp when drawn several times larger (a large pointer, a preview).
inline constexpr int kSystemCursorScales[] = {1, 2, 4};
struct SystemCursorArt {
  NSSize size;
  NSPoint hotSpot;
  std::vector<CGImageRef> images;  // one per scale, in that order
};

// Keys: the AppKit accessor's name without "Cursor" ("arrow", "IBeam",
// "resizeLeftRight", "zoomIn", ...), "column 1" to "column 3", "row 1" to
// "row 3" and "frame P/D" with the raw values of a frame-resize position
// and direction set. nullopt for an unknown key or when drawing fails.
std::optional<SystemCursorArt> drawSystemCursor(std::string_view key);

}  // namespace platform
