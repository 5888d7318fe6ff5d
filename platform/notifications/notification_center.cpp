#include "platform/notifications/notification_center.hpp"

#include <algorithm>

#include "platform/foundation/process_wide.hpp"

namespace platform {

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  // Never destroyed: observers held in static objects may outlive it.
  static NSNotificationCenter* center = new NSNotificationCenter();
  return *center;
}

NotificationToken NSNotificationCenter::addObserverForName(
    NSNotificationName name, const void* object, std::shared_ptr<DispatchQueue> queue,
    std::function<void(const NSNotification&)> block) {
  NotificationToken token(new NotificationObserver(this));
  std::lock_guard<std::mutex> guard(mutex_);
  registrations_.push_back(Registration{
      token.get(), std::move(name), object, std::move(queue),
      std::make_shared<std::function<void(const NSNotification&)>>(std::move(block))});
  return token;
}

void NSNotificationCenter::removeObserver(const NotificationToken& token) {
  if (token) remove(token.get());
}

void NSNotificationCenter::remove(const NotificationObserver* token) {
  std::lock_guard<std::mutex> guard(mutex_);
  registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                      [token](const Registration& r) { return r.token == token; }),
                       registrations_.end());
}

size_t NSNotificationCenter::observerCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return registrations_.size();
}

void NSNotificationCenter::postNotificationName(NSNotificationName name, const void* object,
                                                std::map<std::string, std::any> userInfo) {
  postNotification(NSNotification{std::move(name), object, std::move(userInfo)});
}

void NSNotificationCenter::postNotification(const NSNotification& notification) {
  // Blocks run outside the lock, so an observer may post or remove itself.
  std::vector<Registration> matching;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& registration : registrations_) {
      if (registration.name != notification.name) continue;
      if (registration.object != nullptr && registration.object != notification.object) continue;
      matching.push_back(registration);
    }
  }
  for (const auto& registration : matching) {
    const auto& queue = registration.queue;
    const bool runNow = !queue || (queue->kind() == DispatchQueue::Kind::main && isMainThread());
    if (runNow) {
      (*registration.block)(notification);
      continue;
    }
    // A delivery handed to a queue still does nothing once its observer is
    // removed: the block is held weakly.
    std::weak_ptr<std::function<void(const NSNotification&)>> weak = registration.block;
    queue->async([weak, notification] {
      if (auto block = weak.lock()) (*block)(notification);
    });
  }
}

NotificationObserver::~NotificationObserver() { center_->remove(this); }

}  // namespace platform
