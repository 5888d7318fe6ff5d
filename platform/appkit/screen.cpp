#include "platform/appkit/screen.hpp"

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

struct ScreenList {
  std::mutex mutex;
  std::vector<std::shared_ptr<NSScreen>> screens;
};

std::vector<std::shared_ptr<NSScreen>> defaultScreens() {
  return {NSScreen::make(CGRectMake(0, 0, 1512, 982), 2.0)};
}

ScreenList& screenList() {
  static ScreenList* list = [] {
    auto* made = new ScreenList();
    made->screens = defaultScreens();
    addResetHook(made, [] { NSScreen::resetScreens(); });
    return made;
  }();
  return *list;
}

}  // namespace

std::shared_ptr<NSScreen> NSScreen::make(CGRect frame, CGFloat backingScaleFactor) {
  return std::shared_ptr<NSScreen>(new NSScreen(frame, backingScaleFactor));
}

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
  auto& list = screenList();
  std::lock_guard<std::mutex> guard(list.mutex);
  return list.screens;
}

void NSScreen::setScreens(std::vector<std::shared_ptr<NSScreen>> screens) {
  auto& list = screenList();
  std::lock_guard<std::mutex> guard(list.mutex);
  list.screens = std::move(screens);
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
  std::lock_guard<std::mutex> guard(mutex_);
  frame_ = frame;
}

void NSScreen::setBackingScaleFactor(CGFloat factor) {
  std::lock_guard<std::mutex> guard(mutex_);
  backingScaleFactor_ = factor;
}

}  // namespace platform
