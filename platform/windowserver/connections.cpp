#include "platform/windowserver/connections.hpp"

#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace platform {
namespace {

// Connections opened by this process count up from here, well apart from
// the main connection's default id.
constexpr CGSConnectionID kFirstNewConnection = 0x2c01;

}  // namespace

Connections& Connections::shared() {
  static Connections* connections = new Connections();
  return *connections;
}

Connections::Connections() { reset(); }

void Connections::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    open_.clear();
    nextConnection_ = kFirstNewConnection;
    properties_.clear();
    faults_.reset();
  }
  registerFunctions();
}

void Connections::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  registry.add<CGSNewConnectionFn>("CGSNewConnection", [this](void*, CGSConnectionID* out) {
    return newConnection(out);
  });
  registry.add<CGSReleaseConnectionFn>("CGSReleaseConnection",
                                       [this](CGSConnectionID c) { return releaseConnection(c); });
  registry.add<CGSSetConnectionPropertyFn>(
      "CGSSetConnectionProperty",
      [this](CGSConnectionID c, CGSConnectionID target, const std::string& key, const CFValue& value) {
        return setProperty(c, target, key, value);
      });
  registry.add<CGSCopyConnectionPropertyFn>(
      "CGSCopyConnectionProperty",
      [this](CGSConnectionID c, CGSConnectionID target, const std::string& key,
             std::optional<CFValue>* out) { return copyProperty(c, target, key, out); });
  registry.add<CGSHideCursorFn>("CGSHideCursor", [this](CGSConnectionID c) { return hide(c); });
  registry.add<CGSShowCursorFn>("CGSShowCursor", [this](CGSConnectionID c) { return show(c); });
}

bool Connections::isValid(CGSConnectionID connection) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return isValidLocked(connection);
}

bool Connections::isValidLocked(CGSConnectionID connection) const {
  return connection != 0 &&
         (connection == WindowServer::shared().mainConnectionID() || open_.count(connection) != 0);
}

std::set<CGSConnectionID> Connections::openConnections() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return open_;
}

void Connections::failNext(const std::string& function, CGError error, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.failNext(function, error, count);
}

void Connections::clearFailures() {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.clear();
}

int Connections::calls(const std::string& function) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return faults_.calls(function);
}

std::optional<CFValue> Connections::property(CGSConnectionID connection, const std::string& key) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = properties_.find({connection, key});
  if (it == properties_.end()) return std::nullopt;
  return it->second;
}

void Connections::setProperty(CGSConnectionID connection, const std::string& key,
                              std::optional<CFValue> value) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (value) {
    properties_.insert_or_assign({connection, key}, *value);
  } else {
    properties_.erase({connection, key});
  }
}

CGError Connections::enter(const std::string& function) { return faults_.enter(function); }

CGError Connections::newConnection(CGSConnectionID* outConnection) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = enter("CGSNewConnection")) return error;
  if (outConnection == nullptr) return kCGErrorIllegalArgument;
  const CGSConnectionID made = nextConnection_++;
  open_.insert(made);
  *outConnection = made;
  return kCGErrorSuccess;
}

CGError Connections::releaseConnection(CGSConnectionID connection) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const CGError error = enter("CGSReleaseConnection")) return error;
    if (open_.erase(connection) == 0) return kCGErrorInvalidConnection;
    for (auto it = properties_.begin(); it != properties_.end();) {
      it = it->first.first == connection ? properties_.erase(it) : std::next(it);
    }
  }
  CursorState::shared().dropHides(connection);
  CurrentCursor::shared().connectionReleased(connection);
  return kCGErrorSuccess;
}

CGError Connections::setProperty(CGSConnectionID connection, CGSConnectionID target,
                                 const std::string& key, const CFValue& value) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = enter("CGSSetConnectionProperty")) return error;
  if (!isValidLocked(connection) || !isValidLocked(target)) return kCGErrorInvalidConnection;
  properties_.insert_or_assign({target, key}, value);
  return kCGErrorSuccess;
}

CGError Connections::copyProperty(CGSConnectionID connection, CGSConnectionID target,
                                  const std::string& key, std::optional<CFValue>* outValue) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (const CGError error = enter("CGSCopyConnectionProperty")) return error;
  if (outValue == nullptr) return kCGErrorIllegalArgument;
  if (!isValidLocked(connection) || !isValidLocked(target)) return kCGErrorInvalidConnection;
  auto it = properties_.find({target, key});
  *outValue = it == properties_.end() ? std::nullopt : std::optional<CFValue>(it->second);
  return kCGErrorSuccess;
}

CGError Connections::hide(CGSConnectionID connection) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const CGError error = enter("CGSHideCursor")) return error;
    if (!isValidLocked(connection)) return kCGErrorInvalidConnection;
  }
  CursorState::shared().hideCursor(connection);
  return kCGErrorSuccess;
}

CGError Connections::show(CGSConnectionID connection) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const CGError error = enter("CGSShowCursor")) return error;
    if (!isValidLocked(connection)) return kCGErrorInvalidConnection;
  }
  CursorState::shared().showCursor(connection);
  return kCGErrorSuccess;
}

}  // namespace platform
