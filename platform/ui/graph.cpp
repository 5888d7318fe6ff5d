#include "platform/ui/graph.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "platform/appkit/event.hpp"
#include "platform/appkit/menu.hpp"
#include "platform/appkit/pasteboard.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/appearance.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"
#include "platform/ui/drawing.hpp"
#include "platform/ui/hit_test.hpp"
#include "platform/ui/layout.hpp"

namespace platform::ui {

const Modifier* Node::modifier(const std::string& name) const {
  for (const auto& m : view.desc().modifiers)
    if (m.name == name) return &m;
  return nullptr;
}

std::vector<const Modifier*> Node::modifiers(const std::string& name) const {
  std::vector<const Modifier*> found;
  for (const auto& m : view.desc().modifiers)
    if (m.name == name) found.push_back(&m);
  return found;
}

void Context::observeChanges(std::function<AnyCancellable(std::function<void()>)> subscribe) {
  std::weak_ptr<ViewGraph> weak = graph_.weak_from_this();
  node_.observations.push_back(subscribe([weak] {
    if (auto graph = weak.lock()) graph->setNeedsRender();
  }));
}

// What one render collects to run once the tree is built. A node made and
// removed again within the frame (a geometry reader's content at its first,
// unsized evaluation) neither appears nor disappears.
struct ViewGraph::Pass {
  std::vector<std::function<void()>> dismantles;
  std::vector<std::function<void()>> changes;
  std::vector<std::function<void()>> disappears;
  std::vector<std::pair<const Node*, std::function<void()>>> appears;
  std::set<const Node*> made;
  std::set<const Node*> unmade;
  std::vector<std::unique_ptr<Node>> removed;  // kept until their actions ran
};

namespace {
// The animations of the withAnimation calls running now, innermost last.
std::vector<std::optional<Animation>>& transactions() {
  thread_local std::vector<std::optional<Animation>> stack;
  return stack;
}
}  // namespace

void withAnimation(std::optional<Animation> animation, const std::function<void()>& body) {
  transactions().push_back(animation);
  struct Pop {
    ~Pop() { transactions().pop_back(); }
  } pop;
  body();
}

void stateDidChange(const StateSlot& slot) {
  auto graph = slot.graph.lock();
  if (!graph) return;
  if (!transactions().empty()) graph->animations_.push_back({slot.owner, transactions().back(), true});
  graph->setNeedsRender();
}

std::shared_ptr<ViewGraph> ViewGraph::make(View root) {
  std::shared_ptr<ViewGraph> graph(new ViewGraph());
  graph->rootView_ = std::move(root);
  std::weak_ptr<ViewGraph> weak = graph;
  graph->optionsObserver_ = NSWorkspace::sharedWorkspace().notificationCenter().addObserverForName(
      NSWorkspaceAccessibilityDisplayOptionsDidChangeNotification, nullptr, DispatchQueue::main(),
      [weak](const NSNotification&) {
        if (auto g = weak.lock()) g->setNeedsRender();
      });
  graph->setNeedsRender();
  return graph;
}

ViewGraph::~ViewGraph() {
  // Hosted views leave their host with the graph.
  if (!root_) return;
  std::vector<Node*> stack{root_.get()};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (n->hosted) {
      n->view.desc().representable->dismantleNSView(*n->hosted, n->coordinator);
      n->hosted->removeFromSuperview();
    }
    for (auto& c : n->children) stack.push_back(c.get());
    for (auto& [i, c] : n->modifierChildren) stack.push_back(c.get());
  }
}

void ViewGraph::setRoot(View root) {
  rootView_ = std::move(root);
  setNeedsRender();
}

void ViewGraph::setSize(CGSize size) {
  size_ = size;
  if (auto host = host_.lock()) host->setFrame({host->frame().origin, size});
  setNeedsRender();
}

void ViewGraph::setHost(const std::shared_ptr<NSView>& host) { host_ = host; }

void ViewGraph::setSafeAreaInsets(EdgeInsets insets) {
  if (insets == safeArea_) return;
  safeArea_ = insets;
  setNeedsRender();
}

void ViewGraph::setEnvironment(std::function<void(Environment&)> write) {
  environmentWriter_ = std::move(write);
  setNeedsRender();
}

void ViewGraph::setNeedsRender() {
  needsRender_ = true;
  if (renderQueued_ || rendering_) return;
  renderQueued_ = true;
  std::weak_ptr<ViewGraph> weak = weak_from_this();
  DispatchQueue::main()->async([weak] {
    auto graph = weak.lock();
    if (!graph) return;
    graph->renderQueued_ = false;
    if (graph->needsRender_) graph->render();
  });
}

void ViewGraph::render() {
  if (rendering_) {
    needsRender_ = true;
    return;
  }
  rendering_ = true;
  // Actions that change state render again at once; a view that changes
  // state on every render would loop, so the rest waits for the next turn.
  for (int round = 0; round < 16; ++round) {
    needsRender_ = false;
    renderOnce();
    ++renderCount_;
    if (!needsRender_) break;
  }
  rendering_ = false;
  if (needsRender_) {
    needsRender_ = false;
    setNeedsRender();
  }
  followFocus();
}

int ViewGraph::bodyCount(const std::string& typeName) const {
  auto it = bodyCounts_.find(typeName);
  return it == bodyCounts_.end() ? 0 : it->second;
}

Environment ViewGraph::baseEnvironment() const {
  Environment env;
  auto& workspace = NSWorkspace::sharedWorkspace();
  env.reduceMotion = workspace.accessibilityDisplayShouldReduceMotion();
  env.reduceTransparency = workspace.accessibilityDisplayShouldReduceTransparency();
  env.openURL = [](const std::string& url) { return NSWorkspace::sharedWorkspace().openURL(url); };
  const auto host = host_.lock();
  const auto appearance = host ? host->effectiveAppearance() : NSApplication::shared()->effectiveAppearance();
  env.colorScheme = appearance && appearance->isDark() ? ColorScheme::dark : ColorScheme::light;
  if (environmentWriter_) environmentWriter_(env);
  return env;
}

void ViewGraph::renderOnce() {
  // A hosting view's frame is the size (its window may have resized it);
  // as its window's content view, the title bar covers the safe area.
  if (auto host = host_.lock()) {
    size_ = host->frame().size;
    if (auto window = host->window(); window && window->contentView() == host) {
      const CGRect bounds{{0, 0}, window->frame().size};
      const CGRect layout = window->contentLayoutRect();
      safeArea_ = {std::max(0.0, CGRectGetMaxY(bounds) - CGRectGetMaxY(layout)), std::max(0.0, CGRectGetMinX(layout)),
                   std::max(0.0, CGRectGetMinY(layout)), std::max(0.0, CGRectGetMaxX(bounds) - CGRectGetMaxX(layout))};
    }
  }
  Pass pass;
  const Environment base = baseEnvironment();
  // A geometry reader's content is made again with the size it was given;
  // a reader whose content keeps resizing it settles in the next frame.
  bool resized = true;
  for (int settle = 0; resized && settle < 4; ++settle) {
    root_ = build(pass, rootView_, "root", base, std::move(root_), nullptr);
    resized = layoutAndPlace();
  }
  if (resized) setNeedsRender();
  if (frameObserver_) frameObserver_(*this);
  for (auto& f : pass.dismantles) f();
  for (auto& f : pass.changes) f();
  for (auto& f : pass.disappears) f();
  for (auto& [node, f] : pass.appears)
    if (!pass.unmade.count(node)) f();
}

std::unique_ptr<Node> ViewGraph::build(Pass& pass, const View& view, const std::string& identity,
                                       const Environment& inherited, std::unique_ptr<Node> old,
                                       Node* parent) {
  const ViewDesc& desc = view.desc();
  std::unique_ptr<Node> node;
  bool fresh = false;
  if (old && old->kind() == desc.kind && old->view.desc().composite == desc.composite) {
    node = std::move(old);
  } else {
    if (old) collectRemoved(pass, std::move(old));
    node = std::make_unique<Node>();
    node->identity = identity;
    fresh = true;
  }
  const View previous = node->view;
  node->view = view;
  node->parent = parent;

  // Inner modifiers are closer to the content, so they win.
  Environment env = inherited;
  for (size_t i = desc.modifiers.size(); i-- > 0;)
    if (desc.modifiers[i].environment) desc.modifiers[i].environment(env);
  // A prominent button's label is set in white on its tinted bezel; a
  // disabled one has no tint, as the platform shows it, and keeps its colour.
  if (desc.kind == "Button" && env.buttonStyle == ButtonStyleKind::borderedProminent && env.isEnabled &&
      !env.values.count("buttonStyle"))
    env.foreground = Color::white();
  node->environment = env;

  if (fresh) {
    pass.made.insert(node.get());
    for (const auto& m : desc.modifiers)
      if (m.name == "onAppear" && m.action) pass.appears.emplace_back(node.get(), m.action);
  }

  for (size_t i = 0; i < desc.modifiers.size(); ++i) {
    const Modifier& m = desc.modifiers[i];
    if (m.change) {
      auto seen = node->changeValues.find(i);
      if (seen != node->changeValues.end() && !m.change->equal(seen->second, m.change->value)) {
        if (m.name == "onChange" && m.change->action) {
          pass.changes.push_back([action = m.change->action, before = seen->second, after = m.change->value] {
            action(before, after);
          });
        } else if (m.name == "animation") {
          animations_.push_back({identity, m.animation, false});
        }
      }
      node->changeValues[i] = m.change->value;
    }
    if (m.subscribe) {
      auto& receiver = node->receivers[i];
      if (!receiver) receiver = std::make_shared<std::function<void(const std::any&)>>();
      *receiver = m.receive;
      if (!node->receipts.count(i)) {
        node->receipts[i] = std::make_shared<AnyCancellable>(m.subscribe([receiver](const std::any& value) {
          if (*receiver) (*receiver)(value);
        }));
      }
    }
  }
  // A subscription whose modifier is gone ends with it.
  for (auto it = node->receipts.begin(); it != node->receipts.end();) {
    if (it->first < desc.modifiers.size() && desc.modifiers[it->first].subscribe) {
      ++it;
      continue;
    }
    node->receivers.erase(it->first);
    it = node->receipts.erase(it);
  }

  auto oldChildren = std::move(node->children);
  node->children.clear();
  if (desc.composite && desc.body) {
    node->observations.clear();
    Context context(*this, *node);
    ++bodyCounts_[desc.kind];
    View body = desc.body(context);
    std::unique_ptr<Node> oldBody = oldChildren.empty() ? nullptr : std::move(oldChildren.front());
    node->children.push_back(build(pass, body, identity + "/body", env, std::move(oldBody), node.get()));
  } else if (desc.kind == "EquatableView" && !fresh && previous.desc().equatable.has_value() &&
             desc.equal && desc.equal(previous.desc().equatable, desc.equatable)) {
    node->children = std::move(oldChildren);  // unchanged input: the body is not evaluated
  } else if (desc.kind == "GeometryReader" && desc.geometry) {
    View content = desc.geometry(node->geometrySize);
    std::unique_ptr<Node> oldContent = oldChildren.empty() ? nullptr : std::move(oldChildren.front());
    node->children.push_back(build(pass, content, identity + "/content", env, std::move(oldContent), node.get()));
  } else if (desc.kind == "ScrollViewReader" && desc.reader) {
    View content = desc.reader(ScrollViewProxy(weak_from_this(), identity));
    std::unique_ptr<Node> oldContent = oldChildren.empty() ? nullptr : std::move(oldChildren.front());
    node->children.push_back(build(pass, content, identity + "/content", env, std::move(oldContent), node.get()));
  } else if (desc.kind == "TimelineView" && desc.timeline) {
    View content = desc.timeline(systemUptime());
    std::unique_ptr<Node> oldContent = oldChildren.empty() ? nullptr : std::move(oldChildren.front());
    node->children.push_back(build(pass, content, identity + "/content", env, std::move(oldContent), node.get()));
    const double interval = std::isfinite(desc.interval) && desc.interval > 0 ? desc.interval : 0;
    if (node->timelineInterval != interval) {
      node->timeline = AnyCancellable();
      node->timelineInterval = interval;
      if (interval > 0) {
        auto update = [weak = weak_from_this()](NSTimer&) {
          if (auto graph = weak.lock()) graph->setNeedsRender();
        };
        std::shared_ptr<NSTimer> timer;
        if (desc.onWallClock) {
          // The grid's base is the uptime at which the wall clock last stood
          // on a multiple of the interval; the first update is the next one.
          const double now = systemUptime();
          timer = NSTimer::makeOnGrid(now - std::fmod(wallClockTime(), interval), interval, 1, update);
          RunLoop::main().add(timer, RunLoopMode::default_);
        } else {
          timer = NSTimer::scheduledTimer(interval, true, update);
        }
        node->timeline = AnyCancellable([timer] { timer->invalidate(); });
      }
    }
  } else if (desc.kind == "Button" && env.values.count("buttonStyle")) {
    auto style = std::any_cast<std::shared_ptr<ButtonStyle>>(env.values.at("buttonStyle"));
    View styled = (*style)(ButtonStyleConfiguration{desc.children.front(), node->pressed});
    std::unique_ptr<Node> oldStyled;
    for (auto& c : oldChildren)
      if (c && c->identity == identity + "/style") oldStyled = std::move(c);
    for (auto& c : oldChildren)
      if (c) collectRemoved(pass, std::move(c));
    node->children.push_back(build(pass, styled, identity + "/style", env, std::move(oldStyled), node.get()));
  } else {
    node->children = std::move(oldChildren);
    buildChildren(pass, *node);
  }
  if (desc.representable) {
    const auto& rep = *desc.representable;
    if (!node->hosted) {
      node->coordinator = rep.makeCoordinator();
      NSViewRepresentable::Context context{node->coordinator, env};
      node->hosted = rep.makeNSView(context);
      if (node->hosted) node->hosted->setNeedsLayout(true);  // laid out once placed
    }
    NSViewRepresentable::Context context{node->coordinator, env};
    if (node->hosted) rep.updateNSView(*node->hosted, context);
  }
  buildModifierChildren(pass, *node, inherited, std::move(node->modifierChildren));
  return node;
}

void ViewGraph::buildChildren(Pass& pass, Node& node) {
  // Children are matched to the old ones by identity: position, ForEach id
  // or conditional branch.
  const ViewDesc& desc = node.view.desc();
  std::map<std::string, std::unique_ptr<Node>> old;
  for (auto& c : node.children)
    if (c) old[c->identity] = std::move(c);
  node.children.clear();
  for (size_t i = 0; i < desc.children.size(); ++i) {
    std::string id = node.identity;
    if (desc.kind == "Conditional") id += desc.conditionTrue ? "/then" : "/else";
    else if (i < desc.childIDs.size()) id += "/id:" + desc.childIDs[i];
    else id += "/" + std::to_string(i);
    std::unique_ptr<Node> previous;
    if (auto it = old.find(id); it != old.end()) {
      previous = std::move(it->second);
      old.erase(it);
    }
    node.children.push_back(build(pass, desc.children[i], id, node.environment, std::move(previous), &node));
  }
  for (auto& [id, c] : old) collectRemoved(pass, std::move(c));
}

void ViewGraph::buildModifierChildren(Pass& pass, Node& node, const Environment& inherited,
                                      std::map<size_t, std::unique_ptr<Node>> old) {
  const auto& mods = node.view.desc().modifiers;
  node.modifierChildren.clear();
  for (size_t i = 0; i < mods.size(); ++i) {
    const Modifier& m = mods[i];
    if (!m.content) continue;
    if (m.name == "popover" && !(m.isPresented && m.isPresented->get())) continue;
    const std::string id = node.identity + "/m" + std::to_string(i) + m.name;
    std::unique_ptr<Node> previous;
    if (auto it = old.find(i); it != old.end() && it->second && it->second->identity == id) {
      previous = std::move(it->second);
      old.erase(it);
    }
    // The content sits beside the modified view, not inside it: it sees the
    // parent's environment and what the modifiers applied after it write,
    // never a style or font the view itself was given before.
    Environment env = inherited;
    for (size_t j = mods.size(); j-- > i + 1;)
      if (mods[j].environment) mods[j].environment(env);
    node.modifierChildren[i] = build(pass, *m.content, id, env, std::move(previous), &node);
  }
  for (auto& [i, c] : old)
    if (c) collectRemoved(pass, std::move(c));
}

void ViewGraph::collectRemoved(Pass& pass, std::unique_ptr<Node> node) {
  if (!node) return;
  const bool madeThisFrame = pass.made.count(node.get()) > 0;
  if (madeThisFrame) pass.unmade.insert(node.get());
  for (const auto& m : node->view.desc().modifiers)
    if (m.name == "onDisappear" && m.action && !madeThisFrame) pass.disappears.push_back(m.action);
  if (node->hosted) {
    auto rep = node->view.desc().representable;
    Node* raw = node.get();
    pass.dismantles.push_back([rep, raw] {
      rep->dismantleNSView(*raw->hosted, raw->coordinator);
      raw->hosted->removeFromSuperview();
    });
  }
  for (auto& c : node->children) collectRemoved(pass, std::move(c));
  for (auto& [i, c] : node->modifierChildren) collectRemoved(pass, std::move(c));
  node->observations.clear();
  node->receipts.clear();
  node->timeline = AnyCancellable();
  pass.removed.push_back(std::move(node));
}

bool ViewGraph::layoutAndPlace() {
  if (!root_) return false;
  layoutTree(*root_, size_, safeArea_);
  bool resized = false;
  auto host = host_.lock();
  std::vector<Node*> stack{root_.get()};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (n->view.kind() == "GeometryReader" && n->frame.size != n->geometrySize) {
      n->geometrySize = n->frame.size;
      resized = true;
    }
    if (n->hosted) {
      if (host && n->hosted->superview() != host) host->addSubview(n->hosted);
      if (n->hosted->frame() != n->frame) {
        n->hosted->setFrame(n->frame);
        n->hosted->setNeedsLayout(true);
      }
      n->hosted->layoutSubtreeIfNeeded();
    }
    for (auto& c : n->children) stack.push_back(c.get());
    for (auto& [i, c] : n->modifierChildren) stack.push_back(c.get());
  }
  return resized;
}

Node* ViewGraph::node(const std::string& identity) const {
  Node* found = nullptr;
  findAll([&](const Node& n) {
    if (!found && n.identity == identity) found = const_cast<Node*>(&n);
    return false;
  });
  return found;
}

std::vector<ViewRef> ViewGraph::findAll(const std::function<bool(const Node&)>& match) const {
  std::vector<ViewRef> found;
  std::function<void(const Node&)> visit = [&](const Node& n) {
    if (match(n)) found.emplace_back(std::const_pointer_cast<ViewGraph>(shared_from_this()), n.identity);
    for (const auto& c : n.children) visit(*c);
    for (const auto& [i, c] : n.modifierChildren) visit(*c);
  };
  if (root_) visit(*root_);
  return found;
}

std::optional<ViewRef> ViewGraph::findText(const std::string& text) const {
  auto all = findAll([&](const Node& n) { return n.kind() == "Text" && n.view.desc().text == text; });
  if (all.empty()) return std::nullopt;
  return all.front();
}

std::optional<ViewRef> ViewGraph::findLabel(const std::string& label) const {
  auto all = findAll([&](const Node& n) {
    auto info = accessibility(n);
    return info.isElement && !info.hidden && info.label == label;
  });
  if (all.empty()) return std::nullopt;
  return all.front();
}

std::optional<ViewRef> ViewGraph::findKind(const std::string& kind, size_t index) const {
  auto all = findAll([&](const Node& n) { return n.kind() == kind; });
  if (index >= all.size()) return std::nullopt;
  return all[index];
}

namespace {

void combinedText(const Node& n, std::vector<std::string>& out) {
  if (auto h = n.modifier("accessibilityHidden"); h && h->flag("value")) return;
  if (auto l = n.modifier("accessibilityLabel")) {
    out.push_back(l->string("value"));
    return;
  }
  if (n.kind() == "Text") out.push_back(n.view.desc().text);
  for (const auto& c : n.children) combinedText(*c, out);
}

std::string joined(const std::vector<std::string>& parts) {
  std::string s;
  for (const auto& p : parts) {
    if (p.empty()) continue;
    if (!s.empty()) s += ", ";
    s += p;
  }
  return s;
}

}  // namespace

AccessibilityInfo ViewGraph::accessibility(const Node& node) const {
  AccessibilityInfo info;
  const ViewDesc& desc = node.view.desc();
  for (const Node* p = &node; p; p = p->parent) {
    if (auto h = p->modifier("accessibilityHidden"); h && h->flag("value")) info.hidden = true;
    if (p != &node) {
      auto e = p->modifier("accessibilityElement");
      if (e && e->string("value") != "contain") info.hidden = true;  // folded into an ancestor
    }
  }
  const std::string& k = desc.kind;
  if (k == "Text" || k == "Link") {
    info.isElement = true;
    info.label = desc.text;
    info.role = k == "Link" ? "link" : "staticText";
  } else if (k == "Image") {
    info.isElement = true;
    info.label = desc.image ? desc.image->accessibilityDescription()
                            : desc.systemImage.empty() ? desc.text : desc.systemImage;
    info.role = "image";
  } else if (k == "Button" || k == "Toggle") {
    info.isElement = true;
    std::vector<std::string> parts;
    combinedText(node, parts);
    info.label = joined(parts);
    info.role = k == "Button" ? "button" : "checkBox";
    if (k == "Toggle" && desc.isOn) info.value = desc.isOn->get() ? "1" : "0";
  } else if (k == "ProgressView") {
    info.isElement = true;
    info.role = "progressIndicator";
  } else if (k == "TextField" || k == "TextEditor") {
    info.isElement = true;
    info.label = desc.text;
    info.value = desc.editedText ? desc.editedText->get() : std::string();
    info.role = k == "TextField" ? "textField" : "textArea";
  } else if (node.hosted && node.hosted->isAccessibilityElement()) {
    info.isElement = true;
    info.label = node.hosted->accessibilityLabel();
    info.value = node.hosted->accessibilityValue();
    info.help = node.hosted->accessibilityHelp();
    info.role = node.hosted->accessibilityRole();
  }
  if (auto e = node.modifier("accessibilityElement")) {
    const std::string mode = e->string("value");
    if (mode == "contain") {
      info.isElement = false;
      info.role = "group";
    } else {
      info.isElement = true;
      if (mode == "combine") {
        std::vector<std::string> parts;
        for (const auto& c : node.children) combinedText(*c, parts);
        info.label = joined(parts);
      } else if (k != "Text") {
        info.label.clear();
      }
    }
  }
  for (const auto& m : desc.modifiers) {
    if (m.name == "accessibilityLabel") info.label = m.string("value");
    else if (m.name == "accessibilityValue") info.value = m.string("value");
    else if (m.name == "help") info.help = m.string("value");
    else if (m.name == "accessibilityHint") info.hint = m.string("value");
    else if (m.name == "accessibilityRole") info.role = m.string("value");
    else if (m.name == "accessibilityAddTraits") info.traits.insert(m.string("value"));
  }
  return info;
}

void ViewGraph::movePointer(std::optional<CGPoint> point) {
  // The hit view and the views it belongs to, up to the popover it sits in
  // (a popover is a window of its own: its anchor is not under the pointer).
  std::set<const Node*> under;
  if (root_ && point) {
    for (const Node* n = hitTestTree(*root_, *point); n; n = n->parent) {
      under.insert(n);
      if (isPopoverContent(*n)) break;
    }
  }
  std::vector<std::pair<Node*, bool>> changed;
  std::function<void(Node&)> visit = [&](Node& n) {
    if (n.modifier("onHover")) {
      const bool inside = under.count(&n) && n.environment.isEnabled;
      if (inside != n.hovered) changed.emplace_back(&n, inside);
    }
    for (auto& c : n.children) visit(*c);
    for (auto& [i, c] : n.modifierChildren) visit(*c);
  };
  if (root_) visit(*root_);
  for (auto& [n, inside] : changed) {
    n->hovered = inside;
    for (const Modifier* m : n->modifiers("onHover"))
      if (m->hover) m->hover(inside);
  }
}

std::optional<ViewRef> ViewGraph::hitTest(CGPoint point) const {
  const Node* hit = root_ ? hitTestTree(*root_, point) : nullptr;
  if (!hit) return std::nullopt;
  return ViewRef(std::const_pointer_cast<ViewGraph>(shared_from_this()), hit->identity);
}

bool ViewGraph::tap(CGPoint point) {
  auto hit = hitTest(point);
  return hit && hit->tap();
}

bool ViewGraph::performKeyboardShortcut(KeyboardShortcut shortcut) {
  const std::string kind = shortcut == KeyboardShortcut::defaultAction ? "defaultAction" : "cancelAction";
  std::function<Node*(Node&)> firstButton = [&](Node& n) -> Node* {
    if (n.kind() == "Button") return &n;
    for (auto& c : n.children)
      if (Node* b = firstButton(*c)) return b;
    return nullptr;
  };
  Node* pressed = nullptr;
  std::function<void(Node&)> visit = [&](Node& n) {
    if (pressed) return;
    for (const Modifier* m : n.modifiers("keyboardShortcut")) {
      if (m->string("kind") != kind) continue;
      Node* button = firstButton(n);
      if (button && button->environment.isEnabled && button->view.desc().action) {
        pressed = button;
        return;
      }
    }
    for (auto& c : n.children) visit(*c);
    // Overlays, backgrounds and insets hold buttons too.
    for (auto& [i, c] : n.modifierChildren) visit(*c);
  };
  if (root_) visit(*root_);
  if (!pressed) return false;
  // The action may change what the tree holds; it runs on a copy.
  const auto action = pressed->view.desc().action;
  action();
  return true;
}

bool ViewGraph::performExitCommand() {
  auto exitCommand = [](const Node& n) -> std::function<void()> {
    const Modifier* m = n.modifier("onExitCommand");
    return m && m->action ? m->action : nullptr;
  };
  std::function<void()> action;
  for (const Node* n = focusedNode(); n && !action; n = n->parent) action = exitCommand(*n);
  if (!action) {
    auto all = findAll([&](const Node& n) { return exitCommand(n) != nullptr; });
    if (!all.empty()) action = exitCommand(all.front().node());
  }
  if (!action) return false;
  action();
  return true;
}

void ScrollViewProxy::scrollTo(const std::string& id, const std::string& anchor) const {
  auto graph = graph_.lock();
  if (!graph) return;
  const bool found = !graph->findAll([&](const Node& n) {
                              for (const Modifier* m : n.modifiers("id"))
                                if (m->string("value") == id) return true;
                              return false;
                            }).empty();
  graph->scrollRecords_.push_back({reader_, id, anchor, found});
}

// ---- focus and editing ---------------------------------------------------

namespace {

bool isField(const Node& n) { return n.kind() == "TextField" || n.kind() == "TextEditor"; }

const FocusBinding* focusOf(const Node& n) {
  const Modifier* m = n.modifier("focused");
  return m && m->focus ? m->focus.get() : nullptr;
}

// Code points that are not text a key types: C0 and C1 controls, DEL and
// the function keys' private-use characters.
bool isTypedText(const std::string& text) {
  if (text.empty()) return false;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return false;
    size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + length > text.size()) return false;
    uint32_t cp = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    if ((cp >= 0x80 && cp < 0xA0) || (cp >= 0xF700 && cp <= 0xF8FF)) return false;
    i += length;
  }
  return true;
}

}  // namespace

Node* ViewGraph::focusedNode() const {
  Node* bound = nullptr;
  Node* own = nullptr;
  findAll([&](const Node& n) {
    if (!isField(n)) return false;
    if (const FocusBinding* f = focusOf(n)) {
      if (!bound && f->isFocused()) bound = const_cast<Node*>(&n);
    } else if (!own && focusedIdentity_ && *focusedIdentity_ == n.identity) {
      own = const_cast<Node*>(&n);
    }
    return false;
  });
  return bound ? bound : own;
}

std::optional<ViewRef> ViewGraph::focusedField() const {
  const Node* n = focusedNode();
  if (!n) return std::nullopt;
  return ViewRef(std::const_pointer_cast<ViewGraph>(shared_from_this()), n->identity);
}

bool ViewGraph::hasFields() const {
  return !findAll([](const Node& n) { return isField(n); }).empty();
}

bool ViewGraph::focus(const std::string& identity) {
  Node* field = node(identity);
  if (!field || !isField(*field) || !field->environment.isEnabled) return false;
  // Every other field lets go first: fields of one focus state share it.
  findAll([&](const Node& n) {
    if (&n != field && isField(n))
      if (const FocusBinding* f = focusOf(n); f && f->isFocused()) f->setFocused(false);
    return false;
  });
  if (const FocusBinding* f = focusOf(*field)) {
    focusedIdentity_.reset();
    f->setFocused(true);
  } else {
    focusedIdentity_ = identity;
  }
  selectedAll_ = false;
  setNeedsRender();
  followFocus();
  return true;
}

void ViewGraph::clearFocus() {
  if (Node* n = focusedNode())
    if (const FocusBinding* f = focusOf(*n)) f->setFocused(false);
  focusedIdentity_.reset();
  selectedAll_ = false;
  setNeedsRender();
}

void ViewGraph::followFocus() {
  const Node* focused = focusedNode();
  const std::optional<std::string> now = focused ? std::optional<std::string>(focused->identity) : std::nullopt;
  if (now != lastFocused_) {
    selectedAll_ = false;
    lastFocused_ = now;
  }
  if (!focused) return;
  auto host = host_.lock();
  auto window = host ? host->window() : nullptr;
  if (window && window->firstResponder() != host) window->makeFirstResponder(host);
}

bool ViewGraph::moveFocus(bool forward) {
  auto fields = findAll([](const Node& n) { return isField(n) && n.environment.isEnabled; });
  if (fields.empty()) return false;
  const Node* current = focusedNode();
  size_t at = fields.size();
  for (size_t i = 0; i < fields.size(); ++i)
    if (current && fields[i].identity() == current->identity) at = i;
  size_t next;
  if (at == fields.size()) next = forward ? 0 : fields.size() - 1;
  else next = forward ? (at + 1) % fields.size() : (at + fields.size() - 1) % fields.size();
  return focus(fields[next].identity());
}

void ViewGraph::replaceFocusedText(std::string text) {
  Node* n = focusedNode();
  if (!n || !n->view.desc().editedText) return;
  selectedAll_ = false;
  // The binding may re-render the graph; the node is not touched after it.
  const auto binding = n->view.desc().editedText;
  binding->set(std::move(text));
  setNeedsRender();
}

bool ViewGraph::insertText(const std::string& text) {
  Node* n = focusedNode();
  if (!n || !n->environment.isEnabled || !n->view.desc().editedText) return false;
  replaceFocusedText(selectedAll_ ? text : n->view.desc().editedText->get() + text);
  return true;
}

bool ViewGraph::deleteBackward() {
  Node* n = focusedNode();
  if (!n || !n->environment.isEnabled || !n->view.desc().editedText) return false;
  std::string text = selectedAll_ ? std::string() : n->view.desc().editedText->get();
  if (!selectedAll_ && !text.empty()) {
    // The last code point: its lead byte and the continuation bytes after it.
    size_t end = text.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.erase(end);
  }
  replaceFocusedText(std::move(text));
  return true;
}

bool ViewGraph::canPerformEditAction(const std::string& selector) const {
  const Node* n = focusedNode();
  if (!n || !n->view.desc().editedText) return false;
  const bool empty = n->view.desc().editedText->get().empty();
  const bool enabled = n->environment.isEnabled;
  if (selector == "copy:") return selectedAll_ && !empty;
  if (selector == "cut:") return enabled && selectedAll_ && !empty;
  if (selector == "paste:")
    return enabled && NSPasteboard::generalPasteboard().stringForType(NSPasteboardTypeString).has_value();
  if (selector == "selectAll:") return !empty;
  return false;
}

bool ViewGraph::performEditAction(const std::string& selector) {
  if (!canPerformEditAction(selector)) return false;
  Node* n = focusedNode();
  auto& pasteboard = NSPasteboard::generalPasteboard();
  if (selector == "selectAll:") {
    selectedAll_ = true;
    setNeedsRender();
    return true;
  }
  if (selector == "paste:") return insertText(*pasteboard.stringForType(NSPasteboardTypeString));
  const std::string text = n->view.desc().editedText->get();
  pasteboard.clearContents();
  // Cut takes the text away only once the pasteboard holds it.
  if (!pasteboard.setString(text, NSPasteboardTypeString)) return false;
  if (selector == "cut:") replaceFocusedText(std::string());
  return true;
}

// ---- ViewRef -------------------------------------------------------------

std::shared_ptr<ViewGraph> ViewRef::lockedGraph() const {
  auto graph = graph_.lock();
  if (!graph) throw std::logic_error("view graph is gone");
  return graph;
}

Node& ViewRef::node() const {
  Node* n = lockedGraph()->node(identity_);
  if (!n) throw std::logic_error("view is no longer in the tree: " + identity_);
  return *n;
}

std::string ViewRef::text() const {
  std::vector<std::string> parts;
  combinedText(node(), parts);
  return joined(parts);
}

AccessibilityInfo ViewRef::accessibility() const { return lockedGraph()->accessibility(node()); }

bool ViewRef::tap() const {
  for (Node* n = &node(); n; n = n->parent) {
    const ViewDesc& d = n->view.desc();
    if (d.kind == "TextField" || d.kind == "TextEditor") return lockedGraph()->focus(n->identity);
    const Modifier* tapHandler = n->modifier("onTapGesture");
    if (d.kind != "Button" && d.kind != "Toggle" && d.kind != "Link" && !tapHandler) continue;
    if (!n->environment.isEnabled) return false;
    if (d.kind == "Button" && d.action) d.action();
    else if (d.kind == "Toggle" && d.isOn) d.isOn->set(!d.isOn->get());
    else if (d.kind == "Link" && n->environment.openURL) n->environment.openURL(d.url);
    else if (tapHandler && tapHandler->action) tapHandler->action();
    return true;
  }
  return false;
}

namespace {
Node* enclosingButton(Node* n) {
  for (; n; n = n->parent)
    if (n->kind() == "Button") return n;
  throw std::logic_error("no button at or above the view");
}
}  // namespace

void ViewRef::press() const {
  Node* button = enclosingButton(&node());
  if (!button->environment.isEnabled) return;
  button->pressed = true;
  lockedGraph()->setNeedsRender();
}

void ViewRef::release() const {
  Node* button = enclosingButton(&node());
  if (!button->pressed) return;
  button->pressed = false;
  auto graph = lockedGraph();
  graph->setNeedsRender();
  if (button->environment.isEnabled && button->view.desc().action) button->view.desc().action();
}

void ViewRef::hover(bool inside) const {
  const CGRect f = node().outerFrame;
  lockedGraph()->movePointer(inside ? std::optional<CGPoint>(CGPoint{CGRectGetMidX(f), CGRectGetMidY(f)})
                                    : std::nullopt);
}

bool ViewRef::focus() const {
  std::function<const Node*(const Node&)> find = [&](const Node& n) -> const Node* {
    if (n.kind() == "TextField" || n.kind() == "TextEditor") return &n;
    for (const auto& c : n.children)
      if (const Node* f = find(*c)) return f;
    return nullptr;
  };
  const Node* field = find(node());
  return field && lockedGraph()->focus(field->identity);
}

bool ViewRef::dismissPopover() const {
  for (Node* n = &node(); n; n = n->parent) {
    for (const Modifier* m : n->modifiers("popover")) {
      if (m->isPresented && m->isPresented->get()) {
        m->isPresented->set(false);
        return true;
      }
    }
  }
  return false;
}

std::shared_ptr<NSView> ViewRef::hostedView() const {
  std::function<std::shared_ptr<NSView>(const Node&)> find = [&](const Node& n) -> std::shared_ptr<NSView> {
    if (n.hosted) return n.hosted;
    for (const auto& c : n.children)
      if (auto v = find(*c)) return v;
    return nullptr;
  };
  return find(node());
}

// ---- hosting, tasks, notifications ---------------------------------------

std::shared_ptr<NSHostingView> NSHostingView::make(View root, CGRect frame) {
  std::shared_ptr<NSHostingView> view(new NSHostingView(frame));
  view->graph_ = ViewGraph::make(std::move(root));
  view->graph_->setHost(view);
  view->graph_->setSize(frame.size);
  view->addTrackingArea(std::make_shared<NSTrackingArea>(
      CGRectZero, NSTrackingMouseEnteredAndExited | NSTrackingMouseMoved | NSTrackingActiveInActiveApp | NSTrackingInVisibleRect,
      view));
  return view;
}

void NSHostingView::drawRect(NSRect) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  CGContextDrawWithCairo(context->CGContext(), bounds(),
                         [&](cairo_t* cr, double pixelsPerPoint) { drawGraph(*graph_, cr, pixelsPerPoint); });
}

ViewGraph& NSHostingView::current() {
  if (graph_->needsRender() || !graph_->root()) graph_->render();
  return *graph_;
}

std::shared_ptr<NSView> NSHostingView::hitTest(NSPoint point) {
  const CGRect f = frame();
  if (!CGRectContainsPoint(f, point)) return nullptr;
  const auto parent = superview();
  const bool parentFlipped = parent && parent->isFlipped();
  const CGPoint local{point.x - f.origin.x, parentFlipped ? point.y - f.origin.y : CGRectGetMaxY(f) - point.y};
  auto& graph = current();
  const Node* hit = graph.root() ? hitTestTree(*graph.root(), local) : nullptr;
  for (const Node* n = hit; n; n = n->parent) {
    if (!n->hosted) continue;
    if (auto inside = n->hosted->hitTest(local)) return inside;
    break;
  }
  return shared_from_this();
}

void NSHostingView::mouseEntered(const NSEvent& event) {
  current().movePointer(convertPointFromWindow(event.locationInWindow()));
}

void NSHostingView::mouseMoved(const NSEvent& event) {
  current().movePointer(convertPointFromWindow(event.locationInWindow()));
}

void NSHostingView::mouseExited(const NSEvent&) { current().movePointer(std::nullopt); }

void NSHostingView::mouseDown(const NSEvent& event) {
  auto hit = current().hitTest(convertPointFromWindow(event.locationInWindow()));
  pressed_ = hit ? std::optional<std::string>(hit->identity()) : std::nullopt;
}

void NSHostingView::mouseUp(const NSEvent& event) {
  const auto pressed = std::exchange(pressed_, std::nullopt);
  auto hit = current().hitTest(convertPointFromWindow(event.locationInWindow()));
  // A click: released on the view it was pressed on.
  if (pressed && hit && hit->identity() == *pressed) hit->tap();
}

bool NSHostingView::performKeyEquivalent(const NSEvent& event) {
  constexpr uint16_t kReturn = 36, kKeypadEnter = 76, kEscape = 53;
  constexpr NSEventModifierFlags kModifiers = NSEventModifierFlagShift | NSEventModifierFlagControl |
                                              NSEventModifierFlagOption | NSEventModifierFlagCommand;
  if (event.type() == NSEventTypeKeyDown && (event.modifierFlags() & kModifiers) == 0) {
    const uint16_t key = event.keyCode();
    if ((key == kReturn || key == kKeypadEnter) && current().performKeyboardShortcut(KeyboardShortcut::defaultAction))
      return true;
    if (key == kEscape && (current().performKeyboardShortcut(KeyboardShortcut::cancelAction) ||
                           current().performExitCommand()))
      return true;
  }
  return NSView::performKeyEquivalent(event);
}

bool NSHostingView::acceptsFirstResponder() const { return const_cast<NSHostingView*>(this)->current().hasFields(); }

bool NSHostingView::resignFirstResponder() {
  graph_->clearFocus();
  return true;
}

namespace {
constexpr uint16_t kKeyReturn = 36, kKeyTab = 48, kKeyDelete = 51, kKeyEscape = 53, kKeyEnter = 76;
bool isNavigationKey(uint16_t key) {
  // Forward delete, Home, End, Page Up and Down, the arrows.
  return key == 117 || key == 115 || key == 119 || key == 116 || key == 121 || (key >= 123 && key <= 126);
}
}  // namespace

void NSHostingView::keyDown(const NSEvent& event) {
  auto& graph = current();
  const auto field = graph.focusedField();
  const NSEventModifierFlags modifiers =
      event.modifierFlags() & (NSEventModifierFlagShift | NSEventModifierFlagControl | NSEventModifierFlagOption |
                               NSEventModifierFlagCommand);
  if (!field || (modifiers & (NSEventModifierFlagCommand | NSEventModifierFlagControl)) || !field->isEnabled()) {
    NSView::keyDown(event);
    return;
  }
  const uint16_t key = event.keyCode();
  if (key == kKeyReturn || key == kKeyEnter) {
    if (field->kind() == "TextEditor") graph.insertText("\n");
    else NSView::keyDown(event);
    return;
  }
  if (key == kKeyEscape) {
    NSView::keyDown(event);
    return;
  }
  if (key == kKeyTab && (modifiers & ~NSEventModifierFlagShift) == 0) {
    graph.moveFocus(!(modifiers & NSEventModifierFlagShift));
    return;
  }
  if (key == kKeyDelete) {
    graph.deleteBackward();
    return;
  }
  if (isNavigationKey(key)) return;  // taken by the field; the caret stays at the end
  const std::string text = event.characters().value_or(std::string());
  if (!isTypedText(text) || !graph.insertText(text)) NSView::keyDown(event);
}

bool NSHostingView::canPerformEditAction(const std::string& selector) const {
  return const_cast<NSHostingView*>(this)->current().canPerformEditAction(selector);
}

bool NSHostingView::performEditAction(const std::string& selector) { return current().performEditAction(selector); }

namespace {
bool isEditAction(const std::string& selector) {
  return selector == "cut:" || selector == "copy:" || selector == "paste:" || selector == "selectAll:";
}
}  // namespace

bool NSHostingView::respondsToAction(const std::string& selector) const {
  if (isEditAction(selector) && const_cast<NSHostingView*>(this)->current().focusedField()) return true;
  return NSView::respondsToAction(selector);
}

bool NSHostingView::performAction(const std::string& selector, const void* sender) {
  if (isEditAction(selector) && current().focusedField()) {
    performEditAction(selector);
    return true;
  }
  return NSView::performAction(selector, sender);
}

bool NSHostingView::validateMenuItem(NSMenuItem& item) {
  if (isEditAction(item.action()) && current().focusedField()) return canPerformEditAction(item.action());
  return NSView::validateMenuItem(item);
}

void NSHostingView::deliverKey(uint16_t keyCode, const std::string& characters) {
  auto event = NSEvent::keyEventWithType(NSEventTypeKeyDown, 0, characters, characters, keyCode);
  if (!event) return;
  const auto keep = shared_from_this();
  if (auto owner = window()) owner->sendEvent(*event);
  else keyDown(*event);
}

void NSHostingView::typeText(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::string character = text.substr(i, length);
    i += length;
    if (character == "\n") deliverKey(kKeyReturn, "\r");
    else if (character == "\t") deliverKey(kKeyTab, "\t");
    else deliverKey(0, character);
  }
}

void NSHostingView::pressReturn() { deliverKey(kKeyReturn, "\r"); }
void NSHostingView::pressEscape() { deliverKey(kKeyEscape, "\x1b"); }

std::shared_ptr<Task> Task::run(std::function<void(Task&)> body) {
  std::shared_ptr<Task> task(new Task());
  DispatchQueue::main()->async([task, body = std::move(body)] { body(*task); });
  return task;
}

void Task::sleep(double seconds, std::function<void()> then) {
  if (cancelled_) return;
  auto self = shared_from_this();
  DispatchQueue::main()->asyncAfter(DispatchTime::now() + seconds, [self, then = std::move(then)] {
    if (!self->cancelled_) then();
  });
}

Publisher<int> timerPublisher(double interval, bool repeats) {
  return Publisher<int>([interval, repeats](std::function<void(const int&)> receive) {
    auto ticks = std::make_shared<int>(0);
    auto timer = NSTimer::make(interval, repeats, [receive, ticks](NSTimer&) { receive(++*ticks); });
    RunLoop::main().add(timer, RunLoopMode::common);
    return AnyCancellable([timer] { timer->invalidate(); });
  });
}

Publisher<NSNotification> notificationPublisher(NSNotificationCenter& center, NSNotificationName name,
                                                const void* object) {
  return Publisher<NSNotification>([&center, name, object](std::function<void(const NSNotification&)> receive) {
    auto token = center.addObserverForName(name, object, DispatchQueue::main(), std::move(receive));
    return AnyCancellable([token]() mutable { token.reset(); });
  });
}

}  // namespace platform::ui
