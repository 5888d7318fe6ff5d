#include "platform/windowserver/window_server.hpp"

#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/core_cursors.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/spaces.hpp"
#include "platform/windowserver/window_list.hpp"
#include "platform/windowserver/window_queries.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

constexpr CGSConnectionID kDefaultMainConnection = 0x1a0b;

}  // namespace

WindowServer& WindowServer::shared() {
  static WindowServer* server = [] {
    auto* made = new WindowServer();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *server;
}

WindowServer::WindowServer() { reset(); }

void WindowServer::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    mainConnection_ = kDefaultMainConnection;
    cursorScale_ = 1.0f;
    cursorScaleError_ = kCGErrorSuccess;
    cursorScaleReads_ = 0;
  }
  registerFunctions();
  CoreCursors::shared().reset();
  CursorState::shared().reset();
  Connections::shared().reset();
  CurrentCursor::shared().reset();
  WindowTable::shared().reset();
  Spaces::shared().reset();
  WindowQueries::shared().reset();
}

void WindowServer::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  registry.add<CGSMainConnectionIDFn>("CGSMainConnectionID", [this] { return mainConnectionID(); });
  registry.add<CGSGetCursorScaleFn>("CGSGetCursorScale",
                                    [this](CGSConnectionID connection, float* scale) {
                                      return getCursorScale(connection, scale);
                                    });
}

void WindowServer::setMainConnectionID(CGSConnectionID connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  mainConnection_ = connection;
}

CGSConnectionID WindowServer::mainConnectionID() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return mainConnection_;
}

void WindowServer::setCursorScale(float scale) {
  std::lock_guard<std::mutex> guard(mutex_);
  cursorScale_ = scale;
}

float WindowServer::cursorScale() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return cursorScale_;
}

void WindowServer::setCursorScaleError(CGError error) {
  std::lock_guard<std::mutex> guard(mutex_);
  cursorScaleError_ = error;
}

int WindowServer::cursorScaleReads() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return cursorScaleReads_;
}

CGError WindowServer::getCursorScale(CGSConnectionID connection, float* scale) {
  std::lock_guard<std::mutex> guard(mutex_);
  ++cursorScaleReads_;
  if (scale == nullptr) return kCGErrorIllegalArgument;
  if (connection != mainConnection_) return kCGErrorInvalidConnection;
  // A failing call leaves the caller's value as it was.
  if (cursorScaleError_ != kCGErrorSuccess) return cursorScaleError_;
  *scale = cursorScale_;
  return kCGErrorSuccess;
}

}  // namespace platform
