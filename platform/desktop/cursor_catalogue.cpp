#include "platform/desktop/cursor_catalogue.hpp"

#include <functional>
#include <memory>
#include <utility>

#include "platform/appkit/cursor.hpp"
#include "platform/windowserver/current_cursor.hpp"

namespace platform {
namespace {

using Maker = std::function<std::shared_ptr<NSCursor>()>;

const std::vector<std::pair<std::string, Maker>>& table() {
  static const std::vector<std::pair<std::string, Maker>> entries = {
      {"arrow", NSCursor::arrowCursor},
      {"text", NSCursor::IBeamCursor},
      {"verticalText", NSCursor::IBeamCursorForVerticalLayout},
      {"pointingHand", NSCursor::pointingHandCursor},
      {"crosshair", NSCursor::crosshairCursor},
      {"openHand", NSCursor::openHandCursor},
      {"closedHand", NSCursor::closedHandCursor},
      {"notAllowed", NSCursor::operationNotAllowedCursor},
      {"dragCopy", NSCursor::dragCopyCursor},
      {"dragLink", NSCursor::dragLinkCursor},
      {"contextualMenu", NSCursor::contextualMenuCursor},
      {"disappearingItem", NSCursor::disappearingItemCursor},
      {"resizeLeft", NSCursor::resizeLeftCursor},
      {"resizeRight", NSCursor::resizeRightCursor},
      {"resizeLeftRight", NSCursor::resizeLeftRightCursor},
      {"resizeUp", NSCursor::resizeUpCursor},
      {"resizeDown", NSCursor::resizeDownCursor},
      {"resizeUpDown", NSCursor::resizeUpDownCursor},
      {"zoomIn", NSCursor::zoomInCursor},
      {"zoomOut", NSCursor::zoomOutCursor},
      {"columnResize", NSCursor::columnResizeCursor},
      {"rowResize", NSCursor::rowResizeCursor},
      {"busy", nullptr},
  };
  return entries;
}

}  // namespace

const std::vector<std::string>& cursorCatalogueNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const auto& entry : table()) all.push_back(entry.first);
    return all;
  }();
  return names;
}

bool isKnownCursorName(std::string_view name) {
  for (const auto& entry : table()) {
    if (entry.first == name) return true;
  }
  return false;
}

std::optional<CursorImageSet> cursorCatalogueImages(std::string_view name) {
  for (const auto& [entryName, make] : table()) {
    if (entryName != name) continue;
    if (!make) return CoreCursors::shared().registeredCursor(kWaitCursorName);
    auto cursor = make();
    if (!cursor || !cursor->image()) return std::nullopt;
    return CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot());
  }
  return std::nullopt;
}

}  // namespace platform
