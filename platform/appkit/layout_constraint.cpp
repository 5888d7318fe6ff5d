#include "platform/appkit/layout_constraint.hpp"

// Also the view side of layout: NSView::setFrame, the autoresizing masks
// and the solving of the constraints a view holds.

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

#include "platform/appkit/layer.hpp"

namespace platform {
namespace {

bool isHorizontal(NSLayoutAttribute a) { return a == NSLayoutAttribute::leading || a == NSLayoutAttribute::trailing; }

}  // namespace

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::make(const std::shared_ptr<NSView>& item,
                                                             NSLayoutAttribute attribute,
                                                             const std::shared_ptr<NSView>& toItem,
                                                             NSLayoutAttribute toAttribute, CGFloat constant) {
  return make(item, attribute, NSLayoutRelation::equal, toItem, toAttribute, constant);
}

std::shared_ptr<NSLayoutConstraint> NSLayoutConstraint::make(const std::shared_ptr<NSView>& item,
                                                             NSLayoutAttribute attribute, NSLayoutRelation relation,
                                                             const std::shared_ptr<NSView>& toItem,
                                                             NSLayoutAttribute toAttribute, CGFloat constant) {
  if (!item || !toItem) throw std::invalid_argument("NSLayoutConstraint: both views are required");
  if (item == toItem) throw std::invalid_argument("NSLayoutConstraint: a view cannot be constrained to itself");
  if (isHorizontal(attribute) != isHorizontal(toAttribute)) {
    throw std::invalid_argument("NSLayoutConstraint: the two edges must lie on one axis");
  }
  if (relation != NSLayoutRelation::equal &&
      !(relation == NSLayoutRelation::lessThanOrEqual && attribute == NSLayoutAttribute::trailing &&
        toAttribute == NSLayoutAttribute::trailing)) {
    throw std::invalid_argument("NSLayoutConstraint: of the inequalities only trailing <= trailing is supported");
  }
  if (!std::isfinite(constant)) throw std::invalid_argument("NSLayoutConstraint: the constant must be finite");
  auto constraint = std::make_shared<NSLayoutConstraint>();
  constraint->item_ = item;
  constraint->toItem_ = toItem;
  constraint->attribute_ = attribute;
  constraint->toAttribute_ = toAttribute;
  constraint->relation_ = relation;
  constraint->constant_ = constant;
  return constraint;
}

void NSLayoutConstraint::activateConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints) {
  // Checked first, so that a refusal installs none of them.
  for (const auto& constraint : constraints) {
    auto item = constraint ? constraint->firstItem() : nullptr;
    auto toItem = constraint ? constraint->secondItem() : nullptr;
    const auto parent = item ? item->superview() : nullptr;
    if (!parent || !toItem || (toItem != parent && toItem->superview() != parent)) {
      throw std::logic_error("NSLayoutConstraint: only edges to the superview's or a sibling's are supported");
    }
  }
  for (const auto& constraint : constraints) constraint->firstItem()->superview()->addConstraint(constraint);
}

void NSView::addConstraint(std::shared_ptr<NSLayoutConstraint> constraint) {
  if (!constraint || constraint->active_) return;
  constraint->active_ = true;
  constraints_.push_back(std::move(constraint));
  layoutPinnedSubviews();
}

void NSView::setFrame(NSRect frame) {
  const NSSize old = frame_.size;
  frame_ = frame;
  if (layer_) layer_->setBounds(bounds());
  if (old.width != frame.size.width || old.height != frame.size.height) resizeSubviewsWithOldSize(old);
  layoutPinnedSubviews();
}

void NSView::resizeSubviewsWithOldSize(NSSize oldSize) {
  // Each axis: the change is shared equally by the flexible parts (left
  // margin, size, right margin; the same bottom to top), as on the platform.
  const auto share = [](CGFloat delta, CGFloat& origin, CGFloat& length, bool minFlexible, bool sizeFlexible,
                        bool maxFlexible) {
    const int parts = int(minFlexible) + int(sizeFlexible) + int(maxFlexible);
    if (parts == 0) return;
    const CGFloat each = delta / parts;
    if (minFlexible) origin += each;
    if (sizeFlexible) length = std::max<CGFloat>(0, length + each);
  };
  const auto children = subviews_;
  for (const auto& child : children) {
    const NSAutoresizingMaskOptions mask = child->autoresizingMask();
    if (!child->translatesAutoresizingMaskIntoConstraints() || mask == NSViewNotSizable) continue;
    NSRect f = child->frame();
    share(frame_.size.width - oldSize.width, f.origin.x, f.size.width, mask & NSViewMinXMargin,
          mask & NSViewWidthSizable, mask & NSViewMaxXMargin);
    share(frame_.size.height - oldSize.height, f.origin.y, f.size.height, mask & NSViewMinYMargin,
          mask & NSViewHeightSizable, mask & NSViewMaxYMargin);
    child->setFrame(f);
  }
}

void NSView::layoutPinnedSubviews() {
  if (constraints_.empty()) return;
  const CGFloat width = frame_.size.width;
  const CGFloat height = frame_.size.height;
  // Edges in constraint space: x to the right, y down from this view's top.
  struct Edges {
    std::optional<CGFloat> edge[4];
  };
  std::map<const NSView*, Edges> solved;
  std::vector<NSView*> constrained;
  for (const auto& subview : subviews_) {
    if (subview->translatesAutoresizingMaskIntoConstraints()) continue;
    solved[subview.get()];
    constrained.push_back(subview.get());
  }
  const auto topDown = [&](NSRect f, bool top) {
    if (isFlipped()) return top ? CGRectGetMinY(f) : CGRectGetMaxY(f);
    return top ? height - CGRectGetMaxY(f) : height - CGRectGetMinY(f);
  };
  const auto value = [&](const NSView* view, NSLayoutAttribute a) -> std::optional<CGFloat> {
    if (view == this) {
      switch (a) {
        case NSLayoutAttribute::leading: return 0.0;
        case NSLayoutAttribute::trailing: return width;
        case NSLayoutAttribute::top: return 0.0;
        case NSLayoutAttribute::bottom: return height;
      }
    }
    if (auto it = solved.find(view); it != solved.end()) return it->second.edge[static_cast<int>(a)];
    // A sibling placed by its frame.
    const NSRect f = view->frame();
    switch (a) {
      case NSLayoutAttribute::leading: return CGRectGetMinX(f);
      case NSLayoutAttribute::trailing: return CGRectGetMaxX(f);
      case NSLayoutAttribute::top: return topDown(f, true);
      case NSLayoutAttribute::bottom: return topDown(f, false);
    }
    return std::nullopt;
  };
  const auto settable = [&](const NSView* view, NSLayoutAttribute a) -> std::optional<CGFloat>* {
    auto it = solved.find(view);
    return it == solved.end() ? nullptr : &it->second.edge[static_cast<int>(a)];
  };

  // Both axes at once: the forms never mix them. The loop ends because
  // every round fixes at least one of the finitely many edges.
  for (;;) {
    for (bool carried = true; carried;) {
      carried = false;
      for (const auto& c : constraints_) {
        if (c->relation() != NSLayoutRelation::equal) continue;
        const auto item = c->firstItem();
        const auto to = c->secondItem();
        if (!item || !to) continue;
        const auto a = value(item.get(), c->firstAttribute());
        const auto b = value(to.get(), c->secondAttribute());
        if (!a && b) {
          if (auto* slot = settable(item.get(), c->firstAttribute())) *slot = *b + c->constant(), carried = true;
        } else if (a && !b) {
          if (auto* slot = settable(to.get(), c->secondAttribute())) *slot = *a - c->constant(), carried = true;
        }
      }
    }
    bool sized = false;
    for (NSView* view : constrained) {
      auto& e = solved[view].edge;
      auto& lead = e[static_cast<int>(NSLayoutAttribute::leading)];
      auto& trail = e[static_cast<int>(NSLayoutAttribute::trailing)];
      auto& top = e[static_cast<int>(NSLayoutAttribute::top)];
      auto& bottom = e[static_cast<int>(NSLayoutAttribute::bottom)];
      if (lead.has_value() != trail.has_value()) {
        const CGFloat w = view->intrinsicContentSize().width;
        if (w >= 0) {
          if (lead) trail = *lead + w;
          else lead = *trail - w;
          sized = true;
        }
      }
      if (!sized && top.has_value() != bottom.has_value()) {
        const CGFloat w = lead && trail ? std::max<CGFloat>(0, *trail - *lead) : view->frame().size.width;
        const CGFloat h = view->fittingSizeForWidth(w).height;
        if (h >= 0) {
          if (top) bottom = *top + h;
          else top = *bottom - h;
          sized = true;
        }
      }
      if (sized) break;
    }
    if (!sized) break;
  }
  for (const auto& c : constraints_) {
    if (c->relation() != NSLayoutRelation::lessThanOrEqual) continue;
    const auto item = c->firstItem();
    const auto to = c->secondItem();
    if (!item || !to) continue;
    auto* slot = settable(item.get(), NSLayoutAttribute::trailing);
    const auto limit = value(to.get(), c->secondAttribute());
    if (!slot || !*slot || !limit) continue;
    const auto lead = value(item.get(), NSLayoutAttribute::leading);
    if (**slot > *limit + c->constant()) **slot = std::max(lead.value_or(-1e300), *limit + c->constant());
  }
  for (const auto& subview : subviews_) {
    auto it = solved.find(subview.get());
    if (it == solved.end()) continue;
    const auto& e = it->second.edge;
    if (!e[0] || !e[1] || !e[2] || !e[3]) continue;
    const CGFloat minX = *e[0], maxX = std::max(*e[0], *e[1]);
    const CGFloat top = *e[2], bottom = std::max(*e[2], *e[3]);
    const CGFloat minY = isFlipped() ? top : height - bottom;
    subview->setFrame(NSMakeRect(minX, minY, maxX - minX, bottom - top));
  }
}

}  // namespace platform
