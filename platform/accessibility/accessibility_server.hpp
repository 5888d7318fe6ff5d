#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/accessibility/accessibility.hpp"

namespace platform {

// The simulated Accessibility side of the system: the trust answer, one
// small tree per application that tests (and the simulated desktop) build,
// and the delivery of notifications to observers.
//
// A request answers, in this order:
// - kAXErrorAPIDisabled while the interface is refused to this process;
// - kAXErrorCannotComplete when the element's process is not running (not
//   listed by the workspace, or terminated), or when the application takes
//   longer to answer (setResponseTime) than the messaging time-out allows;
// - kAXErrorInvalidUIElement for an element that was destroyed or never
//   made;
// - the error set for that attribute, else its value, else kAXErrorNoValue.
// Every application element answers "AXRole" with "AXApplication" unless
// told otherwise. Safe from any thread.
class AccessibilityServer {
 public:
  static AccessibilityServer& shared();
  // Trusted, the interface granted, no trees, the 6 s default time-out.
  // Also run by resetProcessState().
  void reset();

  void setProcessTrusted(bool trusted);
  bool processTrusted() const;
  // Whether requests are served. Kept apart from the trust answer because
  // the two can disagree for a while after the user changes the setting.
  void setAPIEnabled(bool enabled);

  // A new element in the application's tree.
  AXUIElementRef makeElement(pid_t pid);
  void setAttribute(const AXUIElementRef& element, const std::string& attribute, AXAttributeValue value);
  void setAttributeError(const AXUIElementRef& element, const std::string& attribute, AXError error);
  // The element's reads fail from now on, and observers hear
  // "AXUIElementDestroyed" for it.
  void destroyElement(const AXUIElementRef& element);
  // What AXUIElementCopyElementAtPosition finds: the element of the first
  // region (in the order added) that contains the point, in window-server
  // coordinates. The element may belong to another application.
  void addElementRegion(pid_t pid, CGRect region, const AXUIElementRef& element);
  // Every hit test of the application fails with this error (0: none).
  void setHitTestError(pid_t pid, AXError error);
  // Seconds the application takes to answer a request.
  void setResponseTime(pid_t pid, double seconds);
  // AXObserverAddNotification for that application and name fails with it.
  void setNotificationError(pid_t pid, const std::string& notification, AXError error);
  // The application announces a notification about one of its elements;
  // each observer registered for it gets its callback on the main run loop.
  void postNotification(const AXUIElementRef& element, const std::string& notification);

  // Requests (attribute reads and hit tests) so far, answered or not.
  int attributeReads() const;

 private:
  friend AXError AXUIElementSetMessagingTimeout(const AXUIElementRef&, float);
  friend AXError AXUIElementCopyAttributeValue(const AXUIElementRef&, const std::string&, AXAttributeValue*);
  friend AXError AXUIElementCopyElementAtPosition(const AXUIElementRef&, float, float, AXUIElementRef*);
  friend AXError AXObserverCreate(pid_t, AXObserverCallback, AXObserverRef*);
  friend AXError AXObserverAddNotification(const AXObserverRef&, const AXUIElementRef&, const std::string&, void*);
  friend AXUIElementRef AXUIElementCreateApplication(pid_t);
  friend AXUIElementRef AXUIElementCreateSystemWide();

  struct Node {
    std::map<std::string, AXAttributeValue> values;
    std::map<std::string, AXError> errors;
    bool destroyed = false;
  };
  struct Region {
    CGRect rect;
    AXUIElementRef element;
  };
  struct Application {
    std::map<uint64_t, Node> nodes;  // node 0: the application element
    std::vector<Region> regions;
    AXError hitTestError = kAXErrorSuccess;
    double responseTime = 0;
    std::map<std::string, AXError> notificationErrors;
  };

  AccessibilityServer() = default;
  // The node an element refers to; null when it does not exist (caller
  // holds mutex_).
  Node* nodeFor(const AXUIElement& element);
  AXError copyAttribute(const AXUIElement& element, const std::string& attribute, AXAttributeValue* value);
  // The checks every request of an application element makes first (caller
  // holds mutex_); kAXErrorSuccess when it may be answered.
  AXError admit(const AXUIElement& element, bool running);
  AXError elementAtPosition(const AXUIElement& application, CGPoint point, AXUIElementRef* element);
  AXError addNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                          const std::string& notification, void* refcon);
  AXObserverRef makeObserver(pid_t pid, AXObserverCallback callback);

  mutable std::mutex mutex_;
  bool trusted_ = true;
  bool apiEnabled_ = true;
  float defaultTimeout_ = kAXDefaultMessagingTimeout;
  uint64_t nextNode_ = 1;
  Node systemWide_;
  std::map<pid_t, Application> applications_;
  std::vector<std::weak_ptr<AXObserver>> observers_;
  int reads_ = 0;
};

}  // namespace platform
