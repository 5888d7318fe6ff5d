#include "platform/appkit/menu.hpp"

namespace platform {

std::shared_ptr<NSMenuItem> NSMenuItem::make(std::string title, std::function<void()> action,
                                             std::string keyEquivalent) {
  auto item = std::make_shared<NSMenuItem>();
  item->title_ = std::move(title);
  item->action_ = std::move(action);
  item->keyEquivalent_ = std::move(keyEquivalent);
  return item;
}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
  auto item = std::make_shared<NSMenuItem>();
  item->separator_ = true;
  item->enabled_ = false;
  return item;
}

bool NSMenuItem::performAction() const {
  if (!enabled_ || !action_) return false;
  action_();
  return true;
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_) {
    if (item->title() == title) return item;
  }
  return nullptr;
}

}  // namespace platform
