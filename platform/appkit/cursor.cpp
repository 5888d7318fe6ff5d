#include "platform/appkit/cursor.hpp"

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/appkit/system_cursor_art.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/current_cursor.hpp"

namespace platform {
namespace {

// The pictures never change, so each is drawn once per process.
std::optional<SystemCursorArt> artwork(const std::string& key) {
  static std::mutex mutex;
  static std::map<std::string, std::optional<SystemCursorArt>> drawn;
  std::lock_guard<std::mutex> guard(mutex);
  auto it = drawn.find(key);
  if (it == drawn.end()) it = drawn.emplace(key, drawSystemCursor(key)).first;
  return it->second;
}

// The cursor objects, with their mutable image representations, are made
// anew after resetProcessState() so one test's changes never leak.
struct CursorTable {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<NSCursor>> cursors;
};
ProcessWide<std::shared_ptr<CursorTable>> cursorTable([] {
  return std::make_shared<CursorTable>();
});

std::shared_ptr<NSImageRep> representation(const CGImageRef& image, NSSize size) {
  auto rep = NSBitmapImageRep::makeWithCGImage(image);
  if (rep) rep->setSize(size);
  return rep;
}

std::shared_ptr<NSCursor> systemCursor(const std::string& key, bool sinceMacOS15 = false) {
  if (sinceMacOS15 && !ProcessInfo::isOperatingSystemAtLeastVersion({15, 0, 0})) return nullptr;
  auto table = cursorTable.get();
  std::lock_guard<std::mutex> guard(table->mutex);
  if (auto it = table->cursors.find(key); it != table->cursors.end()) return it->second;
  const auto art = artwork(key);
  if (!art) return nullptr;
  auto image = NSImage::make(art->size);
  if (!image) return nullptr;
  for (const auto& drawn : art->images) {
    auto rep = representation(drawn, art->size);
    if (!rep) return nullptr;
    image->addRepresentation(rep);
  }
  auto cursor = std::make_shared<NSCursor>(image, art->hotSpot);
  table->cursors.emplace(key, cursor);
  return cursor;
}

}  // namespace

std::shared_ptr<NSCursor> NSCursor::make(std::shared_ptr<NSImage> image, NSPoint hotSpot) {
  if (!image) return nullptr;
  return std::make_shared<NSCursor>(std::move(image), hotSpot);
}

std::shared_ptr<NSCursor> NSCursor::currentSystemCursor() {
  auto& server = CurrentCursor::shared();
  if (!server.appKitReadable()) return nullptr;
  const CursorImageSet set = server.cursor();
  const int64_t frames = set.frameCount < 1 ? 1 : set.frameCount;
  auto image = NSImage::make(set.size);
  if (!image || set.images.empty()) return nullptr;
  for (const auto& strip : set.images) {
    if (!strip) return nullptr;
    const auto height = static_cast<CGFloat>(CGImageGetHeight(strip) / static_cast<size_t>(frames));
    auto frame = frames == 1 ? strip
                             : CGImageCreateWithImageInRect(
                                   strip, CGRectMake(0, 0, static_cast<CGFloat>(CGImageGetWidth(strip)), height));
    auto rep = representation(frame, set.size);
    if (!rep) return nullptr;
    image->addRepresentation(rep);
  }
  return std::make_shared<NSCursor>(image, set.hotSpot);
}

std::shared_ptr<NSCursor> NSCursor::arrowCursor() { return systemCursor("arrow"); }
std::shared_ptr<NSCursor> NSCursor::pointingHandCursor() { return systemCursor("pointingHand"); }
std::shared_ptr<NSCursor> NSCursor::IBeamCursor() { return systemCursor("IBeam"); }
std::shared_ptr<NSCursor> NSCursor::IBeamCursorForVerticalLayout() {
  return systemCursor("IBeamForVerticalLayout");
}
std::shared_ptr<NSCursor> NSCursor::crosshairCursor() { return systemCursor("crosshair"); }
std::shared_ptr<NSCursor> NSCursor::openHandCursor() { return systemCursor("openHand"); }
std::shared_ptr<NSCursor> NSCursor::closedHandCursor() { return systemCursor("closedHand"); }
std::shared_ptr<NSCursor> NSCursor::operationNotAllowedCursor() {
  return systemCursor("operationNotAllowed");
}
std::shared_ptr<NSCursor> NSCursor::dragCopyCursor() { return systemCursor("dragCopy"); }
std::shared_ptr<NSCursor> NSCursor::dragLinkCursor() { return systemCursor("dragLink"); }
std::shared_ptr<NSCursor> NSCursor::contextualMenuCursor() {
  return systemCursor("contextualMenu");
}
std::shared_ptr<NSCursor> NSCursor::disappearingItemCursor() {
  return systemCursor("disappearingItem");
}
std::shared_ptr<NSCursor> NSCursor::resizeLeftCursor() { return systemCursor("resizeLeft"); }
std::shared_ptr<NSCursor> NSCursor::resizeRightCursor() { return systemCursor("resizeRight"); }
std::shared_ptr<NSCursor> NSCursor::resizeLeftRightCursor() {
  return systemCursor("resizeLeftRight");
}
std::shared_ptr<NSCursor> NSCursor::resizeUpCursor() { return systemCursor("resizeUp"); }
std::shared_ptr<NSCursor> NSCursor::resizeDownCursor() { return systemCursor("resizeDown"); }
std::shared_ptr<NSCursor> NSCursor::resizeUpDownCursor() { return systemCursor("resizeUpDown"); }

std::shared_ptr<NSCursor> NSCursor::zoomInCursor() { return systemCursor("zoomIn", true); }
std::shared_ptr<NSCursor> NSCursor::zoomOutCursor() { return systemCursor("zoomOut", true); }
std::shared_ptr<NSCursor> NSCursor::columnResizeCursor() {
  return systemCursor("columnResize", true);
}
std::shared_ptr<NSCursor> NSCursor::rowResizeCursor() { return systemCursor("rowResize", true); }

std::shared_ptr<NSCursor> NSCursor::columnResize(NSHorizontalDirections directions) {
  if (directions < 1 || directions > 3) return nullptr;
  return systemCursor("column " + std::to_string(directions), true);
}

std::shared_ptr<NSCursor> NSCursor::rowResize(NSVerticalDirections directions) {
  if (directions < 1 || directions > 3) return nullptr;
  return systemCursor("row " + std::to_string(directions), true);
}

std::shared_ptr<NSCursor> NSCursor::frameResize(NSCursorFrameResizePosition position,
                                                NSCursorFrameResizeDirections directions) {
  // The drawing knows the eight positions; any other raw value has no art.
  if (directions < 1 || directions > 3) return nullptr;
  return systemCursor("frame " + std::to_string(position) + "/" + std::to_string(directions), true);
}

}  // namespace platform
