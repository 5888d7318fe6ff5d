#include "platform/ui/view.hpp"

#include <limits>

#include "platform/appkit/view.hpp"

namespace platform::ui {

Color resolvedColor(const Color& color, ColorScheme scheme) {
  if (scheme == ColorScheme::light || color.name.empty()) return color;
  auto white = [&](double level, double opacity) { return Color{level, level, level, opacity, color.name}; };
  // Dark values of our own, keeping any opacity applied on top.
  const double applied = color.opacity;
  if (color.name == "windowBackground") return white(0.196, applied);
  if (color.name == "controlBackground") return white(0.118, applied);
  if (color.name == "primary" || color.name == "label" || color.name == "separator") return white(1, applied);
  if (color.name == "secondary") return white(1, applied * 0.55 / 0.5);
  if (color.name == "offSwitchTrack") return white(1, applied);
  return color;
}

namespace {

std::shared_ptr<ViewDesc> make(std::string kind) {
  auto desc = std::make_shared<ViewDesc>();
  desc->kind = std::move(kind);
  return desc;
}

Modifier named(std::string name) {
  Modifier m;
  m.name = std::move(name);
  return m;
}

Modifier environmentWriter(std::string name, std::function<void(Environment&)> write) {
  Modifier m = named(std::move(name));
  m.environment = std::move(write);
  return m;
}

}  // namespace

double Modifier::number(const std::string& key, double fallback) const {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  if (auto d = std::get_if<double>(&it->second)) return *d;
  return fallback;
}

bool Modifier::flag(const std::string& key, bool fallback) const {
  auto it = params.find(key);
  if (it == params.end()) return fallback;
  if (auto b = std::get_if<bool>(&it->second)) return *b;
  return fallback;
}

std::string Modifier::string(const std::string& key) const {
  auto it = params.find(key);
  if (it == params.end()) return {};
  if (auto s = std::get_if<std::string>(&it->second)) return *s;
  return {};
}

CGSize NSViewRepresentable::sizeThatFits(std::optional<double> width, std::optional<double> height,
                                         const NSView& view) const {
  const CGSize own = view.frame().size;
  return {width.value_or(own.width), height.value_or(own.height)};
}

View::View() : desc_(make("EmptyView")) {}

View View::modified(Modifier modifier) const {
  auto copy = std::make_shared<ViewDesc>(*desc_);
  copy->modifiers.push_back(std::move(modifier));
  return View(std::move(copy));
}

View View::padding(unsigned edges, double length) const {
  Modifier m = named("padding");
  m.params["top"] = (edges & Edge::top) ? length : 0.0;
  m.params["leading"] = (edges & Edge::leading) ? length : 0.0;
  m.params["bottom"] = (edges & Edge::bottom) ? length : 0.0;
  m.params["trailing"] = (edges & Edge::trailing) ? length : 0.0;
  return modified(std::move(m));
}

namespace {
void putAlignment(Modifier& m, Alignment a) {
  m.params["horizontal"] = double(int(a.horizontal));
  m.params["vertical"] = double(int(a.vertical));
}
}  // namespace

View View::frame(std::optional<double> width, std::optional<double> height, Alignment alignment) const {
  Modifier m = named("frame");
  if (width) m.params["width"] = *width;
  if (height) m.params["height"] = *height;
  putAlignment(m, alignment);
  return modified(std::move(m));
}

View View::frame(std::optional<double> minWidth, std::optional<double> maxWidth,
                 std::optional<double> minHeight, std::optional<double> maxHeight,
                 Alignment alignment) const {
  Modifier m = named("frame");
  if (minWidth) m.params["minWidth"] = *minWidth;
  if (maxWidth) m.params["maxWidth"] = *maxWidth;
  if (minHeight) m.params["minHeight"] = *minHeight;
  if (maxHeight) m.params["maxHeight"] = *maxHeight;
  putAlignment(m, alignment);
  return modified(std::move(m));
}

View View::fixedSize(bool horizontal, bool vertical) const {
  Modifier m = named("fixedSize");
  m.params["horizontal"] = horizontal;
  m.params["vertical"] = vertical;
  return modified(std::move(m));
}

View View::offset(double x, double y) const {
  Modifier m = named("offset");
  m.params["x"] = x;
  m.params["y"] = y;
  return modified(std::move(m));
}

View View::background(View content) const {
  Modifier m = named("background");
  m.content = std::make_shared<View>(std::move(content));
  return modified(std::move(m));
}

View View::overlay(View content) const {
  Modifier m = named("overlay");
  m.content = std::make_shared<View>(std::move(content));
  return modified(std::move(m));
}

View View::font(Font font) const {
  Modifier m = environmentWriter("font", [font](Environment& e) { e.font = font; });
  m.params["size"] = font.size;
  m.params["weight"] = double(int(font.weight));
  m.params["design"] = double(int(font.design));
  return modified(std::move(m));
}

View View::monospacedDigit() const {
  return modified(environmentWriter("monospacedDigit", [](Environment& e) { e.font.monospacedDigit = true; }));
}

View View::foregroundStyle(Color color) const {
  Modifier m = environmentWriter("foregroundStyle", [color](Environment& e) { e.foreground = color; });
  m.params["color"] = color.name;
  return modified(std::move(m));
}

namespace {
Modifier colored(std::string name, Color color) {
  Modifier m = named(std::move(name));
  m.params["color"] = color.name;
  m.params["red"] = color.red;
  m.params["green"] = color.green;
  m.params["blue"] = color.blue;
  m.params["opacity"] = color.opacity;
  return m;
}
}  // namespace

View View::fill(Color color) const { return modified(colored("fill", color)); }

View View::stroke(Color color, double lineWidth) const {
  Modifier m = colored("stroke", color);
  m.params["lineWidth"] = lineWidth;
  return modified(std::move(m));
}

namespace {
const char* capName(LineCap c) { return c == LineCap::round ? "round" : c == LineCap::square ? "square" : "butt"; }
const char* joinName(LineJoin j) { return j == LineJoin::round ? "round" : j == LineJoin::bevel ? "bevel" : "miter"; }
}  // namespace

View View::stroke(Color color, StrokeStyle style) const {
  Modifier m = colored("stroke", color);
  m.params["lineWidth"] = style.lineWidth;
  m.params["lineCap"] = std::string(capName(style.lineCap));
  m.params["lineJoin"] = std::string(joinName(style.lineJoin));
  m.params["miterLimit"] = style.miterLimit;
  return modified(std::move(m));
}

View View::strokeBorder(Color color, double lineWidth) const {
  Modifier m = colored("strokeBorder", color);
  m.params["lineWidth"] = lineWidth;
  return modified(std::move(m));
}

View View::inset(double amount) const {
  Modifier m = named("inset");
  m.params["amount"] = amount;
  return modified(std::move(m));
}

View View::trim(double from, double to) const {
  Modifier m = named("trim");
  m.params["from"] = from;
  m.params["to"] = to;
  return modified(std::move(m));
}

View View::opacity(double value) const {
  Modifier m = named("opacity");
  m.params["value"] = value;
  return modified(std::move(m));
}

View View::scaleEffect(double scale) const {
  Modifier m = named("scaleEffect");
  m.params["value"] = scale;
  return modified(std::move(m));
}

View View::blur(double radius, bool opaque) const {
  Modifier m = named("blur");
  m.params["radius"] = radius;
  m.params["opaque"] = opaque;
  return modified(std::move(m));
}

View View::shadow(Color color, double radius, double x, double y) const {
  Modifier m = colored("shadow", color);
  m.params["radius"] = radius;
  m.params["x"] = x;
  m.params["y"] = y;
  return modified(std::move(m));
}

namespace {
const char* shapeName(ShapeKind kind) {
  static const char* names[] = {"rectangle", "roundedRectangle", "circle", "capsule", "path"};
  return names[static_cast<int>(kind)];
}
}  // namespace

View View::clipShape(ShapeKind kind, double cornerRadius) const {
  Modifier m = named("clipShape");
  m.params["shape"] = std::string(shapeName(kind));
  m.params["cornerRadius"] = cornerRadius;
  return modified(std::move(m));
}

View View::transition(std::string kind) const {
  Modifier m = named("transition");
  m.params["kind"] = std::move(kind);
  return modified(std::move(m));
}

View View::glassEffect(ShapeKind kind, double cornerRadius) const {
  Modifier m = named("glassEffect");
  m.params["shape"] = std::string(shapeName(kind));
  m.params["cornerRadius"] = cornerRadius;
  return modified(std::move(m));
}

View View::lineLimit(std::optional<int> lines) const {
  Modifier m = environmentWriter("lineLimit", [lines](Environment& e) { e.lineLimit = lines; });
  if (lines) m.params["lines"] = double(*lines);
  return modified(std::move(m));
}

View View::tracking(double points) const {
  Modifier m = environmentWriter("tracking", [points](Environment& e) { e.tracking = points; });
  m.params["points"] = points;
  return modified(std::move(m));
}

View View::contentShape(ShapeKind kind, double cornerRadius) const {
  static const char* names[] = {"rectangle", "roundedRectangle", "circle", "capsule", "path"};
  Modifier m = named("contentShape");
  m.params["shape"] = std::string(names[int(kind)]);
  m.params["cornerRadius"] = cornerRadius;
  return modified(std::move(m));
}

View View::allowsHitTesting(bool enabled) const {
  Modifier m = named("allowsHitTesting");
  m.params["enabled"] = enabled;
  return modified(std::move(m));
}

View View::ignoresSafeArea(unsigned edges) const {
  Modifier m = named("ignoresSafeArea");
  m.params["edges"] = double(edges);
  return modified(std::move(m));
}

View View::tint(Color color) const {
  Modifier m = colored("tint", color);
  m.environment = [color](Environment& e) { e.tint = color; };
  return modified(std::move(m));
}

View View::accentColor(Color color) const {
  Modifier m = colored("accentColor", color);
  m.environment = [color](Environment& e) { e.accentColor = color; };
  return modified(std::move(m));
}

View View::lineSpacing(double spacing) const {
  Modifier m = environmentWriter("lineSpacing", [spacing](Environment& e) { e.lineSpacing = spacing; });
  m.params["value"] = spacing;
  return modified(std::move(m));
}

View View::underline(bool active) const {
  Modifier m = environmentWriter("underline", [active](Environment& e) { e.underline = active; });
  m.params["active"] = active;
  m.params["pattern"] = std::string("solid");
  return modified(std::move(m));
}

View View::buttonStyle(ButtonStyleKind kind) const {
  static const char* names[] = {"automatic", "plain", "bordered", "borderedProminent"};
  // The nearer style wins, built-in or the program's own.
  Modifier m = environmentWriter("buttonStyle", [kind](Environment& e) {
    e.values.erase("buttonStyle");
    e.buttonStyle = kind;
  });
  m.params["kind"] = std::string(names[int(kind)]);
  return modified(std::move(m));
}

View View::toggleStyle(ToggleStyle style) const {
  Modifier m = environmentWriter("toggleStyle", [style](Environment& e) { e.toggleStyle = style; });
  m.params["style"] = std::string(style == ToggleStyle::checkbox ? "checkbox" : "switch");
  return modified(std::move(m));
}

View View::resizable() const { return modified(named("resizable")); }

View View::interpolation(ImageInterpolation quality) const {
  static const char* names[] = {"none", "low", "medium", "high"};
  Modifier m = named("interpolation");
  m.params["quality"] = std::string(names[int(quality)]);
  return modified(std::move(m));
}

View View::scaledToFit() const { return modified(named("scaledToFit")); }

View View::labelsHidden() const {
  Modifier m = environmentWriter("labelsHidden", [](Environment& e) { e.values["labelsHidden"] = true; });
  return modified(std::move(m));
}

View View::controlSize(const std::string& size) const {
  Modifier m = environmentWriter("controlSize", [size](Environment& e) { e.values["controlSize"] = size; });
  m.params["size"] = size;
  return modified(std::move(m));
}

View View::textSelection(bool enabled) const {
  Modifier m = named("textSelection");
  m.params["enabled"] = enabled;
  return modified(std::move(m));
}

View View::contentTransition(const std::string& kind) const {
  Modifier m = named("contentTransition");
  m.params["kind"] = kind;
  return modified(std::move(m));
}

View View::buttonStyle(ButtonStyle style) const {
  // Inherited, so a style set on a container reaches every button inside.
  auto shared = std::make_shared<ButtonStyle>(std::move(style));
  Modifier m = environmentWriter("buttonStyle", [shared](Environment& e) {
    e.values["buttonStyle"] = shared;
    e.buttonStyle = ButtonStyleKind::automatic;
  });
  m.buttonStyle = shared;
  return modified(std::move(m));
}

View View::disabled(bool flag) const {
  Modifier m = environmentWriter("disabled", [flag](Environment& e) { e.isEnabled = e.isEnabled && !flag; });
  m.params["value"] = flag;
  return modified(std::move(m));
}

View View::keyboardShortcut(KeyboardShortcut shortcut) const {
  Modifier m = named("keyboardShortcut");
  m.params["kind"] = std::string(shortcut == KeyboardShortcut::defaultAction ? "defaultAction" : "cancelAction");
  return modified(std::move(m));
}

View View::onExitCommand(std::function<void()> action) const {
  Modifier m = named("onExitCommand");
  m.action = std::move(action);
  return modified(std::move(m));
}

View View::id(std::string identifier) const {
  Modifier m = named("id");
  m.params["value"] = std::move(identifier);
  return modified(std::move(m));
}

View View::scrollContentBackground(bool visible) const {
  Modifier m = environmentWriter("scrollContentBackground",
                                 [visible](Environment& e) { e.values["scrollContentBackground"] = visible; });
  m.params["visible"] = visible;
  return modified(std::move(m));
}

View View::roundedBorderTextFieldStyle() const {
  Modifier m = environmentWriter("textFieldStyle", [](Environment& e) { e.values["textFieldStyle"] = std::string("roundedBorder"); });
  m.params["style"] = std::string("roundedBorder");
  return modified(std::move(m));
}

View View::environment(std::string key, std::function<void(Environment&)> write) const {
  Modifier m = environmentWriter("environment", std::move(write));
  m.params["key"] = std::move(key);
  return modified(std::move(m));
}

namespace {
Modifier textParam(std::string name, std::string value) {
  Modifier m = named(std::move(name));
  m.params["value"] = std::move(value);
  return m;
}
}  // namespace

View View::accessibilityLabel(std::string label) const { return modified(textParam("accessibilityLabel", std::move(label))); }
View View::accessibilityValue(std::string value) const { return modified(textParam("accessibilityValue", std::move(value))); }
View View::help(std::string text) const { return modified(textParam("help", std::move(text))); }
View View::accessibilityHint(std::string hint) const {
  return modified(textParam("accessibilityHint", std::move(hint)));
}
View View::accessibilityRole(std::string role) const { return modified(textParam("accessibilityRole", std::move(role))); }
View View::accessibilityAddTraits(std::string trait) const {
  return modified(textParam("accessibilityAddTraits", std::move(trait)));
}

View View::accessibilityElement(AccessibilityChildren children) const {
  static const char* names[] = {"ignore", "combine", "contain"};
  return modified(textParam("accessibilityElement", names[int(children)]));
}

View View::accessibilityHidden(bool hidden) const {
  Modifier m = named("accessibilityHidden");
  m.params["value"] = hidden;
  return modified(std::move(m));
}

namespace {
Modifier withAction(std::string name, std::function<void()> action) {
  Modifier m = named(std::move(name));
  m.action = std::move(action);
  return m;
}
}  // namespace

View View::onAppear(std::function<void()> action) const { return modified(withAction("onAppear", std::move(action))); }
View View::onDisappear(std::function<void()> action) const {
  return modified(withAction("onDisappear", std::move(action)));
}
View View::onTapGesture(std::function<void()> action) const {
  return modified(withAction("onTapGesture", std::move(action)));
}

View View::onHover(std::function<void(bool)> action) const {
  Modifier m = named("onHover");
  m.hover = std::move(action);
  return modified(std::move(m));
}

View View::popover(Binding<bool> isPresented, View content, std::map<std::string, Param> options) const {
  Modifier m = named("popover");
  m.params = std::move(options);
  m.params["presented"] = isPresented.get();
  m.isPresented = std::make_shared<Binding<bool>>(std::move(isPresented));
  m.content = std::make_shared<View>(std::move(content));
  return modified(std::move(m));
}

// ---- builders ------------------------------------------------------------

View Text(std::string text) {
  auto d = make("Text");
  d->text = std::move(text);
  return View(std::move(d));
}

View Image(std::string name) {
  auto d = make("Image");
  d->text = std::move(name);
  return View(std::move(d));
}

View ImageSystem(std::string systemName) {
  auto d = make("Image");
  d->systemImage = std::move(systemName);
  return View(std::move(d));
}

View Image(std::shared_ptr<NSImage> image) {
  auto d = make("Image");
  d->image = std::move(image);
  return View(std::move(d));
}

View Label(std::string title, std::string systemImage) {
  auto d = make("Label");
  d->text = std::move(title);
  d->systemImage = std::move(systemImage);
  return View(std::move(d));
}

View Spacer(double minLength) {
  auto d = make("Spacer");
  d->minLength = minLength;
  return View(std::move(d));
}

View ColorView(Color color) {
  auto d = make("Color");
  d->color = std::move(color);
  return View(std::move(d));
}

View ProgressView(std::optional<double> value) {
  auto d = make("ProgressView");
  d->progress = value;
  return View(std::move(d));
}

View Divider() { return View(make("Divider")); }

View Shape(ShapeKind kind, double cornerRadius) {
  static const char* names[] = {"Rectangle", "RoundedRectangle", "Circle", "Capsule", "Path"};
  auto d = make(names[int(kind)]);
  d->shape = kind;
  d->cornerRadius = cornerRadius;
  return View(std::move(d));
}

View PathShape(std::string typeName, std::function<Path(CGRect)> path) {
  auto d = make(std::move(typeName));
  d->shape = ShapeKind::path;
  d->path = std::move(path);
  return View(std::move(d));
}

View VStack(HorizontalAlignment alignment, std::optional<double> spacing, std::vector<View> children) {
  auto d = make("VStack");
  d->horizontal = alignment;
  d->spacing = spacing;
  d->children = std::move(children);
  return View(std::move(d));
}

View HStack(VerticalAlignment alignment, std::optional<double> spacing, std::vector<View> children) {
  auto d = make("HStack");
  d->vertical = alignment;
  d->spacing = spacing;
  d->children = std::move(children);
  return View(std::move(d));
}

View ZStack(std::vector<View> children, Alignment alignment) {
  auto d = make("ZStack");
  d->horizontal = alignment.horizontal;
  d->vertical = alignment.vertical;
  d->children = std::move(children);
  return View(std::move(d));
}

View Group(std::vector<View> children) {
  auto d = make("Group");
  d->children = std::move(children);
  return View(std::move(d));
}

View ScrollView(View content, Axis axis) {
  auto d = make("ScrollView");
  d->axis = axis;
  d->children = {std::move(content)};
  return View(std::move(d));
}

View GeometryReader(std::function<View(CGSize)> content) {
  auto d = make("GeometryReader");
  d->geometry = std::move(content);
  return View(std::move(d));
}

View ForEach(std::vector<std::string> ids, std::function<View(const std::string&)> content) {
  auto d = make("ForEach");
  for (const auto& id : ids) d->children.push_back(content(id));
  d->childIDs = std::move(ids);
  return View(std::move(d));
}

View If(bool condition, View then, View otherwise) {
  auto d = make("Conditional");
  d->conditionTrue = condition;
  d->children = {condition ? std::move(then) : std::move(otherwise)};
  return View(std::move(d));
}

View Button(std::string title, std::function<void()> action) {
  auto d = make("Button");
  d->text = title;
  d->children = {Text(std::move(title))};
  d->action = std::move(action);
  return View(std::move(d));
}

View Button(View label, std::function<void()> action) {
  auto d = make("Button");
  d->children = {std::move(label)};
  d->action = std::move(action);
  return View(std::move(d));
}

View Toggle(std::string title, Binding<bool> isOn) {
  auto d = make("Toggle");
  d->text = title;
  d->children = {Text(std::move(title))};
  d->isOn = std::make_shared<Binding<bool>>(std::move(isOn));
  return View(std::move(d));
}

View Link(std::string title, std::string url) {
  auto d = make("Link");
  d->text = title;
  d->children = {Text(std::move(title))};
  d->url = std::move(url);
  return View(std::move(d));
}

View TextField(std::string title, Binding<std::string> text, std::string prompt) {
  auto d = make("TextField");
  d->text = std::move(title);
  d->prompt = std::move(prompt);
  d->editedText = std::make_shared<Binding<std::string>>(std::move(text));
  return View(std::move(d));
}

View TextEditor(Binding<std::string> text) {
  auto d = make("TextEditor");
  d->editedText = std::make_shared<Binding<std::string>>(std::move(text));
  return View(std::move(d));
}

View ScrollViewReader(std::function<View(ScrollViewProxy)> content) {
  auto d = make("ScrollViewReader");
  d->reader = std::move(content);
  return View(std::move(d));
}

View TimelineView(double interval, std::function<View(double uptime)> content, bool onWallClock) {
  auto d = make("TimelineView");
  d->interval = interval;
  d->onWallClock = onWallClock;
  d->timeline = std::move(content);
  return View(std::move(d));
}

View Composite(std::string typeName, std::function<View(Context&)> body) {
  auto d = make(std::move(typeName));
  d->composite = true;
  d->body = std::move(body);
  return View(std::move(d));
}

View Representable(std::string typeName, std::shared_ptr<const NSViewRepresentable> representable) {
  auto d = make(std::move(typeName));
  d->representable = std::move(representable);
  return View(std::move(d));
}

}  // namespace platform::ui
