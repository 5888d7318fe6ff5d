#include "platform/appkit/slider.hpp"

#include <algorithm>
#include <cmath>

#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"

namespace platform {

std::shared_ptr<NSSlider> NSSlider::make(double value, double minValue, double maxValue) {
  std::shared_ptr<NSSlider> slider(new NSSlider(NSMakeRect(0, 0, 96, 21)));
  slider->minValue_ = minValue;
  slider->maxValue_ = maxValue;
  slider->setDoubleValue(value);
  return slider;
}

void NSSlider::setMinValue(double v) {
  if (!std::isfinite(v)) return;
  minValue_ = v;
  setDoubleValue(value_);
}

void NSSlider::setMaxValue(double v) {
  if (!std::isfinite(v)) return;
  maxValue_ = v;
  setDoubleValue(value_);
}

void NSSlider::setDoubleValue(double v) {
  if (std::isnan(v)) v = minValue_;
  value_ = std::clamp(v, std::min(minValue_, maxValue_), std::max(minValue_, maxValue_));
}

double NSSlider::tickMarkValueAtIndex(int index) const {
  if (tickMarks_ < 2) return tickMarks_ == 1 ? (minValue_ + maxValue_) / 2 : value_;
  return minValue_ + (maxValue_ - minValue_) * double(std::clamp(index, 0, tickMarks_ - 1)) / double(tickMarks_ - 1);
}

double NSSlider::closestTickMarkValueToValue(double value) const {
  if (tickMarks_ == 0) return value;
  double best = tickMarkValueAtIndex(0);
  for (int i = 1; i < tickMarks_; ++i) {
    const double t = tickMarkValueAtIndex(i);
    if (std::fabs(t - value) < std::fabs(best - value)) best = t;
  }
  return best;
}

double NSSlider::valueAt(double fraction) const {
  if (!std::isfinite(fraction)) fraction = 0;
  const double raw = minValue_ + (maxValue_ - minValue_) * std::clamp(fraction, 0.0, 1.0);
  return ticksOnly_ ? closestTickMarkValueToValue(raw) : raw;
}

void NSSlider::dragKnob(const std::vector<double>& fractions) {
  if (!enabled_) return;
  const double start = value_;
  for (double f : fractions) {
    const double next = valueAt(f);
    if (next == value_) continue;
    value_ = next;
    if (continuous_ && action_) action_(*this);
  }
  if (!continuous_ && value_ != start && action_) action_(*this);
}

void NSSlider::drawRect(NSRect dirtyRect) {
  (void)dirtyRect;
  auto context = NSGraphicsContext::currentContext();
  if (!context) return;
  const CGContextRef cg = context->CGContext();
  const NSRect b = bounds();
  const double knob = controlSize_ == NSControlSize::small ? 14 : 18;
  const double inset = knob / 2;
  const double trackY = CGRectGetMidY(b) - 2;
  const double length = std::max(0.0, b.size.width - 2 * inset);
  const double span = maxValue_ - minValue_;
  const double fraction = span != 0 ? (value_ - minValue_) / span : 0;
  CGContextSetRGBFillColor(cg, 0, 0, 0, 0.12);
  CGContextFillRect(cg, CGRectMake(inset, trackY, length, 4));
  const NSColor fill = trackFill_.value_or(NSColor::systemBlueColor());
  CGContextSetRGBFillColor(cg, fill.redComponent(), fill.greenComponent(), fill.blueComponent(),
                           enabled_ ? fill.alphaComponent() : 0.4);
  CGContextFillRect(cg, CGRectMake(inset, trackY, length * fraction, 4));
  CGContextSetRGBFillColor(cg, 0, 0, 0, 0.3);
  for (int i = 0; i < tickMarks_ && tickMarks_ > 1; ++i) {
    const double x = inset + length * double(i) / double(tickMarks_ - 1);
    // Below the track: y grows upwards unless the view is flipped.
    const double y = isFlipped() ? trackY + 8 : trackY - 6;
    CGContextFillRect(cg, CGRectMake(x - 0.5, y, 1, 3));
  }
  const CGRect knobRect = CGRectMake(inset + length * fraction - knob / 2, CGRectGetMidY(b) - knob / 2, knob, knob);
  CGContextSetRGBFillColor(cg, 0, 0, 0, 0.25);
  CGContextFillEllipseInRect(cg, CGRectInset(knobRect, -0.5, -0.5));
  CGContextSetRGBFillColor(cg, 1, 1, 1, 1);
  CGContextFillEllipseInRect(cg, knobRect);
}

}  // namespace platform
