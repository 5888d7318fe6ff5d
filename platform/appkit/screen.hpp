#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {

// The device-description key under which a screen gives its display number.
inline const std::string NSScreenNumber = "NSScreenNumber";

struct NSEdgeInsets {
  CGFloat top = 0, left = 0, bottom = 0, right = 0;
  bool operator==(const NSEdgeInsets&) const = default;
};

// A display as the application sees it: its frame in AppKit's global
// coordinates (origin at the bottom left of the primary screen, y up), its
// backing scale factor (pixels per point), its device description with the
// display number, its refresh rate, the safe area (a notch's height) and
// the height the menu bar reserves along its top.
class NSScreen {
 public:
  // The screen of the key window, else the first screen; null without any
  // screen.
  static std::shared_ptr<NSScreen> main();

  // A screen of the given display number; without one it takes the next
  // number not handed out before (the default screen is display 1).
  static std::shared_ptr<NSScreen> make(CGRect frame, CGFloat backingScaleFactor,
                                        std::optional<uint32_t> displayNumber = std::nullopt);

  // Every connected screen, in order; the first is the primary one.
  static std::vector<std::shared_ptr<NSScreen>> screens();
  // The simulated desktop connects and disconnects screens with this. It,
  // and a connected screen's new frame or scale, post
  // NSApplicationDidChangeScreenParametersNotification.
  static void setScreens(std::vector<std::shared_ptr<NSScreen>> screens);
  // One 1512 × 982 point screen at 2 pixels per point, as a laptop has.
  // Also run by platform::resetProcessState().
  static void resetScreens();

  CGRect frame() const;
  CGFloat backingScaleFactor() const;
  // A screen's mode can change while it stays connected.
  void setFrame(CGRect frame);
  void setBackingScaleFactor(CGFloat factor);

  // Holds NSScreenNumber; the simulated desktop may replace it with one
  // that lacks the number or holds something else under it.
  CFDictionary deviceDescription() const;
  void setDeviceDescription(CFDictionary description);
  // 120 until set.
  long maximumFramesPerSecond() const;
  void setMaximumFramesPerSecond(long framesPerSecond);
  // Zero until set.
  NSEdgeInsets safeAreaInsets() const;
  void setSafeAreaInsets(NSEdgeInsets insets);
  // The frame less the menu bar's reserve along the top edge (24 points
  // until the desktop sets another; never more than the frame's height).
  CGRect visibleFrame() const;
  CGFloat menuBarReserve() const;
  // Negative reserves count as none. A connected screen's changed reserve
  // posts NSApplicationDidChangeScreenParametersNotification.
  void setMenuBarReserve(CGFloat points);

 private:
  NSScreen(CGRect frame, CGFloat factor, uint32_t displayNumber)
      : frame_(frame), backingScaleFactor_(factor), deviceDescription_{{NSScreenNumber, CFValue(displayNumber)}} {}

  mutable std::mutex mutex_;
  CGRect frame_;
  CGFloat backingScaleFactor_;
  CFDictionary deviceDescription_;
  long maximumFramesPerSecond_ = 120;
  NSEdgeInsets safeAreaInsets_;
  CGFloat menuBarReserve_ = 24;
};

// Whether the pointer lies in the rectangle as AppKit decides it for a
// mouse: for an unflipped rectangle minX <= x < maxX and minY < y <= maxY,
// so a pointer on the top edge of a screen belongs to that screen and two
// stacked screens never both claim their shared edge.
bool NSMouseInRect(NSPoint point, NSRect rect, bool flipped);

}  // namespace platform
