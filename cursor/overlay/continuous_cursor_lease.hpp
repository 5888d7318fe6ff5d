#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/foundation/lock.hpp"

namespace vurle {

// The window-server calls that hide and show the cursor on the process's
// main connection, and the "SetsCursorInBackground" property that must be
// set on it before a hide. It has no lock: only lease operations, under the
// lease's lock, touch it.
class CursorHideConnection {
 public:
  // The resolved functions, wrapped: write and read the property, hide and
  // show (true on status 0), and the cursor's visibility.
  struct Functions {
    std::function<int32_t()> main;
    std::function<bool(int32_t connection, bool enable)> writeBackground;
    std::function<std::optional<bool>(int32_t connection)> readBackground;
    std::function<bool(int32_t connection)> hideCursor;
    std::function<bool(int32_t connection)> showCursor;
    std::function<std::optional<bool>()> isVisible;
  };

  explicit CursorHideConnection(Functions functions) : functions_(std::move(functions)) {}

  // Enabling fails while a property is already held or without a main
  // connection; disabling counts only once the property reads back false.
  bool setBackground(bool enable);
  // Only on the connection that holds the property, while it is still the
  // main connection and the property reads back true.
  bool hide();
  bool show();
  std::optional<bool> isVisible() const { return functions_.isVisible(); }
  // The connection this object set the property on and has not cleared.
  std::optional<int32_t> connection() const { return connection_; }

 private:
  const Functions functions_;
  std::optional<int32_t> connection_;
};

// A hide of the native cursor that lapses on its own: every frame extends
// it to 0.35 s ahead, and a watchdog on a background queue shows the cursor
// again as soon as the lease lapses or the Space under the pointer starts to
// change, whatever the main thread is doing, retrying every 25 ms until the
// show succeeds. After a show the property stays set until the cursor is
// seen visible, or until the first 100 ms tick after a 0.25 s grace.
//
// Lock order: the lease lock may be held while a Space gate's lock is taken
// (spaceSettled), never the reverse. onIndependentRelease runs on the
// watchdog queue with the lease lock held; it must only post elsewhere.
// A lease lives in a shared_ptr: its watchdog holds it weakly.
class ContinuousCursorLease : public std::enable_shared_from_this<ContinuousCursorLease> {
 public:
  using SpaceSettled = std::function<bool()>;
  using IndependentRelease = std::function<void()>;

  // The four closures fail closed (false, or no answer) without a hide
  // connection; `available` says whether there is one.
  ContinuousCursorLease(std::function<bool(bool)> setBackground, std::function<bool()> hideCursor,
                        std::function<bool()> showCursor, std::function<std::optional<bool>()> isVisible,
                        bool available);
  // Gives the cursor back: revokes, and clears the property at once. A
  // show that keeps failing is retried on the watchdog queue until it
  // succeeds, so the cursor is never left hidden with nothing to restore it.
  ~ContinuousCursorLease();
  ContinuousCursorLease(const ContinuousCursorLease&) = delete;
  ContinuousCursorLease& operator=(const ContinuousCursorLease&) = delete;

  // Main thread. True when the native cursor is hidden now.
  bool acquire(SpaceSettled spaceSettled, IndependentRelease onIndependentRelease);
  void extend();
  void revoke();
  // Whether the lease ended without being asked to since the last call.
  bool takeExpired();

  bool available() const { return available_; }
  // Read under the lease lock.
  bool hidden() const;
  bool backgroundEnabled() const;
  bool revoked() const;
  double deadline() const;

 private:
  void release();        // lock held
  void finishRelease();  // lock held
  void watchdogTick(const SpaceSettled& spaceSettled, const IndependentRelease& onIndependentRelease);

  const std::function<bool(bool)> setBackground_;
  const std::function<bool()> hideCursor_;
  const std::function<bool()> showCursor_;
  const std::function<std::optional<bool>()> isVisible_;
  mutable platform::NSLock lock_;
  bool hidden_ = false;
  bool backgroundEnabled_ = false;
  std::optional<double> backgroundReleaseAfter_;
  double deadline_ = 0;
  std::shared_ptr<platform::DispatchSourceTimer> timer_;
  bool expired_ = false;
  bool revoked_ = false;
  const bool available_;
};

// Resolves the six window-server functions once; without all of them the
// lease is built unavailable and never hides anything.
std::shared_ptr<ContinuousCursorLease> makeCursorLease();

}  // namespace vurle
