#pragma once

// Declarative views as the system's windows describe them: a View is a
// cheap immutable value (a kind, its content, children and an ordered list
// of modifiers with their parameters). Nothing here draws or keeps state:
// a ViewGraph (graph.hpp) evaluates views into a retained tree that holds
// @State, lifecycle and hosted AppKit views, lays it out and draws it.
//
// Modifiers are recorded in the order they are applied, innermost first,
// exactly as written: `Text("a").padding(4).frame(20, 20)` lays out the
// padded text inside a 20 × 20 frame. Queries read them back by name.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/combine/published.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {
class NSView;
class NSImage;
}

namespace platform::ui {

class Context;
class View;
class ViewGraph;

// ---- values --------------------------------------------------------------

struct Color {
  double red = 0, green = 0, blue = 0, opacity = 1;
  // The semantic name ("primary", "secondary", "label"...) for queries and
  // for styles the environment resolves; empty for a literal colour.
  std::string name;

  static Color sRGB(double r, double g, double b, double a = 1) { return {r, g, b, a, {}}; }
  static Color primary() { return {0, 0, 0, 0.85, "primary"}; }
  static Color secondary() { return {0, 0, 0, 0.5, "secondary"}; }
  static Color orange() { return {1.0, 0.584, 0.0, 1, "orange"}; }
  static Color systemGreen() { return {0.204, 0.780, 0.349, 1, "green"}; }
  static Color systemRed() { return {1.0, 0.231, 0.188, 1, "red"}; }
  // The system link colour.
  static Color link() { return {0.0, 0.408, 0.855, 1, "link"}; }
  static Color accent() { return {0.0, 0.478, 1.0, 1, "accent"}; }
  static Color white() { return {1, 1, 1, 1, "white"}; }
  static Color black() { return {0, 0, 0, 1, "black"}; }
  static Color clear() { return {0, 0, 0, 0, "clear"}; }
  static Color controlBackground() { return {1, 1, 1, 1, "controlBackground"}; }
  static Color windowBackground() { return {0.925, 0.925, 0.925, 1, "windowBackground"}; }
  static Color separator() { return {0, 0, 0, 0.1, "separator"}; }
  // Behind a switch that is off: at least 1.5 : 1 against the window and
  // card backgrounds of either appearance, so the switch shows whole.
  static Color offSwitchTrack() { return {0, 0, 0, 0.2, "offSwitchTrack"}; }
  Color withOpacity(double a) const {
    Color c = *this;
    c.opacity *= a;
    return c;
  }
  bool operator==(const Color&) const = default;
};

// The light or dark look the environment asks views for; the system's
// named colours (window and control backgrounds, labels) take values of
// our own in the dark one.
enum class ColorScheme { light, dark };
struct Color;
Color resolvedColor(const Color& color, ColorScheme scheme);

enum class FontWeight { regular, medium, semibold, bold };
enum class FontDesign { standard, monospaced, rounded };

struct Font {
  double size = 13;
  FontWeight weight = FontWeight::regular;
  FontDesign design = FontDesign::standard;
  bool monospacedDigit = false;
  // The system font a menu or the menu bar sets its items in ("menu",
  // "menuBar"); empty for the plain system font. Both are drawn as the
  // regular system font of their size.
  std::string role;

  static Font system(double size, FontWeight weight = FontWeight::regular,
                     FontDesign design = FontDesign::standard) {
    Font font;
    font.size = size;
    font.weight = weight;
    font.design = design;
    return font;
  }
  static Font menu(double size) { return withRole(size, "menu"); }
  static Font menuBar(double size) { return withRole(size, "menuBar"); }
  Font weighted(FontWeight w) const {
    Font font = *this;
    font.weight = w;
    return font;
  }
  bool operator==(const Font&) const = default;

 private:
  static Font withRole(double size, const char* name) {
    Font font = system(size);
    font.role = name;
    return font;
  }
};

enum class HorizontalAlignment { leading, center, trailing };
enum class VerticalAlignment { top, center, bottom, firstTextBaseline };
struct Alignment {
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;
  static Alignment center() { return {}; }
  static Alignment leading() { return {HorizontalAlignment::leading, VerticalAlignment::center}; }
  static Alignment topLeading() { return {HorizontalAlignment::leading, VerticalAlignment::top}; }
};

struct Edge {
  static constexpr unsigned top = 1, leading = 2, bottom = 4, trailing = 8;
  static constexpr unsigned horizontal = leading | trailing, vertical = top | bottom, all = 15;
};

struct EdgeInsets {
  double top = 0, leading = 0, bottom = 0, trailing = 0;
  bool operator==(const EdgeInsets&) const = default;
};

// The built-in button looks. `automatic` is the bordered push button;
// `plain` draws the label alone, and only the label takes clicks;
// `borderedProminent` fills the bezel with the tint (else the accent
// colour) and sets the label in white.
enum class ButtonStyleKind { automatic, plain, bordered, borderedProminent };
// A toggle is drawn as a switch unless it asks for a check box (the box,
// then its label).
enum class ToggleStyle { switchStyle, checkbox };
enum class ImageInterpolation { none, low, medium, high };
// The keys a button answers from anywhere in its window: Return for the
// default action, Escape for the cancel action.
enum class KeyboardShortcut { defaultAction, cancelAction };

enum class LineCap { butt, round, square };
enum class LineJoin { miter, round, bevel };
struct StrokeStyle {
  double lineWidth = 1;
  LineCap lineCap = LineCap::butt;
  LineJoin lineJoin = LineJoin::miter;
  double miterLimit = 10;
};

// A shape's outline in the rectangle it is given (x right, y down), for
// shapes of the program's own (PathShape).
struct Path {
  enum class Op { move, line, curve, close };
  struct Element {
    Op op;
    CGPoint point{};
    CGPoint control1{}, control2{};
  };
  std::vector<Element> elements;
  void move(CGPoint to) { elements.push_back({Op::move, to, {}, {}}); }
  void addLine(CGPoint to) { elements.push_back({Op::line, to, {}, {}}); }
  void addCurve(CGPoint to, CGPoint control1, CGPoint control2) {
    elements.push_back({Op::curve, to, control1, control2});
  }
  void closeSubpath() { elements.push_back({Op::close, {}, {}, {}}); }
};

// An animation as a transaction records it; views never interpolate.
struct Animation {
  std::string kind;  // "easeOut", "easeInOut", "linear", "spring"
  double duration = 0;
  double response = 0;
  double dampingFraction = 0;
  static Animation easeOut(double d) { return {"easeOut", d, 0, 0}; }
  static Animation easeInOut(double d) { return {"easeInOut", d, 0, 0}; }
  static Animation linear(double d) { return {"linear", d, 0, 0}; }
  static Animation spring(double response, double damping) { return {"spring", 0, response, damping}; }
  bool operator==(const Animation&) const = default;
};

// A two-way connection to a value someone else owns.
template <class T>
struct Binding {
  std::function<T()> get;
  std::function<void(T)> set;

  T operator()() const { return get(); }
  static Binding constant(T value) {
    return {[value] { return value; }, [](T) {}};
  }
};

// What views read from above: the accessibility options, the enabled state,
// the font and foreground style, the URL opener, and values of the
// program's own keys.
struct Environment {
  bool reduceMotion = false;
  bool reduceTransparency = false;
  bool isEnabled = true;
  // The hosting view's appearance, else the application's.
  ColorScheme colorScheme = ColorScheme::light;
  Font font;
  Color foreground = Color::primary();
  // Controls take the tint when one is set, else the accent colour.
  std::optional<Color> tint;
  Color accentColor = Color::accent();
  Color controlTint() const { return tint.value_or(accentColor); }
  // Text: extra room between lines, and a solid underline; at most this
  // many lines (the last ends in an ellipsis when cut), and extra room
  // between letters in points.
  double lineSpacing = 0;
  bool underline = false;
  std::optional<int> lineLimit;
  double tracking = 0;
  ButtonStyleKind buttonStyle = ButtonStyleKind::automatic;
  ToggleStyle toggleStyle = ToggleStyle::switchStyle;
  // Opens a link; answers whether it was handled. The graph's default opens
  // it with the shared workspace.
  std::function<bool(const std::string&)> openURL;
  std::map<std::string, std::any> values;
};

// The parameters a modifier was applied with, as queries read them.
using Param = std::variant<bool, double, std::string>;

enum class AccessibilityChildren { ignore, combine, contain };

// Type-erased onChange: compares the watched value with the previous one.
struct ChangeWatch {
  std::any value;
  std::function<bool(const std::any&, const std::any&)> equal;
  std::function<void(const std::any& oldValue, const std::any& newValue)> action;
};

// A field's place in a focus state: whether the state names it now, and
// naming it (true) or, while it does, naming none (false).
struct FocusBinding {
  std::function<bool()> isFocused;
  std::function<void(bool)> setFocused;
};

// Scrolls the scroll views inside a ScrollViewReader. Requests are recorded
// on the graph (scroll views here show their content from its top).
class ScrollViewProxy {
 public:
  ScrollViewProxy(std::weak_ptr<ViewGraph> graph, std::string reader)
      : graph_(std::move(graph)), reader_(std::move(reader)) {}
  // `anchor`: "top", "center", "bottom" or empty for the least move.
  void scrollTo(const std::string& id, const std::string& anchor = "") const;

 private:
  std::weak_ptr<ViewGraph> graph_;
  std::string reader_;
};

// A button style: builds the button's body from its label and pressed state.
struct ButtonStyleConfiguration;
using ButtonStyle = std::function<View(const ButtonStyleConfiguration&)>;

struct Modifier {
  std::string name;
  std::map<std::string, Param> params;
  // Behaviours, by modifier: at most one is set.
  std::function<void()> action;                // onAppear, onDisappear, onTapGesture
  std::function<void(bool)> hover;             // onHover
  std::shared_ptr<ChangeWatch> change;         // onChange, animation (watched value)
  std::function<void(Environment&)> environment;  // environment writers
  std::shared_ptr<View> content;               // background, overlay, popover
  std::shared_ptr<Binding<bool>> isPresented;  // popover
  std::shared_ptr<ButtonStyle> buttonStyle;    // buttonStyle
  std::optional<Animation> animation;          // animation (none: explicitly no animation)
  std::function<AnyCancellable(std::function<void(const std::any&)>)> subscribe;  // onReceive
  std::function<void(const std::any&)> receive;                                   // onReceive
  std::shared_ptr<FocusBinding> focus;         // focused

  double number(const std::string& key, double fallback = 0) const;
  bool flag(const std::string& key, bool fallback = false) const;
  std::string string(const std::string& key) const;
};

// The hosting bridge to an AppKit view: made once per identity, updated on
// every render of its parent, dismantled when it leaves the tree.
class NSViewRepresentable {
 public:
  struct Context {
    std::any& coordinator;
    const Environment& environment;
  };
  virtual ~NSViewRepresentable() = default;
  virtual std::any makeCoordinator() const { return {}; }
  virtual std::shared_ptr<NSView> makeNSView(Context& context) const = 0;
  virtual void updateNSView(NSView& view, Context& context) const = 0;
  virtual void dismantleNSView(NSView& view, std::any& coordinator) const {
    (void)view;
    (void)coordinator;
  }
  // The size the view takes for a proposal (nullopt: unspecified).
  virtual CGSize sizeThatFits(std::optional<double> width, std::optional<double> height,
                              const NSView& view) const;
};

enum class ShapeKind { rectangle, roundedRectangle, circle, capsule, path };
enum class Axis { vertical, horizontal };

// The immutable description behind a View.
struct ViewDesc {
  std::string kind;      // "VStack", "Text", "Button"...; composites: their type name
  bool composite = false;
  std::string text;      // Text, Label title, Button title, Link title, Image name
  std::string systemImage;
  std::vector<View> children;
  std::vector<std::string> childIDs;  // ForEach: explicit identities
  std::vector<Modifier> modifiers;
  HorizontalAlignment horizontal = HorizontalAlignment::center;
  VerticalAlignment vertical = VerticalAlignment::center;
  std::optional<double> spacing;
  double minLength = 8;  // Spacer
  Axis axis = Axis::vertical;  // ScrollView, Divider
  ShapeKind shape = ShapeKind::rectangle;
  double cornerRadius = 0;
  Color color;
  std::optional<double> progress;
  std::string url;
  std::function<void()> action;              // Button
  std::shared_ptr<Binding<bool>> isOn;       // Toggle
  std::function<View(Context&)> body;        // composites
  std::function<View(CGSize)> geometry;      // GeometryReader
  std::function<Path(CGRect)> path;          // PathShape
  std::shared_ptr<NSImage> image;            // Image of an NSImage
  std::shared_ptr<const NSViewRepresentable> representable;
  // EquatableView: the compared value; an equal value skips the body.
  std::any equatable;
  std::function<bool(const std::any&, const std::any&)> equal;
  bool conditionTrue = false;  // Conditional: which branch is present
  // TextField, TextEditor: the edited text (`text` holds a field's title).
  std::shared_ptr<Binding<std::string>> editedText;
  std::string prompt;
  std::function<View(ScrollViewProxy)> reader;  // ScrollViewReader
  std::function<View(double)> timeline;         // TimelineView: content at an uptime
  double interval = 0;                          // TimelineView: seconds between updates
  bool onWallClock = false;                     // TimelineView: updates on the wall clock's multiples
};

class View {
 public:
  View();  // an empty view
  explicit View(std::shared_ptr<const ViewDesc> desc) : desc_(std::move(desc)) {}

  const ViewDesc& desc() const { return *desc_; }
  const std::string& kind() const { return desc_->kind; }

  // A copy with one more modifier.
  View modified(Modifier modifier) const;

  // Layout
  View padding(double length = 16) const { return padding(Edge::all, length); }
  View padding(unsigned edges, double length) const;
  View frame(std::optional<double> width, std::optional<double> height,
             Alignment alignment = Alignment::center()) const;
  // Flexible frame; infinity for maxWidth fills the proposal.
  View frame(std::optional<double> minWidth, std::optional<double> maxWidth,
             std::optional<double> minHeight, std::optional<double> maxHeight,
             Alignment alignment) const;
  View fixedSize() const { return fixedSize(true, true); }
  // Per axis: a fixed axis is laid out at its ideal length whatever is
  // proposed (text keeps every line), the other follows the proposal.
  View fixedSize(bool horizontal, bool vertical) const;
  View offset(double x, double y) const;
  View background(View content) const;
  View overlay(View content) const;

  // Style
  View font(Font font) const;
  View monospacedDigit() const;
  View foregroundStyle(Color color) const;
  View fill(Color color) const;
  View stroke(Color color, double lineWidth = 1) const;
  View stroke(Color color, StrokeStyle style) const;
  // A stroke that stays inside the shape's frame.
  View strokeBorder(Color color, double lineWidth = 1) const;
  // Shapes: the outline from `from` to `to` of its length (0 ... 1).
  View trim(double from, double to) const;
  // Shapes: the outline is made in the frame inset by `amount` on every
  // side; the layout is unchanged.
  View inset(double amount) const;
  View opacity(double value) const;
  View scaleEffect(double scale) const;
  // Drawn as a Gaussian of the radius as standard deviation; a blur that
  // is not opaque fades at the content's edges.
  View blur(double radius, bool opaque = false) const;
  // The content's silhouette in the colour, blurred by the radius (half of
  // it as standard deviation) and moved by (x, y), drawn beneath it.
  View shadow(Color color, double radius, double x = 0, double y = 0) const;
  // Draws the content only inside the shape in the view's frame.
  View clipShape(ShapeKind kind, double cornerRadius = 0) const;
  // How the view comes and goes: recorded for queries ("opacity", "move"...).
  View transition(std::string kind) const;
  // A glass surface behind the content in the shape; no compositor here, so
  // it is drawn as the window background, translucent.
  View glassEffect(ShapeKind kind = ShapeKind::capsule, double cornerRadius = 0) const;
  // The shape that takes clicks and hovers, in the view's frame: outside
  // it the view and its content take none, inside it all of it does.
  View contentShape(ShapeKind kind = ShapeKind::rectangle, double cornerRadius = 0) const;
  // False: neither the view nor its content takes clicks or hovers; what
  // lies beneath does.
  View allowsHitTesting(bool enabled) const;
  // The view's frame reaches past the safe area to the graph's edges on
  // the given edges where it lies on the safe area's edge.
  View ignoresSafeArea(unsigned edges = Edge::all) const;
  View tint(Color color) const;
  View accentColor(Color color) const;
  View lineSpacing(double spacing) const;
  // None: as many lines as the text needs.
  View lineLimit(std::optional<int> lines) const;
  View tracking(double points) const;
  View underline(bool active = true) const;
  View buttonStyle(ButtonStyleKind kind) const;
  View toggleStyle(ToggleStyle style) const;
  // Images of an NSImage: fill the proposal instead of keeping the
  // image's size; the resampling quality.
  View resizable() const;
  View interpolation(ImageInterpolation quality) const;
  // The largest size of the content's own aspect ratio that fits the
  // proposal.
  View scaledToFit() const;
  View labelsHidden() const;
  View controlSize(const std::string& size) const;
  View textSelection(bool enabled) const;
  View contentTransition(const std::string& kind) const;
  View buttonStyle(ButtonStyle style) const;
  View disabled(bool flag) const;
  // On a button (or a view holding one): while it is enabled, its hosting
  // view answers the shortcut's key by pressing it.
  View keyboardShortcut(KeyboardShortcut shortcut) const;
  // Ties a text field or editor to a focus state: the field has the focus
  // while the state holds `value`; focusing it writes `value`, and the field
  // losing the focus writes none.
  template <class T>
  View focused(Binding<std::optional<T>> state, T value) const;
  // Escape where no enabled cancel-action button takes it: the nearest
  // exit command at or above the focused field, else the first in the tree.
  View onExitCommand(std::function<void()> action) const;
  // The identity scrollTo finds.
  View id(std::string identifier) const;
  // Text editors: whether their own white scroll background is drawn.
  View scrollContentBackground(bool visible) const;
  // Text fields: a white box with a thin border.
  View roundedBorderTextFieldStyle() const;
  View environment(std::string key, std::function<void(Environment&)> write) const;

  // Accessibility
  View accessibilityLabel(std::string label) const;
  View accessibilityValue(std::string value) const;
  View help(std::string text) const;
  View accessibilityHint(std::string hint) const;
  View accessibilityRole(std::string role) const;
  View accessibilityAddTraits(std::string trait) const;  // "isSelected", "isHeader"
  View accessibilityElement(AccessibilityChildren children) const;
  View accessibilityHidden(bool hidden) const;

  // Behaviour
  View onAppear(std::function<void()> action) const;
  View onDisappear(std::function<void()> action) const;
  View onTapGesture(std::function<void()> action) const;
  View onHover(std::function<void(bool)> action) const;
  template <class T>
  View onChange(const T& value, std::function<void(const T&, const T&)> action) const;
  // Records `animation` (none: no animation) for changes of the value.
  template <class T>
  View animation(std::optional<Animation> animation, const T& value) const;
  template <class T>
  View onReceive(const Publisher<T>& publisher, std::function<void(const T&)> action) const;
  // Options are recorded with the modifier's parameters (arrow edges,
  // detachability...).
  View popover(Binding<bool> isPresented, View content, std::map<std::string, Param> options = {}) const;

 private:
  std::shared_ptr<const ViewDesc> desc_;
};

// ---- builders ------------------------------------------------------------

View Text(std::string text);
View Image(std::string name);
View ImageSystem(std::string systemName);
// An image of its own size in points, unless resizable; a template image
// is drawn in the foreground style through its alpha; announced by its
// accessibility description.
View Image(std::shared_ptr<NSImage> image);
View Label(std::string title, std::string systemImage);
View Spacer(double minLength = 8);
View ColorView(Color color);
View ProgressView(std::optional<double> value = std::nullopt);
View Divider();
View Shape(ShapeKind kind, double cornerRadius = 0);
// A shape of the program's own: the outline made for the rectangle it is
// given. The type name is its kind.
View PathShape(std::string typeName, std::function<Path(CGRect)> path);
View VStack(HorizontalAlignment alignment, std::optional<double> spacing, std::vector<View> children);
View HStack(VerticalAlignment alignment, std::optional<double> spacing, std::vector<View> children);
View ZStack(std::vector<View> children, Alignment alignment = Alignment::center());
View Group(std::vector<View> children);
View ScrollView(View content, Axis axis = Axis::vertical);
View GeometryReader(std::function<View(CGSize)> content);
View ForEach(std::vector<std::string> ids, std::function<View(const std::string&)> content);
// Conditional content: the branch that is present has its own identity, so
// switching branches makes fresh state.
View If(bool condition, View then, View otherwise = View());
View Button(std::string title, std::function<void()> action);
View Button(View label, std::function<void()> action);
View Toggle(std::string title, Binding<bool> isOn);
View Link(std::string title, std::string url);
// A one-line text field: the prompt shows, in the secondary colour, while
// the text is empty. Typing goes to the focused field (graph.hpp).
View TextField(std::string title, Binding<std::string> text, std::string prompt = {});
// A text of many lines; Return inserts a line break.
View TextEditor(Binding<std::string> text);
View ScrollViewReader(std::function<View(ScrollViewProxy)> content);
// Content made again every `interval` seconds of the virtual clock, given
// the uptime, by a main run-loop timer that runs only while the view is in
// the tree. An interval that is not finite and above 0 never updates.
// On the wall clock, the updates fall on its whole multiples of the
// interval instead (every minute at :00 for 60).
View TimelineView(double interval, std::function<View(double uptime)> content, bool onWallClock = false);
// A view of the program's own type: the body is evaluated with a Context
// that gives it state, environment and observation. The type name is part
// of its identity and what kind queries find.
View Composite(std::string typeName, std::function<View(Context&)> body);
// Skips the content's body while the value stays equal.
template <class T>
View Equatable(const T& value, View content);
View Representable(std::string typeName, std::shared_ptr<const NSViewRepresentable> representable);

struct ButtonStyleConfiguration {
  View label;
  bool isPressed = false;
};

// ---- templates -----------------------------------------------------------

template <class T>
View View::onChange(const T& value, std::function<void(const T&, const T&)> action) const {
  Modifier m;
  m.name = "onChange";
  auto watch = std::make_shared<ChangeWatch>();
  watch->value = value;
  watch->equal = [](const std::any& a, const std::any& b) {
    return std::any_cast<const T&>(a) == std::any_cast<const T&>(b);
  };
  watch->action = [action](const std::any& a, const std::any& b) {
    action(std::any_cast<const T&>(a), std::any_cast<const T&>(b));
  };
  m.change = watch;
  return modified(std::move(m));
}

template <class T>
View View::focused(Binding<std::optional<T>> state, T value) const {
  Modifier m;
  m.name = "focused";
  auto focus = std::make_shared<FocusBinding>();
  focus->isFocused = [state, value] {
    const std::optional<T> now = state.get();
    return now.has_value() && *now == value;
  };
  focus->setFocused = [state, value](bool on) {
    if (on) {
      state.set(value);
    } else {
      const std::optional<T> now = state.get();
      if (now.has_value() && *now == value) state.set(std::nullopt);
    }
  };
  m.focus = std::move(focus);
  return modified(std::move(m));
}

template <class T>
View View::animation(std::optional<Animation> animation, const T& value) const {
  Modifier m;
  m.name = "animation";
  m.animation = animation;
  m.params["kind"] = animation ? animation->kind : std::string("none");
  m.params["duration"] = animation ? animation->duration : 0.0;
  auto watch = std::make_shared<ChangeWatch>();
  watch->value = value;
  watch->equal = [](const std::any& a, const std::any& b) {
    return std::any_cast<const T&>(a) == std::any_cast<const T&>(b);
  };
  m.change = watch;
  return modified(std::move(m));
}

template <class T>
View View::onReceive(const Publisher<T>& publisher, std::function<void(const T&)> action) const {
  Modifier m;
  m.name = "onReceive";
  m.subscribe = [publisher](std::function<void(const std::any&)> deliver) {
    return publisher.sink([deliver](const T& value) { deliver(std::any(value)); });
  };
  m.receive = [action](const std::any& value) { action(std::any_cast<const T&>(value)); };
  return modified(std::move(m));
}

template <class T>
View Equatable(const T& value, View content) {
  auto desc = std::make_shared<ViewDesc>();
  desc->kind = "EquatableView";
  desc->children = {std::move(content)};
  desc->equatable = value;
  desc->equal = [](const std::any& a, const std::any& b) {
    return std::any_cast<const T&>(a) == std::any_cast<const T&>(b);
  };
  return View(std::move(desc));
}

}  // namespace platform::ui
