#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/graphics/geometry.hpp"

namespace platform {

using CGWindowID = uint32_t;
using CGWindowLevel = int32_t;
inline constexpr CGWindowID kCGNullWindowID = 0;

enum CGWindowLevelKey : int32_t {
  kCGBaseWindowLevelKey = 0,
  kCGMinimumWindowLevelKey = 1,
  kCGDesktopWindowLevelKey = 2,
  kCGBackstopMenuLevelKey = 3,
  kCGNormalWindowLevelKey = 4,
  kCGFloatingWindowLevelKey = 5,
  kCGTornOffMenuWindowLevelKey = 6,
  kCGDockWindowLevelKey = 7,
  kCGMainMenuWindowLevelKey = 8,
  kCGStatusWindowLevelKey = 9,
  kCGModalPanelWindowLevelKey = 10,
  kCGPopUpMenuWindowLevelKey = 11,
  kCGDraggingWindowLevelKey = 12,
  kCGScreenSaverWindowLevelKey = 13,
  kCGMaximumWindowLevelKey = 14,
  kCGOverlayWindowLevelKey = 15,
  kCGHelpWindowLevelKey = 16,
  kCGUtilityWindowLevelKey = 17,
  kCGDesktopIconWindowLevelKey = 18,
  kCGCursorWindowLevelKey = 19,
  kCGAssistiveTechHighWindowLevelKey = 20,
  kCGNumberOfWindowLevelKeys = 21,
};

// The level the window server gives windows of that kind (the Dock's is
// 20, the cursor's just below the maximum). A key outside the table gives
// the normal level, 0.
CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key);

using CGWindowListOption = uint32_t;
inline constexpr CGWindowListOption kCGWindowListOptionAll = 0;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenOnly = 1 << 0;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenAboveWindow = 1 << 1;
inline constexpr CGWindowListOption kCGWindowListOptionOnScreenBelowWindow = 1 << 2;
inline constexpr CGWindowListOption kCGWindowListOptionIncludingWindow = 1 << 3;
inline constexpr CGWindowListOption kCGWindowListExcludeDesktopElements = 1 << 4;

// The keys of a window-information entry.
inline const std::string kCGWindowNumber = "kCGWindowNumber";
inline const std::string kCGWindowOwnerPID = "kCGWindowOwnerPID";
inline const std::string kCGWindowOwnerName = "kCGWindowOwnerName";
inline const std::string kCGWindowLayer = "kCGWindowLayer";
inline const std::string kCGWindowAlpha = "kCGWindowAlpha";
inline const std::string kCGWindowBounds = "kCGWindowBounds";
inline const std::string kCGWindowIsOnscreen = "kCGWindowIsOnscreen";

// A Core Foundation value as the window lists carry them: a Boolean, a
// number (whole or real), text, or a nested dictionary (the bounds).
class CFValue;
using CFDictionary = std::map<std::string, CFValue>;

class CFValue {
 public:
  CFValue(bool value) : value_(value) {}
  CFValue(int value) : value_(int64_t{value}) {}
  CFValue(int64_t value) : value_(value) {}
  CFValue(uint32_t value) : value_(int64_t{value}) {}
  CFValue(double value) : value_(value) {}
  CFValue(std::string value) : value_(std::move(value)) {}
  CFValue(const char* value) : value_(std::string(value)) {}
  CFValue(CFDictionary value);

  // Reads as the language bridge makes them: a number reads as an integer
  // only when it is whole and in range, and as a Boolean only when it is 0
  // or 1; a Boolean reads as the number 0 or 1. Anything else: none.
  std::optional<int64_t> asInteger() const;
  std::optional<double> asDouble() const;
  std::optional<bool> asBool() const;
  const std::string* asString() const;
  const CFDictionary* asDictionary() const;
  // A Boolean itself, not a number that reads as one.
  bool isBoolean() const { return std::holds_alternative<bool>(value_); }

 private:
  std::variant<bool, int64_t, double, std::string, std::shared_ptr<const CFDictionary>> value_;
};

// The whole number an entry holds under the key, when it reads as one and
// fits T; none otherwise (missing, text, fractional or out of range).
template <class T>
std::optional<T> entryInteger(const CFDictionary& entry, const std::string& key) {
  auto it = entry.find(key);
  if (it == entry.end()) return std::nullopt;
  auto value = it->second.asInteger();
  if (!value) return std::nullopt;
  const bool fits = *value < 0 ? *value >= static_cast<int64_t>(std::numeric_limits<T>::min())
                               : static_cast<uint64_t>(*value) <= static_cast<uint64_t>(std::numeric_limits<T>::max());
  if (!fits) return std::nullopt;
  return static_cast<T>(*value);
}

// An array of window-information entries; null when the call failed.
using CFArrayRef = std::shared_ptr<const std::vector<CFDictionary>>;

// A rectangle's dictionary form ("X", "Y", "Width", "Height") and back.
// Reading fails (false, the rectangle untouched) unless all four are numbers.
CFDictionary CGRectCreateDictionaryRepresentation(CGRect rect);
bool CGRectMakeWithDictionaryRepresentation(const CFDictionary& dictionary, CGRect* rect);

// One window of the simulated window server. Bounds are in window-server
// coordinates (origin at the top left of the first screen, y down).
struct WindowRecord {
  CGWindowID number = 0;
  int32_t ownerPID = 0;
  std::string ownerName{};  // left out of the entry when empty
  CGWindowLevel layer = 0;
  double alpha = 1.0;
  CGRect bounds{};
  bool onScreen = true;
  // Replaces keys of the generated entry, or removes them (none), so tests
  // can hand out the malformed entries real lists sometimes hold.
  std::map<std::string, std::optional<CFValue>> entryOverrides{};
};

// The one window table of the simulated window server, front to back. The
// window lists are read from it, and hit tests look into it too.
// WindowServer::reset() empties it.
class WindowTable {
 public:
  static WindowTable& shared();
  void reset();

  void setWindows(std::vector<WindowRecord> frontToBack);
  // Puts the window in front of all others.
  void addWindow(WindowRecord window);
  // Replaces the window with the same number, keeping its place; false when
  // there is none.
  bool updateWindow(const WindowRecord& window);
  void removeWindow(CGWindowID number);
  std::vector<WindowRecord> windows() const;
  // A number for a new window: never handed out before in this process,
  // above the small numbers tests give their own windows, and not in use.
  CGWindowID allocateWindowNumber();
  // The frontmost window shown on screen whose bounds hold the point
  // (window-server coordinates), looking only behind window `below` when it
  // is listed (0: from the front). None over the bare desktop.
  std::optional<WindowRecord> windowAt(CGPoint point, CGWindowID below = kCGNullWindowID) const;

  // While set, CGWindowListCopyWindowInfo answers nothing.
  void setListFailure(bool failing);
  bool listFailure() const;
  int listReads() const;
  void noteListRead();

 private:
  WindowTable() = default;
  mutable std::mutex mutex_;
  std::vector<WindowRecord> windows_;
  bool failing_ = false;
  int reads_ = 0;
  CGWindowID nextNumber_ = 0x1000;  // not reset: an old window may still hold its number
};

// Window-information entries, front to back, as the window server lists
// them for the options:
// - all windows, or the on-screen ones (OnScreenOnly);
// - the on-screen windows above or below relativeToWindow, which itself is
//   listed only with IncludingWindow;
// - IncludingWindow alone: just that window, on screen or not;
// - ExcludeDesktopElements leaves out the desktop and its icons.
// An entry carries kCGWindowIsOnscreen only while the window is on screen:
// its record says so and it is not in a hidden private Space (spaces.hpp).
CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow);

}  // namespace platform
