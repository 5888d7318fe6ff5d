// The native presenter's ownership of seeds, holds of new native cursors,
// the watchdog with its deadline and idle lease, the hand-back to the
// native cursor and the Dock override.
#include <algorithm>
#include <limits>
#include <mutex>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_images.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {
namespace {

using Guard = std::lock_guard<platform::NSRecursiveLock>;

constexpr double kFrameLifetime = 0.25;
constexpr double kWatchdogInterval = 0.05;
constexpr double kWatchdogLeeway = 0.005;
constexpr double kReleaseRetry = 0.1;
constexpr double kIdleRegionCheckInterval = 1.0 / 60;

bool inAny(const std::vector<CGRect>& regions, CGPoint point) {
  return std::any_of(regions.begin(), regions.end(),
                     [point](const CGRect& region) { return platform::CGRectContainsPoint(region, point); });
}

NativeCursorPresenter::FrameGeometry geometryOf(CGSize size, CGPoint hotspot) {
  return NativeCursorPresenter::FrameGeometry::of(size, hotspot);
}

}  // namespace

void NativeCursorPresenter::setHoldPolicy(bool holdsPermitted, std::optional<std::vector<CGRect>> allowedRegions,
                                          std::optional<double> holdsUntil) {
  Guard guard(lock_);
  holdsPermitted_ = holdsPermitted;
  holdsUntil_ = holdsUntil;
  if (allowedRegions) allowedRegions_ = std::move(*allowedRegions);
  if (holdsPermitted_ && keepWarm_ && connection_ == 0 && holdFrame_) ensureConnection();
}

std::optional<NativeCursorPresenter::Target> NativeCursorPresenter::makeTarget(const NativeCursorArt& art) {
  if (!art.native()) return std::nullopt;
  auto image = cursorImageAtScale(*art.native(), renderScale());
  if (!image) return std::nullopt;
  return Target{std::move(image), art.nativeSize(), art.nativeHotspot()};
}

void NativeCursorPresenter::setTarget(const NativeCursorArt& art) {
  auto target = makeTarget(art);
  if (!target) return;
  const auto fingerprint = frameFingerprint(target->image, geometryOf(target->size, target->hotspot));
  Guard guard(lock_);
  target_ = std::move(target);
  targetFingerprint_ = fingerprint;
}

bool NativeCursorPresenter::adoptTarget(const NativeCursorArt& art, const CursorFrame& frame, int32_t seed) {
  Guard guard(lock_);
  if (connection_ != 0 || releasePending_ || holdsPermitted_ || currentSeed() != seed) return false;
  acceptedInputSeed_ = seed;
  setTarget(art);
  holdFrame_ = frame;
  rememberFrame(frame);
  return true;
}

bool NativeCursorPresenter::acceptNativeInput(const NativeCursorArt& art, int32_t seed) {
  Guard guard(lock_);
  const auto current = currentSeed();
  const bool currentOwned = current && ownedSeeds_.count(*current) != 0;
  if (acceptedInputSeed_ == seed && target_ && currentOwned) return true;
  auto target = makeTarget(art);
  if (!target) return false;
  if (current != seed && !(acceptedInputSeed_ == seed && currentOwned)) return false;
  acceptedInputSeed_ = seed;
  targetFingerprint_ = frameFingerprint(target->image, geometryOf(target->size, target->hotspot));
  target_ = std::move(target);
  return true;
}

bool NativeCursorPresenter::isAcceptedInputSeed(int32_t seed) {
  Guard guard(lock_);
  return acceptedInputSeed_ == seed;
}

void NativeCursorPresenter::updateHoldFrame(const CursorFrame& frame, std::optional<int32_t> seed) {
  Guard guard(lock_);
  if (seed && acceptedInputSeed_ != seed) return;
  holdFrame_ = frame;
  rememberFrame(frame);
  if (holdsPermitted_ && keepWarm_ && connection_ == 0) ensureConnection();
}

bool NativeCursorPresenter::holdAllowed(int32_t seed) {
  Guard guard(lock_);
  if (releasePending_ || !holdsPermitted_ || !holdFrame_) return false;
  if (holdsUntil_ && !(*holdsUntil_ > platform::systemUptime())) return false;
  if (acceptedInputSeed_ == seed && !deadlineRuns()) return false;
  if (ownedSeeds_.count(seed) != 0) return false;
  return readSeed_ && currentSeed() == seed;
}

bool NativeCursorPresenter::captureNative(const std::shared_ptr<platform::NSCursor>& cursor, int32_t seed,
                                          const Visibility& visible, std::optional<double> notAfter,
                                          const std::function<bool()>& safe) {
  if (!holdAllowed(seed)) return false;
  if (visible && visible() == 0) return false;
  if (safe && !safe()) return false;
  if (!cursor || !cursor->image()) return false;
  auto image = cursorImageAtScale(*cursor->image(), renderScale());
  if (!image) return false;
  const CGSize size = cursor->image()->size();
  const CGPoint hotspot = cursor->hotSpot();
  const FrameGeometry geometry = geometryOf(size, hotspot);
  const auto fingerprint = frameFingerprint(image, geometry);

  Guard guard(lock_);
  if (!holdAllowed(seed)) return false;
  const double now = platform::systemUptime();
  bool isTarget = false;
  if (target_ && geometryOf(target_->size, target_->hotspot) == geometry && fingerprint &&
      targetFingerprint_ == fingerprint) {
    if (!deadlineRuns() || deadline_ <= now || !notAfter || now > *notAfter) {
      if (deadlineRuns()) restoreNative(true);
      return false;
    }
    isTarget = true;
  }
  const auto point = pointerLocation();
  if (!point || !inAny(allowedRegions_, *point)) return false;
  if (notAfter && now > *notAfter) return false;

  acceptedInputSeed_ = seed;
  if (!isTarget) {
    target_ = Target{image, size, hotspot};
    targetFingerprint_ = fingerprint;
  }
  // A presenter that is not kept warm opens its connection for the hold.
  if (!holdFrame_ || !ensureConnection()) return false;
  const CursorFrame hold = *holdFrame_;
  const auto images = std::make_shared<const std::vector<platform::CGImageRef>>(
      hold.reuse ? hold.reuse->images() : std::vector<platform::CGImageRef>{hold.image});
  if (writeFrame(hold.image, images, frameGeometry(hold), seed, notAfter)) {
    acknowledgedFrame_ = hold;
    armWatchdog();
    return true;
  }
  if (writeWasSuperseded_) {
    armWatchdog();
  } else {
    restoreNative(true);
  }
  return false;
}

NativeCursorPresenter::SeedClass NativeCursorPresenter::classifySeed(int32_t seed) {
  std::unique_lock<platform::NSRecursiveLock> guard(lock_, std::try_to_lock);
  if (!guard.owns_lock()) return SeedClass::busy;
  if (checkIdleLease(platform::systemUptime()) || restoreIfStaleOwnSeed(seed)) return SeedClass::handedBack;
  return ownedSeeds_.count(seed) != 0 ? SeedClass::own : SeedClass::foreign;
}

NativeCursorPresenter::OwnFrameAdoption NativeCursorPresenter::adoptOwnFrameSeed(
    const std::shared_ptr<platform::NSCursor>& cursor, int32_t seed) {
  if (!isOwnFrame(cursor)) return OwnFrameAdoption::notOwn;
  Guard guard(lock_);
  if (currentSeed() != seed || connection_ == 0) return OwnFrameAdoption::stale;
  if (!deadlineRuns() || deadline_ <= platform::systemUptime()) {
    holdsPermitted_ = false;
    ++recoveryEpoch_;
    restoreNative(true);
    return OwnFrameAdoption::handedBack;
  }
  outputSeed_ = seed;
  rememberOwnedSeed(seed);
  return OwnFrameAdoption::adopted;
}

bool NativeCursorPresenter::restoreIfStaleOwnSeed(int32_t seed) {
  Guard guard(lock_);
  if (connection_ == 0 || deadlineRuns() || !outputSeed_) return false;
  // The window server went back to an older frame of ours.
  if (seed == *outputSeed_ || ownedSeeds_.count(seed) == 0 || currentSeed() != seed) return false;
  holdsPermitted_ = false;
  ++recoveryEpoch_;
  restoreNative(true);
  return true;
}

void NativeCursorPresenter::armWatchdog() {
  Guard guard(lock_);
  const double now = platform::systemUptime();
  idleDeadline_ = 0;
  releasePending_ = false;
  deadline_ = holdsUntil_ ? std::min(now + kFrameLifetime, *holdsUntil_) : now + kFrameLifetime;
  // 0 reads as "no deadline"; a limit at or before 0 must still end the frame.
  if (!(deadline_ > 0)) deadline_ = std::numeric_limits<double>::min();
  if (watchdogArmed_) return;
  watchdogArmed_ = true;
  timer_->schedule(platform::DispatchTime{now + kWatchdogInterval}, kWatchdogInterval, kWatchdogLeeway);
}

void NativeCursorPresenter::parkWatchdog() {
  timer_->schedule(platform::DispatchTime::distantFuture(), platform::kIntervalNever, 0);
}

bool NativeCursorPresenter::tightenDeadline(double time) {
  Guard guard(lock_);
  if (!deadlineRuns() || !(platform::systemUptime() < time) || !outputSeed_) return false;
  if (readSeed_ && currentSeed() != outputSeed_) return false;
  deadline_ = std::min(deadline_, time);
  return true;
}

void NativeCursorPresenter::watchdogFired() {
  Guard guard(lock_);
  const double now = platform::systemUptime();
  if (!dockOverrideActive_ || dockPermitValid()) {
    if (!checkIdleLease(now) && deadlineRuns() && deadline_ <= now) {
      ++recoveryEpoch_;
      restoreNative(true);
    }
    return;
  }
  CursorTrace::shared()->record("dock-experiment-revoked", {.detail = "region-or-deadline"});
  target_.reset();
  targetFingerprint_.reset();
  ++recoveryEpoch_;
  restoreNative(false);
}

bool NativeCursorPresenter::checkIdleLease(double now) {
  Guard guard(lock_);
  if (!(idleDeadline_ > 0)) return false;
  bool left = false;
  if (now - lastIdleRegionCheck_ >= kIdleRegionCheckInterval && !releasePending_ && !allowedRegions_.empty()) {
    lastIdleRegionCheck_ = now;
    if (const auto point = pointerLocation()) left = !inAny(allowedRegions_, *point);
  }
  if (!left && idleDeadline_ > now) return false;
  if (!releasePending_) {
    holdsPermitted_ = false;
    holdFrame_.reset();
    target_.reset();
    targetFingerprint_.reset();
    acceptedInputSeed_.reset();
    ++recoveryEpoch_;
    CursorTrace::shared()->record("idle-release",
                                  {.seed = outputSeed_, .detail = left ? "region-exit" : "expired"});
  }
  releaseConnection();
  return true;
}

bool NativeCursorPresenter::dockPermitValid() {
  Guard guard(lock_);
  if (!dockPermit_ || !(platform::systemUptime() < dockPermit_->until)) return false;
  if (dockPermit_->safe && !dockPermit_->safe()) return false;
  const auto point = pointerLocation();
  if (!point || dockButtonsDown_()) return false;
  return inAny(dockPermit_->regions, *point);
}

void NativeCursorPresenter::endDockOverride() {
  Guard guard(lock_);
  if (dockOverrideActive_ && overrideDock_ && (*overrideDock_)(connection_, 0) == 0) dockOverrideActive_ = false;
}

void NativeCursorPresenter::restoreNative(bool registerTarget) {
  Guard guard(lock_);
  if (releasePending_) {
    releaseConnection();
    return;
  }
  parkWatchdog();
  deadline_ = 0;
  watchdogArmed_ = false;
  if (connection_ == 0) return;
  endDockOverride();
  const double now = platform::systemUptime();

  // Kept warm with holds permitted (or inside a running lease), the
  // connection stays open for a short lease during which the presenter's
  // seeds are still recognised; the watchdog closes it when the lease ends.
  const bool lease =
      !dockOverrideActive_ && outputSeed_ && ((keepWarm_ && holdsPermitted_) || idleDeadline_ > 0);
  if (lease) {
    if (!(idleDeadline_ > 0)) idleDeadline_ = now + kFrameLifetime;
    watchdogArmed_ = true;
    timer_->schedule(platform::DispatchTime{now + kWatchdogInterval}, kWatchdogInterval, kWatchdogLeeway);
    CursorTrace::shared()->record("idle-lease",
                                  {.seed = outputSeed_, .value = std::max(0.0, (idleDeadline_ - now) * 1000)});
    if (registerTarget && target_) {
      const Target target = *target_;
      // A hand-back never turns the Dock override on again.
      writeFrame(target.image, std::make_shared<const std::vector<platform::CGImageRef>>(1, target.image),
                 geometryOf(target.size, target.hotspot), std::nullopt, std::nullopt, false);
    }
    return;
  }

  idleDeadline_ = 0;
  if ((*releaseConnection_)(connection_) == 0) {
    connection_ = 0;
    dockOverrideActive_ = false;
    dockPermit_.reset();
    forgetOwnedSeeds();
  } else {
    deadline_ = now + kReleaseRetry;
    timer_->schedule(platform::DispatchTime{now + kReleaseRetry}, platform::kIntervalNever, kWatchdogLeeway);
  }
}

void NativeCursorPresenter::releaseConnection() {
  Guard guard(lock_);
  const double now = platform::systemUptime();
  releasePending_ = true;
  deadline_ = 0;
  endDockOverride();
  const platform::CGError result =
      connection_ == 0 ? 0 : (releaseConnection_ ? (*releaseConnection_)(connection_) : -1);
  CursorTrace::shared()->record("release", {.seed = outputSeed_, .value = static_cast<double>(result)});
  if (result != 0) {
    idleDeadline_ = now + kReleaseRetry;
    timer_->schedule(platform::DispatchTime{now + kReleaseRetry}, platform::kIntervalNever, kWatchdogLeeway);
    return;
  }
  connection_ = 0;
  dockOverrideActive_ = false;
  dockPermit_.reset();
  forgetOwnedSeeds();
  idleDeadline_ = 0;
  releasePending_ = false;
  watchdogArmed_ = false;
  parkWatchdog();
}

void NativeCursorPresenter::forgetOwnedSeeds() {
  Guard guard(lock_);
  outputSeed_.reset();
  ownedSeeds_.clear();
  acknowledgedFrame_.reset();
  seedSlots_.fill(std::nullopt);
  seedIndex_ = 0;
}

void NativeCursorPresenter::invalidate() {
  Guard guard(lock_);
  holdsPermitted_ = false;
  restoreNative(true);
  if (connection_ == 0) forgetOwnedSeeds();
  holdFrame_.reset();
  target_.reset();
  targetFingerprint_.reset();
  acceptedInputSeed_.reset();
  frameFingerprints_.clear();
  frameGeometries_.clear();
  fingerprintGeometries_.clear();
  frameSignatures_.clear();
  fingerprintSlots_.fill(std::nullopt);
  fingerprintIndex_ = 0;
}

void NativeCursorPresenter::grantDockPermit(std::vector<CGRect> regions, double expiry, std::function<bool()> safe) {
  Guard guard(lock_);
  const double latest = platform::systemUptime() + kFrameLifetime;
  dockPermit_ = DockPermit{std::move(regions), expiry < latest ? expiry : latest, std::move(safe)};
}

void NativeCursorPresenter::setAppSwitcherScope(std::optional<AppSwitcherCursorScope> scope) {
  Guard guard(lock_);
  const bool cleared = !scope;
  appSwitcherScope_ = std::move(scope);
  if (!cleared) return;
  if (dockOverrideActive_) restoreNative(false);
  dockPermit_.reset();
}

}  // namespace vurle
