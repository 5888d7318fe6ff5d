#include "platform/appkit/status_bar.hpp"

#include <algorithm>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

ProcessWide<std::shared_ptr<NSStatusBar>> systemBar([] { return std::make_shared<NSStatusBar>(); });

}  // namespace

NSStatusBar& NSStatusBar::systemStatusBar() { return *systemBar.get(); }

std::shared_ptr<NSStatusItem> NSStatusBar::statusItemWithLength(CGFloat length) {
  std::shared_ptr<NSStatusItem> item(new NSStatusItem(length));
  items_.push_back(item);
  return item;
}

void NSStatusBar::removeStatusItem(const std::shared_ptr<NSStatusItem>& item) {
  const auto found = std::find(items_.begin(), items_.end(), item);
  if (found == items_.end()) return;
  items_.erase(found);
  item->inBar_ = false;
}

bool NSStatusItem::performClick() {
  if (!inBar_) return false;
  if (menu_) {
    // Opening may remove this item (a menu delegate hides it); keep it.
    const auto menu = menu_;
    menu->open();
    return true;
  }
  if (!button_->isEnabled() || !button_->hasAction()) return false;
  button_->performClick(button_.get());
  return true;
}

}  // namespace platform
