#pragma once

#include <compare>
#include <limits>

namespace platform {

// Every duration of this layer (delays, repeat intervals, leeways, NSTimer
// intervals and tolerances) is in seconds as a double, the unit the rest of
// the system computes in.

// Repeat interval of a timer that fires once.
inline constexpr double kIntervalNever = std::numeric_limits<double>::infinity();

// A deadline on the uptime clock (systemUptime()).
struct DispatchTime {
  double uptime = 0.0;

  static DispatchTime now();
  // A deadline that is never reached: a timer parked there stays silent.
  static constexpr DispatchTime distantFuture() {
    return DispatchTime{std::numeric_limits<double>::infinity()};
  }
  constexpr bool isDistantFuture() const {
    return uptime == std::numeric_limits<double>::infinity();
  }

  friend constexpr DispatchTime operator+(DispatchTime t, double seconds) {
    return DispatchTime{t.uptime + seconds};
  }
  friend constexpr auto operator<=>(const DispatchTime&, const DispatchTime&) = default;
};

}  // namespace platform
