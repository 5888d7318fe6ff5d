#include "platform/accessibility/accessibility.hpp"

#include <cmath>

#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

bool processRunning(pid_t pid) {
  auto application = NSRunningApplication::runningApplicationWithProcessIdentifier(pid);
  return application && !application->isTerminated();
}


}  // namespace

bool CFEqual(const AXUIElementRef& a, const AXUIElementRef& b) {
  if (!a || !b) return a == b;
  return a->isSystemWide() == b->isSystemWide() && a->pid() == b->pid() && a->node() == b->node();
}

AXValueType AXValue::type() const {
  switch (value_.index()) {
    case 0: return kAXValueCGPointType;
    case 1: return kAXValueCGSizeType;
    default: return kAXValueCGRectType;
  }
}

AXValueRef AXValueCreate(AXValueType type, const CGPoint* value) {
  if (type != kAXValueCGPointType || !value) return nullptr;
  return AXValueRef(new AXValue(*value));
}

AXValueRef AXValueCreate(AXValueType type, const CGSize* value) {
  if (type != kAXValueCGSizeType || !value) return nullptr;
  return AXValueRef(new AXValue(*value));
}

AXValueRef AXValueCreate(AXValueType type, const CGRect* value) {
  if (type != kAXValueCGRectType || !value) return nullptr;
  return AXValueRef(new AXValue(*value));
}

AXValueType AXValueGetType(const AXValueRef& value) { return value ? value->type() : kAXValueIllegalType; }

bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGPoint* out) {
  if (!value || !out || type != kAXValueCGPointType || value->type() != type) return false;
  *out = std::get<CGPoint>(value->value_);
  return true;
}

bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGSize* out) {
  if (!value || !out || type != kAXValueCGSizeType || value->type() != type) return false;
  *out = std::get<CGSize>(value->value_);
  return true;
}

bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGRect* out) {
  if (!value || !out || type != kAXValueCGRectType || value->type() != type) return false;
  *out = std::get<CGRect>(value->value_);
  return true;
}

bool AXIsProcessTrusted() { return AccessibilityServer::shared().processTrusted(); }

AXUIElementRef AXUIElementCreateApplication(pid_t pid) { return AXUIElementRef(new AXUIElement(pid, 0, false)); }

AXUIElementRef AXUIElementCreateSystemWide() { return AXUIElementRef(new AXUIElement(0, 0, true)); }

AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid) {
  if (!element || !pid) return kAXErrorIllegalArgument;
  *pid = element->pid();
  return kAXErrorSuccess;
}

AXError AXUIElementSetMessagingTimeout(const AXUIElementRef& element, float timeoutInSeconds) {
  if (!element || !(timeoutInSeconds >= 0) || !std::isfinite(timeoutInSeconds)) return kAXErrorIllegalArgument;
  if (element->isSystemWide()) {
    auto& server = AccessibilityServer::shared();
    std::lock_guard<std::mutex> guard(server.mutex_);
    server.defaultTimeout_ = timeoutInSeconds > 0 ? timeoutInSeconds : kAXDefaultMessagingTimeout;
  } else {
    element->timeout_.store(timeoutInSeconds);
  }
  return kAXErrorSuccess;
}

AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                                      AXAttributeValue* value) {
  if (!element || !value) return kAXErrorIllegalArgument;
  return AccessibilityServer::shared().copyAttribute(*element, attribute, value);
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver) {
  if (!outObserver || !callback || application <= 0) return kAXErrorIllegalArgument;
  auto observer = AccessibilityServer::shared().makeObserver(application, callback);
  if (!observer) return kAXErrorAPIDisabled;
  *outObserver = observer;
  return kAXErrorSuccess;
}

AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  const std::string& notification, void* refcon) {
  if (!observer || !element) return kAXErrorIllegalArgument;
  return AccessibilityServer::shared().addNotification(observer, element, notification, refcon);
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer) {
  return observer ? observer->source_ : nullptr;
}

AccessibilityServer& AccessibilityServer::shared() {
  static AccessibilityServer* server = [] {
    auto* made = new AccessibilityServer();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *server;
}

void AccessibilityServer::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  trusted_ = true;
  apiEnabled_ = true;
  defaultTimeout_ = kAXDefaultMessagingTimeout;
  nextNode_ = 1;
  systemWide_ = Node{};
  applications_.clear();
  observers_.clear();
  reads_ = 0;
}

void AccessibilityServer::setProcessTrusted(bool trusted) {
  std::lock_guard<std::mutex> guard(mutex_);
  trusted_ = trusted;
}

bool AccessibilityServer::processTrusted() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return trusted_;
}

void AccessibilityServer::setAPIEnabled(bool enabled) {
  std::lock_guard<std::mutex> guard(mutex_);
  apiEnabled_ = enabled;
}

AXUIElementRef AccessibilityServer::makeElement(pid_t pid) {
  std::lock_guard<std::mutex> guard(mutex_);
  const uint64_t node = nextNode_++;
  applications_[pid].nodes[node];
  return AXUIElementRef(new AXUIElement(pid, node, false));
}

AccessibilityServer::Node* AccessibilityServer::nodeFor(const AXUIElement& element) {
  if (element.isSystemWide()) return &systemWide_;
  auto& application = applications_[element.pid()];
  auto it = application.nodes.find(element.node());
  if (it != application.nodes.end()) return &it->second;
  // The application element exists as long as its process does.
  return element.node() == 0 ? &application.nodes[0] : nullptr;
}

void AccessibilityServer::setAttribute(const AXUIElementRef& element, const std::string& attribute,
                                       AXAttributeValue value) {
  if (!element) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto* node = nodeFor(*element)) {
    node->errors.erase(attribute);
    node->values[attribute] = std::move(value);
  }
}

void AccessibilityServer::setAttributeError(const AXUIElementRef& element, const std::string& attribute,
                                            AXError error) {
  if (!element) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto* node = nodeFor(*element)) node->errors[attribute] = error;
}

void AccessibilityServer::destroyElement(const AXUIElementRef& element) {
  if (!element || element->isSystemWide()) return;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto* node = nodeFor(*element);
    if (!node || node->destroyed) return;
    node->destroyed = true;
  }
  postNotification(element, kAXUIElementDestroyedNotification);
}

void AccessibilityServer::setResponseTime(pid_t pid, double seconds) {
  std::lock_guard<std::mutex> guard(mutex_);
  applications_[pid].responseTime = seconds;
}

void AccessibilityServer::setNotificationError(pid_t pid, const std::string& notification, AXError error) {
  std::lock_guard<std::mutex> guard(mutex_);
  applications_[pid].notificationErrors[notification] = error;
}

int AccessibilityServer::attributeReads() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return reads_;
}

AXError AccessibilityServer::copyAttribute(const AXUIElement& element, const std::string& attribute,
                                           AXAttributeValue* value) {
  // Asked before taking the lock: the workspace has its own.
  const bool running = element.isSystemWide() || processRunning(element.pid());
  std::lock_guard<std::mutex> guard(mutex_);
  if (const AXError error = admit(element, running)) return error;
  Node* node = nodeFor(element);
  if (!node || node->destroyed) return kAXErrorInvalidUIElement;
  if (auto error = node->errors.find(attribute); error != node->errors.end()) return error->second;
  if (auto found = node->values.find(attribute); found != node->values.end()) {
    *value = found->second;
    return kAXErrorSuccess;
  }
  if (!element.isSystemWide() && element.node() == 0 && attribute == kAXRoleAttribute) {
    *value = std::string("AXApplication");
    return kAXErrorSuccess;
  }
  return kAXErrorNoValue;
}

AXError AXUIElementCopyElementAtPosition(const AXUIElementRef& application, float x, float y,
                                         AXUIElementRef* element) {
  if (!application || !element || application->isSystemWide() || !std::isfinite(x) || !std::isfinite(y)) {
    return kAXErrorIllegalArgument;
  }
  return AccessibilityServer::shared().elementAtPosition(*application, CGPointMake(x, y), element);
}

void AccessibilityServer::addElementRegion(pid_t pid, CGRect region, const AXUIElementRef& element) {
  if (!element) return;
  std::lock_guard<std::mutex> guard(mutex_);
  applications_[pid].regions.push_back({region, element});
}

void AccessibilityServer::setHitTestError(pid_t pid, AXError error) {
  std::lock_guard<std::mutex> guard(mutex_);
  applications_[pid].hitTestError = error;
}

AXError AccessibilityServer::admit(const AXUIElement& element, bool running) {
  ++reads_;
  if (!apiEnabled_) return kAXErrorAPIDisabled;
  if (!running) return kAXErrorCannotComplete;
  if (!element.isSystemWide()) {
    const float own = element.messagingTimeout();
    const double timeout = own > 0 ? own : defaultTimeout_;
    if (applications_[element.pid()].responseTime > timeout) return kAXErrorCannotComplete;
  }
  return kAXErrorSuccess;
}

AXError AccessibilityServer::elementAtPosition(const AXUIElement& application, CGPoint point,
                                               AXUIElementRef* element) {
  const bool running = processRunning(application.pid());
  std::lock_guard<std::mutex> guard(mutex_);
  if (const AXError error = admit(application, running)) return error;
  Node* node = nodeFor(application);
  if (!node || node->destroyed) return kAXErrorInvalidUIElement;
  const auto& target = applications_[application.pid()];
  if (target.hitTestError != kAXErrorSuccess) return target.hitTestError;
  for (const auto& region : target.regions) {
    if (CGRectContainsPoint(region.rect, point)) {
      // A new reference, as every answer is: its time-out is its own.
      *element = AXUIElementRef(new AXUIElement(region.element->pid(), region.element->node(), false));
      return kAXErrorSuccess;
    }
  }
  return kAXErrorNoValue;
}

AXObserverRef AccessibilityServer::makeObserver(pid_t pid, AXObserverCallback callback) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!apiEnabled_) return nullptr;
  AXObserverRef observer(new AXObserver(pid, callback));
  std::erase_if(observers_, [](const std::weak_ptr<AXObserver>& weak) { return weak.expired(); });
  observers_.push_back(observer);
  return observer;
}

AXError AccessibilityServer::addNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                             const std::string& notification, void* refcon) {
  const bool running = processRunning(element->pid());
  std::lock_guard<std::mutex> guard(mutex_);
  if (!apiEnabled_) return kAXErrorAPIDisabled;
  if (element->isSystemWide() || element->pid() != observer->pid()) return kAXErrorIllegalArgument;
  if (!running) return kAXErrorCannotComplete;
  Node* node = nodeFor(*element);
  if (!node || node->destroyed) return kAXErrorInvalidUIElement;
  auto& errors = applications_[element->pid()].notificationErrors;
  if (auto error = errors.find(notification); error != errors.end()) return error->second;
  for (const auto& registration : observer->registrations_) {
    if (registration.notification == notification && CFEqual(registration.element, element)) {
      return kAXErrorNotificationAlreadyRegistered;
    }
  }
  observer->registrations_.push_back({element, notification, refcon});
  return kAXErrorSuccess;
}

void AccessibilityServer::postNotification(const AXUIElementRef& element, const std::string& notification) {
  if (!element) return;
  struct Delivery {
    std::weak_ptr<AXObserver> observer;
    void* refcon;
  };
  std::vector<Delivery> deliveries;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (const auto& weak : observers_) {
      auto observer = weak.lock();
      if (!observer || observer->pid() != element->pid()) continue;
      for (const auto& registration : observer->registrations_) {
        if (registration.notification != notification) continue;
        if (registration.element->node() == 0 || CFEqual(registration.element, element)) {
          deliveries.push_back({observer, registration.refcon});
        }
      }
    }
  }
  for (const auto& delivery : deliveries) {
    RunLoop::main().perform([delivery, element, notification] {
      auto observer = delivery.observer.lock();
      if (!observer || !observer->source_->isScheduled()) return;
      observer->callback_(observer, element, notification, delivery.refcon);
    });
  }
}

}  // namespace platform
