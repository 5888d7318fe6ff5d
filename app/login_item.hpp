#pragma once
// Launch at login: the one shared model of the setting, over the main
// application's login-item service. It mirrors the service's status in two
// published flags (registered, and waiting for the user's approval) and
// publishes a sentence when a change fails. The flags follow the system
// only when refreshed: at creation, when a menu shows the setting, after
// every change and whenever a page shows it. Main thread only; the service
// calls are synchronous.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/combine/published.hpp"
#include "platform/foundation/error.hpp"

namespace vurle {

class LoginItem {
 public:
  // The service's status as it numbers it.
  static constexpr int notRegistered = 0;
  static constexpr int enabledStatus = 1;
  static constexpr int requiresApprovalStatus = 2;
  static constexpr int notFound = 3;

  // What the item does to the service; a failing change returns its error.
  struct Operations {
    std::function<int()> status;
    std::function<std::optional<platform::NSError>()> registerService;
    std::function<std::optional<platform::NSError>()> unregisterService;
    std::function<void()> openSettings;
  };

  // Over the main application's service; made on first use.
  static std::shared_ptr<LoginItem> shared();
  // Reads the status once before returning.
  static std::shared_ptr<LoginItem> make(Operations operations);

  // Registered: status 1 or 2.
  bool enabled() const { return enabled_.value(); }
  platform::Publisher<bool> enabledPublisher() const { return enabled_.publisher(); }
  // The user still has to approve the item: status 2.
  bool requiresApproval() const { return requiresApproval_.value(); }
  platform::Publisher<bool> requiresApprovalPublisher() const { return requiresApproval_.publisher(); }
  // The last failure as a sentence; empty when none.
  const std::string& message() const { return message_.value(); }
  platform::Publisher<std::string> messagePublisher() const { return message_.publisher(); }

  // Re-reads the status and updates both flags.
  void refreshStatus();
  // Registers or unregisters unless the status already says so; a failure
  // becomes the message, and the flags are refreshed either way.
  void setEnabled(bool wanted);
  // Sends the user where the item is approved.
  void openSettings();

 private:
  explicit LoginItem(Operations operations) : operations_(std::move(operations)) {}

  const Operations operations_;
  platform::Published<bool> enabled_{false};
  platform::Published<bool> requiresApproval_{false};
  platform::Published<std::string> message_{std::string()};
};

}  // namespace vurle
