#include "cursor/overlay/cursor_boundary_tolerance.hpp"

#include <cmath>

namespace vurle {

double pointDistance(CGPoint a, CGPoint b) { return std::hypot(a.x - b.x, a.y - b.y); }

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

}  // namespace vurle
