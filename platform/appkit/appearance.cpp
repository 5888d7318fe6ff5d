#include "platform/appkit/appearance.hpp"

#include <algorithm>
#include <utility>

#include "platform/appkit/application.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

struct AppearanceState {
  std::shared_ptr<NSAppearance> system;
  std::shared_ptr<NSAppearance> drawing;
};

AppearanceState& state() {
  static AppearanceState* shared = [] {
    auto* made = new AppearanceState();
    addResetHook(made, [made] {
      made->system.reset();
      made->drawing.reset();
    });
    return made;
  }();
  return *shared;
}

}  // namespace

std::shared_ptr<NSAppearance> NSAppearance::appearanceNamed(const std::string& name) {
  static const auto aqua = std::make_shared<NSAppearance>(NSAppearanceNameAqua);
  static const auto dark = std::make_shared<NSAppearance>(NSAppearanceNameDarkAqua);
  if (name == NSAppearanceNameAqua) return aqua;
  if (name == NSAppearanceNameDarkAqua) return dark;
  return nullptr;
}

std::string NSAppearance::bestMatchFromAppearancesWithNames(const std::vector<std::string>& names) const {
  return std::find(names.begin(), names.end(), name_) != names.end() ? name_ : std::string();
}

std::shared_ptr<NSAppearance> NSAppearance::systemAppearance() {
  const auto& system = state().system;
  return system ? system : appearanceNamed(NSAppearanceNameAqua);
}

void NSAppearance::setSystemAppearance(std::shared_ptr<NSAppearance> appearance) {
  const auto before = NSApplication::shared()->effectiveAppearance();
  state().system = std::move(appearance);
  if (NSApplication::shared()->effectiveAppearance() != before) NSApplication::shared()->noteAppearanceChange();
}

std::shared_ptr<NSAppearance> NSAppearance::currentDrawingAppearance() {
  const auto& drawing = state().drawing;
  return drawing ? drawing : NSApplication::shared()->effectiveAppearance();
}

void NSAppearance::setCurrentDrawingAppearance(std::shared_ptr<NSAppearance> appearance) {
  state().drawing = std::move(appearance);
}

void NSAppearance::performAsCurrentDrawingAppearance(const std::function<void()>& block) {
  auto previous = std::exchange(state().drawing, shared_from_this());
  struct Restore {
    std::shared_ptr<NSAppearance> previous;
    ~Restore() { state().drawing = std::move(previous); }
  } restore{std::move(previous)};
  block();
}

// ---- the application and its views --------------------------------------

std::shared_ptr<NSAppearance> NSApplication::effectiveAppearance() const {
  return appearance_ ? appearance_ : NSAppearance::systemAppearance();
}

void NSApplication::setAppearance(std::shared_ptr<NSAppearance> appearance) {
  const auto before = effectiveAppearance();
  appearance_ = std::move(appearance);
  if (effectiveAppearance() != before) noteAppearanceChange();
}

void NSApplication::noteAppearanceChange() {
  for (const auto& window : windows())
    if (const auto content = window->contentView()) content->noteInheritedAppearanceChange();
}

std::shared_ptr<NSAppearance> NSView::effectiveAppearance() const {
  if (appearance_) return appearance_;
  if (const auto parent = superview()) return parent->effectiveAppearance();
  return NSApplication::shared()->effectiveAppearance();
}

void NSView::setAppearance(std::shared_ptr<NSAppearance> appearance) {
  const auto before = effectiveAppearance();
  appearance_ = std::move(appearance);
  if (effectiveAppearance() != before) {
    viewDidChangeEffectiveAppearance();
    const auto children = subviews_;
    for (const auto& child : children) child->noteInheritedAppearanceChange();
  }
}

void NSView::noteInheritedAppearanceChange() {
  if (appearance_) return;
  viewDidChangeEffectiveAppearance();
  const auto children = subviews_;
  for (const auto& child : children) child->noteInheritedAppearanceChange();
}

void NSView::viewDidChangeEffectiveAppearance() {}

}  // namespace platform
