#include "cursor/native/native_cursor_presenter.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/identity_hasher.hpp"
#include "cursor/art/kernels.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_images.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/weak_block.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/events/event.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {
namespace {

using Guard = std::lock_guard<platform::NSRecursiveLock>;

template <class F>
std::optional<std::function<F>> resolve(const char* name) {
  return platform::dlsym<F>(platform::RTLD_DEFAULT, name);
}

// -0 and +0 describe the same geometry, so they hash and fingerprint alike.
uint32_t floatBits(float value) {
  if (value == 0) value = 0;
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

platform::CGImageArrayRef imagesOf(const CursorFrame& frame) {
  if (frame.reuse) return std::make_shared<const std::vector<platform::CGImageRef>>(frame.reuse->images());
  return std::make_shared<const std::vector<platform::CGImageRef>>(1, frame.image);
}

}  // namespace

NativeCursorPresenter::FrameGeometry NativeCursorPresenter::FrameGeometry::of(CGSize size, CGPoint hotspot) {
  // A double outside the float range has no float value to convert to.
  const auto narrow = [](double value) {
    if (value > std::numeric_limits<float>::max()) return std::numeric_limits<float>::infinity();
    if (value < -std::numeric_limits<float>::max()) return -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
  };
  return {narrow(size.width), narrow(size.height), narrow(hotspot.x), narrow(hotspot.y)};
}

size_t NativeCursorPresenter::FrameGeometryHash::operator()(const FrameGeometry& geometry) const {
  IdentityHasher hasher;
  for (float value : {geometry.width, geometry.height, geometry.hotspotX, geometry.hotspotY}) {
    hasher.combine(uint64_t{floatBits(value)});
  }
  return static_cast<size_t>(hasher.finish());
}

std::shared_ptr<NativeCursorPresenter> NativeCursorPresenter::make(ButtonsDown dockButtonsDown) {
  std::shared_ptr<NativeCursorPresenter> presenter(new NativeCursorPresenter(std::move(dockButtonsDown)));
  auto timer = platform::DispatchSourceTimer::make(
      platform::DispatchQueue::global(platform::QoS::userInteractive));
  timer->schedule(platform::DispatchTime::distantFuture(), platform::kIntervalNever, 0);
  timer->setEventHandler(
      platform::weakBlock(presenter, [](NativeCursorPresenter& self) { self.watchdogFired(); }));
  {
    Guard guard(presenter->lock_);
    presenter->timer_ = timer;
  }
  timer->resume();
  return presenter;
}

NativeCursorPresenter::NativeCursorPresenter(ButtonsDown dockButtonsDown)
    : createConnection_(resolve<platform::CGSNewConnectionFn>("CGSNewConnection")),
      releaseConnection_(resolve<platform::CGSReleaseConnectionFn>("CGSReleaseConnection")),
      setProperty_(resolve<platform::CGSSetConnectionPropertyFn>("CGSSetConnectionProperty")),
      registerCursor_(resolve<platform::CGSRegisterCursorWithImagesFn>("CGSRegisterCursorWithImages")),
      readSeed_(resolve<platform::CGSCurrentCursorSeedFn>("CGSCurrentCursorSeed")),
      overrideDock_(resolve<platform::SLSSetDockCursorOverrideFn>("SLSSetDockCursorOverride")),
      mainConnection_(resolve<platform::CGSMainConnectionIDFn>("CGSMainConnectionID")),
      cursorLocation_(resolve<platform::CGSGetCurrentCursorLocationFn>("CGSGetCurrentCursorLocation")),
      dockButtonsDown_(std::move(dockButtonsDown)) {
  if (!dockButtonsDown_) {
    dockButtonsDown_ = [] {
      for (platform::CGMouseButton button : {0u, 1u, 2u}) {
        if (platform::CGEventSourceButtonState(platform::kCGEventSourceStateCombinedSessionState, button)) {
          return true;
        }
      }
      return false;
    };
  }
}

NativeCursorPresenter::~NativeCursorPresenter() {
  if (timer_) timer_->cancel();
  Guard guard(lock_);
  // Nothing would end an idle lease once the watchdog is gone, so the hand-back
  // closes the connection and the window server shows the native cursor.
  keepWarm_ = false;
  idleDeadline_ = 0;
  restoreNative(true);
  dockPermit_.reset();
  appSwitcherScope_.reset();
}

bool NativeCursorPresenter::isAvailable() const {
  return createConnection_ && releaseConnection_ && setProperty_ && registerCursor_ && readSeed_ &&
         mainConnection_ && cursorLocation_;
}

std::optional<int32_t> NativeCursorPresenter::currentSeed() {
  if (!readSeed_) return std::nullopt;
  return (*readSeed_)();
}

std::optional<CGPoint> NativeCursorPresenter::pointerLocation() {
  if (!mainConnection_ || !cursorLocation_) return std::nullopt;
  CGPoint point;
  if ((*cursorLocation_)((*mainConnection_)(), &point) != 0) return std::nullopt;
  return point;
}

bool NativeCursorPresenter::ensureConnection() {
  Guard guard(lock_);
  if (connection_ != 0) return true;
  if (!isAvailable()) return false;
  platform::CGSConnectionID made = 0;
  if ((*createConnection_)(nullptr, &made) == 0) {
    connection_ = made;
    if ((*setProperty_)(made, made, platform::kSetsCursorInBackgroundKey, platform::CFValue(true)) == 0) {
      return true;
    }
    (*releaseConnection_)(made);
  }
  connection_ = 0;
  return false;
}

std::pair<platform::CGError, int32_t> NativeCursorPresenter::registerImages(
    const platform::CGImageArrayRef& images, const FrameGeometry& geometry) {
  int32_t seed = 0;
  const platform::CGError error =
      (*registerCursor_)(connection_, kFrameCursorName, false, true,
                         platform::CGSizeMake(geometry.width, geometry.height),
                         platform::CGPointMake(geometry.hotspotX, geometry.hotspotY), 1, 0.0, images, &seed);
  return {error, seed};
}

NativeCursorPresenter::FrameGeometry NativeCursorPresenter::frameGeometry(const CursorFrame& frame) {
  const CGRect bounds = frame.canvas.bounds;
  return FrameGeometry::of(bounds.size, platform::CGPointMake(-bounds.origin.x, -bounds.origin.y));
}

std::optional<int64_t> NativeCursorPresenter::frameFingerprint(const platform::CGImageRef& image,
                                                               const FrameGeometry& geometry) {
  const size_t width = platform::CGImageGetWidth(image);
  const size_t height = platform::CGImageGetHeight(image);
  // Cursor images never exceed this; anything larger is not worth a buffer.
  if (width < 1 || height < 1 || width > static_cast<size_t>(kMaximumBitmapSide) ||
      height > static_cast<size_t>(kMaximumBitmapSide)) {
    return std::nullopt;
  }
  auto space = platform::CGColorSpaceCreateWithName(platform::kCGColorSpaceSRGB);
  if (!space) return std::nullopt;
  std::vector<uint8_t> pixels(width * height * 4, 0);
  {
    auto context = platform::CGBitmapContextCreate(pixels.data(), width, height, 8, 4 * width, space,
                                                   platform::kCGImageAlphaPremultipliedLast);
    if (!context) return std::nullopt;
    platform::CGContextDrawImage(
        context, platform::CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)), image);
  }
  IdentityHasher hasher;
  hasher.combine(static_cast<int64_t>(width));
  hasher.combine(static_cast<int64_t>(height));
  for (float value : {geometry.width, geometry.height, geometry.hotspotX, geometry.hotspotY}) {
    hasher.combine(uint64_t{floatBits(value)});
  }
  hasher.combine(pixels.data(), pixels.size());
  return hasher.finish();
}

std::optional<int64_t> NativeCursorPresenter::fingerprintOf(const CursorFrame& frame) {
  if (frame.reuse) {
    if (auto cached = frame.reuse->fingerprint()) return cached;
  }
  auto fingerprint = frameFingerprint(frame.image, frameGeometry(frame));
  if (fingerprint && frame.reuse) frame.reuse->setFingerprint(*fingerprint);
  return fingerprint;
}

void NativeCursorPresenter::rememberOwnedSeed(int32_t seed) {
  Guard guard(lock_);
  if (!ownedSeeds_.insert(seed).second) return;
  if (auto& slot = seedSlots_[seedIndex_]) ownedSeeds_.erase(*slot);
  seedSlots_[seedIndex_] = seed;
  seedIndex_ = (seedIndex_ + 1) % kSeedSlots;
}

void NativeCursorPresenter::rememberFrame(const CursorFrame& frame) {
  Guard guard(lock_);
  const auto fingerprint = fingerprintOf(frame);
  if (!fingerprint || !frameFingerprints_.insert(*fingerprint).second) return;
  if (auto& slot = fingerprintSlots_[fingerprintIndex_]) {
    const int64_t evicted = *slot;
    frameFingerprints_.erase(evicted);
    frameSignatures_.erase(evicted);
    if (auto it = fingerprintGeometries_.find(evicted); it != fingerprintGeometries_.end()) {
      // Other frames may share the geometry; it stays known while they do.
      auto count = frameGeometries_.find(it->second);
      if (count != frameGeometries_.end() && --count->second <= 0) frameGeometries_.erase(count);
      fingerprintGeometries_.erase(it);
    }
  }
  const FrameGeometry geometry = frameGeometry(frame);
  fingerprintSlots_[fingerprintIndex_] = *fingerprint;
  fingerprintGeometries_[*fingerprint] = geometry;
  ++frameGeometries_[geometry];
  if (auto thumbnail = cursorThumbnail(frame.image)) frameSignatures_[*fingerprint] = std::move(*thumbnail);
  fingerprintIndex_ = (fingerprintIndex_ + 1) % kFingerprintSlots;
}

bool NativeCursorPresenter::ownsSeed(std::optional<int32_t> seed) {
  Guard guard(lock_);
  return seed && ownedSeeds_.count(*seed) != 0;
}

bool NativeCursorPresenter::isOwnFrame(const std::shared_ptr<platform::NSCursor>& cursor) {
  if (!cursor || !cursor->image()) return false;
  const auto geometry = FrameGeometry::of(cursor->image()->size(), cursor->hotSpot());
  {
    Guard guard(lock_);
    if (connection_ == 0 || !outputSeed_ || frameGeometries_.count(geometry) == 0) return false;
  }
  // Drawing happens outside the lock; the sampler's poll must not hold it long.
  const auto image = cursorImageAtScale(*cursor->image(), renderScale());
  const auto fingerprint = frameFingerprint(image, geometry);
  {
    Guard guard(lock_);
    if (fingerprint && frameFingerprints_.count(*fingerprint) != 0) return true;
  }
  const auto thumbnail = cursorThumbnail(image);
  if (!thumbnail) return false;
  Guard guard(lock_);
  for (const auto& [remembered, rememberedGeometry] : fingerprintGeometries_) {
    if (!(rememberedGeometry == geometry)) continue;
    auto signature = frameSignatures_.find(remembered);
    if (signature != frameSignatures_.end() &&
        imagesNearlyEqual(thumbnail->data(), signature->second.data(), static_cast<int32_t>(kThumbnailBytes))) {
      return true;
    }
  }
  return false;
}

bool NativeCursorPresenter::isOwnFrameImage(const NativeCursorArt& art) {
  return isOwnFrame(platform::NSCursor::make(art.native(), art.nativeHotspot()));
}

// Step d of the read-back: the window server kept the seed, so only the
// cursor AppKit reports can show whether the frame is on screen.
std::string NativeCursorPresenter::readBack(const FrameGeometry& geometry, const platform::CGImageRef& image,
                                            int32_t seedBefore) {
  if (outputSeed_ != seedBefore || ownedSeeds_.count(seedBefore) == 0) return "unchanged-native-seed";
  const auto current = platform::NSCursor::currentSystemCursor();
  if (!current || !current->image()) return "readback-unavailable";
  if (!(FrameGeometry::of(current->image()->size(), current->hotSpot()) == geometry)) {
    return "readback-geometry-mismatch";
  }
  const auto shown = cursorImageAtScale(*current->image(), renderScale());
  const auto shownPrint = shown ? frameFingerprint(shown, geometry) : std::nullopt;
  const auto framePrint = image ? frameFingerprint(image, geometry) : std::nullopt;
  if (!shownPrint || !framePrint) return "readback-pixels-unavailable";
  if (*shownPrint != *framePrint) return "readback-pixels-mismatch";
  return currentSeed() == seedBefore ? "acknowledged" : "unacknowledged";
}

bool NativeCursorPresenter::writeFrame(const platform::CGImageRef& image, const platform::CGImageArrayRef& images,
                                       const FrameGeometry& geometry, std::optional<int32_t> expectedSeed,
                                       std::optional<double> notAfter, bool mayOverrideDock) {
  Guard guard(lock_);
  const double start = platform::systemUptime();
  std::string outcome = "error";
  std::optional<int32_t> seedBefore, seedReturned, seedAfter;
  writeWasSuperseded_ = false;

  // Each early return ends the attempt with the outcome reached so far.
  [&] {
    if (!registerCursor_) return;
    seedBefore = currentSeed();
    if (expectedSeed && (!readSeed_ || seedBefore != expectedSeed)) {
      writeWasSuperseded_ = true;  // a newer cursor is on screen
      seedAfter = seedBefore;
      return;
    }
    acknowledgedFrame_.reset();
    if (appSwitcherScope_) {
      if (appSwitcherScope_->isValid && appSwitcherScope_->isValid()) {
        if (dockPermit_) dockPermit_->until = platform::systemUptime() + 0.25;
      } else {
        appSwitcherScope_.reset();
        if (dockOverrideActive_) return;
      }
    }
    if (mayOverrideDock && !dockOverrideActive_ && overrideDock_ && dockPermitValid() &&
        (*overrideDock_)(connection_, 1) == 0) {
      dockOverrideActive_ = true;
    }
    if (notAfter && platform::systemUptime() > *notAfter) return;
    if (expectedSeed && currentSeed() != expectedSeed) return;

    const auto [error, returned] = registerImages(images, geometry);
    if (error != 0) {
      endDockOverride();
      return;
    }
    seedReturned = returned;
    outcome = "unacknowledged";
    if (!readSeed_) return;
    seedAfter = currentSeed();
    if (seedAfter != seedReturned) {
      writeWasSuperseded_ = seedAfter != seedBefore;
      return;
    }
    outcome = returned != seedBefore ? "acknowledged" : readBack(geometry, image, returned);
    if (outcome == "acknowledged") {
      outputSeed_ = returned;
      rememberOwnedSeed(returned);
    }
  }();

  CursorTrace::shared()->record(
      "registration", {.seed = outputSeed_,
                       .generation = presentationGeneration_,
                       .value = (platform::systemUptime() - start) * 1000,
                       .detail = writeWasSuperseded_ ? std::string_view("superseded") : std::string_view(outcome),
                       .seedBefore = seedBefore,
                       .seedReturned = seedReturned,
                       .seedAfter = seedAfter});
  return outcome == "acknowledged";
}

bool NativeCursorPresenter::submit(const CursorFrame& frame, std::optional<int32_t> inputSeed) {
  Guard guard(lock_);
  auto& trace = *CursorTrace::shared();
  if (inputSeed && acceptedInputSeed_ != inputSeed) {
    trace.record("submission-deferred", {.detail = "newer-held-input"});
    return true;
  }
  const auto current = currentSeed();
  const bool currentOwned = current && ownedSeeds_.count(*current) != 0;
  if (acceptedInputSeed_ && current != acceptedInputSeed_ && !currentOwned) {
    trace.record("submission-deferred", {.detail = "newer-native-input"});
    return true;
  }
  if (releasePending_ || !ensureConnection()) return false;

  if (currentOwned && current == outputSeed_ && acknowledgedFrame_ && acknowledgedFrame_->image == frame.image &&
      acknowledgedFrame_->canvas.bounds == frame.canvas.bounds) {
    ++presentationGeneration_;
    trace.record("submission-reused", {.seed = outputSeed_, .generation = presentationGeneration_});
    armWatchdog();
    return true;
  }
  if (writeFrame(frame.image, imagesOf(frame), frameGeometry(frame), current, std::nullopt)) {
    rememberFrame(frame);
    acknowledgedFrame_ = frame;
    // Callers tell a presented frame from an outstanding one by this count.
    ++presentationGeneration_;
    trace.record("submitted", {.seed = outputSeed_, .generation = presentationGeneration_});
    armWatchdog();
    return true;
  }
  if (writeWasSuperseded_) {
    armWatchdog();
    return true;
  }
  restoreNative(true);
  return false;
}

// ---- accessors ----

uint64_t NativeCursorPresenter::recoveryEpoch() {
  Guard guard(lock_);
  return recoveryEpoch_;
}

uint64_t NativeCursorPresenter::presentationGeneration() {
  Guard guard(lock_);
  return presentationGeneration_;
}

platform::CGSConnectionID NativeCursorPresenter::connection() {
  Guard guard(lock_);
  return connection_;
}

std::optional<int32_t> NativeCursorPresenter::outputSeed() {
  Guard guard(lock_);
  return outputSeed_;
}

std::optional<int32_t> NativeCursorPresenter::acceptedInputSeed() {
  Guard guard(lock_);
  return acceptedInputSeed_;
}

bool NativeCursorPresenter::submissionsInFlight() {
  Guard guard(lock_);
  return deadlineRuns() && outputSeed_.has_value();
}

bool NativeCursorPresenter::holdsPermitted() {
  Guard guard(lock_);
  return holdsPermitted_;
}

void NativeCursorPresenter::setKeepWarm(bool keepWarm) {
  Guard guard(lock_);
  keepWarm_ = keepWarm;
}

void NativeCursorPresenter::setHolds(bool permitted, std::optional<double> until) {
  Guard guard(lock_);
  holdsPermitted_ = permitted;
  holdsUntil_ = until;
}

void NativeCursorPresenter::setAllowedRegions(std::vector<CGRect> regions) {
  Guard guard(lock_);
  allowedRegions_ = std::move(regions);
}

std::vector<CGRect> NativeCursorPresenter::allowedRegions() {
  Guard guard(lock_);
  return allowedRegions_;
}

void NativeCursorPresenter::setMenuEntry(MenuEntry entry) {
  Guard guard(lock_);
  menuEntry_ = entry;
}

NativeCursorPresenter::MenuEntry NativeCursorPresenter::menuEntry() {
  Guard guard(lock_);
  return menuEntry_;
}

void NativeCursorPresenter::setAppSwitcherActive(bool active) {
  Guard guard(lock_);
  appSwitcherActive_ = active;
}

bool NativeCursorPresenter::appSwitcherActive() {
  Guard guard(lock_);
  return appSwitcherActive_;
}

double NativeCursorPresenter::deadline() {
  Guard guard(lock_);
  return deadline_;
}

double NativeCursorPresenter::idleDeadline() {
  Guard guard(lock_);
  return idleDeadline_;
}

bool NativeCursorPresenter::dockOverrideActive() {
  Guard guard(lock_);
  return dockOverrideActive_;
}

std::optional<platform::DispatchSourceTimer::Schedule> NativeCursorPresenter::watchdogSchedule() const {
  Guard guard(lock_);
  return timer_ ? timer_->lastSchedule() : std::nullopt;
}

bool NativeCursorPresenter::knowsGeometry(const FrameGeometry& geometry) {
  Guard guard(lock_);
  return frameGeometries_.count(geometry) != 0;
}

bool NativeCursorPresenter::remembersFingerprint(int64_t fingerprint) {
  Guard guard(lock_);
  return frameFingerprints_.count(fingerprint) != 0;
}

}  // namespace vurle
