#include "platform/appkit/button.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/appkit/window.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"

namespace platform {
namespace {

constexpr NSEventModifierFlags kEquivalentModifiers =
    NSEventModifierFlagCommand | NSEventModifierFlagOption | NSEventModifierFlagControl;

}  // namespace

std::shared_ptr<NSButton> NSButton::buttonWithTitle(std::string title, std::function<void()> action) {
  auto button = std::make_shared<NSButton>();
  button->setTitle(std::move(title));
  button->setAction(std::move(action));
  const NSSize size = button->intrinsicContentSize();
  button->setFrame(NSMakeRect(0, 0, size.width, size.height));
  return button;
}

std::shared_ptr<NSButtonCell> NSButton::cell() {
  if (!cell_) cell_ = std::make_shared<NSButtonCell>(std::static_pointer_cast<NSButton>(shared_from_this()));
  return cell_;
}

void NSButton::performClick(const void*) {
  if (!enabled_ || !action_) return;
  // The action may drop the last owner of this button while it runs.
  const auto keep = shared_from_this();
  const auto action = action_;
  action();
}

bool NSButton::performKeyEquivalent(const NSEvent& event) {
  if (enabled_ && !keyEquivalent_.empty() && event.type() == NSEventTypeKeyDown &&
      event.charactersIgnoringModifiers() == keyEquivalent_ &&
      (event.modifierFlags() & kEquivalentModifiers) == (keyEquivalentModifiers_ & kEquivalentModifiers)) {
    performClick(this);
    return true;
  }
  return NSView::performKeyEquivalent(event);
}

void NSButton::mouseDown(const NSEvent&) { highlighted_ = enabled_; }

void NSButton::mouseUp(const NSEvent& event) {
  const bool wasPressed = std::exchange(highlighted_, false);
  if (wasPressed && CGRectContainsPoint(bounds(), convertPointFromWindow(event.locationInWindow()))) performClick(this);
}

NSSize NSButton::intrinsicContentSize() const {
  const TextMetrics m = measureText({title_, font_.textFont(), {}, {}, {}}, std::nullopt);
  return NSMakeSize(std::ceil(m.size.width) + 24, std::max(21.0, std::ceil(m.size.height) + 6));
}

bool NSButton::isDefaultButton() const {
  const auto window = this->window();
  const auto cell = window ? window->defaultButtonCell() : nullptr;
  return cell && cell->controlView().get() == this;
}

// A push button (the rounded bezel) that is the window's default is
// filled with the accent colour of the drawing appearance, its title in
// white; the others are white with a hairline and a dark title. The other
// bezels draw no face here, so their title takes the appearance's label
// colour, default button or not: as on the platform, only a push button
// wears the accent, and a white title over the window would not show.
void NSButton::drawRect(NSRect) {
  const auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const NSRect box = bounds();
  const bool enabled = enabled_, highlighted = highlighted_, bezel = bezelStyle_ == NSBezelStyle::rounded;
  const bool prominent = bezel && isDefaultButton();
  const NSColor accent = NSColor::controlAccentColor();
  const TextColor title = prominent ? TextColor{1, 1, 1, 1}
                          : bezel   ? TextColor{0, 0, 0, 0.85}
                                    : textColorOf(NSColor::labelColor());
  const TextBlock label{title_, font_.textFont(), title, {}, {}};
  CGContextDrawWithCairo(context->CGContext(), box, [&](cairo_t* cr, double) {
    cairo_push_group(cr);
    if (bezel) {
      const CGRect r = CGRectInset(CGRectMake(0, 0, box.size.width, box.size.height), 0.5, 0.5);
      cairoRoundedRectPath(cr, r, 5);
      if (prominent) {
        cairo_set_source_rgba(cr, accent.redComponent(), accent.greenComponent(), accent.blueComponent(), 1);
        if (highlighted) {
          // Pressed, the accent darkens.
          cairo_fill_preserve(cr);
          cairo_set_source_rgba(cr, 0, 0, 0, 0.15);
        }
        cairo_fill(cr);
      } else {
        const double grey = highlighted ? 0.82 : 1;
        cairo_set_source_rgba(cr, grey, grey, grey, 1);
        cairo_fill_preserve(cr);
        cairo_set_source_rgba(cr, 0, 0, 0, 0.22);
        cairo_set_line_width(cr, 0.75);
        cairo_stroke(cr);
      }
    }
    const TextMetrics m = measureText(label, std::nullopt);
    drawText(cr, label,
             CGRectMake(std::round((box.size.width - m.size.width) / 2), std::round((box.size.height - m.size.height) / 2),
                        m.size.width + 1, m.size.height));
    cairo_pop_group_to_source(cr);
    cairo_paint_with_alpha(cr, enabled ? 1.0 : 0.45);
  });
}

}  // namespace platform
