#include "platform/appkit/apple_event.hpp"

#include "platform/foundation/process_wide.hpp"

namespace platform {

std::optional<FourCharCode> NSAppleEventDescriptor::paramEnumCodeForKeyword(AEKeyword keyword) const {
  const auto found = params_.find(keyword);
  if (found == params_.end()) return std::nullopt;
  return found->second;
}

NSAppleEventManager& NSAppleEventManager::sharedAppleEventManager() {
  static NSAppleEventManager* manager = new NSAppleEventManager();
  return *manager;
}

NSAppleEventManager::NSAppleEventManager() {
  addResetHook(this, [this] {
    current_.reset();
    launch_.reset();
  });
}

}  // namespace platform
