#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/graphics/geometry.hpp"

namespace platform {

// A display as the application sees it: its frame in AppKit's global
// coordinates (origin at the bottom left of the primary screen, y up) and
// its backing scale factor (pixels per point).
class NSScreen {
 public:
  static std::shared_ptr<NSScreen> make(CGRect frame, CGFloat backingScaleFactor);

  // Every connected screen, in order; the first is the primary one.
  static std::vector<std::shared_ptr<NSScreen>> screens();
  // The simulated desktop connects and disconnects screens with this.
  static void setScreens(std::vector<std::shared_ptr<NSScreen>> screens);
  // One 1512 × 982 point screen at 2 pixels per point, as a laptop has.
  // Also run by platform::resetProcessState().
  static void resetScreens();

  CGRect frame() const;
  CGFloat backingScaleFactor() const;
  // A screen's mode can change while it stays connected.
  void setFrame(CGRect frame);
  void setBackingScaleFactor(CGFloat factor);

 private:
  NSScreen(CGRect frame, CGFloat factor) : frame_(frame), backingScaleFactor_(factor) {}

  mutable std::mutex mutex_;
  CGRect frame_;
  CGFloat backingScaleFactor_;
};

}  // namespace platform
