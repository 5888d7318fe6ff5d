#pragma once
// The cursors other applications on the simulated desktop can set, by the
// short names scenarios use: "arrow", "text", "pointingHand",
// "resizeLeftRight"... Each is the platform's own artwork (NSCursor), and
// "busy" is the window server's animated wait cursor.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windowserver/core_cursors.hpp"

namespace platform {

// Every name, in a fixed order.
const std::vector<std::string>& cursorCatalogueNames();
bool isKnownCursorName(std::string_view name);
// The images the window server shows for the named cursor; none for an
// unknown name or one the running system version does not have.
std::optional<CursorImageSet> cursorCatalogueImages(std::string_view name);

}  // namespace platform
