#pragma once

// The controls shared by the settings page and the onboarding pages:
// DurationSlider, the native slider that sets the transition duration in
// whole milliseconds between 60 and 220 (ticks every 10 ms, tick values
// only, sent while dragging); DurationReadout, the number beside it, which
// blurs while the value changes and clears 0.11 s after the last change;
// and SettingsPressStyle, the button style that dims and shrinks a pressed
// button and dims a hovered one. Reduce Motion removes the blur, the shrink
// and every animation. Main thread only.

#include <memory>
#include <string>

#include "platform/appkit/slider.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

// The slider's target: writes each value it sends, rounded to whole
// milliseconds (halves away from zero), through the binding.
class DurationSliderCoordinator {
 public:
  explicit DurationSliderCoordinator(platform::ui::Binding<double> value) : value(std::move(value)) {}
  platform::ui::Binding<double> value;
  void changed(platform::NSSlider& sender);
};

platform::ui::View DurationSlider(platform::ui::Binding<double> value);
platform::ui::View DurationReadout(double milliseconds);
platform::ui::ButtonStyle SettingsPressStyle();

// The value as a whole number of milliseconds, halves away from zero
// ("150.4" is "150", "150.5" is "151").
std::string roundedMilliseconds(double milliseconds);

inline constexpr double kDurationSettleSeconds = 0.11;

}  // namespace vurle
