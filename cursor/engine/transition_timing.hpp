#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cursor/art/cursor_image.hpp"

namespace vurle {

// How transitions are timed from the pointer's speed, and how a cursor
// change is held back for a few milliseconds while the pointer crosses the
// boundary between two cursor regions. Plain values, main thread, all times
// in seconds of system uptime, speeds in points per second.

// Smoothed pointer speed. Samples closer than the restart gap are blended
// exponentially; a longer gap restarts the estimate. Read back, the speed
// decays after one frame interval, so a pointer that stopped reads 0 soon.
struct CursorMotionSpeed {
  static constexpr double kSpeedCap = 12000;
  static constexpr double kSmoothing = 0.025;
  static constexpr double kRestartGap = 0.12;
  static constexpr double kDecayDelay = 1.0 / 60.0;
  static constexpr double kDecay = 0.035;

  double smoothed = 0;
  std::optional<double> sampledAt;

  // Negative and NaN speeds count as 0, speeds above the cap as the cap; a
  // sample at or before the last one changes nothing.
  void record(double speed, double time);
  // The decayed speed at `time`; 0 before the first sample.
  double current(double time) const;
};

// The duration of one transition: the user's setting, shortened by up to
// 30 % at high pointer speed when adaptive timing is on, then kept within
// 0.045...0.4 s. Reduce Motion gives 0 whatever the setting.
double transitionDuration(double storedMilliseconds, bool adaptive, double speed, bool reduceMotion);
// The same bounds without the speed: for a change with the pointer at rest.
double clampedDuration(double storedMilliseconds);

// Holds a new cursor shape back briefly while the pointer moves slowly
// across a boundary, so a pointer that grazes a region does not start a
// morph it would reverse at once.
struct CursorBoundaryTolerance {
  struct Pending {
    int64_t identity = 0;
    CGPoint point;
    double deadline = 0;
    bool operator==(const Pending&) const = default;
  };

  static constexpr double kBoundarySpeed = 1000;
  static constexpr double kReturnWindow = 0.12;
  static constexpr double kReturnDistance = 4;
  static constexpr double kHoldDistance = 6;
  static constexpr double kHold = 0.008;
  static constexpr double kReturnHold = 0.024;
  static constexpr double kReturnHoldMorphing = 1.0 / 24.0;
  static constexpr double kHoldCap = 0.032;
  static constexpr double kHoldCapMorphing = 0.048;

  std::optional<int64_t> identity;
  std::optional<int64_t> previous;
  CGPoint point;
  double changedAt = 0;
  std::optional<Pending> pending;
  std::optional<double> pendingSince;

  // None: the identity is accepted now. A deadline: it is held until then.
  std::optional<double> resolve(int64_t identity, bool nearBoundary, bool held, bool morphRunning, CGPoint point,
                                double now, double speed);
  void reset() { *this = CursorBoundaryTolerance{}; }
};

// One cursor change seen without pointer motion.
struct StationaryChange {
  double time = 0;
  CGPoint point;
};

// Keeps, in order, exactly the changes at most 0.25 s old and at most 2 pt
// from the point.
void pruneStationaryChanges(std::vector<StationaryChange>& changes, double now, CGPoint point);

double pointDistance(CGPoint a, CGPoint b);

}  // namespace vurle
