#include "cursor/overlay/cursor_overlay_space.hpp"

#include <unistd.h>

#include <cmath>
#include <limits>

#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr int32_t kMoveFlags = 7;
constexpr double kAuditCacheLifetime = 0.08;
constexpr double kMinimumAlpha = 0.99;
constexpr double kBoundsTolerance = 1.0;

template <class F>
std::optional<std::function<F>> find(DLHandle handle, const char* name) {
  if (handle == nullptr) return std::nullopt;
  return dlsym<F>(handle, name);
}

}  // namespace

std::shared_ptr<CursorOverlaySpace> CursorOverlaySpace::make() {
  DLHandle handle = dlopen(kSkyLightFrameworkPath, RTLD_NOW);
  // Every name is tried, so a report of what is missing would be complete.
  auto main = find<SLSMainConnectionIDFn>(handle, "SLSMainConnectionID");
  auto create = find<SLSSpaceCreateFn>(handle, "SLSSpaceCreate");
  auto setLevel = find<SLSSpaceSetAbsoluteLevelFn>(handle, "SLSSpaceSetAbsoluteLevel");
  auto show = find<SLSShowSpacesFn>(handle, "SLSShowSpaces");
  auto move = find<SLSSpaceAddWindowsAndRemoveFromSpacesFn>(handle, "SLSSpaceAddWindowsAndRemoveFromSpaces");
  auto remove = find<SLSRemoveWindowsFromSpacesFn>(handle, "SLSRemoveWindowsFromSpaces");
  auto hide = find<SLSHideSpacesFn>(handle, "SLSHideSpaces");
  auto destroy = find<SLSSpaceDestroyFn>(handle, "SLSSpaceDestroy");
  if (!main || !create || !setLevel || !show || !move || !remove || !hide || !destroy) return nullptr;

  const int32_t connection = (*main)();
  const CGSSpaceID created = (*create)(connection, 1, 0);
  if (connection == 0 || created == 0) return nullptr;
  // The Space is addressed by a 32-bit number from here on; one that does
  // not fit could never be shown, emptied or destroyed through it.
  if (created > static_cast<CGSSpaceID>(std::numeric_limits<int32_t>::max())) {
    (*destroy)(connection, created);
    return nullptr;
  }
  const auto identifier = static_cast<int32_t>(created);
  if ((*setLevel)(connection, created, 0) != kCGErrorSuccess) {
    (*destroy)(connection, created);
    return nullptr;
  }

  auto space = std::shared_ptr<CursorOverlaySpace>(new CursorOverlaySpace());
  space->connection_ = connection;
  space->identifier_ = identifier;
  space->move_ = *move;
  space->remove_ = *remove;
  space->hide_ = *hide;
  space->destroy_ = *destroy;
  (*show)(connection, space->spaceArray());
  CursorTrace::shared()->record("overlay-private-space-created");
  return space;
}

CursorOverlaySpace::~CursorOverlaySpace() { teardown(); }

void CursorOverlaySpace::teardown() {
  if (!windows_.empty()) remove_(connection_, windowNumbers(windows_), spaceArray());
  hide_(connection_, spaceArray());
  destroy_(connection_, static_cast<CGSSpaceID>(identifier_));
}

CFArray CursorOverlaySpace::spaceArray() const { return {CFValue(identifier_)}; }

CFArray CursorOverlaySpace::windowNumbers(const std::set<long>& windows) {
  CFArray numbers;
  for (long window : windows) numbers.emplace_back(static_cast<int64_t>(window));
  return numbers;
}

void CursorOverlaySpace::attach(const NSWindow& window, bool force) {
  const long number = window.windowNumber();
  if (number < 1) return;
  if (!windows_.insert(number).second && !force) return;
  visibility_.reset();
  move_(connection_, static_cast<CGSSpaceID>(identifier_), windowNumbers({number}), kMoveFlags);
  CursorTrace::shared()->record("overlay-private-space-attached", {.value = static_cast<double>(number)});
}

void CursorOverlaySpace::detach(const NSWindow& window) {
  const long number = window.windowNumber();
  if (windows_.erase(number) == 0) return;
  visibility_.reset();
  remove_(connection_, windowNumbers({number}), spaceArray());
}

bool CursorOverlaySpace::audit(const NSWindow& window) {
  const long number = window.windowNumber();
  const CGRect frame = window.frame();
  if (windows_.count(number) == 0 || !window.isVisible()) return false;
  const double now = systemUptime();
  if (visibility_ && visibility_->window == number && visibility_->frame == frame &&
      now - visibility_->time < kAuditCacheLifetime) {
    return visibility_->visible;
  }
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  const CGRect expected =
      CGRectMake(CGRectGetMinX(frame), top - CGRectGetMaxY(frame), frame.size.width, frame.size.height);

  bool visible = false;
  if (auto list = CGWindowListCopyWindowInfo(kCGWindowListOptionIncludingWindow, static_cast<CGWindowID>(number))) {
    const pid_t pid = ::getpid();
    for (const auto& entry : *list) {
      if (matchesWindowInfo(entry, number, pid, expected)) {
        visible = true;
        break;
      }
    }
  }
  visibility_ = Visibility{number, frame, now, visible};
  return visible;
}

bool CursorOverlaySpace::matchesWindowInfo(const CFDictionary& info, long windowNumber, pid_t pid, CGRect expected) {
  auto value = [&](const std::string& key) -> const CFValue* {
    auto it = info.find(key);
    return it == info.end() ? nullptr : &it->second;
  };
  const CFValue* number = value(kCGWindowNumber);
  if (!number || number->asInteger() != windowNumber) return false;
  const CFValue* owner = value(kCGWindowOwnerPID);
  if (!owner || owner->asInteger() != static_cast<int64_t>(pid)) return false;
  const CFValue* onScreen = value(kCGWindowIsOnscreen);
  if (!onScreen || onScreen->asBool() != true) return false;
  const CFValue* alpha = value(kCGWindowAlpha);
  const auto opacity = alpha ? alpha->asDouble() : std::nullopt;
  if (!opacity || !(*opacity >= kMinimumAlpha)) return false;
  const CFValue* boundsValue = value(kCGWindowBounds);
  const CFDictionary* boundsDictionary = boundsValue ? boundsValue->asDictionary() : nullptr;
  CGRect bounds;
  if (!boundsDictionary || !CGRectMakeWithDictionaryRepresentation(*boundsDictionary, &bounds)) return false;
  return std::fabs(CGRectGetMinX(bounds) - CGRectGetMinX(expected)) <= kBoundsTolerance &&
         std::fabs(CGRectGetMinY(bounds) - CGRectGetMinY(expected)) <= kBoundsTolerance &&
         std::fabs(CGRectGetWidth(bounds) - CGRectGetWidth(expected)) <= kBoundsTolerance &&
         std::fabs(CGRectGetHeight(bounds) - CGRectGetHeight(expected)) <= kBoundsTolerance;
}

}  // namespace vurle
