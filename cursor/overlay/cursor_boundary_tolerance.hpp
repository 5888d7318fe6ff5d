#pragma once

#include <cstdint>
#include <optional>

#include "cursor/art/cursor_image.hpp"

namespace vurle {

// Holds a new cursor shape back briefly while the pointer moves slowly
// across a boundary, so a pointer that grazes a region does not start a
// morph it would reverse at once. A plain value on the main thread; times
// in seconds of uptime, speeds in points per second. The engine and the
// overlay presenter each hold one.
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

double pointDistance(CGPoint a, CGPoint b);

}  // namespace vurle
