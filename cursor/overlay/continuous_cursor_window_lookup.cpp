#include "cursor/overlay/continuous_cursor_window_lookup.hpp"

#include <unistd.h>

#include <cmath>
#include <limits>
#include <variant>

#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/screen.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr double kRequestSpacing = 0.08;
constexpr double kResultLifetime = 0.16;
constexpr CGFloat kPointerSlack = 6;
constexpr float kMessagingTimeout = 0.015f;

CGFloat firstScreenTop() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
}

// One attribute read; a time-out is noted in `timedOut`.
AXError readAttribute(const AXUIElementRef& element, const std::string& attribute, AXAttributeValue* value,
                      bool& timedOut) {
  const AXError error = AXUIElementCopyAttributeValue(element, attribute, value);
  if (error == kAXErrorCannotComplete) timedOut = true;
  return error;
}

AXUIElementRef elementIn(const AXAttributeValue& value) {
  const auto* element = std::get_if<AXUIElementRef>(&value);
  return element ? *element : nullptr;
}

[[noreturn]] void timedOutWith(const std::string& detail) {
  recordWindowLookup(detail);
  throw WindowReadError();
}

}  // namespace

ContinuousCursorWindowLookup::ContinuousCursorWindowLookup(Read read)
    : queue_(DispatchQueue::make("mirt.vurle.cursor-window", QoS::userInitiated)),
      read_(std::move(read)),
      requestedAt_(-std::numeric_limits<double>::infinity()) {}

void ContinuousCursorWindowLookup::request(int32_t owner, CGPoint point, double now) {
  if (inFlight_) return;
  if (now - requestedAt_ < kRequestSpacing && requestedOwner_ == owner) return;
  inFlight_ = true;
  requestedAt_ = now;
  requestedOwner_ = owner;
  // The read itself is copied so that the worker never holds the lookup.
  queue_->async([weak = weak_from_this(), read = read_, generation = generation_, owner, point, now] {
    if (weak.expired()) return;
    Outcome outcome;
    try {
      outcome.rect = read ? read(point, owner) : std::nullopt;
    } catch (...) {
      // Any failure of the read is a temporary one: the answer may come.
      outcome.failed = true;
    }
    DispatchQueue::main()->async([weak, generation, outcome, owner, now] {
      if (auto lookup = weak.lock()) lookup->publish(generation, outcome, owner, now);
    });
  });
}

void ContinuousCursorWindowLookup::publish(uint64_t generation, const Outcome& outcome, int32_t owner,
                                           double requestedAt) {
  inFlight_ = false;
  if (generation != generation_) return;
  if (outcome.failed) {
    // A cached window survives a temporary failure of its own application.
    if (!result_ || result_->owner != owner) result_.reset();
    recordWindowLookup("temporary-ax-failure");
    return;
  }
  if (outcome.rect) {
    result_ = Result{owner, *outcome.rect, requestedAt};
  } else {
    result_.reset();
  }
}

std::optional<CGRect> ContinuousCursorWindowLookup::validate(int32_t owner, CGPoint point, double now) {
  request(owner, point, now);
  if (!result_) {
    rejectionReason_ = inFlight_ ? "lookup-pending" : "lookup-unavailable";
    return std::nullopt;
  }
  if (result_->owner != owner) {
    rejectionReason_ = "lookup-owner-change";
    return std::nullopt;
  }
  if (now - result_->at > kResultLifetime) {
    rejectionReason_ = "lookup-expired";
    return std::nullopt;
  }
  if (!CGRectContainsPoint(CGRectInset(result_->rect, -kPointerSlack, -kPointerSlack), point)) {
    rejectionReason_ = "outside-cached-window";
    return std::nullopt;
  }
  rejectionReason_ = "none";
  return result_->rect;
}

void ContinuousCursorWindowLookup::invalidate() {
  ++generation_;
  result_.reset();
  requestedAt_ = -std::numeric_limits<double>::infinity();
  requestedOwner_.reset();
}

std::optional<CGRect> hitTestWindow(int32_t owner, CGPoint point) {
  if (owner < 1 || owner == ::getpid()) return std::nullopt;
  const CGFloat top = firstScreenTop();
  auto application = AXUIElementCreateApplication(owner);
  AXUIElementSetMessagingTimeout(application, kMessagingTimeout);

  AXUIElementRef hit;
  const AXError status = AXUIElementCopyElementAtPosition(application, static_cast<float>(point.x),
                                                          static_cast<float>(top - point.y), &hit);
  if (status == kAXErrorCannotComplete) timedOutWith("hit-test-timeout");
  if (status != kAXErrorSuccess || !hit) {
    recordWindowLookup("window-unavailable");
    return std::nullopt;
  }
  pid_t hitOwner = 0;
  if (AXUIElementGetPid(hit, &hitOwner) != kAXErrorSuccess) {
    recordWindowLookup("hit-test-" + std::to_string(status));
    return std::nullopt;
  }
  AXUIElementSetMessagingTimeout(hit, kMessagingTimeout);
  if (hitOwner != owner) {
    recordWindowLookup("hit-owner-mismatch");
    return std::nullopt;
  }

  bool timedOut = false;
  AXUIElementRef window = windowOfElement(hit, timedOut);
  if (!window) {
    AXAttributeValue focused;
    if (readAttribute(application, kAXFocusedWindowAttribute, &focused, timedOut) == kAXErrorSuccess) {
      window = elementIn(focused);
    }
  }
  if (!window) {
    if (timedOut) timedOutWith("window-attribute-timeout");
    recordWindowLookup("window-unavailable");
    return std::nullopt;
  }

  AXUIElementSetMessagingTimeout(window, kMessagingTimeout);
  AXAttributeValue subrole, sheets;
  const bool standard = readAttribute(window, kAXSubroleAttribute, &subrole, timedOut) == kAXErrorSuccess &&
                        std::holds_alternative<std::string>(subrole) &&
                        std::get<std::string>(subrole) == kAXStandardWindowSubrole;
  // A failed read, or something that is not a list, counts as no sheets.
  const bool hasSheets = readAttribute(window, kAXSheetsAttribute, &sheets, timedOut) == kAXErrorSuccess &&
                         std::holds_alternative<std::vector<AXUIElementRef>>(sheets) &&
                         !std::get<std::vector<AXUIElementRef>>(sheets).empty();
  if (!standard || hasSheets) {
    if (timedOut) timedOutWith("window-validation-timeout");
    recordWindowLookup("nonstandard-window-or-sheet");
    return std::nullopt;
  }

  const auto frame = readAXWindowFrame(window, timedOut, top);
  if (timedOut) timedOutWith("window-attribute-timeout");
  recordWindowLookup(frame ? "window-ready" : "window-frame-unavailable");
  return frame;
}

AXUIElementRef windowOfElement(const AXUIElementRef& element, bool& timedOut) {
  AXAttributeValue value;
  if (readAttribute(element, kAXWindowAttribute, &value, timedOut) == kAXErrorSuccess) {
    if (auto window = elementIn(value)) return window;
  }
  AXAttributeValue role;
  if (readAttribute(element, kAXRoleAttribute, &role, timedOut) == kAXErrorSuccess &&
      std::holds_alternative<std::string>(role) && std::get<std::string>(role) == kAXWindowRole) {
    return element;
  }
  return nullptr;
}

std::optional<CGRect> readAXWindowFrame(const AXUIElementRef& window, bool& timedOut, CGFloat top) {
  AXUIElementSetMessagingTimeout(window, kMessagingTimeout);
  AXAttributeValue positionValue, sizeValue;
  if (readAttribute(window, kAXPositionAttribute, &positionValue, timedOut) != kAXErrorSuccess ||
      !std::holds_alternative<AXValueRef>(positionValue)) {
    return std::nullopt;
  }
  if (readAttribute(window, kAXSizeAttribute, &sizeValue, timedOut) != kAXErrorSuccess ||
      !std::holds_alternative<AXValueRef>(sizeValue)) {
    return std::nullopt;
  }
  CGPoint position;
  CGSize size;
  if (!AXValueGetValue(std::get<AXValueRef>(positionValue), kAXValueCGPointType, &position) ||
      !AXValueGetValue(std::get<AXValueRef>(sizeValue), kAXValueCGSizeType, &size)) {
    return std::nullopt;
  }
  if (!std::isfinite(position.x) || !std::isfinite(position.y) || !std::isfinite(size.width) ||
      !std::isfinite(size.height) || !(size.width > 0) || !(size.height > 0)) {
    return std::nullopt;
  }
  return CGRectMake(position.x, top - position.y - size.height, size.width, size.height);
}

void recordWindowLookup(const std::string& detail) {
  CursorTrace::shared()->record("overlay-window-lookup", {.detail = detail});
}

}  // namespace vurle
