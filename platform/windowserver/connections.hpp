#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/function_faults.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {

// Signatures of the connection and cursor-hiding functions as the system
// finds them by name. Property values are Core Foundation values; a copied
// property is absent when the connection has none under that key.
using CGSNewConnectionFn = CGError(void* attributes, CGSConnectionID* outConnection);
using CGSReleaseConnectionFn = CGError(CGSConnectionID connection);
using CGSSetConnectionPropertyFn = CGError(CGSConnectionID connection, CGSConnectionID target,
                                           const std::string& key, const CFValue& value);
using CGSCopyConnectionPropertyFn = CGError(CGSConnectionID connection, CGSConnectionID target,
                                            const std::string& key, std::optional<CFValue>* outValue);
using CGSHideCursorFn = CGError(CGSConnectionID connection);
using CGSShowCursorFn = CGError(CGSConnectionID connection);

// The window server's client connections: the main one (WindowServer's
// mainConnectionID, which may change) and those opened with
// CGSNewConnection until released. Hides go through CursorState, counted
// per connection; releasing a connection drops its hides, as the server
// does when a client goes away. Every function can be made to fail for
// tests, and each is registered under its name. WindowServer::reset()
// resets it.
class Connections {
 public:
  static Connections& shared();
  void reset();

  bool isValid(CGSConnectionID connection) const;
  std::set<CGSConnectionID> openConnections() const;

  // The next `count` calls of the named function (its registered name, e.g.
  // "CGSShowCursor") answer `error` and change nothing; a negative count
  // makes every call fail until clearFailures().
  void failNext(const std::string& function, CGError error, int count = 1);
  void clearFailures();
  // Calls of the named function so far, failed ones included.
  int calls(const std::string& function) const;

  // What a connection holds under a key; tests may plant any value (a
  // non-Boolean, say) or remove it.
  std::optional<CFValue> property(CGSConnectionID connection, const std::string& key) const;
  void setProperty(CGSConnectionID connection, const std::string& key, std::optional<CFValue> value);

 private:
  Connections();
  void registerFunctions();
  // Counts the call; answers the injected error, if any, else success.
  CGError enter(const std::string& function);
  bool isValidLocked(CGSConnectionID connection) const;

  CGError newConnection(CGSConnectionID* outConnection);
  CGError releaseConnection(CGSConnectionID connection);
  CGError setProperty(CGSConnectionID connection, CGSConnectionID target, const std::string& key,
                      const CFValue& value);
  CGError copyProperty(CGSConnectionID connection, CGSConnectionID target, const std::string& key,
                       std::optional<CFValue>* outValue);
  CGError hide(CGSConnectionID connection);
  CGError show(CGSConnectionID connection);

  mutable std::mutex mutex_;
  std::set<CGSConnectionID> open_;
  CGSConnectionID nextConnection_ = 0;
  std::map<std::pair<CGSConnectionID, std::string>, CFValue> properties_;
  FunctionFaults faults_;
};

}  // namespace platform
