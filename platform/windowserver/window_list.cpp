#include "platform/windowserver/window_list.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/windowserver/spaces.hpp"

namespace platform {
namespace {

constexpr CGWindowLevel kBaseLevel = std::numeric_limits<int32_t>::min();
constexpr CGWindowLevel kMinimumLevel = kBaseLevel + 1;
constexpr CGWindowLevel kDesktopLevel = kMinimumLevel + 20;
constexpr CGWindowLevel kDesktopIconLevel = kDesktopLevel + 20;
constexpr CGWindowLevel kMaximumLevel = std::numeric_limits<int32_t>::max() - 16;

bool shownOnScreen(const WindowRecord& window) {
  return window.onScreen && Spaces::shared().showsWindow(window.number);
}

CFDictionary entryFor(const WindowRecord& window) {
  CFDictionary entry{
      {kCGWindowNumber, CFValue(window.number)},
      {kCGWindowOwnerPID, CFValue(window.ownerPID)},
      {kCGWindowLayer, CFValue(window.layer)},
      {kCGWindowAlpha, CFValue(window.alpha)},
      {kCGWindowBounds, CFValue(CGRectCreateDictionaryRepresentation(window.bounds))},
  };
  if (!window.ownerName.empty()) entry.insert_or_assign(kCGWindowOwnerName, CFValue(window.ownerName));
  if (shownOnScreen(window)) entry.insert_or_assign(kCGWindowIsOnscreen, CFValue(true));
  for (const auto& [key, value] : window.entryOverrides) {
    if (value) {
      entry.insert_or_assign(key, *value);
    } else {
      entry.erase(key);
    }
  }
  return entry;
}

}  // namespace

CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key) {
  switch (key) {
    case kCGBaseWindowLevelKey: return kBaseLevel;
    case kCGMinimumWindowLevelKey: return kMinimumLevel;
    case kCGDesktopWindowLevelKey: return kDesktopLevel;
    case kCGBackstopMenuLevelKey: return -20;
    case kCGNormalWindowLevelKey: return 0;
    case kCGFloatingWindowLevelKey: return 3;
    case kCGTornOffMenuWindowLevelKey: return 3;
    case kCGDockWindowLevelKey: return 20;
    case kCGMainMenuWindowLevelKey: return 24;
    case kCGStatusWindowLevelKey: return 25;
    case kCGModalPanelWindowLevelKey: return 8;
    case kCGPopUpMenuWindowLevelKey: return 101;
    case kCGDraggingWindowLevelKey: return 500;
    case kCGScreenSaverWindowLevelKey: return 1000;
    case kCGMaximumWindowLevelKey: return kMaximumLevel;
    case kCGOverlayWindowLevelKey: return 102;
    case kCGHelpWindowLevelKey: return 200;
    case kCGUtilityWindowLevelKey: return 19;
    case kCGDesktopIconWindowLevelKey: return kDesktopIconLevel;
    case kCGCursorWindowLevelKey: return kMaximumLevel - 1;
    case kCGAssistiveTechHighWindowLevelKey: return 1500;
    default: return 0;
  }
}

CFValue::CFValue(CFDictionary value) : value_(std::make_shared<const CFDictionary>(std::move(value))) {}

std::optional<int64_t> CFValue::asInteger() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b ? 1 : 0;
  if (auto* i = std::get_if<int64_t>(&value_)) return *i;
  if (auto* d = std::get_if<double>(&value_)) {
    // 2^63 itself is out of range, so the upper bound is exclusive.
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -9223372036854775808.0 &&
        *d < 9223372036854775808.0) {
      return static_cast<int64_t>(*d);
    }
  }
  return std::nullopt;
}

std::optional<double> CFValue::asDouble() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b ? 1.0 : 0.0;
  if (auto* i = std::get_if<int64_t>(&value_)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&value_)) return *d;
  return std::nullopt;
}

std::optional<bool> CFValue::asBool() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b;
  auto number = asDouble();
  if (number && (*number == 0 || *number == 1)) return *number == 1;
  return std::nullopt;
}

const std::string* CFValue::asString() const { return std::get_if<std::string>(&value_); }

const CFDictionary* CFValue::asDictionary() const {
  auto* found = std::get_if<std::shared_ptr<const CFDictionary>>(&value_);
  return found ? found->get() : nullptr;
}

CFDictionary CGRectCreateDictionaryRepresentation(CGRect rect) {
  return {{"X", CFValue(rect.origin.x)},
          {"Y", CFValue(rect.origin.y)},
          {"Width", CFValue(rect.size.width)},
          {"Height", CFValue(rect.size.height)}};
}

bool CGRectMakeWithDictionaryRepresentation(const CFDictionary& dictionary, CGRect* rect) {
  auto read = [&](const char* key) -> std::optional<double> {
    auto it = dictionary.find(key);
    // A Boolean is not a coordinate.
    if (it == dictionary.end() || it->second.asString() || it->second.asDictionary()) return std::nullopt;
    if (it->second.asBool() && !it->second.asInteger()) return std::nullopt;
    return it->second.asDouble();
  };
  auto x = read("X"), y = read("Y"), width = read("Width"), height = read("Height");
  if (rect == nullptr || !x || !y || !width || !height) return false;
  *rect = CGRectMake(*x, *y, *width, *height);
  return true;
}

WindowTable& WindowTable::shared() {
  static WindowTable* table = new WindowTable();
  return *table;
}

void WindowTable::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  windows_.clear();
  failing_ = false;
  reads_ = 0;
}

void WindowTable::setWindows(std::vector<WindowRecord> frontToBack) {
  std::lock_guard<std::mutex> guard(mutex_);
  windows_ = std::move(frontToBack);
}

void WindowTable::addWindow(WindowRecord window) {
  std::lock_guard<std::mutex> guard(mutex_);
  windows_.insert(windows_.begin(), std::move(window));
}

bool WindowTable::updateWindow(const WindowRecord& window) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& existing : windows_) {
    if (existing.number == window.number) {
      existing = window;
      return true;
    }
  }
  return false;
}

void WindowTable::removeWindow(CGWindowID number) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::erase_if(windows_, [&](const WindowRecord& window) { return window.number == number; });
}

std::vector<WindowRecord> WindowTable::windows() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return windows_;
}

CGWindowID WindowTable::allocateWindowNumber() {
  std::lock_guard<std::mutex> guard(mutex_);
  auto inUse = [&](CGWindowID number) {
    return std::any_of(windows_.begin(), windows_.end(), [&](const WindowRecord& w) { return w.number == number; });
  };
  while (nextNumber_ == kCGNullWindowID || inUse(nextNumber_)) ++nextNumber_;
  return nextNumber_++;
}

std::optional<WindowRecord> WindowTable::windowAt(CGPoint point, CGWindowID below) const {
  const auto all = windows();
  auto it = all.begin();
  if (below != kCGNullWindowID) {
    auto reference = std::find_if(all.begin(), all.end(), [&](const WindowRecord& w) { return w.number == below; });
    if (reference != all.end()) it = reference + 1;
  }
  for (; it != all.end(); ++it) {
    if (it->layer > kDesktopIconLevel && shownOnScreen(*it) && CGRectContainsPoint(it->bounds, point)) return *it;
  }
  return std::nullopt;
}

void WindowTable::setListFailure(bool failing) {
  std::lock_guard<std::mutex> guard(mutex_);
  failing_ = failing;
}

bool WindowTable::listFailure() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return failing_;
}

int WindowTable::listReads() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reads_;
}

void WindowTable::noteListRead() {
  std::lock_guard<std::mutex> guard(mutex_);
  ++reads_;
}

CFArrayRef CGWindowListCopyWindowInfo(CGWindowListOption option, CGWindowID relativeToWindow) {
  auto& table = WindowTable::shared();
  table.noteListRead();
  if (table.listFailure()) return nullptr;
  const auto windows = table.windows();

  const bool above = option & kCGWindowListOptionOnScreenAboveWindow;
  const bool below = option & kCGWindowListOptionOnScreenBelowWindow;
  const bool including = option & kCGWindowListOptionIncludingWindow;
  auto reference = std::find_if(windows.begin(), windows.end(), [&](const WindowRecord& window) {
    return window.number == relativeToWindow;
  });
  const bool relative = relativeToWindow != kCGNullWindowID && reference != windows.end();

  std::vector<CFDictionary> entries;
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    const bool isReference = relative && it == reference;
    bool listed;
    if (above || below) {
      if (!relative) {
        listed = shownOnScreen(*it);
      } else if (isReference) {
        listed = including;
      } else {
        listed = shownOnScreen(*it) && ((above && it < reference) || (below && it > reference));
      }
    } else if (including) {
      listed = isReference;
    } else {
      listed = !(option & kCGWindowListOptionOnScreenOnly) || shownOnScreen(*it);
    }
    if ((option & kCGWindowListExcludeDesktopElements) && it->layer <= kDesktopIconLevel) listed = false;
    if (listed) entries.push_back(entryFor(*it));
  }
  return std::make_shared<const std::vector<CFDictionary>>(std::move(entries));
}

}  // namespace platform
