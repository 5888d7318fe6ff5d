#include "platform/appkit/layout_constraint.hpp"

// Also the view side of the edge pins: NSView::setFrame and its layout.

#include <optional>
#include <stdexcept>

namespace platform {

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::make(const std::shared_ptr<NSView>& item,
                                                             NSLayoutAttribute attribute,
                                                             const std::shared_ptr<NSView>& toItem,
                                                             NSLayoutAttribute toAttribute, CGFloat constant) {
  if (!item || !toItem) throw std::invalid_argument("NSLayoutConstraint: both views are required");
  if (attribute != toAttribute) throw std::invalid_argument("NSLayoutConstraint: only an edge to the same edge");
  auto constraint = std::make_shared<NSLayoutConstraint>();
  constraint->item_ = item;
  constraint->toItem_ = toItem;
  constraint->attribute_ = attribute;
  constraint->constant_ = constant;
  return constraint;
}

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  for (const auto& constraint : constraints) {
    auto item = constraint->firstItem();
    auto toItem = constraint->secondItem();
    if (!item || !toItem || item->superview() != toItem) {
      throw std::logic_error("NSLayoutConstraint: only a view's edges to its superview's are supported");
    }
    toItem->addConstraint(constraint);
  }
}

void NSView::addConstraint(std::shared_ptr<NSLayoutConstraint> constraint) {
  if (!constraint || constraint->active_) return;
  constraint->active_ = true;
  constraints_.push_back(std::move(constraint));
  layoutPinnedSubviews();
}

void NSView::setFrame(NSRect frame) {
  frame_ = frame;
  layoutPinnedSubviews();
}

void NSView::layoutPinnedSubviews() {
  const CGFloat width = frame_.size.width;
  const CGFloat height = frame_.size.height;
  for (const auto& subview : subviews_) {
    if (subview->translatesAutoresizingMaskIntoConstraints()) continue;
    std::optional<CGFloat> edges[4];
    for (const auto& constraint : constraints_) {
      if (constraint->firstItem() == subview) edges[static_cast<int>(constraint->attribute())] = constraint->constant();
    }
    // A view is placed only once all four edges are known.
    if (!edges[0] || !edges[1] || !edges[2] || !edges[3]) continue;
    const CGFloat minX = *edges[static_cast<int>(NSLayoutAttribute::leading)];
    const CGFloat maxX = width + *edges[static_cast<int>(NSLayoutAttribute::trailing)];
    const CGFloat top = *edges[static_cast<int>(NSLayoutAttribute::top)];
    const CGFloat bottom = *edges[static_cast<int>(NSLayoutAttribute::bottom)];
    // Unflipped, y grows upwards from the bottom edge.
    const CGFloat minY = isFlipped() ? top : bottom;
    const CGFloat maxY = isFlipped() ? height + bottom : height + top;
    subview->setFrame(NSMakeRect(minX, minY, maxX - minX, maxY - minY));
  }
}

}  // namespace platform
