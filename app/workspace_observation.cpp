#include "app/workspace_observation.hpp"

#include <memory>

#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace vurle {

platform::AnyCancellable observeWorkspaceNotification(const platform::NSNotificationName& name,
                                                      std::function<void()> action) {
  auto& center = platform::NSWorkspace::sharedWorkspace().notificationCenter();
  // Deliveries already queued when the subscription ends are dropped.
  auto live = std::make_shared<bool>(true);
  auto shared = std::make_shared<std::function<void()>>(std::move(action));
  auto token = center.addObserverForName(name, nullptr, nullptr, [live, shared](const platform::NSNotification&) {
    platform::RunLoop::main().perform([live, shared] {
      if (*live) (*shared)();
    });
  });
  return platform::AnyCancellable([live, token]() mutable {
    *live = false;
    token.reset();
  });
}

}  // namespace vurle
