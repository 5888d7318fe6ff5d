#include "platform/appkit/stack_view.hpp"

#include <algorithm>

namespace platform {

std::shared_ptr<NSStackView> NSStackView::stackViewWithViews(const std::vector<std::shared_ptr<NSView>>& views) {
  auto stack = std::make_shared<NSStackView>();
  for (const auto& view : views) stack->addArrangedSubview(view);
  const NSSize size = stack->intrinsicContentSize();
  stack->setFrame(NSMakeRect(0, 0, size.width, size.height));
  return stack;
}

void NSStackView::setOrientation(NSUserInterfaceLayoutOrientation orientation) {
  orientation_ = orientation;
  arrange();
}

void NSStackView::setSpacing(CGFloat spacing) {
  spacing_ = spacing;
  arrange();
}

void NSStackView::addArrangedSubview(const std::shared_ptr<NSView>& view) {
  if (!view || std::find(arranged_.begin(), arranged_.end(), view) != arranged_.end()) return;
  addSubview(view);
  if (view->superview().get() != this) return;  // refused (this view inside it)
  arranged_.push_back(view);
  arrange();
}

NSSize NSStackView::intrinsicContentSize() const {
  CGFloat along = 0, across = 0;
  const bool row = orientation_ == NSUserInterfaceLayoutOrientation::horizontal;
  for (size_t i = 0; i < arranged_.size(); ++i) {
    const NSSize s = arranged_[i]->intrinsicContentSize();
    along += std::max<CGFloat>(0, row ? s.width : s.height) + (i > 0 ? spacing_ : 0);
    across = std::max(across, row ? s.height : s.width);
  }
  return row ? NSMakeSize(along, across) : NSMakeSize(across, along);
}

void NSStackView::resizeSubviewsWithOldSize(NSSize) { arrange(); }

void NSStackView::arrange() {
  const bool row = orientation_ == NSUserInterfaceLayoutOrientation::horizontal;
  const NSSize size = bounds().size;
  CGFloat at = 0;
  for (const auto& view : arranged_) {
    NSSize s = view->intrinsicContentSize();
    if (s.width < 0) s.width = view->frame().size.width;
    if (s.height < 0) s.height = view->frame().size.height;
    if (row) {
      view->setFrame(NSMakeRect(at, (size.height - s.height) / 2, s.width, s.height));
      at += s.width + spacing_;
    } else {
      view->setFrame(NSMakeRect((size.width - s.width) / 2, at, s.width, s.height));
      at += s.height + spacing_;
    }
  }
}

}  // namespace platform
