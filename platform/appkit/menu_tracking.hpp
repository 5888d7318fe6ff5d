#pragma once

#include "platform/notifications/notification_center.hpp"

namespace platform {

// Posted on the default centre, with the menu as object, when a menu of
// this application starts and ends tracking; the simulated desktop and
// tests post them.
inline const NSNotificationName NSMenuDidBeginTrackingNotification = "NSMenuDidBeginTrackingNotification";
inline const NSNotificationName NSMenuDidEndTrackingNotification = "NSMenuDidEndTrackingNotification";

}  // namespace platform
