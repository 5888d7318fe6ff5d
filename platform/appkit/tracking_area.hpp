#pragma once

// Tracking areas and the per-view pieces of mouse tracking: a tracking
// area names the events a view wants while the pointer is over a rect
// (or its visible rect), with the platform's option bits.

#include <cstdint>
#include <memory>

#include "platform/graphics/geometry.hpp"

namespace platform {

class NSView;

using NSTrackingAreaOptions = std::uint64_t;
inline constexpr NSTrackingAreaOptions NSTrackingMouseEnteredAndExited = 0x01;
inline constexpr NSTrackingAreaOptions NSTrackingMouseMoved = 0x02;
inline constexpr NSTrackingAreaOptions NSTrackingCursorUpdate = 0x04;
inline constexpr NSTrackingAreaOptions NSTrackingActiveWhenFirstResponder = 0x10;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInKeyWindow = 0x20;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInActiveApp = 0x40;
inline constexpr NSTrackingAreaOptions NSTrackingActiveAlways = 0x80;
inline constexpr NSTrackingAreaOptions NSTrackingInVisibleRect = 0x200;

// The owner is held weakly, as the platform holds it without retaining.
class NSTrackingArea {
 public:
  NSTrackingArea(NSRect rect, NSTrackingAreaOptions options, const std::shared_ptr<NSView>& owner)
      : rect_(rect), options_(options), owner_(owner) {}
  NSRect rect() const { return rect_; }
  NSTrackingAreaOptions options() const { return options_; }
  std::shared_ptr<NSView> owner() const { return owner_.lock(); }

 private:
  NSRect rect_;
  NSTrackingAreaOptions options_;
  std::weak_ptr<NSView> owner_;
};

}  // namespace platform
