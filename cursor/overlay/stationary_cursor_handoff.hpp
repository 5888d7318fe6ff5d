#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/pointer_animation.hpp"
#include "cursor/native/app_switcher_cursor_scope.hpp"
#include "cursor/native/cursor_access.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "platform/appkit/display_link.hpp"

namespace vurle {

// The engine's answer to "may a cursor change be morphed where the pointer
// rests?": no reason means yes; "native policy pending" means not known yet
// (try again shortly); any other reason refuses. The regions (window-server
// coordinates) are where the native presenter may hold the cursor, the
// duration the morph's length in seconds.
struct StationaryPolicyAnswer {
  std::optional<std::string> reason;
  std::vector<CGRect> regions;
  double duration = 0;
};
using StationaryPolicy = std::function<StationaryPolicyAnswer()>;

inline constexpr char kPolicyPending[] = "native policy pending";

// Morphs a cursor change that happens while the pointer rests (a context
// menu opening under a right click, a left-button gesture, an application
// changing the cursor under a still pointer) without the overlay: a sampler
// of its own watches the cursor, and its own native presenter registers
// every morph frame as the real system cursor. The native cursor is never
// hidden. The overlay presenter arms it at rest and cancels it as soon as
// it takes the pointer itself.
//
// Two ways to stop:
// - cancelStationaryHandoff (full cancel): disarms, turns the sampler off
//   and gives the pointer back to the native cursor;
// - cancel (observe-only): stops the morph and gives the pointer back, but
//   stays armed and may play the next change.
//
// Main thread only (display link, main queue, sampler callbacks); the
// native presenter's and the sampler's fields are touched under their own
// locks. Made by make(), which hands weak references of the handoff to the
// sampler and to the display link, so nothing keeps it alive but its owner.
class StationaryCursorHandoff : public std::enable_shared_from_this<StationaryCursorHandoff> {
 public:
  // A null presenter is std::invalid_argument. The sampler is created here,
  // at the stored render scale, with CGCursorIsVisible as its visibility.
  static std::shared_ptr<StationaryCursorHandoff> make(std::shared_ptr<NativeCursorPresenter> native);
  // Invalidates the display link, forbids holds until menuEntryUntil and
  // gives the pointer back to the native cursor.
  ~StationaryCursorHandoff();
  StationaryCursorHandoff(const StationaryCursorHandoff&) = delete;
  StationaryCursorHandoff& operator=(const StationaryCursorHandoff&) = delete;

  // ---- queries ----
  // Whether the resting pointer at `point` (AppKit coordinates) is still
  // the handoff's, with the buttons pressed now.
  bool holdsPointer(CGPoint point) const;
  // The native presenter still holds its window-server connection.
  bool nativeBusy() const;

  // ---- arming, activity and policy ----
  void noteActivity();
  // Arms at rest with the cursor on screen now (or, for a click, with the
  // given sample art when its seed is current). Refusals change nothing.
  void armAtRest(CGPoint point, CGFloat scale, bool rightClick, bool leftGesture, const ArtRef& sampleArt,
                 int32_t seed, bool observe);
  void refreshPolicy();
  // Arming with a published sample (the sampler's callback, a retry).
  void armWithSample(const NativeCursorSample& sample);
  // Runs the waiting policy retry if `epoch` is still current.
  void retryPolicy(uint64_t epoch);

  // ---- stopping ----
  void cancelStationaryHandoff(const std::string& reason);
  void cancel(const std::string& reason);

  // ---- frames ----
  // The display link's selector: one step of the morph.
  void advanceFrame(platform::CADisplayLink& link);
  void advance();

  // ---- gestures and the context-menu entry window ----
  bool leftGestureBoundary(CGPoint point);
  bool leftGestureRelease(CGPoint point);
  bool leftGestureArmed(CGPoint point);
  bool contextMenuEntry(CGPoint point);
  // Opens the window clamp(duration + 0.1, 0.2, 0.6) s during which a
  // right button at the armed point still counts as a resting pointer.
  void armContextMenuEntry();

  // ---- context changes ----
  void applicationContextChanged();
  void setAppSwitcherScope(std::optional<AppSwitcherCursorScope> scope);
  void resolutionChanged();

  // ---- state (read by the overlay presenter and tests; main thread) ----
  const std::shared_ptr<NativeCursorPresenter> native;
  const std::shared_ptr<NativeCursorSampler> sampler;
  const CursorAccess access;
  PointerAnimation animation{std::nullopt, std::nullopt, false, false};
  std::shared_ptr<platform::CADisplayLink> displayLink;
  CGPoint point{};
  std::optional<int32_t> seed;
  std::optional<NativeCursorSample> pending;
  double pendingAt = 0;
  double duration = 0.14;
  std::optional<NativeCursorSample> policyRetry;
  uint64_t policyRetryEpoch = 0;
  bool sourceReady = false;
  std::optional<CursorFrame> lastPresentedFrame;
  std::optional<double> lastPresentedTime;
  bool armed = false;
  std::optional<double> menuEntryUntil;
  uint64_t menuEntryEpoch = 0;
  bool isLeftGesture = false;
  StationaryPolicy policy;
  bool hasAppSwitcherScope = false;

 private:
  struct Key {};

 public:
  StationaryCursorHandoff(Key, std::shared_ptr<NativeCursorPresenter> native,
                          std::shared_ptr<NativeCursorSampler> sampler);

 private:
  // The native presenter's visibility function: 1 while the cursor shows.
  NativeCursorPresenter::Visibility visibility() const;
  bool nativeVisible() const;
  void continueArming(const NativeCursorSample& sample, const std::optional<StationaryPolicyAnswer>& answer);
  bool takeBaseline(const NativeCursorSample& sample, const ArtRef& art);
  void ensureDisplayLink();
  void dropDisplayLink();
};

// The policy regions (window-server coordinates) narrowed to a square
// around the pointer (AppKit coordinates): half side 24 pt for a left-button
// gesture, 0.5 pt otherwise. Regions the square misses, or only touches,
// are dropped; the others keep their order.
std::vector<CGRect> regionsNearPointer(const std::vector<CGRect>& regions, bool leftGesture, CGPoint point);

// The screen whose frame contains the point, first match in screen order.
std::shared_ptr<platform::NSScreen> screenContaining(CGPoint point);

}  // namespace vurle
