#include "platform/appkit/screen.hpp"

#include <algorithm>
#include <atomic>

#include "platform/appkit/application.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {
namespace {

struct ScreenList {
  std::mutex mutex;
  std::vector<std::shared_ptr<NSScreen>> screens;
};

std::vector<std::shared_ptr<NSScreen>> defaultScreens() {
  return {NSScreen::make(CGRectMake(0, 0, 1512, 982), 2.0, 1)};
}

// Never reset, so screens made in different tests never share a number.
std::atomic<uint32_t> nextDisplayNumber{2};

ScreenList& screenList() {
  static ScreenList* list = [] {
    auto* made = new ScreenList();
    made->screens = defaultScreens();
    addResetHook(made, [made] {
      std::lock_guard<std::mutex> guard(made->mutex);
      made->screens = defaultScreens();
    });
    return made;
  }();
  return *list;
}

void announceChange() {
  NSNotificationCenter::defaultCenter().postNotificationName(NSApplicationDidChangeScreenParametersNotification,
                                                            nullptr);
}

bool isConnected(const NSScreen* screen) {
  auto& list = screenList();
  std::lock_guard<std::mutex> guard(list.mutex);
  for (const auto& connected : list.screens) {
    if (connected.get() == screen) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<NSScreen> NSScreen::make(CGRect frame, CGFloat backingScaleFactor,
                                         std::optional<uint32_t> displayNumber) {
  const uint32_t number = displayNumber ? *displayNumber : nextDisplayNumber.fetch_add(1);
  return std::shared_ptr<NSScreen>(new NSScreen(frame, backingScaleFactor, number));
}

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
  auto& list = screenList();
  std::lock_guard<std::mutex> guard(list.mutex);
  return list.screens;
}

void NSScreen::setScreens(std::vector<std::shared_ptr<NSScreen>> screens) {
  {
    auto& list = screenList();
    std::lock_guard<std::mutex> guard(list.mutex);
    list.screens = std::move(screens);
  }
  announceChange();
}

std::shared_ptr<NSScreen> NSScreen::main() {
  if (const auto key = NSApplication::shared()->keyWindow()) {
    if (auto screen = key->screen()) return screen;
  }
  const auto connected = screens();
  return connected.empty() ? nullptr : connected.front();
}

void NSScreen::resetScreens() { setScreens(defaultScreens()); }

CGRect NSScreen::frame() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frame_;
}

CGFloat NSScreen::backingScaleFactor() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return backingScaleFactor_;
}

void NSScreen::setFrame(CGRect frame) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    frame_ = frame;
  }
  if (isConnected(this)) announceChange();
}

void NSScreen::setBackingScaleFactor(CGFloat factor) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    backingScaleFactor_ = factor;
  }
  if (isConnected(this)) announceChange();
}

CFDictionary NSScreen::deviceDescription() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return deviceDescription_;
}

void NSScreen::setDeviceDescription(CFDictionary description) {
  std::lock_guard<std::mutex> guard(mutex_);
  deviceDescription_ = std::move(description);
}

long NSScreen::maximumFramesPerSecond() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return maximumFramesPerSecond_;
}

void NSScreen::setMaximumFramesPerSecond(long framesPerSecond) {
  std::lock_guard<std::mutex> guard(mutex_);
  maximumFramesPerSecond_ = framesPerSecond;
}

NSEdgeInsets NSScreen::safeAreaInsets() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return safeAreaInsets_;
}

void NSScreen::setSafeAreaInsets(NSEdgeInsets insets) {
  std::lock_guard<std::mutex> guard(mutex_);
  safeAreaInsets_ = insets;
}

CGRect NSScreen::visibleFrame() const {
  std::lock_guard<std::mutex> guard(mutex_);
  const CGRect frame = CGRectStandardize(frame_);
  const CGFloat reserve = std::min(menuBarReserve_, frame.size.height);
  // y grows upwards: the reserve comes off the top, the origin stays.
  return CGRectMake(frame.origin.x, frame.origin.y, frame.size.width, frame.size.height - reserve);
}

CGFloat NSScreen::menuBarReserve() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return menuBarReserve_;
}

void NSScreen::setMenuBarReserve(CGFloat points) {
  const CGFloat reserve = points > 0 ? points : 0;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (reserve == menuBarReserve_) return;
    menuBarReserve_ = reserve;
  }
  if (isConnected(this)) announceChange();
}

bool NSMouseInRect(NSPoint point, NSRect rect, bool flipped) {
  const CGRect r = CGRectStandardize(rect);
  if (CGRectIsNull(r) || !(point.x >= CGRectGetMinX(r) && point.x < CGRectGetMaxX(r))) return false;
  if (flipped) return point.y >= CGRectGetMinY(r) && point.y < CGRectGetMaxY(r);
  return point.y > CGRectGetMinY(r) && point.y <= CGRectGetMaxY(r);
}

}  // namespace platform
