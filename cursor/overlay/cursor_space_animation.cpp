#include "cursor/overlay/cursor_space_animation.hpp"

#include <algorithm>
#include <limits>
#include <mutex>

#include "cursor/native/cursor_trace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
constexpr double kUnsettledHold = 0.2;
constexpr double kSpaceChangeHold = 0.5;

std::optional<uint32_t> displayNumber(const NSScreen& screen) {
  const auto description = screen.deviceDescription();
  auto it = description.find(NSScreenNumber);
  if (it == description.end() || it->second.isBoolean()) return std::nullopt;
  auto number = it->second.asInteger();
  if (!number || *number < 0 || *number > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(*number);
}

}  // namespace

CursorSpaceVisibilityGate::CursorSpaceVisibilityGate() : notBefore_(kMinusInfinity) {}

bool CursorSpaceVisibilityGate::check(bool animating, uint64_t space, double now) {
  std::lock_guard<NSLock> guard(lock_);
  if (space == 0) {
    notBefore_ = std::max(notBefore_, now + kUnsettledHold);
    return false;
  }
  if (lastSpace_ && *lastSpace_ != space) {
    notBefore_ = std::max(notBefore_, now + kSpaceChangeHold);
    CursorTrace::shared()->record("lease-space-context-changed");
  }
  lastSpace_ = space;
  if (animating) {
    notBefore_ = std::max(notBefore_, now + kUnsettledHold);
    return false;
  }
  return notBefore_ <= now;
}

void CursorSpaceVisibilityGate::holdUntil(double until) {
  std::lock_guard<NSLock> guard(lock_);
  notBefore_ = std::max(notBefore_, until);
}

double CursorSpaceVisibilityGate::notBefore() const {
  std::lock_guard<NSLock> guard(lock_);
  return notBefore_;
}

std::optional<uint64_t> CursorSpaceVisibilityGate::lastSpace() const {
  std::lock_guard<NSLock> guard(lock_);
  return lastSpace_;
}

CursorSpaceAnimation::CursorSpaceAnimation()
    : main_(dlsym<CGSMainConnectionIDFn>(RTLD_DEFAULT, "CGSMainConnectionID")),
      read_(dlsym<SLSManagedDisplayIsAnimatingFn>(RTLD_DEFAULT, "SLSManagedDisplayIsAnimating")),
      readSpace_(dlsym<SLSManagedDisplayGetCurrentSpaceFn>(RTLD_DEFAULT, "SLSManagedDisplayGetCurrentSpace")),
      lastTransitionAt_(kMinusInfinity) {}

CursorSpaceAnimation::Probe CursorSpaceAnimation::transitionProbe(const std::shared_ptr<NSScreen>& screen) {
  if (!main_ || !read_ || !readSpace_ || !screen) return {};
  const auto display = displayNumber(*screen);
  if (!display) return {};
  auto identifier = identifiers_.find(*display);
  if (identifier == identifiers_.end()) {
    auto uuid = CFUUIDCreateString(CGDisplayCreateUUIDFromDisplayID(*display));
    if (!uuid) return {};
    identifier = identifiers_.emplace(*display, std::move(*uuid)).first;
  }
  const int32_t connection = (*main_)();
  if (connection == 0) return {};
  auto& gate = visibilityGates_[*display];
  if (!gate) gate = std::make_shared<CursorSpaceVisibilityGate>();
  gate->holdUntil(lastTransitionAt_ + kUnsettledHold);
  return [read = *read_, connection, uuid = identifier->second, readSpace = *readSpace_, gate] {
    return checkTransition(read, connection, uuid, readSpace, *gate);
  };
}

bool CursorSpaceAnimation::checkTransition(const std::function<SLSManagedDisplayIsAnimatingFn>& read,
                                           int32_t connection, const std::string& uuid,
                                           const std::function<SLSManagedDisplayGetCurrentSpaceFn>& readSpace,
                                           CursorSpaceVisibilityGate& gate) {
  const bool animating = read(connection, uuid);
  const uint64_t space = readSpace(connection, uuid);
  return !gate.check(animating, space, systemUptime());
}

std::optional<bool> CursorSpaceAnimation::isTransitioning(const std::shared_ptr<NSScreen>& screen) {
  auto probe = transitionProbe(screen);
  if (!probe) return std::nullopt;
  return probe();
}

CursorSpaceAnimation::Probe CursorSpaceAnimation::transitionCheck(const std::shared_ptr<NSScreen>& screen) {
  auto probe = transitionProbe(screen);
  if (!probe) return {};
  return [probe = std::move(probe)] { return !probe(); };
}

void CursorSpaceAnimation::noteSpaceChange() {
  lastTransitionAt_ = systemUptime();
  for (auto& entry : visibilityGates_) entry.second->holdUntil(lastTransitionAt_ + kUnsettledHold);
}

}  // namespace vurle
