#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "cursor/native/app_switcher_cursor_scope.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {

// The window-server name under which the presenter's frames are registered.
inline constexpr char kFrameCursorName[] = "mirt.vurle.frame";

// Shows morph frames as the real system cursor: registers each frame with
// the window server over a private connection that may set the cursor
// while another application is in front, confirms it by reading the cursor
// seed (and, where the seed proves nothing, the cursor AppKit reports),
// and remembers the seeds and pixel fingerprints of its own frames so they
// are told apart from cursors other applications set. A watchdog on a
// global queue gives the pointer back to the native cursor when a frame's
// deadline passes, whatever the main thread does.
//
// Every method may be called from any thread: all state is guarded by one
// recursive lock, which classifySeed only tries.
class NativeCursorPresenter : public std::enable_shared_from_this<NativeCursorPresenter> {
 public:
  // A frame's size and hot spot in points.
  struct FrameGeometry {
    float width = 0, height = 0, hotspotX = 0, hotspotY = 0;
    bool operator==(const FrameGeometry&) const = default;
    // Values beyond the float range become infinities.
    static FrameGeometry of(CGSize size, CGPoint hotspot);
  };
  struct FrameGeometryHash {
    size_t operator()(const FrameGeometry& geometry) const;
  };

  // The sampler's view of a seed.
  enum class SeedClass : int { busy = 0, own = 1, foreign = 2, handedBack = 3 };
  // What became of a cursor the sampler found to be one of the frames.
  enum class OwnFrameAdoption : int { notOwn = 0, adopted = 1, handedBack = 2, stale = 3 };

  // Leave to show frames over the Dock while the pointer stays inside the
  // regions (window-server coordinates), until `until`, while `safe` holds.
  struct DockPermit {
    std::vector<CGRect> regions;
    double until = 0;
    std::function<bool()> safe;
  };
  // The native cursor a transition leads to.
  struct Target {
    platform::CGImageRef image;
    CGSize size;
    CGPoint hotspot;
  };
  // The stationary handoff's context-menu entry, kept here for it.
  struct MenuEntry {
    bool active = false;
    std::optional<double> until;
  };

  using ButtonsDown = std::function<bool()>;
  using Visibility = std::function<int32_t()>;

  // Resolves the window server's functions once; without a closure, a
  // pressed mouse button 0, 1 or 2 counts as "buttons down" over the Dock.
  static std::shared_ptr<NativeCursorPresenter> make(ButtonsDown dockButtonsDown = nullptr);
  // Stops the watchdog and gives the pointer back, closing the connection.
  ~NativeCursorPresenter();
  NativeCursorPresenter(const NativeCursorPresenter&) = delete;
  NativeCursorPresenter& operator=(const NativeCursorPresenter&) = delete;

  // ---- frames ----
  bool isAvailable() const;
  // Writes the frame as the system cursor and confirms it. True also when
  // the frame was deferred for newer input or overtaken by a newer native
  // cursor: true means "carry on", never "the frame is on screen". False
  // when the presenter gave the pointer back or cannot present.
  bool submit(const CursorFrame& frame, std::optional<int32_t> inputSeed);
  bool ownsSeed(std::optional<int32_t> seed);
  // Whether the cursor shows one of the presenter's registered frames.
  bool isOwnFrame(const std::shared_ptr<platform::NSCursor>& cursor);
  bool isOwnFrameImage(const NativeCursorArt& art);

  // ---- holds, ownership and the watchdog ----
  void setHoldPolicy(bool holdsPermitted, std::optional<std::vector<CGRect>> allowedRegions,
                     std::optional<double> holdsUntil);
  bool adoptTarget(const NativeCursorArt& art, const CursorFrame& frame, int32_t seed);
  void setTarget(const NativeCursorArt& art);
  bool acceptNativeInput(const NativeCursorArt& art, int32_t seed);
  bool isAcceptedInputSeed(int32_t seed);
  void updateHoldFrame(const CursorFrame& frame, std::optional<int32_t> seed);
  // Holds a newly set native cursor behind the hold frame. An empty
  // visibility or safety function is not consulted.
  bool captureNative(const std::shared_ptr<platform::NSCursor>& cursor, int32_t seed,
                     const Visibility& visible, std::optional<double> notAfter,
                     const std::function<bool()>& safe);
  SeedClass classifySeed(int32_t seed);
  OwnFrameAdoption adoptOwnFrameSeed(const std::shared_ptr<platform::NSCursor>& cursor, int32_t seed);
  bool tightenDeadline(double time);
  void grantDockPermit(std::vector<CGRect> regions, double expiry, std::function<bool()> safe);
  void setAppSwitcherScope(std::optional<AppSwitcherCursorScope> scope);
  // Gives the pointer back to the native cursor, first registering the
  // saved target again when `registerTarget` is set.
  void restoreNative(bool registerTarget);
  // Forgets holds, target and fingerprints (screen or resolution change).
  void invalidate();

  // ---- state for the engine, the overlay's handoff and tests ----
  // Held by callers that need several steps under one lock (it is recursive).
  platform::NSRecursiveLock& lock() { return lock_; }
  uint64_t recoveryEpoch();
  uint64_t presentationGeneration();
  // The private connection, 0 when none.
  platform::CGSConnectionID connection();
  std::optional<int32_t> outputSeed();
  std::optional<int32_t> acceptedInputSeed();
  // A frame of the presenter is on screen under a running deadline.
  bool submissionsInFlight();
  bool holdsPermitted();
  void setKeepWarm(bool keepWarm);
  // Writes the hold permission and its limit as they are, nothing else.
  void setHolds(bool permitted, std::optional<double> until);
  void setAllowedRegions(std::vector<CGRect> regions);
  std::vector<CGRect> allowedRegions();
  void setMenuEntry(MenuEntry entry);
  MenuEntry menuEntry();
  void setAppSwitcherActive(bool active);
  bool appSwitcherActive();
  // The presentation deadline and the idle lease's end (0 when none).
  double deadline();
  double idleDeadline();
  bool dockOverrideActive();
  std::optional<platform::DispatchSourceTimer::Schedule> watchdogSchedule() const;
  bool knowsGeometry(const FrameGeometry& geometry);
  bool remembersFingerprint(int64_t fingerprint);

  // A frame's geometry: its rectangle's size, hot spot = minus its origin.
  static FrameGeometry frameGeometry(const CursorFrame& frame);
  // Hash of the image's pixels drawn at their own size in sRGB, with the
  // geometry; none when the image cannot be drawn.
  static std::optional<int64_t> frameFingerprint(const platform::CGImageRef& image,
                                                 const FrameGeometry& geometry);

  // The watchdog's tick; runs on its timer's queue.
  void watchdogFired();

 private:
  explicit NativeCursorPresenter(ButtonsDown dockButtonsDown);

  // Registration and read-back.
  bool ensureConnection();
  std::pair<platform::CGError, int32_t> registerImages(const platform::CGImageArrayRef& images,
                                                       const FrameGeometry& geometry);
  bool writeFrame(const platform::CGImageRef& image, const platform::CGImageArrayRef& images,
                  const FrameGeometry& geometry, std::optional<int32_t> expectedSeed,
                  std::optional<double> notAfter, bool mayOverrideDock = true);
  std::string readBack(const FrameGeometry& geometry, const platform::CGImageRef& image,
                       int32_t seedBefore);
  void rememberOwnedSeed(int32_t seed);
  void rememberFrame(const CursorFrame& frame);
  std::optional<int64_t> fingerprintOf(const CursorFrame& frame);
  std::optional<int32_t> currentSeed();
  std::optional<CGPoint> pointerLocation();

  // Holds and hand-back.
  bool holdAllowed(int32_t seed);
  void armWatchdog();
  void parkWatchdog();
  bool checkIdleLease(double now);
  bool restoreIfStaleOwnSeed(int32_t seed);
  bool dockPermitValid();
  void endDockOverride();
  void releaseConnection();
  void forgetOwnedSeeds();
  bool deadlineRuns() const { return deadline_ > 0; }
  std::optional<Target> makeTarget(const NativeCursorArt& art);

  mutable platform::NSRecursiveLock lock_;

  std::optional<std::function<platform::CGSNewConnectionFn>> createConnection_;
  std::optional<std::function<platform::CGSReleaseConnectionFn>> releaseConnection_;
  std::optional<std::function<platform::CGSSetConnectionPropertyFn>> setProperty_;
  std::optional<std::function<platform::CGSRegisterCursorWithImagesFn>> registerCursor_;
  std::optional<std::function<platform::CGSCurrentCursorSeedFn>> readSeed_;
  std::optional<std::function<platform::SLSSetDockCursorOverrideFn>> overrideDock_;
  std::optional<std::function<platform::CGSMainConnectionIDFn>> mainConnection_;
  std::optional<std::function<platform::CGSGetCurrentCursorLocationFn>> cursorLocation_;

  ButtonsDown dockButtonsDown_;
  bool dockOverrideActive_ = false;
  std::optional<DockPermit> dockPermit_;
  std::optional<AppSwitcherCursorScope> appSwitcherScope_;

  platform::CGSConnectionID connection_ = 0;
  std::optional<int32_t> outputSeed_;

  static constexpr size_t kSeedSlots = 512;
  static constexpr size_t kFingerprintSlots = 256;
  std::unordered_set<int32_t> ownedSeeds_;
  std::array<std::optional<int32_t>, kSeedSlots> seedSlots_{};
  size_t seedIndex_ = 0;
  std::unordered_set<int64_t> frameFingerprints_;
  std::array<std::optional<int64_t>, kFingerprintSlots> fingerprintSlots_{};
  size_t fingerprintIndex_ = 0;
  // How many remembered fingerprints have each geometry.
  std::unordered_map<FrameGeometry, int, FrameGeometryHash> frameGeometries_;
  std::unordered_map<int64_t, FrameGeometry> fingerprintGeometries_;
  std::unordered_map<int64_t, std::vector<uint8_t>> frameSignatures_;

  std::optional<CursorFrame> holdFrame_;
  std::optional<CursorFrame> acknowledgedFrame_;
  bool holdsPermitted_ = false;
  std::optional<double> holdsUntil_;
  bool keepWarm_ = false;
  std::vector<CGRect> allowedRegions_;

  std::optional<int64_t> targetFingerprint_;
  std::optional<Target> target_;
  std::optional<int32_t> acceptedInputSeed_;

  double idleDeadline_ = 0;
  double lastIdleRegionCheck_ = 0;
  bool releasePending_ = false;
  double deadline_ = 0;
  std::shared_ptr<platform::DispatchSourceTimer> timer_;
  bool watchdogArmed_ = false;

  uint64_t presentationGeneration_ = 0;
  uint64_t recoveryEpoch_ = 0;
  bool writeWasSuperseded_ = false;

  MenuEntry menuEntry_;
  bool appSwitcherActive_ = false;
};

}  // namespace vurle
