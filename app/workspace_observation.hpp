#pragma once

#include <functional>

#include "platform/combine/published.hpp"
#include "platform/notifications/notification_center.hpp"

namespace vurle {

// Runs the action in a later pass of the main run loop after each posting
// of the workspace notification, as the shell's subscriptions deliver,
// until the returned subscription ends. The action should hold its owner
// weakly.
platform::AnyCancellable observeWorkspaceNotification(const platform::NSNotificationName& name,
                                                      std::function<void()> action);

}  // namespace vurle
