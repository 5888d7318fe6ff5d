#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "cursor/art/pointer_animation.hpp"
#include "cursor/native/app_switcher_cursor_scope.hpp"
#include "cursor/native/cursor_access.hpp"
#include "cursor/native/native_cursor_readback.hpp"
#include "cursor/overlay/continuous_cursor_lease.hpp"
#include "cursor/overlay/continuous_cursor_panel.hpp"
#include "cursor/overlay/continuous_cursor_window_lookup.hpp"
#include "cursor/overlay/cursor_overlay_space.hpp"
#include "cursor/overlay/cursor_space_animation.hpp"
#include "cursor/overlay/stationary_cursor_handoff.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/events/event.hpp"
#include "platform/notifications/notification_center.hpp"

namespace vurle {

inline constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

// Holds the overlay back after discrete input: it may resume once the
// pointer has moved 1 point from where the input happened and the quiet
// period has passed.
struct ContinuousCursorResumeGate {
  double inputAt = kMinusInfinity;
  CGPoint inputPoint{};
  double quietPeriod = 0.3;
  bool moved = true;

  bool isOpen(double now) const { return moved && now - inputAt >= quietPeriod; }
};

// The short watch after the overlay yields during which the presenter waits
// for the pointer to stand still and then arms the stationary handoff.
struct HandoffPreparation {
  CGPoint point{};
  CGFloat scale = 1;
  double notBefore = 0;
  double deadline = 0;
  std::shared_ptr<platform::NSScreen> settlingDisplay;
  bool observeDuringPolicyRefresh = false;
};

// The overlay presenter: while the engine lets it, it hides the native
// cursor under a lease and draws the morph frames in a transparent,
// click-through panel at the pointer; on every refusal it gives the pointer
// back to the native cursor (release), and while the pointer rests it
// leaves cursor changes to its stationary handoff.
//
// Threads: everything here runs on the main thread: construction, every
// operation, its timers (main run loop, common modes), the activation
// observer and the blocks it queues. The lease's fields are read under the
// lease's lock, the native presenter's and the sampler's under theirs.
//
// The fields below are the presenter's state; its operations and the
// present path read and write them (main thread only).
class ContinuousCursorPresenter : public std::enable_shared_from_this<ContinuousCursorPresenter> {
 public:
  using BoundaryReason = std::function<std::optional<std::string>(CGPoint)>;
  using ElevatedUtility = std::function<bool(CGRect)>;

  // Builds the panel, the lease, the Space watcher, the stationary handoff
  // with its own native presenter, and observes application activation.
  // `overlaySpace` is the private Space (none when it could not be made).
  static std::shared_ptr<ContinuousCursorPresenter> make(std::shared_ptr<CursorOverlayPlacement> overlaySpace);
  // Shows the native cursor again even while the lease hides it.
  ~ContinuousCursorPresenter();
  ContinuousCursorPresenter(const ContinuousCursorPresenter&) = delete;
  ContinuousCursorPresenter& operator=(const ContinuousCursorPresenter&) = delete;

  // ---- construction helpers and diagnostics ----
  // "label;size=(width: W, height: H);hotspot=(x: X, y: Y);hidden=B;density=D".
  std::string sampleDescription(const NativeCursorArt& art, double density) const;
  // Appends "(width: W, height: H)".
  static void appendSize(std::string& text, CGSize size);
  static void insertLabels(const std::vector<std::string>& labels, std::set<std::string>& into);
  // The label of an art identity; "custom" without one.
  std::string label(std::optional<int64_t> identity) const;
  void refreshKnownLabels();
  void makeOverlayPanel();
  void rebuildPanel();
  void setLayerVisible(bool visible);
  // Made on first use, with the Accessibility window reader.
  const std::shared_ptr<ContinuousCursorWindowLookup>& windowLookup();

  // ---- panel and handoff preparation ----
  bool overlayVisible() const;
  void prepareHandoff(std::shared_ptr<platform::NSScreen> settlingDisplay, bool observeDuringPolicyRefresh,
                      CGFloat scale, double delay);
  void tickHandoffPreparation();
  void cancelHandoffPreparation();
  void yieldToNative(std::optional<AppSwitcherCursorScope> scope);

  // ---- release and native restore ----
  void release(const std::string& reason);
  void prepareIdleHandoff(const std::string& reason, std::optional<CGFloat> scale);
  void cancelStationaryHandoff(const std::string& reason);

  // ---- input ----
  // `type` is the event's type by raw value (mouse down 1 ... scroll 22).
  void handleDiscreteInput(platform::CGEventType type, double at);
  void pointerMoved(CGPoint point);
  bool canResume(double at) const;
  void reset();
  void commitDrawableClear();

  // ---- placement and idle restore ----
  // `scale` is the backing scale factor of the screen under the pointer.
  void place(CGPoint point, const CursorFrame& frame, CGFloat scale);
  bool idleRestorePending() const;
  void applyIdleRestoreVisibility();
  void releaseRecheck(platform::NSTimer& timer);
  void restoredReadback(uint64_t generation, double delay);
  void orderOutPanel(uint64_t generation);

  // ---- context changes ----
  void suspend(const std::string& reason, double at);
  void spaceChanged(double at);
  void resolutionChanged();
  // pid none, or not above 0: no foreground owner.
  void applicationContextChanged(std::optional<int32_t> pid);
  void foregroundApplicationActivated(const platform::NSNotification& notification);
  void checkScreenEdge(CGPoint point);
  bool inScreenEdgeBand(const std::shared_ptr<platform::NSScreen>& screen, CGPoint point) const;
  void requestWindowLookup(CGPoint point, double at);
  bool nativeCursorReleased() const;
  void reportDiagnostics();

  // ---- state ----
  std::shared_ptr<ContinuousCursorPanel> panel;
  const std::shared_ptr<platform::CALayer> layer;
  const std::shared_ptr<CursorOverlayPlacement> overlaySpace;
  const std::shared_ptr<ContinuousCursorLease> lease;
  const CursorAccess access;
  CursorSpaceAnimation spaceAnimation;
  const std::shared_ptr<StationaryCursorHandoff> stationaryHandoff;
  std::optional<HandoffPreparation> handoffPreparation;
  std::shared_ptr<platform::NSTimer> handoffPreparationTimer;
  StationaryPolicy stationaryPolicy;
  BoundaryReason pointerBoundaryReason;
  ElevatedUtility overlapsElevatedUtility;
  PointerAnimation animation{std::nullopt, std::nullopt, false, true};
  std::optional<int64_t> identity;
  std::unordered_map<int64_t, std::string> knownLabels;
  std::set<int64_t> resizeIdentities;
  std::optional<int32_t> sampleSeed;
  ArtRef sampledArt;
  const std::shared_ptr<NativeCursorReadbackRecorder> nativeReadback;
  bool sampleIsAnimated = false;
  std::optional<double> acquisitionStarted;
  int acquisitionFailures = 0;
  double nextAcquisitionAt = kMinusInfinity;
  double nextPanelRemapAt = kMinusInfinity;
  int panelRecoveryAttempts = 0;
  std::shared_ptr<platform::NSTimer> releaseTimer;
  std::optional<double> idleRestoreUntil;
  std::optional<double> idleRestoreRevealAt;
  std::optional<CGPoint> idleRestorePoint;
  std::optional<int32_t> idleRestoreSeed;
  std::shared_ptr<platform::NSScreen> screen;
  std::optional<int32_t> owner;
  std::optional<int32_t> foregroundPID;
  platform::NotificationToken foregroundObserver;
  std::optional<CGRect> window;
  bool usingExperimentalWindow = false;
  std::optional<double> resizeExitDeadline;
  std::optional<CursorFrame> lastFrame;
  std::optional<double> lastFrameTime;
  std::optional<double> missingSince;
  double lastAudit = 0;
  platform::CGImageRef drawnImage;
  bool pendingDrawableClear = false;
  double lastPlacementTrace = kMinusInfinity;
  platform::CGImageRef auditedImage;
  std::optional<std::string> lastStopReason;
  bool cleanupPending = false;
  bool unmapAfterRelease = false;
  uint64_t drawableGeneration = 0;
  uint64_t visibilityGeneration = 0;
  std::optional<CGPoint> lastMotionPoint;
  double lastMotionAt = kMinusInfinity;
  CGFloat verticalSpeed = 0;
  ContinuousCursorResumeGate resume;
  bool active = false;

 private:
  struct Key {};

 public:
  ContinuousCursorPresenter(Key, std::shared_ptr<CursorOverlayPlacement> overlaySpace);

 private:
  // Arms handoffPreparation as prepareHandoff does, with explicit times.
  void startPreparation(HandoffPreparation preparation, double interval);
  void resetWindowLookupCache();
  bool seedMatches(std::optional<int32_t> expected) const;
  double restoreTolerance() const;

  std::shared_ptr<ContinuousCursorWindowLookup> windowLookup_;
};

// Whether any pixel of the image, drawn into a 32 × 32 sRGB bitmap, has an
// alpha above 8; false when the bitmap cannot be made.
bool imageHasVisiblePixels(const platform::CGImageRef& image);

// The render scale of the screen under a pointer: its backing factor with
// the stored cursor scale; none without a screen.
std::optional<CGFloat> renderScaleAt(CGPoint point);

}  // namespace vurle
