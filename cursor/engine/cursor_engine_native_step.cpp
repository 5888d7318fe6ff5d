// The engine's frame on the native path: the engine watches the system
// cursor through its sampler, morphs on its own animation and submits every
// frame to the native presenter, which registers it as the system cursor.
//
// Hand-back after a morph: once the resting frame of a finished morph has
// been acknowledged, it is not submitted again. Re-submitting it every frame
// would keep extending the presenter's deadline, so the registered frame
// would never be handed back and the display link would never rest. Instead
// the deadline gives the pointer back to the system cursor (showing the
// same shape), the engine adopts the recovery epochs of that hand-back as
// its own (no cooldown, no yield), re-arms the holds so that the next change
// is held and morphed as usual, and lets the display link rest.

#include <algorithm>

#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/pointer_drawing_view.hpp"
#include "cursor/art/static_cursor_recognition.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"

namespace vurle {
namespace {

constexpr double kPolicyPendingTolerance = 0.1;
constexpr double kDiscreteInputWindow = 0.15;
constexpr double kStreamWindow = 0.3;
constexpr size_t kStationaryChangeLimit = 3;
constexpr double kOwnershipCooldown = 0.5;
constexpr double kDemoIdlePause = 0.25;
constexpr double kBoundaryReleaseSpeed = 1000;
constexpr double kBoundaryReleaseDistance = 6;
constexpr size_t kSampledArtLimit = 64;

bool reduceMotion() { return platform::NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion(); }

void record(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

}  // namespace

void CursorEngine::adoptOwnHandBack() {
  nativeWatchdogGeneration_ = presenter_->recoveryEpoch();
  if (presenter_->connection() != 0) return;  // the idle lease still runs
  // The system cursor shows the shape again: holds come back so that the
  // next change is held behind the resting frame and morphed from it.
  overlayVisible_ = false;
  presenter_->setHoldPolicy(!reduceMotion(), policy_->allowedRegions(), std::nullopt);
  if (lastPresentedFrame_) presenter_->updateHoldFrame(*lastPresentedFrame_, std::nullopt);
}

void CursorEngine::nativeStep(double stepStart) {
  const double t = now();
  const CGPoint p = platform::NSEvent::mouseLocation();
  // The link runs while a morph runs, while the engine's own frame is held
  // on screen or a boundary sample waits; a hand-back in progress is left to
  // the presenter's deadline.
  auto keepLink = [&] {
    if (animation_.isRunning(t) && !reduceMotion()) return;
    if (overlayVisible_ && !restingHandBack_) return;
    if (boundarySample_) return;
    if (systemWide()) {
      pauseDisplayLink();
      lastDisplayTick_.reset();
    } else if (t - lastActivity_ > kDemoIdlePause) {
      pauseDisplayLink();
    }
  };
  if (!samplingPass_) {
    std::optional<double> gap;
    if (lastDisplayTick_) gap = (t - *lastDisplayTick_) * 1000;
    record("tick", {.generation = traceGeneration_, .value = gap});
    lastDisplayTick_ = t;
  }

  // The presenter's watchdog gave the pointer back on its own.
  if (overlayVisible_ && restingHandBack_) {
    if (presenter_->recoveryEpoch() != nativeWatchdogGeneration_ || presenter_->connection() == 0) adoptOwnHandBack();
  } else if (const uint64_t epoch = presenter_->recoveryEpoch(); epoch != nativeWatchdogGeneration_ && !overlayVisible_) {
    nativeWatchdogGeneration_ = epoch;
    sourceValid_ = false;
    targetIdentity_.reset();
    firstMorphFrame_ = false;
    animation_.started = t;
    animation_.duration = 0;
    boundarySample_.reset();
    boundaryTolerance_.reset();
    lastPresentedFrame_.reset();
    lastPresentedTime_.reset();
    sampler()->clearPublishedSeed();
  }

  if (t < screenshotUntil_) return yieldToNative();

  // ---- the sample of this frame ----
  std::optional<NativeCursorSample> pending;
  if (systemWide()) pending = sampler()->takePending();
  // The sampler announces the presenter's own frames by seed alone: that is
  // the echo of what the engine shows, not a new cursor to give way to.
  if (pending && !pending->cursor && !pending->isAnimated && presenter_->ownsSeed(pending->seed)) pending.reset();
  bool boundaryReleased = false;
  if (boundarySample_) {
    const auto& waiting = boundaryTolerance_.pending;
    boundaryReleased = !waiting || t >= waiting->deadline || currentSpeed() >= kBoundaryReleaseSpeed ||
                       pointDistance(p, waiting->point) >= kBoundaryReleaseDistance ||
                       lastDiscreteCursorInput_ > boundarySample_->receivedAt;
  }
  struct Chosen {
    NativeCursorSample sample;
    double time = 0;
    bool fromBoundary = false;
  };
  std::optional<Chosen> chosen;
  if (pending) {
    chosen = Chosen{*pending, t, false};
  } else if (deferredSample_) {
    chosen = Chosen{deferredSample_->sample, deferredSample_->receivedAt, false};
  } else if (boundarySample_ && boundaryReleased) {
    chosen = Chosen{boundarySample_->sample, boundarySample_->receivedAt, true};
  }
  if (chosen) boundarySample_.reset();
  deferredSample_.reset();

  // The step that ends a pending wait gives the holds the wait capped back
  // as the policy allows them, once more when its own sample has made the
  // source valid. Left capped, they would lapse a tenth of a second after
  // the wait began: every later change would be shown unheld, and a morph
  // begun on this step would be handed back at the old cap. A yield later
  // in the step takes them away again; a grace never gets this far.
  bool waitEnded = false;
  const auto restoreHolds = [&] {
    presenter_->setHoldPolicy(sourceValid_ && !reduceMotion(), policy_->allowedRegions(), std::nullopt);
  };

  bool toFrame = false;
  if (!systemWide()) {
    // The preview in the application's own window: no grace, visibility or
    // policy applies, only an open menu or sheet stops it.
    const auto host = hostWindow_.lock();
    if (policy_->menuTracking() || (host && host->attachedSheet())) return yieldToNative();
    chosen.reset();
    const ArtRef art = demoKind_ ? NativeCursorLibrary::shared()->art(*demoKind_) : nullptr;
    if (art && targetIdentity_ != art->identity()) {
      // A new kind starts the preview's transition from whatever it shows.
      lastActivity_ = t;
      if (!beginTransition(art, sourceValid_)) return;
      sourceValid_ = true;
    }
    toFrame = true;
  }

  if (!toFrame) {
    if (t < ownershipCooldownUntil_ || t < nativeUntil_) return yieldToNative();
    const bool hidden =
        verificationVisibility_ ? verificationVisibility_() == 0 : access_.cursorIsVisible() == std::optional<bool>(false);
    if (hidden) return yieldToNative();
    toFrame = !chosen && !firstMorphFrame_ && !animation_.isRunning(t) && sourceValid_ && !policyPendingSince_;
  }

  if (!toFrame) {
    // ---- surface policy ----
    const auto reason = policy_->evaluate(p, hostWindow_.lock(), false, std::nullopt, false);
    if (reason) {
      record("policy-yield", {.generation = traceGeneration_, .detail = *reason});
      const double since = policyPendingSince_ ? std::min(*policyPendingSince_, t) : t;
      if (*reason != NativeSurfacePolicy::kPending || t - since >= kPolicyPendingTolerance) return yieldToNative();
      // A short pending answer pauses the morph where it stands; the
      // presenter keeps holding the last frame meanwhile.
      policyPendingSince_ = since;
      if (chosen) deferredSample_ = DeferredSample{chosen->sample, chosen->time};
      presenter_->setHoldPolicy(sourceValid_ && !reduceMotion(), policy_->allowedRegions(),
                                since + kPolicyPendingTolerance);
      if (presenter_->tightenDeadline(since + kPolicyPendingTolerance)) {
        if (!policyPausedAt_) policyPausedAt_ = t;
        pauseDisplayLink();
        return;
      }
      animation_.started = t;
      animation_.duration = 0;
      firstMorphFrame_ = false;
      policyPausedAt_.reset();
      release(true, std::nullopt, true);
      return;
    }
    if (policyPendingSince_ && t - *policyPendingSince_ >= kPolicyPendingTolerance) return yieldToNative();
    if (policyPausedAt_) {
      if (animation_.isRunning(*policyPausedAt_)) {
        // Resume the paused morph where it stopped.
        const double paused = t - *policyPausedAt_;
        animation_.started += paused;
        if (lastPresentedTime_) *lastPresentedTime_ += paused;
        if (firstMorphFrame_) firstMorphTime_ += paused;
      }
      policyPausedAt_.reset();
    }
    if (policyPendingSince_) {
      waitEnded = true;
      restoreHolds();
      policyPendingSince_.reset();
      toFrame = !chosen;
    } else if (!chosen) {
      if (sourceValid_) presenter_->setHoldPolicy(!reduceMotion(), policy_->allowedRegions(), std::nullopt);
      toFrame = true;
    }
  }

  if (!toFrame) {
    // ---- a new cursor ----
    const NativeCursorSample& sample = chosen->sample;
    record("input", {.seed = sample.seed, .detail = sample.wasHeld ? "held" : "native"});
    if (sample.isAnimated || !sample.cursor) {
      // Never morphed. When the engine's own frame covers the animated
      // cursor it accepted, give the pointer back so the animated cursor
      // shows; a newer cursor on screen brings its own sample.
      const auto onScreen = access_.currentSeed();
      const bool ours = onScreen && presenter_->ownsSeed(*onScreen);
      if (onScreen == sample.seed || !onScreen || (ours && presenter_->isAcceptedInputSeed(sample.seed))) {
        lastSeed_ = sample.seed;
        return yieldToNative();
      }
      if (!ours) return;
      chosen.reset();  // outdated: our frame of a newer input stays
    } else {
      ArtRef art;
      if (auto found = sampledArt_.find(sample.seed); found != sampledArt_.end()) {
        art = found->second;
      } else {
        if (sampledArt_.size() >= kSampledArtLimit) sampledArt_.clear();
        art = NativeCursorLibrary::shared()->match(sample.cursor);
        sampledArt_.emplace(sample.seed, art);  // "no art" is remembered too
      }
      if (!art) return yieldToNative();
      if (sourceValid_ && !animation_.canTransition(*art, lastPresentedTime_.value_or(t))) {
        lastSeed_ = sample.seed;
        return yieldToNative();
      }
      if (art->isHidden()) return yieldToNative();
      if (!presenter_->acceptNativeInput(*art, sample.seed)) return;
      record("target-kind", {.seed = sample.seed, .generation = traceGeneration_, .detail = classifier_->label(*art)});
      const bool nearBoundary = !chosen->fromBoundary && !(t - lastDiscreteCursorInput_ < kDiscreteInputWindow) &&
                                platform::NSEvent::pressedMouseButtons() == 0;
      if (const auto deadline = boundaryTolerance_.resolve(art->identity(), nearBoundary, sample.wasHeld,
                                                           animation_.isRunning(t), p, t, currentSpeed())) {
        boundarySample_ = BoundarySample{sample, chosen->time, *deadline};
      } else {
        lastSeed_ = sample.seed;
        if (observedIdentity_ != art->identity()) {
          observedIdentity_ = art->identity();
          const bool sameGeometry = art->nativeSize() == streamSize_ && art->nativeHotspot() == streamHotspot_;
          if (!classifier_->recognises(*art) && sameGeometry) {
            // An unknown cursor changing in place: an animation of its own.
            pruneStationaryChanges(t, p);
            recordStationaryChange(t, p);
            if (stationaryChanges_.size() > kStationaryChangeLimit || t < nativeStreamUntil_) {
              nativeStreamUntil_ = t + kStreamWindow;
            }
          } else if (!sameGeometry) {
            stationaryChanges_.clear();
            nativeStreamUntil_ = 0;
          }
          streamSize_ = art->nativeSize();
          streamHotspot_ = art->nativeHotspot();
        }
        if (t < nativeStreamUntil_) return yieldToNative();  // streamed natively
        if (!sample.wasHeld && sourceValid_ && !animation_.isRunning(t) && targetIdentity_ == art->identity()) {
          // The system cursor already shows the shape the engine rests on
          // (as after the engine's own hand-back): no frame to show.
          return keepLink();
        }
        bool begun;
        if (!sample.wasHeld) {
          record("settle", {.seed = sample.seed, .identity = art->identity(), .detail = "unheld-input"});
          begun = beginTransition(art, false);
        } else {
          begun = beginTransition(art, sourceValid_);
        }
        if (!begun) return resetTransition();
        sourceValid_ = true;
        restingHandBack_ = false;
        if (waitEnded) restoreHolds();
      }
    }
  }

  // ---- the frame ----
  const bool waiting = boundarySample_.has_value();
  if (waiting && !boundarySample_->sample.wasHeld) return keepLink();
  const bool retry = retryDeferredFrame_ && chosen && chosen->sample.wasHeld && animation_.isRunning(t);
  if (retry) {
    retryDeferredFrame_ = false;
    record("held-frame-retry");
  }
  // A sampling pass only updates the state; the link's next frame shows it.
  if (samplingPass_ && !firstMorphFrame_ && !retry) return;
  if (const uint64_t epoch = presenter_->recoveryEpoch(); epoch != nativeWatchdogGeneration_ && overlayVisible_) {
    nativeWatchdogGeneration_ = epoch;
    ownershipCooldownUntil_ = t + kOwnershipCooldown;
    return yieldToNative();
  }
  // The resting frame was acknowledged: nothing more to show until the
  // next change, and the deadline hands the pointer back meanwhile.
  if (systemWide() && restingHandBack_ && !chosen && !firstMorphFrame_ && !animation_.isRunning(t)) {
    return keepLink();
  }

  double frameTime = firstMorphFrame_ ? firstMorphTime_ : (chosen ? chosen->time : t);
  const double renderStart = now();
  const auto frame = animation_.frame(frameTime);
  if (!frame) return resetTransition();
  record("render", {.value = (now() - renderStart) * 1000});
  double progress = 1;
  if (animation_.duration > 0) progress = std::clamp((frameTime - animation_.started) / animation_.duration, 0.0, 1.0);
  record("phase", {.value = progress});
  if (auto preview = preview_.lock()) preview->setImage(frame);

  if (systemWide()) {
    presenter_->updateHoldFrame(*frame, lastSeed_);
    const uint64_t before = presenter_->presentationGeneration();
    if (!presenter_->submit(*frame, lastSeed_)) {
      ownershipCooldownUntil_ = stepStart + kOwnershipCooldown;
      return yieldToNative();
    }
    if (presenter_->presentationGeneration() != before) {
      retryDeferredFrame_ = false;
      if (firstMorphFrame_) {
        record("first-acknowledgement", {.generation = traceGeneration_});
        animation_.started = t - std::max(frameTime - animation_.started, 0.0);
        firstMorphFrame_ = false;
        frameTime = t;
      }
      if (!animation_.isRunning(frameTime)) restingHandBack_ = true;
    } else if (!samplingPass_) {
      retryDeferredFrame_ = true;
    }
    lastPresentedTime_ = frameTime;
    overlayVisible_ = true;
    lastPresentedFrame_ = frame;
  }
  keepLink();
}

}  // namespace vurle
