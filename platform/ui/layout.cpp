#include "platform/ui/layout.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <functional>
#include <numeric>

#include "platform/graphics/appkit_image.hpp"
#include "platform/ui/text.hpp"

namespace platform::ui {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kDefaultSpacing = 8;

bool finite(std::optional<double> v) { return v && std::isfinite(*v); }

std::optional<double> param(const Modifier& m, const char* key) {
  auto it = m.params.find(key);
  if (it == m.params.end()) return std::nullopt;
  if (auto d = std::get_if<double>(&it->second)) return *d;
  return std::nullopt;
}

Alignment alignmentOf(const Modifier& m) {
  return {HorizontalAlignment(int(m.number("horizontal", 1))), VerticalAlignment(int(m.number("vertical", 1)))};
}

bool isFixedFrame(const Modifier& m) { return m.params.count("width") || m.params.count("height"); }

// Children of a stack, with groups, ForEach and conditionals flattened into
// it as the platform does.
void flatten(const Node& node, std::vector<const Node*>& out) {
  for (const auto& c : node.children) {
    const std::string& k = c->kind();
    if ((k == "Group" || k == "ForEach" || k == "Conditional") && c->view.desc().modifiers.empty())
      flatten(*c, out);
    else if (k != "EmptyView")
      out.push_back(c.get());
  }
}

bool toggleHidesLabel(const Node& n) {
  auto it = n.environment.values.find("labelsHidden");
  return it != n.environment.values.end();
}

CGSize switchSize(const Node& n) {
  auto it = n.environment.values.find("controlSize");
  const bool small = it != n.environment.values.end() && std::any_cast<std::string>(it->second) != "regular";
  return small ? CGSize{28, 16} : CGSize{38, 22};
}

CGSize sizeAt(const Node& node, size_t level, Proposal p);

// The safe area of the tree being laid out, and the whole of it.
struct SafeArea {
  CGRect bounds{};
  CGRect safe{};
};
SafeArea& currentSafeArea() {
  static SafeArea area;
  return area;
}

TextStyle textStyle(const Environment& e) { return {e.lineSpacing, e.underline, e.lineLimit, e.tracking}; }

constexpr double kCheckboxSide = 14, kCheckboxGap = 6;

bool isCheckbox(const Node& n) { return n.environment.toggleStyle == ToggleStyle::checkbox; }

// The largest size of `ideal`'s aspect ratio inside the proposal; a side
// that is not proposed follows the other one.
CGSize fitted(CGSize ideal, Proposal p) {
  if (ideal.width <= 0 || ideal.height <= 0) return ideal;
  const bool w = finite(p.width), h = finite(p.height);
  double scale = 1;
  if (w && h) scale = std::min(*p.width / ideal.width, *p.height / ideal.height);
  else if (w) scale = *p.width / ideal.width;
  else if (h) scale = *p.height / ideal.height;
  else return ideal;
  return {ideal.width * scale, ideal.height * scale};
}

CGSize sizeOf(const Node& node, Proposal p) { return sizeAt(node, node.view.desc().modifiers.size(), p); }

struct StackSizes {
  std::vector<const Node*> children;
  std::vector<CGSize> sizes;
  double spacing = 0;
};

// Sizes the children along the axis, least flexible first.
StackSizes stackSizes(const Node& node, Proposal p, bool horizontal) {
  StackSizes out;
  flatten(node, out.children);
  const auto& d = node.view.desc();
  out.spacing = d.spacing.value_or(kDefaultSpacing);
  const size_t n = out.children.size();
  out.sizes.assign(n, CGSize{});
  if (n == 0) return out;
  auto along = [&](CGSize s) { return horizontal ? s.width : s.height; };
  auto propose = [&](std::optional<double> length) {
    return horizontal ? Proposal{length, p.height} : Proposal{p.width, length};
  };
  const std::optional<double> mainProposal = horizontal ? p.width : p.height;
  const double spacingTotal = out.spacing * double(n - 1);
  if (!finite(mainProposal)) {
    for (size_t i = 0; i < n; ++i) {
      const Node* c = out.children[i];
      if (c->kind() == "Spacer" && c->view.desc().modifiers.empty()) {
        out.sizes[i] = horizontal ? CGSize{c->view.desc().minLength, 0} : CGSize{0, c->view.desc().minLength};
      } else {
        out.sizes[i] = sizeOf(*c, propose(mainProposal));
      }
    }
    return out;
  }
  // A bare spacer takes at least its minimum length along the stack and
  // nothing across it.
  auto isSpacer = [](const Node* c) { return c->kind() == "Spacer" && c->view.desc().modifiers.empty(); };
  auto spacerSize = [&](const Node* c, double offer) {
    const double length = std::max(c->view.desc().minLength, offer);
    return horizontal ? CGSize{length, 0} : CGSize{0, length};
  };
  std::vector<double> flexibility(n);
  for (size_t i = 0; i < n; ++i) {
    if (isSpacer(out.children[i])) {
      flexibility[i] = kInfinity;
      continue;
    }
    const double low = along(sizeOf(*out.children[i], propose(0.0)));
    const double high = along(sizeOf(*out.children[i], propose(kInfinity)));
    flexibility[i] = high - low;
  }
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return flexibility[a] < flexibility[b]; });
  // Room for every child's natural length: each gets it, and only what is
  // left over is shared out. Sharing the whole room equally instead would
  // wrap a child longer than its share though the stack was placed in
  // exactly its measured size (a readout's " ms" beside its number).
  std::vector<double> natural(n);
  double naturalTotal = spacingTotal;
  for (size_t i = 0; i < n; ++i) {
    const Node* c = out.children[i];
    natural[i] = isSpacer(c) ? c->view.desc().minLength : along(sizeOf(*c, propose(std::nullopt)));
    naturalTotal += natural[i];
  }
  if (naturalTotal <= *mainProposal + 1e-9) {
    double surplus = *mainProposal - naturalTotal;
    size_t left = 0, spacersLeft = 0;
    for (size_t i = 0; i < n; ++i) (isSpacer(out.children[i]) ? spacersLeft : left) += 1;
    for (size_t i : order) {
      const bool spacer = isSpacer(out.children[i]);
      const double offer = natural[i] + surplus / double(spacer ? spacersLeft : left);
      CGSize s = spacer ? spacerSize(out.children[i], offer) : sizeOf(*out.children[i], propose(offer));
      out.sizes[i] = s;
      surplus = std::max(0.0, surplus - std::max(0.0, along(s) - natural[i]));
      --(spacer ? spacersLeft : left);
    }
    return out;
  }
  double remaining = std::max(0.0, *mainProposal - spacingTotal);
  for (size_t i = 0; i < n; ++i)
    if (isSpacer(out.children[i])) remaining = std::max(0.0, remaining - out.children[i]->view.desc().minLength);
  // Spacers come last (they are the most flexible) and their minimum is
  // already set aside, so the other children share the room among
  // themselves first.
  size_t left = 0, spacersLeft = 0;
  for (size_t i = 0; i < n; ++i) (isSpacer(out.children[i]) ? spacersLeft : left) += 1;
  for (size_t i : order) {
    const bool spacer = isSpacer(out.children[i]);
    if (spacer) remaining += out.children[i]->view.desc().minLength;
    const double offer = remaining / double(spacer ? spacersLeft : left);
    CGSize s = spacer ? spacerSize(out.children[i], offer) : sizeOf(*out.children[i], propose(offer));
    out.sizes[i] = s;
    remaining = std::max(0.0, remaining - along(s));
    --(spacer ? spacersLeft : left);
  }
  return out;
}

CGSize stackSize(const StackSizes& st, bool horizontal) {
  double main = 0, cross = 0;
  for (size_t i = 0; i < st.sizes.size(); ++i) {
    main += horizontal ? st.sizes[i].width : st.sizes[i].height;
    cross = std::max(cross, horizontal ? st.sizes[i].height : st.sizes[i].width);
  }
  if (!st.sizes.empty()) main += st.spacing * double(st.sizes.size() - 1);
  return horizontal ? CGSize{main, cross} : CGSize{cross, main};
}

CGSize contentSize(const Node& n, Proposal p) {
  const ViewDesc& d = n.view.desc();
  const std::string& k = d.kind;
  if (k == "Text") {
    auto m = measureText(d.text, n.environment.font, p.width, textStyle(n.environment));
    return m.size;
  }
  if (k == "Image" && d.image) {
    const CGSize own = d.image->size();
    if (!n.modifier("resizable")) return own;
    return {finite(p.width) ? *p.width : own.width, finite(p.height) ? *p.height : own.height};
  }
  if (k == "Image") {
    const double side = std::ceil(n.environment.font.size * 1.2);
    return {side, side};
  }
  if (k == "Label") {
    auto m = measureText(d.text, n.environment.font, std::nullopt);
    const double icon = std::ceil(n.environment.font.size * 1.2);
    return {icon + 6 + m.size.width, std::max(icon, m.size.height)};
  }
  if (k == "Spacer") return {p.width.value_or(0), p.height.value_or(0)};
  if (k == "Color" || k == "Rectangle" || k == "RoundedRectangle" || k == "Circle" || k == "Capsule" ||
      k == "GeometryReader" || d.path) {
    return {p.width.value_or(10), p.height.value_or(10)};
  }
  if (k == "Divider") return {p.width.value_or(0), 1};
  // Fields take the width they are offered; a field on one line is as
  // high as its font's line with room for the border.
  if (k == "TextField") {
    const double line = measureText("Xg", n.environment.font, std::nullopt).size.height;
    const double ideal = measureText(d.prompt.empty() ? std::string("Text") : d.prompt, n.environment.font, std::nullopt)
                             .size.width + 12;
    return {finite(p.width) ? *p.width : ideal, std::ceil(line + 6)};
  }
  if (k == "TextEditor") return {finite(p.width) ? *p.width : 100.0, finite(p.height) ? *p.height : 40.0};
  if (k == "ProgressView") {
    if (d.progress) return {p.width.value_or(160), 6};
    return {16, 16};
  }
  if (k == "VStack" || k == "HStack") {
    const bool horizontal = k == "HStack";
    return stackSize(stackSizes(n, p, horizontal), horizontal);
  }
  if (k == "ScrollView") {
    CGSize inner = n.children.empty() ? CGSize{} : sizeOf(*n.children.front(), {p.width, std::nullopt});
    return {p.width.value_or(inner.width), p.height.value_or(inner.height)};
  }
  if (k == "Toggle" && isCheckbox(n)) {
    if (toggleHidesLabel(n) || n.children.empty()) return {kCheckboxSide, kCheckboxSide};
    CGSize label = sizeOf(*n.children.front(), {std::nullopt, std::nullopt});
    return {kCheckboxSide + kCheckboxGap + label.width, std::max(kCheckboxSide, label.height)};
  }
  if (k == "Toggle") {
    const CGSize sw = switchSize(n);
    if (toggleHidesLabel(n) || n.children.empty()) return sw;
    CGSize label = sizeOf(*n.children.front(), {std::nullopt, std::nullopt});
    return {p.width && std::isfinite(*p.width) ? std::max(*p.width, label.width + 8 + sw.width)
                                               : label.width + 8 + sw.width,
            std::max(label.height, sw.height)};
  }
  if (k == "Button" && !n.children.empty() && n.children.front()->identity.ends_with("/style")) {
    return sizeOf(*n.children.front(), p);
  }
  if (k == "Button") {
    CGSize label = n.children.empty() ? CGSize{} : sizeOf(*n.children.front(), {std::nullopt, std::nullopt});
    if (n.environment.buttonStyle == ButtonStyleKind::plain) return label;
    return {label.width + 16, std::max(20.0, label.height + 6)};
  }
  if (d.representable && n.hosted) return d.representable->sizeThatFits(p.width, p.height, *n.hosted);
  // Composites, ZStack, groups, conditionals, equatable views, links: the
  // union of their children, each given the whole proposal.
  CGSize size{};
  for (const auto& c : n.children) {
    CGSize s = sizeOf(*c, p);
    size.width = std::max(size.width, s.width);
    size.height = std::max(size.height, s.height);
  }
  return size;
}

Proposal fixedProposal(const Modifier& m, Proposal p) {
  return {m.flag("horizontal", true) ? std::nullopt : p.width, m.flag("vertical", true) ? std::nullopt : p.height};
}

// What scaledToFit at `level` proposes to the content below it.
Proposal fittedProposal(const Node& node, size_t level, Proposal p) {
  const CGSize ideal = sizeAt(node, level - 1, {std::nullopt, std::nullopt});
  const CGSize s = fitted(ideal, p);
  return {s.width, s.height};
}

CGSize sizeAt(const Node& node, size_t level, Proposal p) {
  if (level == 0) return contentSize(node, p);
  const Modifier& m = node.view.desc().modifiers[level - 1];
  if (m.name == "padding") {
    const double h = m.number("leading") + m.number("trailing");
    const double v = m.number("top") + m.number("bottom");
    Proposal inner{p.width ? std::optional<double>(std::max(0.0, *p.width - h)) : std::nullopt,
                   p.height ? std::optional<double>(std::max(0.0, *p.height - v)) : std::nullopt};
    CGSize s = sizeAt(node, level - 1, inner);
    return {s.width + h, s.height + v};
  }
  if (m.name == "frame") {
    if (isFixedFrame(m)) {
      auto w = param(m, "width"), h = param(m, "height");
      CGSize s = sizeAt(node, level - 1, {w ? w : p.width, h ? h : p.height});
      return {w.value_or(s.width), h.value_or(s.height)};
    }
    auto minW = param(m, "minWidth"), maxW = param(m, "maxWidth");
    auto minH = param(m, "minHeight"), maxH = param(m, "maxHeight");
    auto clampProposal = [](std::optional<double> v, std::optional<double> lo, std::optional<double> hi) {
      if (!v) return v;
      double x = *v;
      if (hi) x = std::min(x, *hi);
      if (lo) x = std::max(x, *lo);
      return std::optional<double>(x);
    };
    CGSize s = sizeAt(node, level - 1, {clampProposal(p.width, minW, maxW), clampProposal(p.height, minH, maxH)});
    auto side = [](double child, std::optional<double> proposed, std::optional<double> lo, std::optional<double> hi) {
      double x = child;
      if (hi) x = std::min(proposed.value_or(child), *hi);
      if (lo) x = std::max(x, *lo);
      if (!hi && lo) x = std::max(child, *lo);
      return std::isfinite(x) ? x : child;
    };
    return {side(s.width, p.width, minW, maxW), side(s.height, p.height, minH, maxH)};
  }
  if (m.name == "fixedSize") return sizeAt(node, level - 1, fixedProposal(m, p));
  if (m.name == "scaledToFit") return sizeAt(node, level - 1, fittedProposal(node, level, p));
  return sizeAt(node, level - 1, p);
}

void shift(Node& n, double dx, double dy) {
  for (auto& r : n.levelFrames) r = CGRectOffset(r, dx, dy);
  n.frame = CGRectOffset(n.frame, dx, dy);
  n.outerFrame = CGRectOffset(n.outerFrame, dx, dy);
  for (auto& c : n.children) shift(*c, dx, dy);
  for (auto& [i, c] : n.modifierChildren) shift(*c, dx, dy);
}

// The first text baseline below the node's top, in graph coordinates.
std::optional<double> firstBaseline(const Node& n) {
  if (n.kind() == "Text")
    return n.frame.origin.y +
           measureText(n.view.desc().text, n.environment.font, n.frame.size.width, textStyle(n.environment)).baseline;
  for (const auto& c : n.children)
    if (auto b = firstBaseline(*c)) return b;
  return std::nullopt;
}

CGRect aligned(CGSize size, CGRect in, Alignment a) {
  double x = in.origin.x, y = in.origin.y;
  if (a.horizontal == HorizontalAlignment::center) x += (in.size.width - size.width) / 2;
  if (a.horizontal == HorizontalAlignment::trailing) x += in.size.width - size.width;
  if (a.vertical == VerticalAlignment::center) y += (in.size.height - size.height) / 2;
  if (a.vertical == VerticalAlignment::bottom) y += in.size.height - size.height;
  return {{x, y}, size};
}

void placeNode(Node& node, CGRect rect);
void placeAt(Node& node, size_t level, CGRect rect);

void placeContent(Node& n, CGRect rect) {
  const ViewDesc& d = n.view.desc();
  const std::string& k = d.kind;
  const Proposal p{rect.size.width, rect.size.height};
  if (k == "VStack" || k == "HStack") {
    const bool horizontal = k == "HStack";
    StackSizes st = stackSizes(n, p, horizontal);
    double cursor = horizontal ? rect.origin.x : rect.origin.y;
    for (size_t i = 0; i < st.children.size(); ++i) {
      Node& c = *const_cast<Node*>(st.children[i]);
      const CGSize s = st.sizes[i];
      CGRect r;
      if (horizontal) {
        double y = rect.origin.y;
        if (d.vertical == VerticalAlignment::center) y += (rect.size.height - s.height) / 2;
        if (d.vertical == VerticalAlignment::bottom) y += rect.size.height - s.height;
        r = {{cursor, y}, s};
        cursor += s.width + st.spacing;
      } else {
        double x = rect.origin.x;
        if (d.horizontal == HorizontalAlignment::center) x += (rect.size.width - s.width) / 2;
        if (d.horizontal == HorizontalAlignment::trailing) x += rect.size.width - s.width;
        r = {{x, cursor}, s};
        cursor += s.height + st.spacing;
      }
      placeAt(c, c.view.desc().modifiers.size(), r);
    }
    if (horizontal && d.vertical == VerticalAlignment::firstTextBaseline) {
      double lowest = -kInfinity;
      std::vector<std::optional<double>> baselines;
      for (const Node* c : st.children) {
        baselines.push_back(firstBaseline(*c));
        if (baselines.back()) lowest = std::max(lowest, *baselines.back());
      }
      for (size_t i = 0; i < st.children.size(); ++i)
        if (baselines[i]) shift(*const_cast<Node*>(st.children[i]), 0, lowest - *baselines[i]);
    }
    // Groups flattened into the stack cover their placed children; their
    // content is not placed again.
    std::function<CGRect(Node&)> cover = [&](Node& g) -> CGRect {
      if (!g.levelFrames.empty()) return g.outerFrame;
      CGRect u = CGRectNull;
      for (auto& c : g.children) u = CGRectUnion(u, cover(*c));
      if (CGRectIsNull(u)) u = {rect.origin, {0, 0}};
      g.levelFrames.assign(g.view.desc().modifiers.size() + 1, u);
      g.frame = g.outerFrame = u;
      return u;
    };
    for (auto& c : n.children) cover(*c);
    return;
  }
  if (k == "ScrollView") {
    if (n.children.empty()) return;
    Node& c = *n.children.front();
    CGSize s = sizeOf(c, {rect.size.width, std::nullopt});
    placeAt(c, c.view.desc().modifiers.size(), {rect.origin, s});
    return;
  }
  if (k == "Toggle") {
    if (!n.children.empty()) {
      Node& label = *n.children.front();
      if (toggleHidesLabel(n)) {
        placeAt(label, label.view.desc().modifiers.size(), {rect.origin, {0, 0}});
      } else if (isCheckbox(n)) {
        // The box, then its label.
        CGSize s = sizeOf(label, {std::nullopt, std::nullopt});
        placeAt(label, label.view.desc().modifiers.size(),
                {{rect.origin.x + kCheckboxSide + kCheckboxGap, rect.origin.y + (rect.size.height - s.height) / 2}, s});
      } else {
        CGSize s = sizeOf(label, {std::nullopt, std::nullopt});
        placeAt(label, label.view.desc().modifiers.size(),
                {{rect.origin.x, rect.origin.y + (rect.size.height - s.height) / 2}, s});
      }
    }
    return;
  }
  if (k == "Button" && !n.children.empty() && !n.children.front()->identity.ends_with("/style")) {
    Node& label = *n.children.front();
    CGSize s = sizeOf(label, {std::nullopt, std::nullopt});
    placeAt(label, label.view.desc().modifiers.size(), aligned(s, rect, Alignment::center()));
    return;
  }
  const Alignment a{d.horizontal, d.vertical == VerticalAlignment::firstTextBaseline ? VerticalAlignment::top : d.vertical};
  for (auto& c : n.children) {
    if (k == "ZStack") {
      CGSize s = sizeOf(*c, p);
      placeAt(*c, c->view.desc().modifiers.size(), aligned(s, rect, a));
    } else {
      placeNode(*c, rect);
    }
  }
}

void placeAt(Node& node, size_t level, CGRect rect) {
  const auto& mods = node.view.desc().modifiers;
  if (node.levelFrames.size() != mods.size() + 1) node.levelFrames.assign(mods.size() + 1, CGRect{});
  node.levelFrames[level] = rect;
  if (level == mods.size()) node.outerFrame = rect;
  if (level == 0) {
    node.frame = rect;
    placeContent(node, rect);
    return;
  }
  const Modifier& m = mods[level - 1];
  if (m.name == "padding") {
    placeAt(node, level - 1,
            {{rect.origin.x + m.number("leading"), rect.origin.y + m.number("top")},
             {std::max(0.0, rect.size.width - m.number("leading") - m.number("trailing")),
              std::max(0.0, rect.size.height - m.number("top") - m.number("bottom"))}});
  } else if (m.name == "frame") {
    Proposal inner{rect.size.width, rect.size.height};
    if (!isFixedFrame(m)) {
      auto clampTo = [](double v, std::optional<double> lo, std::optional<double> hi) {
        if (hi) v = std::min(v, *hi);
        if (lo) v = std::max(v, *lo);
        return v;
      };
      inner = {clampTo(rect.size.width, param(m, "minWidth"), param(m, "maxWidth")),
               clampTo(rect.size.height, param(m, "minHeight"), param(m, "maxHeight"))};
    }
    CGSize s = sizeAt(node, level - 1, inner);
    placeAt(node, level - 1, aligned(s, rect, alignmentOf(m)));
  } else if (m.name == "fixedSize") {
    CGSize s = sizeAt(node, level - 1, fixedProposal(m, {rect.size.width, rect.size.height}));
    placeAt(node, level - 1, aligned(s, rect, Alignment::center()));
  } else if (m.name == "scaledToFit") {
    Proposal fit = fittedProposal(node, level, {rect.size.width, rect.size.height});
    CGSize s = sizeAt(node, level - 1, fit);
    placeAt(node, level - 1, aligned(s, rect, Alignment::center()));
  } else if (m.name == "ignoresSafeArea") {
    const unsigned edges = unsigned(m.number("edges", Edge::all));
    const SafeArea& area = currentSafeArea();
    constexpr double kOnEdge = 0.5;
    double minX = CGRectGetMinX(rect), minY = CGRectGetMinY(rect), maxX = CGRectGetMaxX(rect), maxY = CGRectGetMaxY(rect);
    if ((edges & Edge::top) && std::abs(minY - CGRectGetMinY(area.safe)) < kOnEdge) minY = CGRectGetMinY(area.bounds);
    if ((edges & Edge::leading) && std::abs(minX - CGRectGetMinX(area.safe)) < kOnEdge) minX = CGRectGetMinX(area.bounds);
    if ((edges & Edge::bottom) && std::abs(maxY - CGRectGetMaxY(area.safe)) < kOnEdge) maxY = CGRectGetMaxY(area.bounds);
    if ((edges & Edge::trailing) && std::abs(maxX - CGRectGetMaxX(area.safe)) < kOnEdge) maxX = CGRectGetMaxX(area.bounds);
    const CGRect wide{{minX, minY}, {maxX - minX, maxY - minY}};
    node.levelFrames[level] = wide;
    if (level == mods.size()) node.outerFrame = wide;
    placeAt(node, level - 1, wide);
  } else if (m.name == "offset") {
    placeAt(node, level - 1, CGRectOffset(rect, m.number("x"), m.number("y")));
  } else {
    placeAt(node, level - 1, rect);
  }
  auto child = node.modifierChildren.find(level - 1);
  if (child != node.modifierChildren.end()) {
    Node& c = *child->second;
    if (m.name == "popover") {
      CGSize s = sizeOf(c, {std::nullopt, std::nullopt});
      // The arrow on the anchor's top edge puts the popover above it, on
      // its bottom edge (or left to the system) below it, the arrow between
      // the two; one without room on its side goes to the other side when
      // that has room, else to the side with more room, as a popover at a
      // screen's edge does.
      const double below = CGRectGetMaxY(rect) + kPopoverArrowHeight;
      const double above = CGRectGetMinY(rect) - kPopoverArrowHeight - s.height;
      const double spareBelow = CGRectGetMaxY(currentSafeArea().bounds) - (below + s.height), spareAbove = above;
      const bool prefersAbove = m.string("arrowEdge") == "top";
      const bool fitsPreferred = (prefersAbove ? spareAbove : spareBelow) >= 0;
      const bool fitsOther = (prefersAbove ? spareBelow : spareAbove) >= 0;
      const bool goesAbove = fitsPreferred || fitsOther ? prefersAbove == fitsPreferred : spareAbove > spareBelow;
      const double y = goesAbove ? above : below;
      placeAt(c, c.view.desc().modifiers.size(), {{CGRectGetMidX(rect) - s.width / 2, y}, s});
    } else {
      placeNode(c, rect);
    }
  }
}

void placeNode(Node& node, CGRect rect) {
  CGSize s = sizeOf(node, {rect.size.width, rect.size.height});
  placeAt(node, node.view.desc().modifiers.size(), aligned(s, rect, Alignment::center()));
}

}  // namespace

CGSize sizeThatFits(const Node& node, Proposal proposal) { return sizeOf(node, proposal); }

std::optional<PopoverArrow> popoverArrow(CGRect body, CGRect anchor) {
  const bool onTop = CGRectGetMinY(body) >= CGRectGetMaxY(anchor);
  if (!onTop && CGRectGetMaxY(body) > CGRectGetMinY(anchor)) return std::nullopt;
  const double lo = body.origin.x + kPopoverCornerRadius + kPopoverArrowHalfBase;
  const double hi = CGRectGetMaxX(body) - kPopoverCornerRadius - kPopoverArrowHalfBase;
  const double x = lo > hi ? CGRectGetMidX(body) : std::clamp(CGRectGetMidX(anchor), lo, hi);
  return PopoverArrow{onTop, {x, onTop ? CGRectGetMaxY(anchor) : CGRectGetMinY(anchor)},
                      onTop ? CGRectGetMinY(body) : CGRectGetMaxY(body)};
}

void layoutTree(Node& root, CGSize size, EdgeInsets safeArea) {
  std::function<void(Node&)> clear = [&](Node& n) {
    n.levelFrames.clear();
    for (auto& c : n.children) clear(*c);
    for (auto& [i, c] : n.modifierChildren) clear(*c);
  };
  clear(root);
  const CGRect bounds{{0, 0}, size};
  const CGRect safe{{safeArea.leading, safeArea.top},
                    {std::max(0.0, size.width - safeArea.leading - safeArea.trailing),
                     std::max(0.0, size.height - safeArea.top - safeArea.bottom)}};
  currentSafeArea() = {bounds, safe};
  placeNode(root, safe);
  // A popover stays inside the window's width, with room for its shadow,
  // as far as its arrow still reaches the middle of its anchor; it never
  // moves over its anchor. A node the layout never placed (a scroll view's
  // content past its first view) has no frames, nor has anything under it.
  std::function<void(Node&)> keepInside = [&](Node& n) {
    if (n.levelFrames.size() != n.view.desc().modifiers.size() + 1) return;
    for (auto& [i, c] : n.modifierChildren) {
      if (n.view.desc().modifiers[i].name == "popover") {
        const CGRect body = c->outerFrame, anchor = n.levelFrames[i + 1];
        double dx = 0;
        if (CGRectGetMaxX(body) > size.width - kPopoverWindowMargin)
          dx = size.width - kPopoverWindowMargin - CGRectGetMaxX(body);
        if (body.origin.x + dx < kPopoverWindowMargin) dx = kPopoverWindowMargin - body.origin.x;
        constexpr double reach = kPopoverCornerRadius + kPopoverArrowHalfBase;
        // One too narrow to slide along its arrow stays centred on the anchor.
        dx = body.size.width < 2 * reach ? 0
                                         : std::clamp(dx, CGRectGetMidX(anchor) + reach - CGRectGetMaxX(body),
                                                      CGRectGetMidX(anchor) - reach - body.origin.x);
        if (dx != 0) shift(*c, dx, 0);
      }
      keepInside(*c);
    }
    for (auto& c : n.children) keepInside(*c);
  };
  keepInside(root);
}

}  // namespace platform::ui
