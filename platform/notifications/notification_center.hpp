#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/dispatch_queue.hpp"

namespace platform {

using NSNotificationName = std::string;

struct NSNotification {
  NSNotificationName name;
  // The poster, compared by identity only; nullptr for none.
  const void* object = nullptr;
  std::map<std::string, std::any> userInfo;
};

// An observation; dropping the last reference removes the observer, so a
// component that dies can never be called afterwards.
class NotificationObserver;
using NotificationToken = std::shared_ptr<NotificationObserver>;

// The in-process notification center. Observers register for a name and
// optionally one poster. Delivery:
// - with no queue, the block runs on the posting thread before the post
//   returns;
// - with the main queue, a post made on the main thread runs the block
//   before the post returns, a post from another thread hands it to the
//   main run loop, which runs it in a later pass;
// - with another queue, the block is handed to that queue.
class NSNotificationCenter {
 public:
  static NSNotificationCenter& defaultCenter();

  NotificationToken addObserverForName(NSNotificationName name, const void* object,
                                       std::shared_ptr<DispatchQueue> queue,
                                       std::function<void(const NSNotification&)> block);
  void removeObserver(const NotificationToken& token);
  void postNotificationName(NSNotificationName name, const void* object,
                            std::map<std::string, std::any> userInfo = {});
  void postNotification(const NSNotification& notification);

  size_t observerCount() const;

 private:
  friend class NotificationObserver;
  struct Registration {
    NotificationObserver* token;
    NSNotificationName name;
    const void* object;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<std::function<void(const NSNotification&)>> block;
  };
  void remove(const NotificationObserver* token);

  mutable std::mutex mutex_;
  std::vector<Registration> registrations_;
};

class NotificationObserver {
 public:
  ~NotificationObserver();
  NotificationObserver(const NotificationObserver&) = delete;
  NotificationObserver& operator=(const NotificationObserver&) = delete;

 private:
  friend class NSNotificationCenter;
  explicit NotificationObserver(NSNotificationCenter* center) : center_(center) {}
  NSNotificationCenter* center_;
};

}  // namespace platform
