#pragma once

// The retained view tree. A ViewGraph evaluates a root View into Nodes,
// keyed by structural identity (the path of child positions, ForEach ids
// and conditional branches, plus each view's kind), and keeps per node what
// must outlive one evaluation: @State, the last values onChange compared,
// subscriptions and the hosted AppKit view. Main thread only.
//
// A render (setNeedsRender queues one on the main queue; render() runs it
// now) goes: evaluate the bodies, reuse nodes whose identity survived, lay
// out (evaluating again while a geometry reader's size changed, so a frame
// is committed with its final geometry), move hosted views into place, tell
// the frame observer, then run, in tree order, the onChange actions (never
// for a first value, in attachment order), the onDisappear actions of
// removed nodes, the onAppear actions of inserted ones. Actions that change
// state make the next frame. So one deterministic turn of a test is: drain
// the main queue (renders included), then advance the clock for timers and
// display links.
//
// Clicks and hovers find their view by hit testing (hitTest): open
// popovers first, then the tree front to back. What takes a hit: the
// drawing leaves (text, images, colours, shapes by their outline,
// dividers, controls, hosted views; a plain-style button only through its
// label); containers only through their children; a content shape
// replaces the region of the view it is applied to; allowsHitTesting(false)
// takes the view and its content out. A view is hovered while the view
// hit, or one of its own content, lies under the pointer.
//
// A modifier's content (background, overlay, popover) stands beside the
// view it modifies: it sees the environment of the view's parent plus what
// the modifiers applied after it write, never the view's own inner ones.
//
// The environment's Reduce Motion and Reduce Transparency come from the
// shared workspace, the one source the rest of the program reads too; a
// change of them re-renders every graph.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/appkit/view.hpp"
#include "platform/combine/published.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

class ViewGraph;

struct StateSlot {
  std::any value;
  std::weak_ptr<ViewGraph> graph;
  std::string owner;  // the identity of the view whose state it is
};

// Records a state change on its graph: queues a render, and inside
// withAnimation records the transaction.
void stateDidChange(const StateSlot& slot);

// A view's own state, kept by its node across renders; setting it queues a
// render.
template <class T>
class State {
 public:
  explicit State(std::shared_ptr<StateSlot> slot) : slot_(std::move(slot)) {}
  const T& get() const { return std::any_cast<const T&>(slot_->value); }
  void set(T value) const;
  Binding<T> binding() const {
    auto slot = slot_;
    return {[slot] { return std::any_cast<T>(slot->value); }, [self = *this](T v) { self.set(std::move(v)); }};
  }

 private:
  std::shared_ptr<StateSlot> slot_;
};

// A recorded animation: which node's modifier asked for it and with what,
// or, for a transaction, which view's state changed inside withAnimation.
// A scrollTo a ScrollViewReader's proxy asked for: the reader's identity,
// the id, the anchor, and whether a view of that id was in the tree.
struct ScrollRecord {
  std::string reader;
  std::string id;
  std::string anchor;
  bool found = false;
};

struct AnimationRecord {
  std::string identity;
  std::optional<Animation> animation;
  bool transaction = false;
};

// Runs the body as one transaction: every view state it sets is recorded
// on its graph with the animation (none: explicitly not animated). Views
// never interpolate; the record is what tests read. Main thread only.
void withAnimation(std::optional<Animation> animation, const std::function<void()>& body);

struct Node {
  std::string identity;
  View view;
  Node* parent = nullptr;
  std::vector<std::unique_ptr<Node>> children;
  std::map<size_t, std::unique_ptr<Node>> modifierChildren;  // by modifier index
  std::map<std::string, std::shared_ptr<StateSlot>> state;
  std::map<size_t, std::any> changeValues;  // last value per onChange/animation modifier
  std::vector<AnyCancellable> observations;
  std::map<size_t, std::shared_ptr<AnyCancellable>> receipts;
  std::map<size_t, std::shared_ptr<std::function<void(const std::any&)>>> receivers;
  Environment environment;  // as the content sees it
  // Hosted AppKit view.
  std::shared_ptr<NSView> hosted;
  std::any coordinator;
  // Controls.
  bool pressed = false;
  bool hovered = false;
  CGSize geometrySize{};
  // A timeline view's timer, ended with the node.
  AnyCancellable timeline;
  double timelineInterval = 0;  // of the running timer; 0: none
  // Layout: the content's frame in the graph's coordinates (top-left
  // origin, y down); modifiers that add room (padding, frame) make the
  // outer frame larger.
  CGRect frame{};
  CGRect outerFrame{};
  // The rect at each modifier level: [0] the content, [k] after the first
  // k modifiers.
  std::vector<CGRect> levelFrames;

  const std::string& kind() const { return view.kind(); }
  const Modifier* modifier(const std::string& name) const;
  std::vector<const Modifier*> modifiers(const std::string& name) const;
};

// What a composite's body is evaluated with.
class Context {
 public:
  Context(ViewGraph& graph, Node& node) : graph_(graph), node_(node) {}

  template <class T>
  State<T> state(const std::string& name, T initial);
  const Environment& environment() const { return node_.environment; }
  // Re-renders when the publisher emits after this evaluation (its current
  // value, delivered at subscription, is not a change).
  template <class T>
  void observe(const Publisher<T>& publisher);

 private:
  void observeChanges(std::function<AnyCancellable(std::function<void()>)> subscribe);
  ViewGraph& graph_;
  Node& node_;
};

// The effective accessibility of a node, as assistive technology reads it.
struct AccessibilityInfo {
  bool isElement = false;
  bool hidden = false;
  std::string label, value, help, hint, role;
  std::set<std::string> traits;
};

class ViewRef;

class ViewGraph : public std::enable_shared_from_this<ViewGraph> {
 public:
  static std::shared_ptr<ViewGraph> make(View root);
  ~ViewGraph();
  ViewGraph(const ViewGraph&) = delete;
  ViewGraph& operator=(const ViewGraph&) = delete;

  void setRoot(View root);
  // The size the root is laid out in.
  void setSize(CGSize size);
  CGSize size() const { return size_; }
  // The AppKit view hosted views are placed in (the hosting view).
  void setHost(const std::shared_ptr<NSView>& host);
  // The base environment; the accessibility options are read from the
  // workspace at each render.
  void setEnvironment(std::function<void(Environment&)> write);
  // The part of the size that bars cover; the root is laid out inside the
  // rest unless it ignores the safe area. A hosting view that is its
  // window's content view takes it from the window's content layout rect.
  void setSafeAreaInsets(EdgeInsets insets);
  EdgeInsets safeAreaInsets() const { return safeArea_; }
  // Called once per committed frame, after layout and before the frame's
  // actions run: what the screen shows first, before an appearing view's
  // state changes.
  void setFrameObserver(std::function<void(ViewGraph&)> observer) { frameObserver_ = std::move(observer); }

  void setNeedsRender();
  bool needsRender() const { return needsRender_; }
  // Renders now, and again while actions keep changing state (bounded).
  void render();
  int renderCount() const { return renderCount_; }
  // How often each composite body was evaluated, by type name.
  int bodyCount(const std::string& typeName) const;

  Node* root() const { return root_.get(); }
  Node* node(const std::string& identity) const;
  const std::vector<AnimationRecord>& animations() const { return animations_; }

  // Queries, in tree order.
  std::vector<ViewRef> findAll(const std::function<bool(const Node&)>& match) const;
  std::optional<ViewRef> findText(const std::string& text) const;
  std::optional<ViewRef> findLabel(const std::string& accessibilityLabel) const;
  std::optional<ViewRef> findKind(const std::string& kind, size_t index = 0) const;
  AccessibilityInfo accessibility(const Node& node) const;

  // The pointer moved to a point (graph coordinates) or left (none): hover
  // handlers of every view it entered or left (by hit testing) are called,
  // outermost first.
  void movePointer(std::optional<CGPoint> point);
  // The deepest view that takes a click at the point.
  std::optional<ViewRef> hitTest(CGPoint point) const;
  // A click at the point: taps what the hit view's tap reaches; false when
  // nothing there takes it.
  bool tap(CGPoint point);
  // Presses the first enabled button, in tree order, given the shortcut;
  // false when none is.
  bool performKeyboardShortcut(KeyboardShortcut shortcut);
  // Escape's last resort: the exit command at or above the focused field,
  // else the first in tree order; false when there is none.
  bool performExitCommand();
  const std::vector<ScrollRecord>& scrollRecords() const { return scrollRecords_; }

  // ---- focus and editing ----
  //
  // Text fields and editors take the focus: one at a time, the field whose
  // focus state names it (a field without one holds the graph's own). The
  // focused field takes typing while it is enabled: text goes in at its
  // end, or replaces the whole text after selectAll, which is the only
  // selection; Backspace takes the selection or the last character. When
  // the focus moves to a field the hosting view becomes its window's first
  // responder, and when the hosting view gives that role up the focus goes.
  std::optional<ViewRef> focusedField() const;
  // Focuses an enabled field; false for another view or a disabled field.
  bool focus(const std::string& identity);
  void clearFocus();
  // To the next (previous) field in tree order, wrapping.
  bool moveFocus(bool forward);
  bool insertText(const std::string& text);
  bool deleteBackward();
  bool hasSelection() const { return selectedAll_; }
  // "cut:", "copy:", "paste:" and "selectAll:" on the focused field,
  // through the general pasteboard. Cut and copy need a selection; cut
  // and paste an enabled field; paste text on the pasteboard; select all
  // some text. A cut the pasteboard refuses leaves the text as it was.
  bool canPerformEditAction(const std::string& selector) const;
  bool performEditAction(const std::string& selector);
  bool hasFields() const;

 private:
  friend class Context;
  friend class ViewRef;
  friend void stateDidChange(const StateSlot& slot);
  template <class T>
  friend class State;
  ViewGraph() = default;
  struct Pass;
  std::unique_ptr<Node> build(Pass& pass, const View& view, const std::string& identity,
                              const Environment& inherited, std::unique_ptr<Node> old, Node* parent);
  void buildChildren(Pass& pass, Node& node);
  void buildModifierChildren(Pass& pass, Node& node, const Environment& inherited,
                             std::map<size_t, std::unique_ptr<Node>> old);
  void collectRemoved(Pass& pass, std::unique_ptr<Node> node);
  void renderOnce();
  Environment baseEnvironment() const;
  // Whether a geometry reader's size changed (its content must be made again).
  bool layoutAndPlace();
  void attachHosted(Node& node);

  View rootView_;
  std::unique_ptr<Node> root_;
  CGSize size_{460, 591};
  EdgeInsets safeArea_;
  std::function<void(ViewGraph&)> frameObserver_;
  std::weak_ptr<NSView> host_;
  std::function<void(Environment&)> environmentWriter_;
  bool needsRender_ = false;
  bool renderQueued_ = false;
  bool rendering_ = false;
  int renderCount_ = 0;
  std::map<std::string, int> bodyCounts_;
  std::vector<AnimationRecord> animations_;
  std::vector<ScrollRecord> scrollRecords_;
  friend class ScrollViewProxy;
  NotificationToken optionsObserver_;
  Node* focusedNode() const;
  void replaceFocusedText(std::string text);
  // Makes the host first responder when a field took the focus.
  void followFocus();
  std::optional<std::string> focusedIdentity_;  // a field without a focus state
  std::optional<std::string> lastFocused_;
  bool selectedAll_ = false;
};

// A found view. It names the node by identity, so it stays valid across
// renders as long as the view is in the tree (actions on a removed view
// throw std::logic_error).
class ViewRef {
 public:
  ViewRef(std::weak_ptr<ViewGraph> graph, std::string identity)
      : graph_(std::move(graph)), identity_(std::move(identity)) {}
  const std::string& identity() const { return identity_; }
  Node& node() const;
  const std::string& kind() const { return node().kind(); }
  std::string text() const;
  AccessibilityInfo accessibility() const;
  const Modifier* modifier(const std::string& name) const { return node().modifier(name); }
  CGRect frame() const { return node().frame; }
  bool isEnabled() const { return node().environment.isEnabled; }

  // Taps the nearest button, link, toggle or tap handler at or above the
  // view; a disabled one ignores it (false).
  bool tap() const;
  // Holds and releases a button (its style sees isPressed).
  void press() const;
  void release() const;
  // Moves the pointer into the view's frame or out of the graph.
  void hover(bool inside) const;
  // Focuses the text field or editor at or below the view (graph::focus).
  bool focus() const;
  // Closes the popover attached at or above the view, as a click outside
  // does: writes false through its binding.
  bool dismissPopover() const;
  // The hosted AppKit view at or below.
  std::shared_ptr<NSView> hostedView() const;

 private:
  std::shared_ptr<ViewGraph> lockedGraph() const;
  std::weak_ptr<ViewGraph> graph_;
  std::string identity_;
};

// An AppKit view whose content is a view graph: the window's content view
// for the settings, onboarding and About windows. Hosted AppKit views are
// its subviews, so they enter and leave its window with it.
//
// The window's pointer events reach the graph: the view tracks the pointer
// (in its visible rect, while the application is active) and moves the
// graph's pointer with it, so hover handlers run; a press and release on
// the same view of the graph taps it. A point where the graph's hit is a
// hosted AppKit view hit-tests into that view, so it takes its own events;
// anywhere else in its frame the hosting view takes them.
//
// Keys: as a key equivalent without modifiers, Return presses the enabled
// default-action button of the graph and Escape the enabled cancel-action
// one; other equivalents go to the hosted AppKit views.
class NSHostingView : public NSView {
 public:
  static std::shared_ptr<NSHostingView> make(View root, CGRect frame);
  bool isFlipped() const override { return true; }
  // Draws the graph (drawing.hpp), the AppKit views it hosts among it, so
  // a picture of a window shows what the window hosts.
  void drawRect(NSRect dirtyRect) override;
  bool drawsOwnSubviews() const override { return true; }
  const std::shared_ptr<ViewGraph>& graph() const { return graph_; }
  void setRootView(View root) { graph_->setRoot(std::move(root)); }

  std::shared_ptr<NSView> hitTest(NSPoint point) override;
  void mouseEntered(const NSEvent& event) override;
  void mouseMoved(const NSEvent& event) override;
  void mouseExited(const NSEvent& event) override;
  void mouseDown(const NSEvent& event) override;
  void mouseUp(const NSEvent& event) override;
  bool performKeyEquivalent(const NSEvent& event) override;

  // The focused field's keys: text, Backspace, Return in an editor, Tab and
  // Shift-Tab between fields; everything else (Return in a field, Escape,
  // keys with Command or Control) goes up the chain. Without a focused
  // field every key does.
  bool acceptsFirstResponder() const override;
  bool resignFirstResponder() override;
  void keyDown(const NSEvent& event) override;
  // The edit operations of the focused field (ViewGraph).
  bool canPerformEditAction(const std::string& selector) const;
  bool performEditAction(const std::string& selector);
  // Through the responder chain, so the Edit menu's items reach the focused
  // field: a hosting view with one takes cut:, copy:, paste: and selectAll:
  // and enables each item while the field can do it.
  bool respondsToAction(const std::string& selector) const override;
  bool performAction(const std::string& selector, const void* sender) override;
  bool validateMenuItem(NSMenuItem& item) override;

  // Test actions, as the window hands keys on (through its key window
  // routing when it is in one, else straight to this view): the text one
  // key-down per character, Return, Escape.
  void typeText(const std::string& text);
  void pressReturn();
  void pressEscape();

 private:
  explicit NSHostingView(CGRect frame) : NSView(frame) {}
  // The graph laid out as it stands now, for a hit test.
  ViewGraph& current();
  void deliverKey(uint16_t keyCode, const std::string& characters);
  std::shared_ptr<ViewGraph> graph_;
  std::optional<std::string> pressed_;  // the identity of the view pressed
};

// A unit of work on the main actor. Sleeping schedules the continuation on
// the main queue after the given seconds of the continuous clock; a task
// cancelled before its sleep ends never continues.
class Task : public std::enable_shared_from_this<Task> {
 public:
  // Starts the body on the main queue in a later pass, as a new task does.
  static std::shared_ptr<Task> run(std::function<void(Task&)> body);
  void cancel() { cancelled_ = true; }
  bool isCancelled() const { return cancelled_; }
  void sleep(double seconds, std::function<void()> then);

 private:
  Task() = default;
  bool cancelled_ = false;
};

// An object views observe: objectWillChange is announced before a change
// is stored, so observers read the old value when called at once.
struct Unit {};
class ObservableObject {
 public:
  ObservableObject() : willChange_(std::make_shared<Published<int>>(0)) {}
  virtual ~ObservableObject() = default;
  Publisher<int> objectWillChange() const { return willChange_->publisher(); }

 protected:
  void sendObjectWillChange() { willChange_->set(willChange_->value() + 1); }
  template <class T>
  void publish(Published<T>& property, T value) {
    sendObjectWillChange();
    property.set(std::move(value));
  }

 private:
  std::shared_ptr<Published<int>> willChange_;
};

// A timer on the main run loop in every mode, made when subscribed and
// invalidated when the subscription ends, so nothing runs unwatched: it
// delivers its tick count (from 1) every `interval` seconds, or once when
// it does not repeat.
Publisher<int> timerPublisher(double interval, bool repeats);

// The notifications of a name (and poster, when given) as a publisher,
// delivered on the main queue.
Publisher<NSNotification> notificationPublisher(NSNotificationCenter& center, NSNotificationName name,
                                                const void* object = nullptr);

// ---- templates -----------------------------------------------------------

template <class T>
void State<T>::set(T value) const {
  slot_->value = std::move(value);
  stateDidChange(*slot_);
}

template <class T>
State<T> Context::state(const std::string& name, T initial) {
  auto& slot = node_.state[name];
  if (!slot) {
    slot = std::make_shared<StateSlot>();
    slot->value = std::move(initial);
    slot->graph = graph_.weak_from_this();
    slot->owner = node_.identity;
  }
  return State<T>(slot);
}

template <class T>
void Context::observe(const Publisher<T>& publisher) {
  observeChanges([publisher](std::function<void()> changed) {
    auto first = std::make_shared<bool>(true);
    return publisher.sink([first, changed](const T&) {
      if (*first) {
        *first = false;
        return;
      }
      changed();
    });
  });
}

}  // namespace platform::ui
