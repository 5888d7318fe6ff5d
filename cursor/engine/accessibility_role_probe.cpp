#include "cursor/engine/accessibility_role_probe.hpp"

#include <unistd.h>

#include <limits>
#include <mutex>

#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/foundation/process_info.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr double kTargetLifetime = 5.0;
constexpr float kMessagingTimeout = 0.015f;
constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

}  // namespace

std::shared_ptr<AccessibilityRoleProbe> AccessibilityRoleProbe::shared() {
  static ProcessWide<std::shared_ptr<AccessibilityRoleProbe>> probe(
      [] { return std::make_shared<AccessibilityRoleProbe>(); });
  return probe.get();
}

AccessibilityRoleProbe::AccessibilityRoleProbe(Target target, Role role, Clock clock)
    : target_(target ? std::move(target) : Target(&AccessibilityRoleProbe::targetApplication)),
      role_(role ? std::move(role) : Role(&AccessibilityRoleProbe::readRole)),
      clock_(clock ? std::move(clock) : Clock(&platform::systemUptime)),
      selectedAt_(kMinusInfinity) {}

bool AccessibilityRoleProbe::check(bool trusted) {
  const double now = clock_();
  std::optional<pid_t> target;
  {
    std::lock_guard<NSLock> guard(lock_);
    if (now - selectedAt_ < kTargetLifetime && cachedPID_) target = cachedPID_;
  }
  if (!target) {
    target = target_();
    if (!target) return trusted;
    std::lock_guard<NSLock> guard(lock_);
    cachedPID_ = target;
    selectedAt_ = now;
  }
  const AXError error = role_(*target);
  if (error == kAXErrorAPIDisabled) return false;
  if (error == kAXErrorSuccess) return true;
  std::lock_guard<NSLock> guard(lock_);
  if (cachedPID_ == target) {
    cachedPID_.reset();
    selectedAt_ = kMinusInfinity;
  }
  return trusted;
}

AXError AccessibilityRoleProbe::readRole(pid_t pid) {
  auto element = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(element, kMessagingTimeout);
  AXAttributeValue value;
  return AXUIElementCopyAttributeValue(element, kAXRoleAttribute, &value);
}

std::optional<pid_t> AccessibilityRoleProbe::targetApplication() {
  const pid_t self = ::getpid();
  for (const char* bundle : {"com.apple.finder", "com.apple.systempreferences"}) {
    for (const auto& application : NSRunningApplication::runningApplicationsWithBundleIdentifier(bundle)) {
      if (application->processIdentifier() != self && !application->isTerminated()) {
        return application->processIdentifier();
      }
    }
  }
  for (const auto& application : NSWorkspace::sharedWorkspace().runningApplications()) {
    if (application->processIdentifier() != self &&
        application->activationPolicy() == NSApplicationActivationPolicy::regular && !application->isTerminated()) {
      return application->processIdentifier();
    }
  }
  return std::nullopt;
}

std::string AccessibilityRoleProbe::permissionMessage() {
  const std::string pane = ProcessInfo::operatingSystemVersion().majorVersion >= 27
                               ? "Device Control and Data Access"
                               : "Accessibility";
  return pane +
         " permission is required for cursor animations. Allow vurle in System Settings \u2192 Privacy & "
         "Security \u2192 " +
         pane + ".";
}

}  // namespace vurle
