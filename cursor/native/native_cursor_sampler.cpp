#include "cursor/native/native_cursor_sampler.hpp"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/kernels.hpp"
#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/art/native_cursor_art.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "cursor/native/native_cursor_images.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/weak_block.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/graphics/context.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {
namespace {

using Guard = std::lock_guard<platform::NSLock>;

constexpr double kQuickInterval = 0.001;
constexpr double kQuickLeeway = 0.0001;
constexpr double kNormalInterval = 0.004;
constexpr double kNormalLeeway = 0.0005;
constexpr double kQuickPeriod = 0.15;
constexpr double kStaleAfter = 0.1;
constexpr double kInterceptWindow = 1.0 / 120;
constexpr size_t kCacheLimit = 64;
constexpr int64_t kMaximumHiddenTestSide = 2048;

const char* flag(bool value) { return value ? "true" : "false"; }

// A fresh cursor over a private copy of the image; none when the copy fails.
std::shared_ptr<platform::NSCursor> copiedCursor(const platform::NSCursor& cursor) {
  return platform::NSCursor::make(copyCursorImage(cursor.image()), cursor.hotSpot());
}

}  // namespace

bool nativeCursorFits(CGSize size, CGPoint hotSpot, CGFloat scale) {
  if (!std::isfinite(size.width) || !std::isfinite(size.height) || !(size.width > 0) || !(size.height > 0)) {
    return false;
  }
  if (!std::isfinite(hotSpot.x) || !std::isfinite(hotSpot.y) || std::fabs(hotSpot.x) > 1024 ||
      std::fabs(hotSpot.y) > 1024) {
    return false;
  }
  return canvasFits(platform::CGRectMake(-hotSpot.x - 3, -hotSpot.y - 3, size.width + 6, size.height + 6), scale);
}

bool nativeCursorIsHidden(const platform::NSCursor& cursor) {
  if (!cursor.image()) return true;
  const auto image = proposedCGImage(*cursor.image());
  if (!image) return true;
  const auto width = std::min<int64_t>(static_cast<int64_t>(platform::CGImageGetWidth(image)), kMaximumHiddenTestSide);
  const auto height = std::min<int64_t>(static_cast<int64_t>(platform::CGImageGetHeight(image)), kMaximumHiddenTestSide);
  if (width < 1 || height < 1) return true;
  std::vector<uint8_t> pixels(static_cast<size_t>(width * height * 4), 0);
  {
    auto context = platform::CGBitmapContextCreate(pixels.data(), static_cast<size_t>(width),
                                                   static_cast<size_t>(height), 8, static_cast<size_t>(width * 4),
                                                   platform::CGColorSpaceCreateDeviceRGB(),
                                                   platform::kCGImageAlphaPremultipliedLast);
    if (!context) return true;
    platform::CGContextDrawImage(
        context, platform::CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)), image);
  }
  return !hasVisibleAlpha(pixels.data(), static_cast<int32_t>(pixels.size()));
}

NativeCursorImageReader::Result readCurrentNativeCursor() {
  if (auto reader = NativeCursorImageReader::shared()) {
    auto result = reader->copyCurrent();
    if (result.kind != NativeCursorImageReader::Result::Kind::unavailable) return result;
  }
  auto cursor = platform::NSCursor::currentSystemCursor();
  if (!cursor) return NativeCursorImageReader::Result::unavailable();
  if (NativeAnimatedCursors::shared()->contains(cursor)) return NativeCursorImageReader::Result::animated();
  return NativeCursorImageReader::Result::of(std::move(cursor));
}

std::shared_ptr<NativeCursorSampler> NativeCursorSampler::make(std::shared_ptr<NativeCursorPresenter> presenter,
                                                               Visibility visible, CGFloat pixelScale) {
  if (!presenter) throw std::invalid_argument("NativeCursorSampler::make: no presenter");
  std::shared_ptr<NativeCursorSampler> sampler(
      new NativeCursorSampler(std::move(presenter), std::move(visible), pixelScale));
  auto timer = platform::DispatchSourceTimer::make(sampler->queue_);
  timer->schedule(platform::DispatchTime::distantFuture(), platform::kIntervalNever, 0);
  timer->setEventHandler(platform::weakBlock(sampler, [](NativeCursorSampler& self) { self.poll(); }));
  {
    Guard guard(sampler->lock_);
    sampler->timer_ = timer;
  }
  timer->resume();
  return sampler;
}

NativeCursorSampler::NativeCursorSampler(std::shared_ptr<NativeCursorPresenter> presenter, Visibility visible,
                                         CGFloat pixelScale)
    : queue_(platform::DispatchQueue::make("mirt.vurle.sampler", platform::QoS::userInteractive)),
      presenter_(std::move(presenter)),
      imageReader_(NativeCursorImageReader::make()),
      pixelScale_(pixelScale),
      readSeed_(platform::dlsym<platform::CGSCurrentCursorSeedFn>(platform::RTLD_DEFAULT, "CGSCurrentCursorSeed")),
      visible_(std::move(visible)) {
  if (!visible_) {
    if (auto found = platform::dlsym<platform::CGCursorIsVisibleFn>(platform::RTLD_DEFAULT, "CGCursorIsVisible")) {
      visible_ = std::move(*found);
    }
  }
}

NativeCursorSampler::~NativeCursorSampler() {
  if (timer_) timer_->cancel();
}

std::optional<int32_t> NativeCursorSampler::currentSeed() const {
  if (!readSeed_) return std::nullopt;
  return (*readSeed_)();
}

void NativeCursorSampler::setEnabled(bool enabled, std::optional<Baseline> baseline) {
  Guard guard(lock_);
  const bool on = enabled && readSeed_ && visible_;
  if (on == enabled_) return;
  enabled_ = on;
  pending_.reset();
  pendingSince_ = 0;
  queued_ = false;
  activityObservation_.reset();
  lastPublished_ = on && baseline ? std::optional<int32_t>(baseline->seed) : std::nullopt;
  startingBaseline_ = on ? baseline : std::nullopt;
  const double now = platform::systemUptime();
  if (on) {
    quickUntil_ = now + kQuickPeriod;
    quick_ = true;
    timer_->schedule(platform::DispatchTime{now}, kQuickInterval, kQuickLeeway);
  } else {
    timer_->schedule(platform::DispatchTime::distantFuture(), kQuickInterval, kQuickLeeway);
  }
}

void NativeCursorSampler::quicken() {
  Guard guard(lock_);
  if (!enabled_) return;
  const double now = platform::systemUptime();
  if (readSeed_) activityObservation_ = std::make_pair((*readSeed_)(), now);
  quickUntil_ = now + kQuickPeriod;
  if (quick_) return;
  quick_ = true;
  timer_->schedule(platform::DispatchTime{now}, kQuickInterval, kQuickLeeway);
}

std::optional<NativeCursorSample> NativeCursorSampler::takePending() {
  Guard guard(lock_);
  auto sample = std::exchange(pending_, std::nullopt);
  pendingSince_ = 0;
  queued_ = false;
  return sample;
}

void NativeCursorSampler::clearPublishedSeed() {
  Guard guard(lock_);
  if (enabled_ && !pending_) lastPublished_.reset();
}

void NativeCursorSampler::onQueue(const std::function<void()>& work) {
  if (queue_->isCurrent()) {
    work();
  } else {
    queue_->sync(work);
  }
}

void NativeCursorSampler::setPixelScale(CGFloat scale) {
  onQueue([&] {
    pixelScale_ = scale;
    cache_.clear();
    nativeOnlySeeds_.clear();
    lastObservedAt_.reset();
    lastObservedSeed_.reset();
    interceptionDeadline_.reset();
  });
  Guard guard(lock_);
  pending_.reset();
  pendingSince_ = 0;
  queued_ = false;
  lastPublished_.reset();
}

void NativeCursorSampler::setOnChange(std::function<void()> onChange) {
  Guard guard(lock_);
  onChange_ = std::move(onChange);
}

bool NativeCursorSampler::isBusy() {
  Guard guard(lock_);
  return pollInFlight_ || queued_;
}

bool NativeCursorSampler::isEnabled() {
  Guard guard(lock_);
  return enabled_;
}

std::optional<platform::DispatchSourceTimer::Schedule> NativeCursorSampler::pollSchedule() const {
  Guard guard(lock_);
  return timer_ ? timer_->lastSchedule() : std::nullopt;
}

size_t NativeCursorSampler::cachedImageCount() {
  size_t count = 0;
  onQueue([&] { count = cache_.size(); });
  return count;
}

void NativeCursorSampler::publish(int32_t seed, std::shared_ptr<platform::NSCursor> cursor, bool isAnimated,
                                  bool wasHeld, std::optional<double> interceptBefore, double start) {
  Guard guard(lock_);
  if (!enabled_ || lastPublished_ == seed) return;
  lastPublished_ = seed;
  if (pendingSince_ == 0) pendingSince_ = start;
  pending_ = NativeCursorSample{std::move(cursor), seed, isAnimated, wasHeld, interceptBefore};
  if (queued_) return;
  queued_ = true;
  platform::DispatchQueue::main()->async(platform::weakBlock(shared_from_this(), [](NativeCursorSampler& self) {
    std::function<void()> onChange;
    {
      Guard guard(self.lock_);
      onChange = self.onChange_;
    }
    if (onChange) onChange();
  }));
}

void NativeCursorSampler::publishSample(int32_t seed, bool animated, double start) {
  if (nativeOnlySeeds_.size() >= kCacheLimit) nativeOnlySeeds_.clear();
  nativeOnlySeeds_[seed] = animated;
  interceptionDeadline_.reset();
  if (animated) {
    presenter_->setHolds(false, std::nullopt);
    CursorTrace::shared()->record("native-animated", {.seed = seed});
  }
  publish(seed, nullptr, animated, false, std::nullopt, start);
}

void NativeCursorSampler::poll() {
  if (!readSeed_) return;
  const double t = platform::systemUptime();
  bool stale = false;
  std::optional<std::pair<int32_t, double>> activity;
  std::optional<Baseline> baseline;
  {
    Guard guard(lock_);
    if (!enabled_) return;
    pollInFlight_ = true;
    if (quick_ && quickUntil_ <= t) {
      quick_ = false;
      timer_->schedule(platform::DispatchTime{platform::systemUptime() + kNormalInterval}, kNormalInterval,
                       kNormalLeeway);
    }
    stale = pendingSince_ != 0 && t - pendingSince_ >= kStaleAfter;
    activity = activityObservation_;
    baseline = std::exchange(startingBaseline_, std::nullopt);
  }
  struct EndPoll {
    NativeCursorSampler& sampler;
    ~EndPoll() {
      Guard guard(sampler.lock_);
      sampler.pollInFlight_ = false;
    }
  } endPoll{*this};

  if (baseline) {
    pixelScale_ = baseline->scale;
    cache_.clear();
    nativeOnlySeeds_.clear();
    lastObservedSeed_ = baseline->seed;
    lastObservedAt_ = baseline->time;
    interceptionDeadline_.reset();
  }

  const int32_t seed = (*readSeed_)();
  const bool unchanged = lastObservedSeed_ == seed;
  std::optional<double> lastSeen = lastObservedAt_;
  if (activity && lastObservedSeed_ == activity->first) {
    lastSeen = lastSeen ? std::max(*lastSeen, activity->second) : activity->second;
  }
  auto& trace = *CursorTrace::shared();
  if (!unchanged) {
    trace.record("observed", {.seed = seed});
    interceptionDeadline_ = lastSeen ? std::optional<double>(*lastSeen + kInterceptWindow) : std::nullopt;
  }
  lastObservedAt_ = platform::systemUptime();
  lastObservedSeed_ = seed;

  using SeedClass = NativeCursorPresenter::SeedClass;
  const SeedClass seedClass = presenter_->classifySeed(seed);
  if (seedClass == SeedClass::busy || seedClass == SeedClass::own) {
    if (const auto again = currentSeed()) publish(*again, nullptr, false, false, std::nullopt, t);
    return;
  }
  if (seedClass == SeedClass::foreign) {
    {
      Guard guard(lock_);
      if (lastPublished_ == seed) return;
    }
    if (auto known = nativeOnlySeeds_.find(seed); known != nativeOnlySeeds_.end()) {
      if (currentSeed() == seed) {
        publish(seed, nullptr, known->second, false, std::nullopt, t);
        return;
      }
    }
  }

  std::shared_ptr<platform::NSCursor> cursor;
  bool hidden = false;
  if (auto cached = cache_.find(seed); cached != cache_.end()) {
    cursor = cached->second.cursor;
    hidden = cached->second.hidden;
  } else {
    const bool tracing = trace.status().enabled;
    double phaseStart = platform::systemUptime();
    auto phase = [&](const char* name) {
      if (!tracing) return;
      const double now = platform::systemUptime();
      trace.record("capture-phase", {.seed = seed, .value = (now - phaseStart) * 1000, .detail = name});
      phaseStart = now;
    };
    using Kind = NativeCursorImageReader::Result::Kind;
    auto answer = NativeCursorImageReader::Result::unavailable();
    if (imageReader_) {
      answer = imageReader_->copyCurrent();
      phase("isolated-getter");
    }
    if (answer.kind == Kind::unavailable) {
      auto appkit = platform::NSCursor::currentSystemCursor();
      phase("appkit-fallback");
      if (!appkit) return;
      answer = NativeAnimatedCursors::shared()->contains(appkit) ? NativeCursorImageReader::Result::animated()
                                                                 : NativeCursorImageReader::Result::of(appkit);
    }
    if (answer.kind == Kind::animated) {
      if (currentSeed() == seed) publishSample(seed, true, t);
      return;
    }
    const auto& found = *answer.cursor;
    if (!found.image() || !nativeCursorFits(found.image()->size(), found.hotSpot(), pixelScale_)) {
      if (currentSeed() == seed) publishSample(seed, false, t);
      return;
    }
    auto copy = copiedCursor(found);
    phase("geometry-and-copy");
    if (!copy || currentSeed() != seed) return;
    using Adoption = NativeCursorPresenter::OwnFrameAdoption;
    const Adoption adoption = presenter_->adoptOwnFrameSeed(copy, seed);
    phase("echo-check");
    if (adoption == Adoption::handedBack) {
      if (const auto again = currentSeed()) publish(*again, nullptr, false, false, std::nullopt, t);
      return;
    }
    if (adoption != Adoption::notOwn) return;
    if (cache_.size() >= kCacheLimit) cache_.clear();
    hidden = nativeCursorIsHidden(*copy);
    phase("alpha-check");
    cache_[seed] = Cached{copy, hidden};
    cursor = std::move(copy);
  }

  // The capture decision.
  if (currentSeed() != seed) return;
  {
    Guard guard(lock_);
    if (!enabled_) return;
  }
  const CGSize size = cursor->image()->size();
  const bool unfit = !(size.height <= 1024 && size.width <= 1024 &&
                       pixelScale_ * pixelScale_ * (size.width + 6) * (size.height + 6) <= 262144);
  const double decidedAt = platform::systemUptime();
  bool held = false;
  if (!stale && !hidden && !unfit && interceptionDeadline_ && decidedAt <= *interceptionDeadline_) {
    held = presenter_->captureNative(cursor, seed, visible_, interceptionDeadline_, nullptr);
  }
  const bool visible = visible_ && visible_() != 0;
  trace.record("capture", {.seed = seed,
                           .value = (decidedAt - t) * 1000,
                           .detail = std::string("hidden=") + flag(hidden) + ";animated=false;fits=" + flag(!unfit) +
                                     ";visible=" + flag(visible)});
  const bool late = !interceptionDeadline_ || *interceptionDeadline_ < decidedAt;
  trace.record("hold", {.seed = seed, .detail = held ? "accepted" : late ? "late" : "ineligible-or-refused"});

  const auto deadline = std::exchange(interceptionDeadline_, std::nullopt);
  publish(seed, copiedCursor(*cursor), false, held, deadline, t);
}

}  // namespace vurle
