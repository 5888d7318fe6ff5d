#pragma once

// A linear slider as the settings use one: a value between a minimum and a
// maximum, tick marks (optionally the only values it takes), a target and
// action sent while dragging (continuous) or when the drag ends, a control
// size, a track fill colour and, from macOS 26, a tint prominence. The
// user's drag is simulated by dragKnob: the knob follows the pointer along
// the track and snaps to the nearest tick when restricted to them.
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/appkit/color.hpp"
#include "platform/appkit/view.hpp"

namespace platform {

enum class NSTickMarkPosition : int { below = 0, above = 1 };
enum class NSControlSize : int { regular = 0, small = 1, mini = 2, large = 3 };

class NSSlider : public NSView {
 public:
  // sliderWithValue:minValue:maxValue:target:action:, 21 points high.
  static std::shared_ptr<NSSlider> make(double value, double minValue, double maxValue);

  double minValue() const { return minValue_; }
  void setMinValue(double v);
  double maxValue() const { return maxValue_; }
  void setMaxValue(double v);
  double doubleValue() const { return value_; }
  // Clamped to the range; not snapped (only the user's drag snaps).
  void setDoubleValue(double v);

  int numberOfTickMarks() const { return tickMarks_; }
  void setNumberOfTickMarks(int count) { tickMarks_ = count < 0 ? 0 : count; }
  NSTickMarkPosition tickMarkPosition() const { return tickPosition_; }
  void setTickMarkPosition(NSTickMarkPosition p) { tickPosition_ = p; }
  bool allowsTickMarkValuesOnly() const { return ticksOnly_; }
  void setAllowsTickMarkValuesOnly(bool flag) { ticksOnly_ = flag; }
  // The tick's value; the value itself without ticks.
  double tickMarkValueAtIndex(int index) const;
  double closestTickMarkValueToValue(double value) const;
  bool isContinuous() const { return continuous_; }
  void setContinuous(bool flag) { continuous_ = flag; }
  NSControlSize controlSize() const { return controlSize_; }
  void setControlSize(NSControlSize size) { controlSize_ = size; }
  std::optional<NSColor> trackFillColor() const { return trackFill_; }
  void setTrackFillColor(NSColor color) { trackFill_ = color; }
  // The raw tint prominence; none until set.
  std::optional<long> tintProminence() const { return tintProminence_; }
  void setTintProminence(long raw) { tintProminence_ = raw; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool flag) { enabled_ = flag; }

  // The action is sent to the target, held weakly: none once it is gone.
  template <class T>
  void setTarget(const std::shared_ptr<T>& target, void (T::*action)(NSSlider&)) {
    std::weak_ptr<T> weak = target;
    action_ = [weak, action](NSSlider& sender) {
      if (auto t = weak.lock()) ((*t).*action)(sender);
    };
  }
  bool hasAction() const { return bool(action_); }

  // The user drags the knob through points of the track (fractions of its
  // length, clamped to 0...1) and lets go: each point that changes the
  // value sends the action when continuous; otherwise one action at the end
  // when the value changed. A disabled slider ignores it.
  void dragKnob(const std::vector<double>& fractions);

  void drawRect(NSRect dirtyRect) override;

 private:
  explicit NSSlider(NSRect frame) : NSView(frame) {}
  double valueAt(double fraction) const;

  double minValue_ = 0, maxValue_ = 1, value_ = 0;
  int tickMarks_ = 0;
  NSTickMarkPosition tickPosition_ = NSTickMarkPosition::below;
  bool ticksOnly_ = false;
  bool continuous_ = false;
  NSControlSize controlSize_ = NSControlSize::regular;
  std::optional<NSColor> trackFill_;
  std::optional<long> tintProminence_;
  bool enabled_ = true;
  std::function<void(NSSlider&)> action_;
};

}  // namespace platform
