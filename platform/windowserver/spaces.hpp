#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/function_faults.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// The framework that holds the Space functions; the system opens it with
// dlopen and looks them up in its handle.
inline const std::string kSkyLightFrameworkPath =
    "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";

using CGDirectDisplayID = uint32_t;
using CGSSpaceID = uint64_t;

// A display's UUID; CFUUIDCreateString gives its canonical text.
struct CFUUID {
  std::string text;
};
using CFUUIDRef = std::shared_ptr<const CFUUID>;

// Null for display 0 and for a display the window server answers nothing
// for (Spaces::setDisplayUUID with none).
CFUUIDRef CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display);
// None for a null UUID.
std::optional<std::string> CFUUIDCreateString(const CFUUIDRef& uuid);

// An array of numbers as the Space functions take them (window numbers,
// Space identifiers); an entry that is not a whole number is skipped.
using CFArray = std::vector<CFValue>;

// Signatures of the Space functions as the system finds them by name.
// Displays are named by their UUID text.
using SLSMainConnectionIDFn = CGSConnectionID();
using SLSManagedDisplayIsAnimatingFn = bool(CGSConnectionID, const std::string& display);
// 0 when no Space can be read.
using SLSManagedDisplayGetCurrentSpaceFn = CGSSpaceID(CGSConnectionID, const std::string& display);
// 0 when no Space was made.
using SLSSpaceCreateFn = CGSSpaceID(CGSConnectionID, int32_t flag, int32_t options);
using SLSSpaceSetAbsoluteLevelFn = CGError(CGSConnectionID, CGSSpaceID, int32_t level);
using SLSShowSpacesFn = CGError(CGSConnectionID, const CFArray& spaces);
using SLSHideSpacesFn = CGError(CGSConnectionID, const CFArray& spaces);
using SLSSpaceAddWindowsAndRemoveFromSpacesFn = CGError(CGSConnectionID, CGSSpaceID, const CFArray& windows,
                                                        int32_t flags);
using SLSRemoveWindowsFromSpacesFn = CGError(CGSConnectionID, const CFArray& windows, const CFArray& spaces);
using SLSSpaceDestroyFn = CGError(CGSConnectionID, CGSSpaceID);

// The window server's Spaces: each display's UUID, current Space and
// whether it is sliding between Spaces, and the private Spaces a client
// makes. A window moved into a private Space is on screen only while that
// Space is shown; the window lists read this (showsWindow). Every function
// is registered in the SkyLight image, takes only a valid connection and
// can be made to fail. WindowServer::reset() resets it.
class Spaces {
 public:
  static Spaces& shared();
  // Every display with its default UUID, on its first Space (the display
  // number) and still; no private Space; functions registered again.
  void reset();

  // None: the display answers no UUID.
  void setDisplayUUID(CGDirectDisplayID display, std::optional<std::string> uuid);
  void setDisplayAnimating(CGDirectDisplayID display, bool animating);
  // 0 makes the Space unreadable.
  void setCurrentSpace(CGDirectDisplayID display, CGSSpaceID space);

  // The next `count` calls of the named function fail with `error` and
  // change nothing (SLSSpaceCreate answers 0); a negative count fails every
  // call until clearFailures().
  void failNext(const std::string& function, CGError error, int count = 1);
  void clearFailures();
  int calls(const std::string& function) const;

  // Private Spaces that exist, and what the window server knows of each.
  std::set<CGSSpaceID> privateSpaces() const;
  std::optional<int32_t> spaceLevel(CGSSpaceID space) const;
  bool spaceShown(CGSSpaceID space) const;
  std::set<CGWindowID> spaceWindows(CGSSpaceID space) const;

  // False only for a window in a private Space that is hidden.
  bool showsWindow(CGWindowID window) const;
  // A window that went away leaves its Space.
  void forgetWindow(CGWindowID window);

 private:
  struct Display {
    std::optional<std::string> uuid;
    bool animating = false;
    CGSSpaceID space = 0;
  };
  struct PrivateSpace {
    std::optional<int32_t> level;
    bool shown = false;
    std::set<CGWindowID> windows;
  };

  Spaces();
  void registerFunctions();
  CGError enter(const std::string& function);  // caller holds mutex_
  Display& displayLocked(CGDirectDisplayID display);
  const Display* displayNamed(const std::string& uuid) const;

  friend CFUUIDRef CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID);

  mutable std::mutex mutex_;
  std::map<CGDirectDisplayID, Display> displays_;
  std::map<CGSSpaceID, PrivateSpace> spaces_;
  CGSSpaceID nextSpace_ = 0;
  FunctionFaults faults_;
};

}  // namespace platform
