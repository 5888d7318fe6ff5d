#pragma once

#include <cstdint>
#include <mutex>

namespace platform {

// Status codes of the window server's functions; 0 is success.
using CGError = int32_t;
inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;
inline constexpr CGError kCGErrorInvalidConnection = 1002;

using CGSConnectionID = int32_t;

// Signatures of the private functions as the system calls them, found by
// name through dlsym.
using CGSMainConnectionIDFn = CGSConnectionID();
using CGSGetCursorScaleFn = CGError(CGSConnectionID, float*);

// The simulated window server: one object that tests, and later the
// simulated desktop, configure. It offers its functions to the process by
// registering them under their names in the symbol registry; a test that
// removes a name there sees the system's "missing function" behaviour.
class WindowServer {
 public:
  static WindowServer& shared();

  // A fresh window server: default state and every function registered
  // again. Also run by platform::resetProcessState().
  void reset();

  void setMainConnectionID(CGSConnectionID connection);
  CGSConnectionID mainConnectionID() const;

  // The pointer-size factor of the accessibility settings (1.0 is normal
  // size). Any float can be set, including values the system must reject.
  void setCursorScale(float scale);
  float cursorScale() const;
  // A non-zero code makes CGSGetCursorScale fail with it.
  void setCursorScaleError(CGError error);
  int cursorScaleReads() const;

 private:
  WindowServer();
  void registerFunctions();
  CGError getCursorScale(CGSConnectionID connection, float* scale);

  mutable std::mutex mutex_;
  CGSConnectionID mainConnection_;
  float cursorScale_;
  CGError cursorScaleError_;
  int cursorScaleReads_;
};

}  // namespace platform
