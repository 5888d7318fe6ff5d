#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/accessibility/accessibility.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/graphics/geometry.hpp"

namespace vurle {

// Thrown by a window read when an Accessibility call timed out: the answer
// may come next time, so a cached window of the same application is kept.
class WindowReadError : public std::runtime_error {
 public:
  enum class Code { temporarilyUnavailable };
  explicit WindowReadError(Code code = Code::temporarilyUnavailable)
      : std::runtime_error("window read temporarily unavailable"), code_(code) {}
  Code code() const { return code_; }

 private:
  Code code_;
};

// Finds the standard window under the pointer without blocking the main
// thread: reads run one at a time on their own serial queue and come back
// through the main queue; the main thread answers from the last result.
// Points and rectangles are in AppKit screen coordinates (origin at the
// bottom left of the first screen). request, validate, invalidate and
// publish are main thread only. A lookup lives in a shared_ptr: its reads
// hold it weakly.
class ContinuousCursorWindowLookup : public std::enable_shared_from_this<ContinuousCursorWindowLookup> {
 public:
  // May throw (WindowReadError when the answer is late); runs on the queue.
  using Read = std::function<std::optional<platform::CGRect>(platform::CGPoint point, int32_t owner)>;
  struct Result {
    int32_t owner;
    platform::CGRect rect;
    double at;  // uptime at which the read that found it was started
  };
  // What a finished read gave: a window, nothing, or a failure.
  struct Outcome {
    std::optional<platform::CGRect> rect;
    bool failed = false;
  };

  explicit ContinuousCursorWindowLookup(Read read);

  // Starts a read unless one is in flight or one for the same owner
  // started less than 0.08 s ago.
  void request(int32_t owner, platform::CGPoint point, double now);
  // Requests, then answers from the cache: the window of `owner`, no older
  // than 0.16 s, within 6 pt of the point; else none, with the reason in
  // rejectionReason().
  std::optional<platform::CGRect> validate(int32_t owner, platform::CGPoint point, double now);
  // Forgets the result and lets the next request go out at once; a read
  // still running is dropped when it comes back.
  void invalidate();

  bool inFlight() const { return inFlight_; }
  uint64_t generation() const { return generation_; }
  const std::optional<Result>& result() const { return result_; }
  const std::string& rejectionReason() const { return rejectionReason_; }
  const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

 private:
  void publish(uint64_t generation, const Outcome& outcome, int32_t owner, double requestedAt);

  const std::shared_ptr<platform::DispatchQueue> queue_;
  const Read read_;
  bool inFlight_ = false;
  uint64_t generation_ = 0;
  double requestedAt_;
  std::optional<int32_t> requestedOwner_;
  std::optional<Result> result_;
  std::string rejectionReason_ = "lookup-pending";
};

// The Accessibility read of the lookup: the frame of the standard window
// (no sheets) of `owner` under the point, in AppKit screen coordinates.
// Every call carries the 0.015 s messaging time-out; a time-out throws
// WindowReadError. Nothing for this process's own windows.
std::optional<platform::CGRect> hitTestWindow(int32_t owner, platform::CGPoint point);
// The window an element belongs to: its "AXWindow", or itself when its role
// is "AXWindow". A time-out sets `timedOut`.
platform::AXUIElementRef windowOfElement(const platform::AXUIElementRef& element, bool& timedOut);
// The window's frame from its position and size, with `top` the maximum y
// of the first screen; none unless both read and make a real rectangle.
std::optional<platform::CGRect> readAXWindowFrame(const platform::AXUIElementRef& window, bool& timedOut,
                                                  platform::CGFloat top);
void recordWindowLookup(const std::string& detail);

}  // namespace vurle
