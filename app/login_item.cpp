#include "app/login_item.hpp"

#include "platform/foundation/process_wide.hpp"
#include "platform/servicemanagement/app_service.hpp"

namespace vurle {
namespace {

using platform::SMAppService;

// The service is asked for afresh each time, as the main bundle may change.
std::optional<platform::NSError> registerMainApp() {
  platform::NSError error;
  if (SMAppService::mainAppService()->registerAndReturnError(&error)) return std::nullopt;
  return error;
}

std::optional<platform::NSError> unregisterMainApp() {
  platform::NSError error;
  if (SMAppService::mainAppService()->unregisterAndReturnError(&error)) return std::nullopt;
  return error;
}

platform::ProcessWide<std::shared_ptr<LoginItem>> sharedItem([] {
  return LoginItem::make({
      [] { return static_cast<int>(SMAppService::mainAppService()->status()); },
      registerMainApp,
      unregisterMainApp,
      [] { SMAppService::openSystemSettingsLoginItems(); },
  });
});

}  // namespace

std::shared_ptr<LoginItem> LoginItem::shared() { return sharedItem.get(); }

std::shared_ptr<LoginItem> LoginItem::make(Operations operations) {
  std::shared_ptr<LoginItem> item(new LoginItem(std::move(operations)));
  item->refreshStatus();
  return item;
}

void LoginItem::refreshStatus() {
  const int status = operations_.status();
  enabled_.set(status == enabledStatus || status == requiresApprovalStatus);
  requiresApproval_.set(status == requiresApprovalStatus);
}

void LoginItem::setEnabled(bool wanted) {
  message_.set(std::string());
  const int status = operations_.status();
  std::optional<platform::NSError> failure;
  if (wanted) {
    if (status != enabledStatus && status != requiresApprovalStatus) failure = operations_.registerService();
  } else if (status != notRegistered) {
    // Not found counts as off, yet asking for off still unregisters.
    failure = operations_.unregisterService();
  }
  if (failure) message_.set("Couldn’t change launch at login. " + failure->description);
  refreshStatus();
}

void LoginItem::openSettings() { operations_.openSettings(); }

}  // namespace vurle
