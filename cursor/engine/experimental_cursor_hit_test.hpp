#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/window_queries.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {

using platform::CGPoint;
using platform::CGRect;

// A window found under the pointer, described as a surface the overlay may
// draw over: a menu of the foreground application (drawing limited to the
// menu's bounds) or one of its ordinary windows (not limited).
struct ExperimentalCursorSurface {
  enum class Kind { menu, app };

  // The window-server answer for one point. Bounds are in window-server
  // coordinates: origin at the top left of the main display, which here,
  // as for the surface policy, is the first screen; y down.
  struct Hit {
    uint32_t id = 0;
    int32_t pid = 0;  // always at least 1
    int64_t level = 0;
    CGRect bounds{};
    bool operator==(const Hit&) const = default;
  };

  Kind kind = Kind::app;
  uint32_t windowID = 0;
  std::optional<CGRect> overlayBounds;
  bool operator==(const ExperimentalCursorSurface&) const = default;
};

// Asks the window server directly which window lies under a point, whose it
// is, at which level and with which bounds: five private functions found by
// name once, no Accessibility and no copy of the window list. A value with
// no state of its own: hit() may run on any thread; each caller runs it on
// its own serial queue, since the calls are synchronous.
class ExperimentalCursorHitTest {
 public:
  // None when any one of the five functions is missing, even if the other
  // four resolve: the features built on it then stay off.
  static std::optional<ExperimentalCursorHitTest> make();

  // The window under the point (window-server coordinates), or none: any
  // failed call, no window, no owner, an owner whose process reads below 1,
  // or bounds that do not hold the point (the server answered for a
  // neighbour) are all "no answer", never an error.
  std::optional<ExperimentalCursorSurface::Hit> hit(CGPoint point) const;

 private:
  ExperimentalCursorHitTest() = default;

  std::function<platform::CGSMainConnectionIDFn> main_;
  std::function<platform::SLSFindWindowAndOwnerFn> find_;
  std::function<platform::SLSConnectionGetPIDFn> owner_;
  std::function<platform::SLSGetWindowLevelFn> level_;
  std::function<platform::SLSGetWindowBoundsFn> bounds_;
};

}  // namespace vurle
