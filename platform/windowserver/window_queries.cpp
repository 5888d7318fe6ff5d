#include "platform/windowserver/window_queries.hpp"

#include <unistd.h>

#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/connections.hpp"

namespace platform {
namespace {

// Other processes' connections count up from here, apart from the main
// connection's default and from the ones this process opens.
constexpr CGSConnectionID kFirstProcessConnection = 0x5e01;

std::optional<WindowRecord> windowNumbered(CGWindowID number) {
  for (auto& record : WindowTable::shared().windows()) {
    if (record.number == number) return record;
  }
  return std::nullopt;
}

}  // namespace

WindowQueries& WindowQueries::shared() {
  static WindowQueries* queries = new WindowQueries();
  return *queries;
}

WindowQueries::WindowQueries() { reset(); }

void WindowQueries::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    processConnections_.clear();
    connectionProcesses_.clear();
    nextConnection_ = kFirstProcessConnection;
    dockRect_.reset();
    dockReason_ = 0;
    reportedBounds_.clear();
    faults_.reset();
  }
  registerFunctions();
}

void WindowQueries::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  registry.add<SLSFindWindowAndOwnerFn>(
      "SLSFindWindowAndOwner",
      [this](CGSConnectionID c, CGWindowID, int32_t, bool, const CGPoint* point, CGPoint* windowPoint,
             CGWindowID* window, CGSConnectionID* owner) {
        return findWindowAndOwner(c, point, windowPoint, window, owner);
      });
  registry.add<SLSConnectionGetPIDFn>("SLSConnectionGetPID",
                                      [this](CGSConnectionID c, int32_t* pid) { return connectionPID(c, pid); });
  registry.add<SLSGetWindowLevelFn>("SLSGetWindowLevel", [this](CGSConnectionID c, CGWindowID w, int32_t* level) {
    return windowLevel(c, w, level);
  });
  registry.add<SLSGetWindowBoundsFn>("SLSGetWindowBounds", [this](CGSConnectionID c, CGWindowID w, CGRect* bounds) {
    return windowBounds(c, w, bounds);
  });
  registry.add<SLSGetDockRectWithReasonFn>(
      "SLSGetDockRectWithReason",
      [this](CGSConnectionID c, CGRect* rect, int32_t* reason) { return dockRect(c, rect, reason); });
}

CGSConnectionID WindowQueries::connectionForProcess(pid_t pid) {
  if (pid == ::getpid()) return WindowServer::shared().mainConnectionID();
  std::lock_guard<std::mutex> guard(mutex_);
  return connectionForProcessLocked(pid);
}

CGSConnectionID WindowQueries::connectionForProcessLocked(pid_t pid) {
  if (pid <= 0) return 0;  // a window no client owns
  auto it = processConnections_.find(pid);
  if (it != processConnections_.end()) return it->second;
  const CGSConnectionID connection = nextConnection_++;
  processConnections_[pid] = connection;
  connectionProcesses_[connection] = pid;
  return connection;
}

void WindowQueries::setProcessOfConnection(CGSConnectionID connection, int32_t pid) {
  std::lock_guard<std::mutex> guard(mutex_);
  connectionProcesses_[connection] = pid;
}

void WindowQueries::setDockRect(std::optional<CGRect> rect, int32_t reason) {
  std::lock_guard<std::mutex> guard(mutex_);
  dockRect_ = rect;
  dockReason_ = reason;
}

void WindowQueries::setReportedBounds(CGWindowID window, std::optional<CGRect> bounds) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (bounds) {
    reportedBounds_[window] = *bounds;
  } else {
    reportedBounds_.erase(window);
  }
}

void WindowQueries::failNext(const std::string& function, CGError error, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.failNext(function, error, count);
}

int WindowQueries::calls(const std::string& function) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return faults_.calls(function);
}

// Asked without our lock: Connections takes its own and the window server's.
bool WindowQueries::callerValid(CGSConnectionID connection) const {
  return Connections::shared().isValid(connection);
}

CGError WindowQueries::findWindowAndOwner(CGSConnectionID connection, const CGPoint* point, CGPoint* outWindowPoint,
                                          CGWindowID* outWindow, CGSConnectionID* outOwner) {
  const bool valid = callerValid(connection);
  const CGSConnectionID main = WindowServer::shared().mainConnectionID();
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = faults_.enter("SLSFindWindowAndOwner")) return error;
  if (!valid) return kCGErrorInvalidConnection;
  if (point == nullptr || outWindowPoint == nullptr || outWindow == nullptr || outOwner == nullptr) {
    return kCGErrorIllegalArgument;
  }
  const auto window = WindowTable::shared().windowAt(*point);
  if (!window) {
    *outWindow = kCGNullWindowID;
    *outOwner = 0;
    *outWindowPoint = *point;
    return kCGErrorSuccess;
  }
  *outWindow = window->number;
  *outOwner = window->ownerPID == ::getpid() ? main : connectionForProcessLocked(window->ownerPID);
  *outWindowPoint = CGPointMake(point->x - window->bounds.origin.x, point->y - window->bounds.origin.y);
  return kCGErrorSuccess;
}

CGError WindowQueries::connectionPID(CGSConnectionID connection, int32_t* outPID) {
  const bool ours = callerValid(connection);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = faults_.enter("SLSConnectionGetPID")) return error;
  if (outPID == nullptr) return kCGErrorIllegalArgument;
  auto it = connectionProcesses_.find(connection);
  if (it != connectionProcesses_.end()) {
    *outPID = it->second;
    return kCGErrorSuccess;
  }
  if (!ours) return kCGErrorInvalidConnection;
  *outPID = static_cast<int32_t>(::getpid());
  return kCGErrorSuccess;
}

CGError WindowQueries::windowLevel(CGSConnectionID connection, CGWindowID window, int32_t* outLevel) {
  const bool valid = callerValid(connection);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = faults_.enter("SLSGetWindowLevel")) return error;
  if (!valid) return kCGErrorInvalidConnection;
  const auto record = windowNumbered(window);
  if (outLevel == nullptr || !record) return kCGErrorIllegalArgument;
  *outLevel = record->layer;
  return kCGErrorSuccess;
}

CGError WindowQueries::windowBounds(CGSConnectionID connection, CGWindowID window, CGRect* outBounds) {
  const bool valid = callerValid(connection);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = faults_.enter("SLSGetWindowBounds")) return error;
  if (!valid) return kCGErrorInvalidConnection;
  const auto record = windowNumbered(window);
  if (outBounds == nullptr || !record) return kCGErrorIllegalArgument;
  auto reported = reportedBounds_.find(window);
  *outBounds = reported != reportedBounds_.end() ? reported->second : record->bounds;
  return kCGErrorSuccess;
}

CGError WindowQueries::dockRect(CGSConnectionID connection, CGRect* outRect, int32_t* outReason) {
  const bool valid = callerValid(connection);
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = faults_.enter("SLSGetDockRectWithReason")) return error;
  if (!valid) return kCGErrorInvalidConnection;
  if (outRect == nullptr || outReason == nullptr) return kCGErrorIllegalArgument;
  if (!dockRect_) return kCGErrorFailure;
  *outRect = *dockRect_;
  *outReason = dockReason_;
  return kCGErrorSuccess;
}

}  // namespace platform
