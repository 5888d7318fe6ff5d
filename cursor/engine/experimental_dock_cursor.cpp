#include "cursor/engine/experimental_dock_cursor.hpp"

#include <algorithm>
#include <mutex>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/native_animated_cursors.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/event.hpp"
#include "platform/dispatch/clock.hpp"

namespace vurle {

using namespace platform;
using Context = ExperimentalDockRegions::Context;
using Item = ExperimentalDockRegions::Item;

namespace {

// Nothing may animate over the Dock while a button is held there or the
// application is hidden, or while the display slides between Spaces.
bool admits(const std::optional<Context>& context, const ExperimentalDockCursor::Safe& safe) {
  return context && safe && safe() && NSEvent::pressedMouseButtons() == 0 && !NSApplication::shared()->isHidden();
}

const Item* itemAt(const Context& context, CGPoint pointer) {
  for (const auto& item : context.items) {
    if (CGRectContainsPoint(item.bounds, pointer)) return &item;
  }
  return nullptr;
}

std::vector<CGRect> boundsOf(const Context& context) {
  std::vector<CGRect> bounds;
  for (const auto& item : context.items) bounds.push_back(item.bounds);
  return bounds;
}

ArtRef arrowArt() { return NativeCursorLibrary::shared()->art(PointerKind::arrow); }

}  // namespace

std::shared_ptr<ExperimentalDockCursor> ExperimentalDockCursor::make() {
  return std::shared_ptr<ExperimentalDockCursor>(new ExperimentalDockCursor());
}

ExperimentalDockCursor::ExperimentalDockCursor() : native_(NativeCursorPresenter::make()) {}

ExperimentalDockCursor::~ExperimentalDockCursor() { stop(false); }

const std::shared_ptr<NativeCursorSampler>& ExperimentalDockCursor::sampler() {
  if (!sampler_) {
    sampler_ = NativeCursorSampler::make(native_, nullptr, renderScale());
    std::weak_ptr<ExperimentalDockCursor> weak = weak_from_this();
    std::weak_ptr<NativeCursorSampler> weakSampler = sampler_;
    sampler_->setOnChange([weak, weakSampler] {
      auto self = weak.lock();
      auto sampler = weakSampler.lock();
      if (!self || !sampler) return;
      if (auto sample = sampler->takePending()) self->morph(*sample);
    });
  }
  return sampler_;
}

CGPoint ExperimentalDockCursor::pointerLocation() {
  const NSPoint location = NSEvent::mouseLocation();
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  return CGPointMake(location.x, top - location.y);
}

bool ExperimentalDockCursor::targets(const ArtRef& art) const {
  return art && animation_.to && animation_.to->identity() == art->identity();
}

const std::unordered_set<int64_t>& ExperimentalDockCursor::resizeIdentities() {
  if (!resizeIdentities_) {
    resizeIdentities_.emplace();
    auto library = NativeCursorLibrary::shared();
    for (const auto& named : namedSystemCursors()) {
      if (!named.name.starts_with("resize") && !named.name.starts_with("frame")) continue;
      if (auto art = library->match(named.cursor)) resizeIdentities_->insert(art->identity());
    }
  }
  return *resizeIdentities_;
}

bool ExperimentalDockCursor::step(const std::shared_ptr<NSScreen>& screen, double duration, Safe safe,
                                  const std::shared_ptr<ExperimentalDockRegions>& regions, CGPoint pointer,
                                  CGRect screenFrame) {
  const auto context = regions ? regions->requestRefresh(screenFrame, pointer) : std::nullopt;
  if (!admits(context, safe)) {
    stop(false);
    return false;
  }
  screen_ = screen;
  permission_ = [weak = std::weak_ptr<ExperimentalDockRegions>(regions), screenFrame, pointer] {
    auto regions = weak.lock();
    return regions ? regions->requestRefresh(screenFrame, pointer) : std::nullopt;
  };
  safe_ = std::move(safe);
  duration_ = duration;
  return decide(context, safe_, pointer);
}

bool ExperimentalDockCursor::decide(const std::optional<Context>& context, const Safe& safe, CGPoint pointer) {
  if (!admits(context, safe)) {
    stop(false);
    return false;
  }
  const Item* item = itemAt(*context, pointer);
  if (!item) {
    stop(false);
    return false;
  }
  return observing_ ? continueRun(*context, *item, safe) : startRun();
}

bool ExperimentalDockCursor::continueRun(const Context& context, const Item& item, const Safe& safe) {
  if (native_->recoveryEpoch() != recovery_) {
    // The presenter handed the pointer back on its own.
    stop(false);
    return true;
  }
  const auto regions = boundsOf(context);
  native_->grantDockPermit(regions, context.until, safe);
  native_->setHoldPolicy(true, regions, context.until);

  // Back to the arrow over an application item: before the presenter holds
  // a connection (only from a resize cursor, which the Dock shows at its
  // edge), or within the run's first 2 s.
  const auto arrow = arrowArt();
  const double now = systemUptime();
  const bool connected = native_->connection() != 0;
  if (!(!connected || now < expires_) || item.separator || !arrow || targets(arrow)) return true;
  if (!connected && !(animation_.to && resizeIdentities().count(animation_.to->identity()) != 0)) return true;
  const auto seed = access_.currentSeed();
  if (!seed || (connected ? !native_->ownsSeed(seed) : seed != inputSeed_)) return true;
  if (!native_->acceptNativeInput(*arrow, *seed)) return true;
  inputSeed_ = seed;
  if (!animation_.begin(arrow, now, duration_, lastTime_, lastFrame_)) {
    stop(false);
    return true;
  }
  if (expires_ == 0) expires_ = now + kArrowWindow;
  startDisplayLink();
  CursorTrace::shared()->record("dock-experiment-exit", {.seed = seed, .detail = "verified-dock-item"});
  return true;
}

bool ExperimentalDockCursor::startRun() {
  const auto seed = access_.currentSeed();
  if (access_.cursorIsVisible() != true || !seed) return false;
  const auto current = readCurrentNativeCursor();
  if (current.kind != NativeCursorImageReader::Result::Kind::cursor || !current.cursor ||
      NativeAnimatedCursors::shared()->contains(current.cursor)) {
    return false;  // animated cursors are never morphed
  }
  const auto art = NativeCursorLibrary::shared()->match(current.cursor);
  if (!art || art->isHidden() || access_.currentSeed() != seed) return false;

  const double scale = renderScale({screen_ ? screen_->backingScaleFactor() : 0.0}, cursorScale());
  animation_ = PointerAnimation(scale, std::nullopt, false, false);
  const double now = systemUptime();
  if (!animation_.show(art, now)) return false;
  const auto frame = animation_.frame(now);
  if (!frame || !native_->adoptTarget(*art, *frame, *seed)) return false;
  inputSeed_ = seed;
  lastFrame_ = frame;
  lastTime_ = now;
  recovery_ = native_->recoveryEpoch();
  observing_ = true;
  sampler()->setEnabled(true, NativeCursorSampler::Baseline{*seed, now, scale});
  CursorTrace::shared()->record("dock-experiment-observing", {.seed = seed});
  return true;
}

void ExperimentalDockCursor::tick(CADisplayLink&) {
  if (!screen_ || !permission_ || !safe_) {
    stop(false);
    return;
  }
  const Safe safe = safe_;  // stop() may drop the stored one
  if (!decide(permission_(), safe, pointerLocation()) || !observing_ || !inputSeed_) {
    stop(false);
    return;
  }
  frame();
}

void ExperimentalDockCursor::frame() {
  const double now = systemUptime();
  const auto rendered = animation_.frame(now);
  const uint64_t generation = native_->presentationGeneration();
  if (!rendered || !native_->submit(*rendered, inputSeed_)) {
    stop(false);
    return;
  }
  if (native_->presentationGeneration() != generation) {
    lastFrame_ = rendered;
    lastTime_ = now;
  }
  const bool finished = animation_.duration <= 0 || animation_.started + animation_.duration <= now;
  if (finished && targets(arrowArt())) stop(true);
}

void ExperimentalDockCursor::morph(const NativeCursorSample& sample) {
  if (!observing_ || !permission_ || !safe_) return;
  const auto context = permission_();
  if (!context || !safe_()) return;
  const Item* item = itemAt(*context, pointerLocation());
  if (!item || NSEvent::pressedMouseButtons() != 0 || access_.cursorIsVisible() != true) return;
  if (!sample.cursor || sample.isAnimated) return;
  const auto art = NativeCursorLibrary::shared()->match(sample.cursor);
  if (!art || art->isHidden()) return;
  const double now = systemUptime();

  if (!sample.wasHeld) {
    // A cursor the presenter did not catch: rest on it at once.
    if (native_->connection() != 0 || access_.currentSeed() != sample.seed) return;
    {
      std::lock_guard<NSRecursiveLock> guard(native_->lock());
      native_->setHolds(false, std::nullopt);
    }
    if (!animation_.show(art, now)) {
      stop(false);
      return;
    }
    const auto frame = animation_.frame(now);
    if (!frame || !native_->adoptTarget(*art, *frame, sample.seed)) {
      stop(false);
      return;
    }
    inputSeed_ = sample.seed;
    lastFrame_ = frame;
    lastTime_ = now;
    native_->setHoldPolicy(true, boundsOf(*context), context->until);
    return;
  }
  // Over an application item the arrow is continueRun's.
  if (!item->separator && arrowArt()) return;
  if (!native_->acceptNativeInput(*art, sample.seed) || targets(art)) return;
  if (!animation_.begin(art, now, duration_, lastTime_, lastFrame_)) {
    stop(false);
    return;
  }
  inputSeed_ = sample.seed;
  if (expires_ == 0) expires_ = now + kArrowWindow;
  startDisplayLink();
  CursorTrace::shared()->record("dock-experiment-morph", {.seed = sample.seed});
  frame();
}

void ExperimentalDockCursor::startDisplayLink() {
  if (link_ || !screen_) return;
  link_ = displayLinkWithTarget(screen_, shared_from_this(), &ExperimentalDockCursor::tick);
  link_->addToRunLoop(RunLoop::main(), RunLoopMode::common);
}

void ExperimentalDockCursor::stop(bool restore) {
  if (sampler_) sampler_->setEnabled(false);
  {
    std::lock_guard<NSRecursiveLock> guard(native_->lock());
    native_->setHolds(false, std::nullopt);
  }
  native_->restoreNative(restore);
  if (link_) link_->invalidate();
  link_.reset();
  observing_ = false;
  inputSeed_.reset();
  lastFrame_.reset();
  lastTime_.reset();
  screen_.reset();
  permission_ = nullptr;
  safe_ = nullptr;
  expires_ = 0;
}

}  // namespace vurle
