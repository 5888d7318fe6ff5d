#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/accessibility/accessibility.hpp"
#include "platform/foundation/lock.hpp"

namespace vurle {

// Tells whether the Accessibility interface really works for this process:
// the caller's trust answer is checked against a read of another running
// application's "AXRole". A refusal (kAXErrorAPIDisabled) means no, a
// successful read means yes, anything else leaves the trust answer
// standing. The target is kept for 5 s. Safe from any thread.
class AccessibilityRoleProbe {
 public:
  using Target = std::function<std::optional<pid_t>()>;
  using Role = std::function<platform::AXError(pid_t)>;
  using Clock = std::function<double()>;

  // Made on first use; resetProcessState() makes a fresh one next time.
  static std::shared_ptr<AccessibilityRoleProbe> shared();

  // Empty closures stand for the defaults: targetApplication, readRole and
  // the system uptime.
  explicit AccessibilityRoleProbe(Target target = nullptr, Role role = nullptr, Clock clock = nullptr);

  bool check(bool trusted);

  // The error of reading "AXRole" of the application, with the 0.015 s
  // messaging time-out.
  static platform::AXError readRole(pid_t pid);
  // Finder, else System Settings, else the first regular application, never
  // this process nor a terminated one.
  static std::optional<pid_t> targetApplication();
  // The sentence shown when the permission is missing, naming the settings
  // pane of the running system twice.
  static std::string permissionMessage();

 private:
  platform::NSLock lock_;
  const Target target_;
  const Role role_;
  const Clock clock_;
  std::optional<pid_t> cachedPID_;
  double selectedAt_;
};

}  // namespace vurle
