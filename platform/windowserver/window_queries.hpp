#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/function_faults.hpp"
#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// Signatures of the per-window queries as the system finds them by name.
// SLSFindWindowAndOwner takes the connection, a window to start below (0),
// two flags, the point to test (window-server coordinates) and answers the
// point in the window, the window number (0 over the bare desktop) and the
// connection of the window's owner.
using SLSFindWindowAndOwnerFn = CGError(CGSConnectionID connection, CGWindowID startBelow, int32_t flag,
                                        bool includeSelf, const CGPoint* point, CGPoint* outWindowPoint,
                                        CGWindowID* outWindow, CGSConnectionID* outOwner);
using SLSConnectionGetPIDFn = CGError(CGSConnectionID connection, int32_t* outPID);
using SLSGetWindowLevelFn = CGError(CGSConnectionID connection, CGWindowID window, int32_t* outLevel);
using SLSGetWindowBoundsFn = CGError(CGSConnectionID connection, CGWindowID window, CGRect* outBounds);
// The Dock's rectangle in window-server coordinates and why it lies there.
using SLSGetDockRectWithReasonFn = CGError(CGSConnectionID connection, CGRect* outRect, int32_t* outReason);

// The window server's answers about single windows, over the one window
// table: which window lies under a point and whose it is, each window's
// level and bounds, the process behind a client connection, and the Dock's
// rectangle. Every process that owns windows has one connection, made on
// first need; the main connection is this process's. Calls need a valid
// calling connection (the main one or one opened through Connections).
//
// Registers "SLSFindWindowAndOwner", "SLSConnectionGetPID",
// "SLSGetWindowLevel", "SLSGetWindowBounds" and "SLSGetDockRectWithReason";
// each can be made to fail. WindowServer::reset() resets it. Safe from any
// thread.
class WindowQueries {
 public:
  static WindowQueries& shared();
  // No Dock, no scripted answers, no process connections; functions
  // registered again.
  void reset();

  // The connection the window server gives a process's windows.
  CGSConnectionID connectionForProcess(pid_t pid);
  // Makes a connection read as another process (0: one that has gone).
  void setProcessOfConnection(CGSConnectionID connection, int32_t pid);

  // The Dock's rectangle, none while there is no Dock (the call fails).
  // Any value can be set, including ones the system must reject.
  void setDockRect(std::optional<CGRect> rect, int32_t reason = 0);
  // SLSGetWindowBounds answers these bounds for the window instead of its
  // own, as when the server answers for a window that just moved.
  void setReportedBounds(CGWindowID window, std::optional<CGRect> bounds);

  // The next `count` calls of the named function fail with `error` and
  // write nothing; a negative count fails every call until reset().
  void failNext(const std::string& function, CGError error, int count = 1);
  int calls(const std::string& function) const;

 private:
  WindowQueries();
  void registerFunctions();
  bool callerValid(CGSConnectionID connection) const;
  CGSConnectionID connectionForProcessLocked(pid_t pid);

  CGError findWindowAndOwner(CGSConnectionID connection, const CGPoint* point, CGPoint* outWindowPoint,
                             CGWindowID* outWindow, CGSConnectionID* outOwner);
  CGError connectionPID(CGSConnectionID connection, int32_t* outPID);
  CGError windowLevel(CGSConnectionID connection, CGWindowID window, int32_t* outLevel);
  CGError windowBounds(CGSConnectionID connection, CGWindowID window, CGRect* outBounds);
  CGError dockRect(CGSConnectionID connection, CGRect* outRect, int32_t* outReason);

  mutable std::mutex mutex_;
  std::map<pid_t, CGSConnectionID> processConnections_;
  std::map<CGSConnectionID, int32_t> connectionProcesses_;
  CGSConnectionID nextConnection_ = 0;
  std::optional<CGRect> dockRect_;
  int32_t dockReason_ = 0;
  std::map<CGWindowID, CGRect> reportedBounds_;
  FunctionFaults faults_;
};

}  // namespace platform
