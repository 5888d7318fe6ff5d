#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/events/run_loop_source.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

using AXError = int32_t;
inline constexpr AXError kAXErrorSuccess = 0;
inline constexpr AXError kAXErrorFailure = -25200;
inline constexpr AXError kAXErrorIllegalArgument = -25201;
inline constexpr AXError kAXErrorInvalidUIElement = -25202;
inline constexpr AXError kAXErrorInvalidUIElementObserver = -25203;
// Also what a request answers when the application did not reply within
// the messaging time-out.
inline constexpr AXError kAXErrorCannotComplete = -25204;
inline constexpr AXError kAXErrorAttributeUnsupported = -25205;
inline constexpr AXError kAXErrorNotificationUnsupported = -25207;
inline constexpr AXError kAXErrorNotificationAlreadyRegistered = -25209;
inline constexpr AXError kAXErrorAPIDisabled = -25211;
inline constexpr AXError kAXErrorNoValue = -25212;

inline const std::string kAXRoleAttribute = "AXRole";
inline const std::string kAXSubroleAttribute = "AXSubrole";
inline const std::string kAXWindowsAttribute = "AXWindows";
inline const std::string kAXFocusedWindowAttribute = "AXFocusedWindow";
inline const std::string kAXWindowAttribute = "AXWindow";
inline const std::string kAXSheetsAttribute = "AXSheets";
inline const std::string kAXWindowRole = "AXWindow";
inline const std::string kAXStandardWindowSubrole = "AXStandardWindow";
inline const std::string kAXPositionAttribute = "AXPosition";
inline const std::string kAXSizeAttribute = "AXSize";
inline const std::string kAXChildrenAttribute = "AXChildren";
inline const std::string kAXListRole = "AXList";
inline const std::string kAXDialogSubrole = "AXDialog";
inline const std::string kAXSystemDialogSubrole = "AXSystemDialog";
// The subroles of the Dock's items.
inline const std::string kAXSeparatorDockItemSubrole = "AXSeparatorDockItem";
inline const std::string kAXApplicationDockItemSubrole = "AXApplicationDockItem";
inline const std::string kAXFolderDockItemSubrole = "AXFolderDockItem";
inline const std::string kAXTrashDockItemSubrole = "AXTrashDockItem";
inline const std::string kAXDocumentDockItemSubrole = "AXDocumentDockItem";
inline const std::string kAXCreatedNotification = "AXCreated";
inline const std::string kAXSelectedChildrenChangedNotification = "AXSelectedChildrenChanged";
inline const std::string kAXUIElementDestroyedNotification = "AXUIElementDestroyed";

// The answer an application gives when a request sets no time-out of its
// own, until the system-wide element is given another.
inline constexpr float kAXDefaultMessagingTimeout = 6.0f;

// A reference to one element of an application's Accessibility tree (or
// the system-wide element). References made separately to the same element
// are equal under CFEqual. The messaging time-out belongs to the reference.
class AXUIElement {
 public:
  AXUIElement(const AXUIElement&) = delete;
  AXUIElement& operator=(const AXUIElement&) = delete;

  pid_t pid() const { return pid_; }
  uint64_t node() const { return node_; }
  bool isSystemWide() const { return systemWide_; }
  // 0 until set: the default applies.
  float messagingTimeout() const { return timeout_.load(); }

 private:
  friend class AccessibilityServer;
  friend int32_t AXUIElementSetMessagingTimeout(const std::shared_ptr<AXUIElement>&, float);
  friend std::shared_ptr<AXUIElement> AXUIElementCreateApplication(pid_t);
  friend std::shared_ptr<AXUIElement> AXUIElementCreateSystemWide();
  AXUIElement(pid_t pid, uint64_t node, bool systemWide) : pid_(pid), node_(node), systemWide_(systemWide) {}

  const pid_t pid_;
  const uint64_t node_;  // 0: the application element
  const bool systemWide_;
  std::atomic<float> timeout_{0.0f};
};
using AXUIElementRef = std::shared_ptr<AXUIElement>;

bool CFEqual(const AXUIElementRef& a, const AXUIElementRef& b);

enum AXValueType : uint32_t {
  kAXValueIllegalType = 0,
  kAXValueCGPointType = 1,
  kAXValueCGSizeType = 2,
  kAXValueCGRectType = 3,
};

// A boxed geometry value, as positions and sizes are read.
class AXValue {
 public:
  AXValueType type() const;

 private:
  friend std::shared_ptr<const AXValue> AXValueCreate(AXValueType, const CGPoint*);
  friend std::shared_ptr<const AXValue> AXValueCreate(AXValueType, const CGSize*);
  friend std::shared_ptr<const AXValue> AXValueCreate(AXValueType, const CGRect*);
  friend bool AXValueGetValue(const std::shared_ptr<const AXValue>&, AXValueType, CGPoint*);
  friend bool AXValueGetValue(const std::shared_ptr<const AXValue>&, AXValueType, CGSize*);
  friend bool AXValueGetValue(const std::shared_ptr<const AXValue>&, AXValueType, CGRect*);
  explicit AXValue(std::variant<CGPoint, CGSize, CGRect> value) : value_(value) {}
  std::variant<CGPoint, CGSize, CGRect> value_;
};
using AXValueRef = std::shared_ptr<const AXValue>;

// Null when the type does not match what is given.
AXValueRef AXValueCreate(AXValueType type, const CGPoint* value);
AXValueRef AXValueCreate(AXValueType type, const CGSize* value);
AXValueRef AXValueCreate(AXValueType type, const CGRect* value);
AXValueType AXValueGetType(const AXValueRef& value);
// False, with the output untouched, unless the value holds that type.
bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGPoint* out);
bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGSize* out);
bool AXValueGetValue(const AXValueRef& value, AXValueType type, CGRect* out);

// An attribute's value: text (roles, subroles), a Boolean, a number, an
// element, an array of elements, or a boxed geometry value.
using AXAttributeValue =
    std::variant<std::monostate, std::string, bool, double, AXUIElementRef, std::vector<AXUIElementRef>, AXValueRef>;

// Whether this process holds the Accessibility permission, as the system's
// trust database says (AccessibilityServer::setProcessTrusted).
bool AXIsProcessTrusted();

AXUIElementRef AXUIElementCreateApplication(pid_t pid);
AXUIElementRef AXUIElementCreateSystemWide();
AXError AXUIElementGetPid(const AXUIElementRef& element, pid_t* pid);
// Seconds a request to the element's application may wait for the answer;
// 0 restores the default; on the system-wide element it sets the default of
// every element. A negative or non-number time-out: kAXErrorIllegalArgument.
AXError AXUIElementSetMessagingTimeout(const AXUIElementRef& element, float timeoutInSeconds);
// The element of the application under a point in window-server
// coordinates (origin at the top left of the first screen). Answers as an
// attribute read does (see AccessibilityServer), and kAXErrorNoValue where
// the application has nothing; the system-wide element is not supported
// here (kAXErrorIllegalArgument). Safe from any thread.
AXError AXUIElementCopyElementAtPosition(const AXUIElementRef& application, float x, float y,
                                         AXUIElementRef* element);
// Reads one attribute (see AccessibilityServer for the answers). Safe from
// any thread.
AXError AXUIElementCopyAttributeValue(const AXUIElementRef& element, const std::string& attribute,
                                      AXAttributeValue* value);

// An observer of one application's notifications. Its callback runs on the
// main run loop while its run-loop source is added there.
class AXObserver;
using AXObserverRef = std::shared_ptr<AXObserver>;
using AXObserverCallback = void (*)(AXObserverRef observer, AXUIElementRef element, const std::string& notification,
                                    void* refcon);

class AXObserver {
 public:
  AXObserver(const AXObserver&) = delete;
  AXObserver& operator=(const AXObserver&) = delete;
  pid_t pid() const { return pid_; }

 private:
  friend class AccessibilityServer;
  friend CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef&);
  struct Registration {
    AXUIElementRef element;
    std::string notification;
    void* refcon;
  };
  AXObserver(pid_t pid, AXObserverCallback callback)
      : pid_(pid), callback_(callback), source_(CFRunLoopSource::make()) {}

  const pid_t pid_;
  const AXObserverCallback callback_;
  const CFRunLoopSourceRef source_;
  std::vector<Registration> registrations_;  // guarded by the server's lock
};

AXError AXObserverCreate(pid_t application, AXObserverCallback callback, AXObserverRef* outObserver);
// Registering on the application element covers every element of it.
AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElementRef& element,
                                  const std::string& notification, void* refcon);
CFRunLoopSourceRef AXObserverGetRunLoopSource(const AXObserverRef& observer);

}  // namespace platform
