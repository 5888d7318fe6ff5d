#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "cursor/engine/experimental_cursor_hit_test.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {

using platform::CGFloat;

// The bundle identifier of the one notch utility whose windows above the
// menu levels still keep the native cursor (configuration: compared for
// equality only).
inline constexpr char kElevatedUtilityBundleIdentifier[] = "com.example.notchhelper";

// Decides, for a pointer position, whether the animated cursor may run there
// or must yield to the native cursor, and names the reason: the menu bar and
// the screen edges, open menus, dialogs and sheets, the Dock, the screenshot
// interface and system surfaces (security prompts, banners, Control Center).
// An answer without a reason means the animation may run.
//
// It answers every frame from a cached, filtered copy of the on-screen
// window list and the Dock rectangle, which it refreshes off the main thread
// (at most one window-list read, one focused-dialog read and one hit test at
// a time) and applies only in the generation it was started in; every
// invalidation starts a new generation, so the answer is "native policy
// pending" until a read of that generation arrives.
//
// Coordinates: the pointer and screens are in AppKit's global space (origin
// at the bottom left, y up); windows, the Dock rectangle and hit-test results
// in the window server's (origin at the top left, y down). Both the
// conversion here and the hit test take the first screen as the main
// display: y' = maxY(first screen's frame) - y.
//
// Main thread only, except the readers it runs on its queues. It lives in a
// shared_ptr: its reads and its screen observer hold it weakly.
class NativeSurfacePolicy : public std::enable_shared_from_this<NativeSurfacePolicy> {
 public:
  // The reasons it answers.
  static constexpr char kMenuBar[] = "native menu bar";
  static constexpr char kScreenEdge[] = "native screen edge";
  static constexpr char kMenu[] = "native menu";
  static constexpr char kDialog[] = "native dialog";
  static constexpr char kPending[] = "native policy pending";
  static constexpr char kDock[] = "native Dock";
  static constexpr char kScreenshot[] = "native screenshot";

  struct Screen {
    CGRect frame{};  // global coordinates
    CGFloat safeTop = 0;  // the safe-area top: non-zero under a camera housing
    bool operator==(const Screen&) const = default;
  };
  // One window that can keep the native cursor, as the window list gave it.
  struct Window {
    uint32_t id = 0;
    int64_t layer = 0;
    int32_t pid = 0;
    std::string owner;
    CGRect bounds{};  // window-server coordinates
    bool systemOwner = false;
    bool elevatedUtility = false;
    bool operator==(const Window&) const = default;
  };
  struct ExperimentalHit {
    CGPoint point{};  // window-server coordinates
    double time = 0;
    std::optional<ExperimentalCursorSurface::Hit> hit;
  };

  using DialogReader = std::function<bool(int32_t pid)>;
  // The window number at a point in global coordinates (0: none).
  using WindowNumberReader = std::function<long(CGPoint point)>;
  using DockBoundsReader = std::function<std::optional<CGRect>()>;

  // Without readers, the defaults: readFocusedDialog and NSWindow's window
  // at the point. Reads the screens and observes their changes.
  static std::shared_ptr<NativeSurfacePolicy> make(std::optional<int32_t> foregroundPID,
                                                   DialogReader readAccessibilityDialog = nullptr,
                                                   WindowNumberReader hitWindowNumber = nullptr);
  NativeSurfacePolicy(const NativeSurfacePolicy&) = delete;
  NativeSurfacePolicy& operator=(const NativeSurfacePolicy&) = delete;

  // The reason the native cursor must stay at the pointer (global
  // coordinates), or none. `host` is the window the overlay draws in (its
  // sheet counts as a dialog); `menuEntry` is true only while the stationary
  // handoff enters a menu of the foreground application; `surface` is the
  // hit test's answer for the pointer; with `bottomEdgeOnly` the side bands
  // of the screen edge do not count. Starts a read when the cache is older
  // than 0.08 s; never waits.
  std::optional<std::string> evaluate(CGPoint pointer, const std::shared_ptr<platform::NSWindow>& host,
                                      bool menuEntry, const std::optional<ExperimentalCursorSurface>& surface,
                                      bool bottomEdgeOnly);
  // "native menu bar", "native screen edge" or none, from the screens alone.
  std::optional<std::string> screenEdgeReason(CGPoint point) const;
  // Starts the window-list and focused-dialog reads unless one runs.
  void refresh();
  // A new generation: the cache is stale, nothing in flight will be applied.
  void invalidate();
  // Drops the bundle identifiers known by process (on launch or exit).
  void forgetOwners();
  // Where the native presenter may hold frames (window-server rectangles):
  // each screen inside its edge and below its menu-bar band, minus the Dock.
  std::vector<CGRect> allowedRegions() const;
  // Whether the rectangle (global coordinates) meets a notch-utility window.
  bool overlapsElevatedUtility(CGRect rect) const;
  // The hit test's surface at the pointer where one matters (menus, the
  // Dock, the notch utility), from a hit no older than 0.07 s and within
  // 24 pt; starts a new hit test after 0.025 s or 8 pt.
  std::optional<ExperimentalCursorSurface> experimentalSurface(CGPoint pointer);
  // The surface's overlay bounds in global coordinates.
  std::optional<CGRect> overlayFrame(const std::optional<ExperimentalCursorSurface>& surface) const;
  // For a menu surface: the y (global) of the lower edge of the menu-bar
  // band of the screen holding the point.
  std::optional<CGFloat> menuBarLimit(const std::optional<ExperimentalCursorSurface>& surface,
                                      CGPoint point) const;
  // The rectangle minus the hole: the pieces below, above, left and right of
  // it, in that order, empty ones left out.
  static std::vector<CGRect> subtract(CGRect rect, std::optional<CGRect> hole);
  // Whether the application's focused window is a dialog or carries sheets;
  // every Accessibility message waits at most 0.015 s. Any thread.
  static bool readFocusedDialog(int32_t pid);
  // Bundle identifiers by process, cleared beyond 127 entries.
  using OwnerIdentities = std::unordered_map<int32_t, std::string>;
  // The window list filtered to the windows that can block, in the window
  // server's order, learning owners into the cache. Runs on the window
  // queue, which alone touches the policy's cache.
  static std::vector<Window> parseWindowList(const platform::CFArrayRef& list, OwnerIdentities& owners);

  // The engine's inputs.
  bool menuTracking() const { return menuTracking_; }
  void setMenuTracking(bool tracking) { menuTracking_ = tracking; }
  bool animateDuringCapture() const { return animateDuringCapture_; }
  void setAnimateDuringCapture(bool animate) { animateDuringCapture_ = animate; }
  std::optional<int32_t> foregroundPID() const { return foregroundPID_; }
  void setForegroundPID(std::optional<int32_t> pid) { foregroundPID_ = pid; }
  // Called after each accepted window-list read.
  void setOnRefresh(std::function<void()> onRefresh) { onRefresh_ = std::move(onRefresh); }
  // Replaces the Dock reader (the default asks the window server).
  void setReadDockBounds(DockBoundsReader reader) { readDockBounds_ = std::move(reader); }

  // State, for the engine and tests.
  double inspectedAt() const { return inspectedAt_; }
  uint64_t generation() const { return generation_; }
  const std::vector<Screen>& screens() const { return screens_; }
  const std::vector<Window>& cachedWindows() const { return cachedWindows_; }
  const std::optional<CGRect>& dockBounds() const { return dockBounds_; }
  bool focusedDialog() const { return focusedDialog_; }
  bool windowLookupInFlight() const { return windowLookupInFlight_; }
  bool dialogLookupInFlight() const { return dialogLookupInFlight_; }
  bool experimentalHitInFlight() const { return experimentalHitInFlight_; }
  const std::optional<ExperimentalHit>& experimentalHit() const { return experimentalHit_; }
  const std::shared_ptr<platform::DispatchQueue>& windowQueue() const { return windowQueue_; }
  // Owners known by process, read on the window queue (waits for it).
  size_t knownOwnerCount() const;

 private:
  NativeSurfacePolicy(std::optional<int32_t> foregroundPID, DialogReader readAccessibilityDialog,
                      WindowNumberReader hitWindowNumber);
  void refreshScreens();
  void readDialog();
  void windowListRead(uint64_t generation, std::optional<std::vector<Window>> list, std::optional<CGRect> dock,
                      double startedAt);
  // The screen holding the point; null when none.
  const Screen* screenAt(CGPoint point) const;
  // maxY of the first screen: the flip between the two coordinate spaces.
  CGFloat flipY() const;
  CGPoint toWindowServer(CGPoint point) const { return platform::CGPointMake(point.x, flipY() - point.y); }
  // The candidate that blocks at p' (window-server) and the p (global) for
  // asking the window number.
  std::optional<std::string> blockingWindow(CGPoint pointer, CGPoint serverPoint, bool menuEntry,
                                            const std::optional<ExperimentalCursorSurface>& surface);

  bool menuTracking_ = false;
  bool animateDuringCapture_ = true;
  double inspectedAt_ = 0;
  std::vector<Screen> screens_;
  platform::NotificationToken screenObserver_;
  std::vector<Window> cachedWindows_;
  const std::shared_ptr<platform::DispatchQueue> windowQueue_;
  // Touched only on windowQueue_.
  const std::shared_ptr<OwnerIdentities> ownerIdentities_;
  bool windowLookupInFlight_ = false;
  uint64_t generation_ = 0;
  std::optional<ExperimentalCursorHitTest> experimentalHitTest_;
  bool hitTestResolved_ = false;
  bool experimentalHitInFlight_ = false;
  std::optional<ExperimentalHit> experimentalHit_;
  std::function<void()> onRefresh_;
  bool focusedDialog_ = false;
  bool dialogLookupInFlight_ = false;
  std::optional<int32_t> foregroundPID_;
  DialogReader readAccessibilityDialog_;
  WindowNumberReader hitWindowNumber_;
  DockBoundsReader readDockBounds_;
  std::optional<CGRect> dockBounds_;
};

}  // namespace vurle
