#include "cursor/engine/transition_timing.hpp"

#include <cmath>

namespace vurle {

namespace {

constexpr double kReferenceSpeed = 1100;
constexpr double kShortest = 0.045;
constexpr double kLongest = 0.4;
constexpr double kStationaryWindow = 0.25;
constexpr double kStationaryDistance = 2;

// Written out rather than through std::min/std::max, whose answer for a NaN
// depends on the argument order: a NaN must end up as the shortest duration.
double clampDuration(double seconds) {
  if (std::isnan(seconds)) return kShortest;
  if (seconds > kLongest) return kLongest;
  if (seconds < kShortest) return kShortest;
  return seconds;
}

}  // namespace

double pointDistance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

void CursorMotionSpeed::record(double speed, double time) {
  double sample = speed >= 0 ? speed : 0;  // NaN fails the comparison too
  if (sample > kSpeedCap) sample = kSpeedCap;
  if (!sampledAt) {
    smoothed = sample;
    sampledAt = time;
    return;
  }
  const double gap = time - *sampledAt;
  if (!(gap > 0)) return;
  if (gap >= kRestartGap) {
    smoothed = sample;
  } else {
    smoothed += (1 - std::exp(-gap / kSmoothing)) * (sample - smoothed);
  }
  sampledAt = time;
}

double CursorMotionSpeed::current(double time) const {
  if (!sampledAt) return 0;
  const double age = time - *sampledAt;
  if (age >= 0 && age >= kRestartGap) return 0;
  double decay = 0;
  if (age >= 0 && age - kDecayDelay > 0) decay = age - kDecayDelay;
  return smoothed * std::exp(-decay / kDecay);
}

double transitionDuration(double storedMilliseconds, bool adaptive, double speed, bool reduceMotion) {
  if (reduceMotion) return 0;
  double factor = 1;
  if (adaptive) {
    const double x = speed < 0 ? 0 : speed / kReferenceSpeed;
    factor = 0.7 + 0.3 / (1 + x * x);
  }
  return clampDuration(storedMilliseconds / 1000 * factor);
}

double clampedDuration(double storedMilliseconds) { return clampDuration(storedMilliseconds / 1000); }

std::optional<double> CursorBoundaryTolerance::resolve(int64_t id, bool nearBoundary, bool held, bool morphRunning,
                                                       CGPoint p, double now, double speed) {
  if (identity && *identity == id) {
    pending.reset();
    pendingSince.reset();
    return std::nullopt;
  }
  if (nearBoundary && identity && speed < kBoundarySpeed) {
    const bool returning = held && previous && *previous == id && now - changedAt < kReturnWindow &&
                           pointDistance(p, point) <= kReturnDistance;
    const double since = pendingSince.value_or(now);
    double deadline;
    CGPoint anchor;
    if (pending && pending->identity == id) {
      deadline = pending->deadline;
      anchor = pending->point;
    } else {
      const double window = returning ? (morphRunning ? kReturnHoldMorphing : kReturnHold) : kHold;
      deadline = now + window;
      anchor = p;
      const double cap = since + (morphRunning ? kHoldCapMorphing : kHoldCap);
      if (cap < deadline) deadline = cap;
    }
    if (now < deadline && pointDistance(p, anchor) < kHoldDistance) {
      pending = Pending{id, anchor, deadline};
      pendingSince = since;
      return deadline;
    }
  }
  previous = identity;
  identity = id;
  point = p;
  changedAt = now;
  pending.reset();
  pendingSince.reset();
  return std::nullopt;
}

void pruneStationaryChanges(std::vector<StationaryChange>& changes, double now, CGPoint point) {
  std::erase_if(changes, [&](const StationaryChange& change) {
    return !(now - change.time <= kStationaryWindow && pointDistance(change.point, point) <= kStationaryDistance);
  });
}

}  // namespace vurle
