#include "platform/ui/hit_test.hpp"

#include "platform/appkit/view.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace platform::ui {

namespace {

bool placed(const Node& n) { return n.levelFrames.size() == n.view.desc().modifiers.size() + 1; }

bool isShapeKind(const std::string& k) {
  return k == "Rectangle" || k == "RoundedRectangle" || k == "Circle" || k == "Capsule";
}

ShapeKind shapeNamed(const std::string& name) {
  if (name == "roundedRectangle") return ShapeKind::roundedRectangle;
  if (name == "circle") return ShapeKind::circle;
  if (name == "capsule") return ShapeKind::capsule;
  return ShapeKind::rectangle;
}

const Node* hitNode(const Node& n, CGPoint p);

const Node* hitChildren(const Node& n, CGPoint p) {
  // Later children are drawn over earlier ones.
  for (auto it = n.children.rbegin(); it != n.children.rend(); ++it)
    if (const Node* hit = hitNode(**it, p)) return hit;
  return nullptr;
}

const Node* hitContent(const Node& n, CGPoint p) {
  const ViewDesc& d = n.view.desc();
  const std::string& k = d.kind;
  const CGRect r = n.frame;
  if (k == "ScrollView") return CGRectContainsPoint(r, p) ? hitChildren(n, p) : nullptr;
  if (k == "Button") {
    const bool styled = !n.children.empty() && n.children.front()->identity.ends_with("/style");
    if (const Node* hit = hitChildren(n, p)) return hit;
    // A bezel takes clicks over its whole frame; a plain or styled button
    // only through what its label draws.
    if (styled || n.environment.buttonStyle == ButtonStyleKind::plain) return nullptr;
    return CGRectContainsPoint(r, p) ? &n : nullptr;
  }
  if (isShapeKind(k) || d.path) return shapeContainsPoint(d.shape, d.cornerRadius, r, p) ? &n : nullptr;
  if (n.hosted) {
    // The hosted view answers for itself, as AppKit asks it: a view that
    // takes no mouse events lets the click through to what lies beneath.
    if (!CGRectContainsPoint(r, p)) return nullptr;
    const CGRect f = n.hosted->frame();
    const auto parent = n.hosted->superview();
    const double down = p.y - r.origin.y;
    const CGPoint inSuperview{f.origin.x + (p.x - r.origin.x),
                              parent && !parent->isFlipped() ? CGRectGetMaxY(f) - down : f.origin.y + down};
    return n.hosted->hitTest(inSuperview) ? &n : nullptr;
  }
  if (k == "Text" || k == "Image" || k == "Label" || k == "Color" || k == "Divider" || k == "ProgressView" ||
      k == "Toggle" || k == "TextField" || k == "TextEditor") {
    if (k == "Toggle")
      if (const Node* hit = hitChildren(n, p)) return hit;
    return CGRectContainsPoint(r, p) ? &n : nullptr;
  }
  return hitChildren(n, p);
}

const Node* hitLevel(const Node& n, size_t k, CGPoint p) {
  if (k == 0) return hitContent(n, p);
  const Modifier& m = n.view.desc().modifiers[k - 1];
  auto child = n.modifierChildren.find(k - 1);
  const Node* content = child != n.modifierChildren.end() ? child->second.get() : nullptr;
  if (m.name == "allowsHitTesting" && !m.flag("enabled", true)) return nullptr;
  if (m.name == "contentShape") {
    if (!shapeContainsPoint(shapeNamed(m.string("shape")), m.number("cornerRadius"), n.levelFrames[k], p))
      return nullptr;
    const Node* inner = hitLevel(n, k - 1, p);
    return inner ? inner : &n;
  }
  if (m.name == "overlay" && content) {
    if (const Node* hit = hitNode(*content, p)) return hit;
    return hitLevel(n, k - 1, p);
  }
  if (m.name == "background" && content) {
    if (const Node* hit = hitLevel(n, k - 1, p)) return hit;
    return hitNode(*content, p);
  }
  // A popover's content is tested apart, before the tree.
  return hitLevel(n, k - 1, p);
}

const Node* hitNode(const Node& n, CGPoint p) {
  if (!placed(n)) return nullptr;
  return hitLevel(n, n.view.desc().modifiers.size(), p);
}

void collectPopovers(const Node& n, std::vector<const Node*>& out) {
  for (const auto& c : n.children) collectPopovers(*c, out);
  for (const auto& [i, c] : n.modifierChildren) {
    if (n.view.desc().modifiers[i].name == "popover") out.push_back(c.get());
    collectPopovers(*c, out);
  }
}

}  // namespace

bool shapeContainsPoint(ShapeKind kind, double cornerRadius, CGRect r, CGPoint p) {
  if (!CGRectContainsPoint(r, p)) return false;
  const double w = r.size.width, h = r.size.height;
  double radius = 0;
  if (kind == ShapeKind::circle) {
    const double half = std::min(w, h) / 2;
    return std::hypot(p.x - CGRectGetMidX(r), p.y - CGRectGetMidY(r)) <= half;
  }
  if (kind == ShapeKind::capsule) radius = std::min(w, h) / 2;
  if (kind == ShapeKind::roundedRectangle) radius = std::clamp(cornerRadius, 0.0, std::min(w, h) / 2);
  if (radius <= 0) return true;
  // Inside unless in a corner square and outside that corner's arc.
  const double cx = std::clamp(p.x, r.origin.x + radius, CGRectGetMaxX(r) - radius);
  const double cy = std::clamp(p.y, r.origin.y + radius, CGRectGetMaxY(r) - radius);
  return std::hypot(p.x - cx, p.y - cy) <= radius;
}

bool isPopoverContent(const Node& node) {
  if (!node.parent) return false;
  for (const auto& [i, c] : node.parent->modifierChildren)
    if (c.get() == &node) return node.parent->view.desc().modifiers[i].name == "popover";
  return false;
}

const Node* hitTestTree(const Node& root, CGPoint p) {
  std::vector<const Node*> popovers;
  collectPopovers(root, popovers);
  for (auto it = popovers.rbegin(); it != popovers.rend(); ++it)
    if (const Node* hit = hitNode(**it, p)) return hit;
  return hitNode(root, p);
}

}  // namespace platform::ui
