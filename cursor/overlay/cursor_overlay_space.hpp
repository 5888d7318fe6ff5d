#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "platform/appkit/window.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/windowserver/spaces.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {

// Where the overlay panel is kept so that it stays above every window on
// every Space: the presenter holds it only through this interface.
class CursorOverlayPlacement {
 public:
  virtual ~CursorOverlayPlacement() = default;
  // Moves the window in; `force` issues the move again for a window
  // already in.
  virtual void attach(const platform::NSWindow& window, bool force) = 0;
  virtual void detach(const platform::NSWindow& window) = 0;
  // Whether the window server really shows the window where it should be.
  virtual bool audit(const platform::NSWindow& window) = 0;
};

// A private window-server Space of the process, raised to an absolute level
// and shown, into which the overlay panel is moved. Main thread only.
class CursorOverlaySpace : public CursorOverlayPlacement {
 public:
  // Creates, raises and shows the Space; null on any failure (a missing
  // function or framework, no connection, no Space, a failed level).
  static std::shared_ptr<CursorOverlaySpace> make();
  // Takes every attached window out, then hides and destroys the Space.
  ~CursorOverlaySpace() override;
  CursorOverlaySpace(const CursorOverlaySpace&) = delete;
  CursorOverlaySpace& operator=(const CursorOverlaySpace&) = delete;

  void attach(const platform::NSWindow& window, bool force) override;
  void detach(const platform::NSWindow& window) override;
  // Answers from a cache for 0.08 s while the frame is unchanged.
  bool audit(const platform::NSWindow& window) override;

  static platform::CFArray windowNumbers(const std::set<long>& windows);
  // One window-list entry: the window, owned by `pid`, on screen, opaque
  // (alpha at least 0.99), with bounds within 1 pt of `expected`
  // (window-server coordinates).
  static bool matchesWindowInfo(const platform::CFDictionary& info, long windowNumber, pid_t pid,
                                platform::CGRect expected);

  int32_t connection() const { return connection_; }
  int32_t identifier() const { return identifier_; }
  const std::set<long>& windows() const { return windows_; }

 private:
  struct Visibility {
    long window;
    platform::CGRect frame;
    double time;
    bool visible;
  };

  CursorOverlaySpace() = default;
  void teardown();
  platform::CFArray spaceArray() const;

  int32_t connection_ = 0;
  int32_t identifier_ = 0;
  std::function<platform::SLSSpaceAddWindowsAndRemoveFromSpacesFn> move_;
  std::function<platform::SLSRemoveWindowsFromSpacesFn> remove_;
  std::function<platform::SLSHideSpacesFn> hide_;
  std::function<platform::SLSSpaceDestroyFn> destroy_;
  std::set<long> windows_;
  std::optional<Visibility> visibility_;
};

}  // namespace vurle
