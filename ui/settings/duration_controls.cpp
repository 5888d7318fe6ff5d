#include "ui/settings/duration_controls.hpp"

#include <cmath>

#include "platform/foundation/process_info.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

// The accent yellow of the settings.
const NSColor kTrackFill = NSColor::colorWithSRGBRed(1.0, 0.8, 0.0, 1.0);

std::optional<Animation> unlessReduced(bool reduceMotion, Animation animation) {
  if (reduceMotion) return std::nullopt;
  return animation;
}

struct SliderRepresentable : NSViewRepresentable {
  Binding<double> value;

  std::any makeCoordinator() const override { return std::make_shared<DurationSliderCoordinator>(value); }
  std::shared_ptr<NSView> makeNSView(Context& context) const override {
    auto coordinator = std::any_cast<std::shared_ptr<DurationSliderCoordinator>>(context.coordinator);
    auto slider = NSSlider::make(value.get(), 60, 220);
    slider->setTarget(coordinator, &DurationSliderCoordinator::changed);
    slider->setMinValue(60.0);
    slider->setMaxValue(220.0);
    slider->setDoubleValue(value.get());
    slider->setTarget(coordinator, &DurationSliderCoordinator::changed);
    slider->setNumberOfTickMarks(17);
    slider->setTickMarkPosition(NSTickMarkPosition::below);
    slider->setAllowsTickMarkValuesOnly(true);
    slider->setContinuous(true);
    slider->setControlSize(NSControlSize::small);
    slider->setTrackFillColor(kTrackFill);
    if (ProcessInfo::isOperatingSystemAtLeastVersion({26, 0, 0})) slider->setTintProminence(2);
    slider->setAccessibilityElement(true);
    slider->setAccessibilityRole("slider");
    slider->setAccessibilityLabel("Transition duration");
    return slider;
  }
  void updateNSView(NSView& view, Context& context) const override {
    std::any_cast<std::shared_ptr<DurationSliderCoordinator>>(context.coordinator)->value = value;
    static_cast<NSSlider&>(view).setDoubleValue(value.get());
  }
  CGSize sizeThatFits(std::optional<double> width, std::optional<double> height, const NSView& view) const override {
    const CGSize own = view.frame().size;
    return {width && std::isfinite(*width) ? *width : own.width,
            height && std::isfinite(*height) ? std::min(*height, own.height) : own.height};
  }
};

}  // namespace

void DurationSliderCoordinator::changed(NSSlider& sender) { value.set(std::round(sender.doubleValue())); }

std::string roundedMilliseconds(double milliseconds) {
  if (!std::isfinite(milliseconds)) return "0";
  return std::to_string(static_cast<long long>(std::round(milliseconds)));
}

View DurationSlider(Binding<double> value) {
  auto rep = std::make_shared<SliderRepresentable>();
  rep->value = std::move(value);
  return Representable("DurationSlider", rep);
}

View DurationReadout(double milliseconds) {
  return Composite("DurationReadout", [milliseconds](Context& c) {
    auto changing = c.state<bool>("changing", false);
    auto settle = c.state<std::shared_ptr<Task>>("settle", nullptr);
    const bool reduce = c.environment().reduceMotion;
    const std::string number = roundedMilliseconds(milliseconds);
    auto cancelSettle = [changing, settle] {
      if (settle.get()) settle.get()->cancel();
      changing.set(false);
    };
    return HStack(VerticalAlignment::center, 0,
                  {Text(number)
                       .contentTransition("numericText")
                       .blur(changing.get() && !reduce ? 1.2 : 0, false),
                   Text(" ms")})
        .monospacedDigit()
        .animation(unlessReduced(reduce, Animation::easeOut(0.16)), milliseconds)
        .animation(unlessReduced(reduce, Animation::easeOut(0.12)), changing.get())
        .onChange<double>(milliseconds,
                          [changing, settle, reduce](const double&, const double&) {
                            if (settle.get()) settle.get()->cancel();
                            if (reduce) {
                              changing.set(false);
                              return;
                            }
                            changing.set(true);
                            // A cancelled sleep ends the task without touching the flag.
                            settle.set(Task::run([changing](Task& task) {
                              task.sleep(kDurationSettleSeconds, [changing] { changing.set(false); });
                            }));
                          })
        .onChange<bool>(reduce,
                        [cancelSettle](const bool&, const bool& now) {
                          if (now) cancelSettle();
                        })
        .onDisappear(cancelSettle)
        .accessibilityElement(AccessibilityChildren::ignore)
        .accessibilityLabel(number + " milliseconds");
  });
}

ButtonStyle SettingsPressStyle() {
  return [](const ButtonStyleConfiguration& configuration) {
    const View label = configuration.label;
    const bool pressed = configuration.isPressed;
    return Composite("SettingsPressStyle", [label, pressed](Context& c) {
      auto hovered = c.state<bool>("hovered", false);
      const bool reduce = c.environment().reduceMotion;
      return label.opacity(pressed ? 0.72 : hovered.get() ? 0.88 : 1.0)
          .scaleEffect(pressed && !reduce ? 0.985 : 1.0)
          .animation(unlessReduced(reduce, Animation::easeOut(0.12)), pressed)
          .animation(unlessReduced(reduce, Animation::easeOut(0.12)), hovered.get())
          .onHover([hovered](bool inside) { hovered.set(inside); });
    });
  };
}

}  // namespace vurle
