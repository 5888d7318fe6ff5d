#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "cursor/art/pointer_animation.hpp"
#include "cursor/art/pointer_kind.hpp"
#include "cursor/engine/cursor_access.hpp"
#include "cursor/engine/transition_timing.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "platform/combine/published.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/events/event.hpp"
#include "platform/graphics/geometry.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {
class CADisplayLink;
class NSEvent;
class NSEventMonitor;
class NSRunningApplication;
class NSScreen;
class NSTimer;
class NSWindow;
}  // namespace platform

namespace vurle {

class AppSwitcherCursorObserver;
class ContinuousCursorPresenter;
class CursorSpaceAnimation;
class ExperimentalDockCursor;
class ExperimentalDockRegions;
class NativeSurfacePolicy;
struct AppSwitcherCursorScope;
struct StationaryPolicyAnswer;
class CursorMotionListener;
class PointerDrawingView;
class StaticCursorRecognition;

// The user-defaults keys the engine reads and writes.
inline constexpr char kTransitionMillisecondsKey[] = "transitionMilliseconds";
inline constexpr char kAdaptiveTimingKey[] = "adaptiveTiming";
inline constexpr char kAnimateDuringCaptureKey[] = "animateDuringCapture";
inline constexpr char kUseLegacyCursorPresenterKey[] = "useLegacyCursorPresenter";

// The one object that animates the pointer system-wide. It holds the
// user's four timing and presenter settings (read from the user defaults at
// construction, written back by the setters), publishes the state that the
// settings, onboarding and menu bind to, and starts, pauses, stops and
// releases the animation, always handing the pointer back to the native
// cursor when it stops or yields.
//
// The application shell makes exactly one engine, installs it on its main
// window, starts and pauses it through the animation session and stops it
// at termination. Everything here runs on the main thread; the native
// presenter's and the sampler's fields are only touched under their own
// locks. Timers, observers and blocks hold the engine weakly.
//
// States: constructed (enabled, not system-wide) -> running (start) ->
// paused (the shell sets enabled false, then disable and release) or start
// refused (error set, not system-wide); stop is final.
class CursorEngine : public std::enable_shared_from_this<CursorEngine> {
 public:
  // Replaces the cursor-visibility reader and forces the native presenter
  // (verification runs only); the application passes none.
  using VerificationVisibility = int32_t (*)();

  // Reads the settings from `defaults` (the standard user defaults when
  // none is given) and observes its changes.
  static std::shared_ptr<CursorEngine> make(VerificationVisibility verificationVisibility = nullptr,
                                            std::shared_ptr<platform::NSUserDefaults> defaults = nullptr);
  ~CursorEngine();
  CursorEngine(const CursorEngine&) = delete;
  CursorEngine& operator=(const CursorEngine&) = delete;

  static constexpr double kDefaultMilliseconds = 150;
  static constexpr double kMinimumMilliseconds = 60;
  static constexpr double kMaximumMilliseconds = 220;
  // A finite value clamped to 60...220; anything else is the default.
  static double clampMilliseconds(double milliseconds);

  // ---- published state ----
  double storedMilliseconds() const { return storedMilliseconds_.value(); }
  platform::Publisher<double> storedMillisecondsPublisher() const { return storedMilliseconds_.publisher(); }
  // Clamps, publishes and stores; the next transition uses it.
  void setStoredMilliseconds(double milliseconds);

  bool adaptive() const { return adaptive_.value(); }
  platform::Publisher<bool> adaptivePublisher() const { return adaptive_.publisher(); }
  void setAdaptive(bool adaptive);

  bool animateDuringCapture() const { return animateDuringCapture_.value(); }
  platform::Publisher<bool> animateDuringCapturePublisher() const { return animateDuringCapture_.publisher(); }
  // Publishes and stores the value, hands it to the surface policy, ends any
  // screenshot grace and gives the pointer back so the change shows at once.
  void setAnimateDuringCapture(bool animate);

  const std::string& sampleText() const { return sampleText_.value(); }

  // Running for the whole desktop.
  bool systemWide() const { return systemWide_.value(); }
  platform::Publisher<bool> systemWidePublisher() const { return systemWide_.publisher(); }

  // May animate at all; the shell's pause and the settings' switch clear it.
  // While it is off the maintenance timer rests (its pass would do nothing).
  bool enabled() const { return enabled_.value(); }
  platform::Publisher<bool> enabledPublisher() const { return enabled_.publisher(); }
  void setEnabled(bool enabled);

  // The last start or permission failure as a sentence; empty when none.
  const std::string& error() const { return error_.value(); }
  platform::Publisher<std::string> errorPublisher() const { return error_.publisher(); }

  const std::optional<std::string>& automaticPauseReason() const { return automaticPauseReason_.value(); }
  platform::Publisher<std::optional<std::string>> automaticPauseReasonPublisher() const {
    return automaticPauseReason_.publisher();
  }
  // Publishes only a change (none equals none).
  void setAutomaticPauseReason(std::optional<std::string> reason);

  // The kind shown by the in-window preview; none means no demo.
  std::optional<PointerKind> demoKind() const { return demoKind_; }
  // A new kind morphs the preview to it on the next frames (the display
  // link is started for it).
  void setDemoKind(std::optional<PointerKind> kind);
  // The view that shows the in-window preview, held weakly.
  void setPreview(const std::shared_ptr<PointerDrawingView>& preview) { preview_ = preview; }

  // ---- lifecycle ----
  // Starts animating system-wide, or sets `error` and stays off. Called
  // while running, it turns the engine off instead.
  void start();
  // Final teardown at termination: taps, monitors, timers, observers.
  void stop();
  // Stops all animation work (the trace records "disabled").
  void disable();
  // Ends the running animation and gives the pointer back. With an owner
  // seed that is not the native presenter's accepted input seed, it does
  // nothing at all and answers false. Answers whether the native cursor
  // was restored.
  bool release(bool pauseLink, std::optional<int32_t> ownerSeed, bool restore);
  // Gives the cursor back and forgets the transition state.
  void yieldToNative();
  // Rebuilds the cursor art after a screen or pointer-size change; without
  // force only when the render scale changed.
  void rebuildForResolution(bool force);
  // The 0.2 s pass that keeps a running engine honest. Its timer, made by
  // install and dropped by stop, runs exactly while `enabled` holds: also
  // before the first start and while a start is refused, and it rests
  // while the shell has paused the engine, the user session is away and
  // after stop.
  void maintenance();

  // ---- inputs ----
  // Once, with the main window after launching: wires the collaborators,
  // creates the event taps (overlay presenter only; else the event
  // monitors stand in), the key monitor, the maintenance timer and the
  // notification observers. Stop undoes all of it.
  void install(const std::shared_ptr<platform::NSWindow>& window);
  // Makes sure a display link runs on the screen under the pointer while
  // the engine is wanted; a new or resumed link is not judged late.
  void ensureDisplayLink();
  // Switches taps, movement monitors and the fallback timer to what the
  // engine's state needs; called after every input.
  void armMotionSources();
  void installMovementMonitors(bool on);
  // The display link's frame.
  void tick(platform::CADisplayLink& link);
  // One frame: the engine's gates, then the overlay presenter's present
  // path (system-wide with the overlay) or the engine's own morph submitted
  // to the native presenter. A frame that arrives while one runs returns.
  void step();
  // The 1/120 s timer's frame when the display link is late.
  void fallbackTick();
  void stopDisplayLink();
  // The sampler published a new cursor.
  void sampleNow();
  // The application switcher opened or closed.
  void appSwitcherChanged(const std::optional<AppSwitcherCursorScope>& scope);

  // ---- bridges handed to the collaborators by install ----
  // The surface policy's screen-edge reason at a point (global coordinates).
  std::optional<std::string> screenEdgeReason(CGPoint point) const;
  bool overlapsElevatedUtility(CGRect rect) const;
  // Whether the stationary handoff may morph where the pointer rests, with
  // the regions where the native presenter may hold and the duration.
  StationaryPolicyAnswer stationaryHandoffDecision();
  // The surface policy accepted a new window list.
  void policyDidRefresh();
  // Tap handlers: pointer motion and discrete mouse input, button presses.
  void handleMotionEvent(platform::CGEventType type, const platform::CGEventRef& event);
  void handleButtonDown(platform::CGEventType type, const platform::CGEventRef& event);
  void recordPointerMotion();
  void handlePointerInput(const platform::NSEvent& event);
  // Key down, key up and modifier changes delivered to this application.
  void handleKeyEvent(const platform::NSEvent& event);

  // ---- notification handlers (registered by install) ----
  void defaultsDidChange();
  void menuDidBeginTracking();
  void menuDidEndTracking();
  void applicationDidActivate(const std::shared_ptr<platform::NSRunningApplication>& application);
  void activeSpaceDidChange();
  void applicationsDidChange();
  void sessionDidResign();

  // ---- timing and motion ----
  double currentSpeed() const;
  // A key went down or up within 0.12 s, or a modifier changed within
  // 0.08 s.
  static bool keyboardActive();
  // The duration of a transition now, at the given pointer speed.
  double transitionDuration(double speed) const;
  // Starts a transition to the art on the engine's own animation; false
  // when it cannot be built (the transition is then reset).
  bool beginTransition(const ArtRef& art, bool animated);
  void resetTransition();
  void recordStationaryChange(double time, CGPoint point);
  void pruneStationaryChanges(double now, CGPoint point);
  void recordSpeed(double speed, double time) { motion_.record(speed, time); }

  // ---- state, for the per-frame step and tests ----
  bool usesContinuousCursor() const { return usesContinuousCursor_; }
  const CursorMotionSpeed& motion() const { return motion_; }
  CursorBoundaryTolerance& boundaryTolerance() { return boundaryTolerance_; }
  const PointerAnimation& animation() const { return animation_; }
  std::optional<int64_t> targetIdentity() const { return targetIdentity_; }
  bool sourceValid() const { return sourceValid_; }
  void setSourceValid(bool valid) { sourceValid_ = valid; }
  bool firstMorphFrame() const { return firstMorphFrame_; }
  double firstMorphTime() const { return firstMorphTime_; }
  uint64_t traceGeneration() const { return traceGeneration_; }
  std::optional<int32_t> lastSeed() const { return lastSeed_; }
  void setLastSeed(std::optional<int32_t> seed) { lastSeed_ = seed; }
  void notePresented(const CursorFrame& frame, double time) {
    lastPresentedFrame_ = frame;
    lastPresentedTime_ = time;
  }
  std::optional<double> lastPresentedTime() const { return lastPresentedTime_; }
  const std::vector<StationaryChange>& stationaryChanges() const { return stationaryChanges_; }
  double nativeUntil() const { return nativeUntil_; }
  double screenshotUntil() const { return screenshotUntil_; }
  double ownershipCooldownUntil() const { return ownershipCooldownUntil_; }
  double lastDiscreteCursorInput() const { return lastDiscreteCursorInput_; }
  std::optional<double> policyPendingSince() const { return policyPendingSince_; }
  bool overlayVisible() const { return overlayVisible_; }

  const std::shared_ptr<NativeCursorPresenter>& presenter() const { return presenter_; }
  // Made on first use.
  const std::shared_ptr<NativeCursorSampler>& sampler();
  // The overlay presenter with its private Space, made on first use.
  const std::shared_ptr<ContinuousCursorPresenter>& continuousPresenter();
  // The Dock experiment, its verified Dock items and the Space watcher of
  // the Dock's screen, each made on first use. Releasing and pausing never
  // make them: what does not exist has nothing to give back.
  const std::shared_ptr<ExperimentalDockCursor>& dockExperiment();
  const std::shared_ptr<ExperimentalDockRegions>& dockRegions();
  CursorSpaceAnimation& dockSpace();
  bool hasDockExperiment() const { return dockExperiment_ != nullptr; }
  const std::shared_ptr<AppSwitcherCursorObserver>& appSwitcherObserver() const { return appSwitcherObserver_; }
  const std::shared_ptr<NativeSurfacePolicy>& policy() const { return policy_; }
  // Each policy screen inside its 2 pt edge and below its menu-bar band, in
  // window-server coordinates.
  std::vector<CGRect> screenRegions() const;
  const CursorAccess& access() const { return access_; }
  const std::shared_ptr<platform::CADisplayLink>& displayLink() const { return displayLink_; }
  std::shared_ptr<platform::NSScreen> linkedScreen() const { return linkedScreen_.lock(); }
  bool linkRuns() const;
  const std::shared_ptr<platform::NSTimer>& maintenanceTimer() const { return maintenance_; }
  const std::shared_ptr<platform::NSTimer>& fallbackTimer() const { return motionBoundaryTimer_; }
  bool usesMotionFallback() const { return usesMotionFallback_; }
  bool observingFallbackMotion() const { return observingFallbackMotion_; }
  uint64_t fallbackFrames() const { return fallbackFrames_; }
  std::optional<double> lastDisplayCallbackAt() const { return lastDisplayCallbackAt_; }
  std::optional<double> lastContinuousFrameAt() const { return lastContinuousFrameAt_; }
  const std::shared_ptr<CursorMotionListener>& motionListener() const { return motionListener_; }
  const std::shared_ptr<CursorMotionListener>& discreteMouseListener() const { return discreteMouseListener_; }
  const std::shared_ptr<CursorMotionListener>& buttonDownListener() const { return buttonDownListener_; }
  size_t movementMonitorCount() const { return movementMonitors_.size(); }
  double lastActivity() const { return lastActivity_; }
  size_t sampledArtCount() const { return sampledArt_.size(); }
  // The resting frame of the last change was shown: nothing more is
  // submitted until the next change, and the presenter's deadline hands
  // the pointer back to the system cursor (overlayVisible until then).
  bool restingHandBack() const { return restingHandBack_; }

 private:
  CursorEngine(VerificationVisibility verificationVisibility, std::shared_ptr<platform::NSUserDefaults> defaults);
  std::shared_ptr<ExperimentalDockCursor> dockExperiment_;
  std::shared_ptr<ExperimentalDockRegions> dockRegions_;
  std::unique_ptr<CursorSpaceAnimation> dockSpace_;
  void observeDefaults();
  void maintenancePass();
  void publishEnabled(bool enabled);
  // Makes or drops the maintenance timer to match install, stop and
  // `enabled`.
  void armMaintenance();
  std::optional<bool> storedBool(const char* key) const;
  bool readUsesContinuousCursor() const;
  // Re-reads the presenter choice; a running engine hands over from the
  // presenter it leaves to the one it takes.
  void selectPresenter();
  void takePresenter();
  // The overlay presenter when it is the one in use and exists already.
  ContinuousCursorPresenter* overlayInUse() const;
  bool accessibilityGranted() const;
  bool presenterAvailable();
  void resetGateState();
  // A new policy generation: nothing cached or in flight counts any more.
  void invalidatePolicy();
  // Ends a Dock run, when there is an experiment at all.
  void stopDockExperiment(bool restore);
  void refreshPolicyIfStale();
  bool wanted() const;
  void foldSpeed(double t, CGPoint point);
  void pauseDisplayLink();
  // The two paths of step (cursor_engine_step.cpp, cursor_engine_native_step.cpp).
  void overlayStep();
  void dockStep(const std::shared_ptr<platform::NSScreen>& screen, CGPoint pointer, bool& tookFrame);
  void nativeStep(double stepStart);
  void adoptOwnHandBack();
  void restAnimationOnArrow();
  static double now();

  const std::shared_ptr<platform::NSUserDefaults> defaults_;

  platform::Published<double> storedMilliseconds_;
  platform::Published<bool> adaptive_;
  platform::Published<bool> animateDuringCapture_;
  platform::Published<std::string> sampleText_{"select this text to test the native I-beam"};
  platform::Published<bool> systemWide_{false};
  platform::Published<bool> enabled_{true};
  platform::Published<std::string> error_{std::string()};
  platform::Published<std::optional<std::string>> automaticPauseReason_{std::nullopt};

  CursorAccess access_;
  std::shared_ptr<NativeCursorPresenter> presenter_;
  std::shared_ptr<AppSwitcherCursorObserver> appSwitcherObserver_;
  std::shared_ptr<ContinuousCursorPresenter> continuousPresenter_;
  bool usesContinuousCursor_ = false;
  std::optional<CursorFrame> lastPresentedFrame_;
  std::optional<double> lastPresentedTime_;
  const VerificationVisibility verificationVisibility_;
  std::shared_ptr<NativeCursorSampler> sampler_;
  bool samplingPass_ = false;
  bool retryDeferredFrame_ = false;
  struct DeferredSample {
    NativeCursorSample sample;
    double receivedAt = 0;
  };
  std::optional<DeferredSample> deferredSample_;
  std::optional<double> policyPendingSince_;
  std::optional<double> policyPausedAt_;
  CursorBoundaryTolerance boundaryTolerance_;
  struct BoundarySample {
    NativeCursorSample sample;
    double receivedAt = 0;
    double readyAt = 0;
  };
  std::optional<BoundarySample> boundarySample_;
  double lastDiscreteCursorInput_ = 0;
  std::unordered_map<int32_t, ArtRef> sampledArt_;
  uint64_t nativeWatchdogGeneration_ = 0;
  std::unique_ptr<StaticCursorRecognition> classifier_;
  std::shared_ptr<NativeSurfacePolicy> policy_;

  std::shared_ptr<platform::CADisplayLink> displayLink_;
  std::weak_ptr<platform::NSScreen> linkedScreen_;
  std::shared_ptr<platform::NSTimer> maintenance_;
  bool maintenanceInstalled_ = false;  // between install and stop
  std::vector<std::shared_ptr<platform::NSEventMonitor>> monitors_;
  std::vector<std::shared_ptr<platform::NSEventMonitor>> movementMonitors_;
  bool usesMotionFallback_ = false;
  bool observingFallbackMotion_ = false;
  std::shared_ptr<CursorMotionListener> motionListener_;
  std::shared_ptr<CursorMotionListener> discreteMouseListener_;
  std::shared_ptr<CursorMotionListener> buttonDownListener_;
  std::shared_ptr<platform::NSTimer> motionBoundaryTimer_;
  std::vector<platform::NotificationToken> localObservers_;
  std::vector<platform::NotificationToken> workspaceObservers_;

  PointerAnimation animation_;
  std::optional<int64_t> targetIdentity_;
  bool sourceValid_ = false;
  std::optional<PointerKind> demoKind_;
  std::optional<int32_t> lastSeed_;
  double nativeStreamUntil_ = 0;
  std::optional<int64_t> observedIdentity_;
  std::vector<StationaryChange> stationaryChanges_;
  CGSize streamSize_;
  CGPoint streamHotspot_;
  double screenshotUntil_ = 0;
  double ownershipCooldownUntil_ = 0;
  uint64_t traceGeneration_ = 0;
  std::optional<double> lastDisplayTick_;
  std::optional<double> lastDisplayCallbackAt_;
  std::optional<double> lastContinuousFrameAt_;
  bool servicingFrame_ = false;
  uint64_t fallbackFrames_ = 0;
  bool firstMorphFrame_ = false;
  double firstMorphTime_ = 0;
  CGPoint lastMouse_;
  double lastMouseTime_ = 0;
  double lastActivity_ = 0;
  double nativeUntil_ = 0;
  CursorMotionSpeed motion_;
  bool overlayVisible_ = false;
  bool restingHandBack_ = false;
  std::weak_ptr<PointerDrawingView> preview_;
  std::weak_ptr<platform::NSWindow> hostWindow_;
};

// Opens the Accessibility pane of the system settings; does nothing when
// the address does not parse.
void openAccessibilityPrivacySettings();

}  // namespace vurle
