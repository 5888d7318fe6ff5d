#include "ui/settings/morph_speed_examples.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/process_wide.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr int64_t kExamplePixelLimit = 262144;

bool reduceMotion() { return NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion(); }

}  // namespace

std::shared_ptr<MorphSpeedExamples> MorphSpeedExamples::make(std::vector<double> durations, bool usesCurrentSetting) {
  if (durations.size() != 3) throw std::invalid_argument("speed examples need exactly three durations");
  std::shared_ptr<MorphSpeedExamples> examples(new MorphSpeedExamples(std::move(durations), usesCurrentSetting));
  std::weak_ptr<MorphSpeedExamples> weak = examples;
  examples->artworkObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      cursorArtworkDidInvalidate, nullptr, DispatchQueue::main(), [weak](const NSNotification&) {
        if (auto strong = weak.lock()) strong->refreshTargetArt();
      });
  return examples;
}

MorphSpeedExamples::MorphSpeedExamples(std::vector<double> durations, bool usesCurrentSetting)
    : durations_(std::move(durations)),
      usesCurrentSetting_(usesCurrentSetting),
      animations_(3, PointerAnimation(std::nullopt, std::nullopt, true, false)),
      targetName_(testStripRegions().front().name) {}

MorphSpeedExamples::~MorphSpeedExamples() {
  if (link_) link_->invalidate();
}

std::vector<double> MorphSpeedExamples::effectiveDurations() const {
  if (!usesCurrentSetting_) return durations_;
  return {currentMilliseconds(), durations_[1], durations_[2]};
}

void MorphSpeedExamples::setCurrentMilliseconds(double milliseconds) {
  publish(currentMilliseconds_, milliseconds);
}

std::optional<double> MorphSpeedExamples::renderScale(int slot) const {
  auto it = renderScales_.find(slot);
  if (it == renderScales_.end()) return std::nullopt;
  return it->second;
}

int MorphSpeedExamples::preparations(int slot) const {
  auto it = preparations_.find(slot);
  return it == preparations_.end() ? 0 : it->second;
}

std::shared_ptr<PointerDrawingView> MorphSpeedExamples::view(int slot) const {
  auto it = views_.find(slot);
  return it == views_.end() ? nullptr : it->second.lock();
}

std::vector<int> MorphSpeedExamples::liveViews() const {
  std::vector<int> live;
  for (int slot = 0; slot < int(animations_.size()); ++slot)
    if (view(slot)) live.push_back(slot);
  return live;
}

PointerAnimation MorphSpeedExamples::preparedAnimation(double scale) {
  return PointerAnimation(scale, kExamplePixelLimit, true, false);
}

void MorphSpeedExamples::emptyAnimation(int slot) {
  const PointerAnimation& old = animations_[size_t(slot)];
  PointerAnimation emptied(old.fixedScale, old.pixelLimit, old.prefersMetal, old.cacheStaticCustomTransitions);
  emptied.started = clock_;
  animations_[size_t(slot)] = emptied;
}

void MorphSpeedExamples::attachView(const std::shared_ptr<PointerDrawingView>& view, int slot) {
  if (!view || slot < 0 || slot >= int(animations_.size())) return;
  views_[slot] = view;
  renderScales_.erase(slot);
  emptyAnimation(slot);
  std::weak_ptr<MorphSpeedExamples> weak = weak_from_this();
  view->onRenderScaleChanged = [weak, slot] {
    if (auto strong = weak.lock()) strong->prepareView(slot);
  };
  prepareView(slot);
  view->setImage(animations_[size_t(slot)].frame(clock_));
}

void MorphSpeedExamples::prepareView(int slot) {
  auto v = view(slot);
  if (!v) return;
  auto window = v->window();
  if (slot == 0 && isPlaying()) {
    auto screen = window ? window->screen() : nullptr;
    auto linked = linkedScreen_.lock();
    if (!linked || (screen && screen != linked)) start();
  }
  double backing = 2.0;
  if (window) backing = window->backingScaleFactor();
  else if (auto screens = NSScreen::screens(); !screens.empty()) backing = screens.front()->backingScaleFactor();
  const double scale = std::max(1.0, v->pointerScale() * backing);
  if (auto it = renderScales_.find(slot); it != renderScales_.end() && it->second == scale) return;
  renderScales_[slot] = scale;
  ++preparations_[slot];
  ArtRef art = animations_[size_t(slot)].to;
  if (!art) art = targetArt_;
  if (!art) art = NativeCursorLibrary::shared()->art(PointerKind::arrow);
  animations_[size_t(slot)] = preparedAnimation(scale);
  if (art) animations_[size_t(slot)].show(art, clock_);
  v->setImage(animations_[size_t(slot)].frame(clock_));
}

void MorphSpeedExamples::start() {
  auto v = view(0);
  auto window = v ? v->window() : nullptr;
  auto screen = window ? window->screen() : nullptr;
  if (!animationsEnabled() || reduceMotion() || !screen) return;
  stop();
  publish(isPlaying_, true);
  previousTime_.reset();
  linkedScreen_ = screen;
  link_ = displayLinkWithTarget(screen, shared_from_this(), &MorphSpeedExamples::tick);
  link_->addToRunLoop(RunLoop::main(), RunLoopMode::common);
  std::weak_ptr<MorphSpeedExamples> weak = weak_from_this();
  occlusionObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      NSWindowDidChangeOcclusionStateNotification, window.get(), DispatchQueue::main(), [weak](const NSNotification&) {
        if (auto strong = weak.lock()) strong->occlusionDidChange();
      });
  occlusionDidChange();
}

void MorphSpeedExamples::stop() {
  if (link_) link_->invalidate();
  link_.reset();
  linkedScreen_.reset();
  if (isPlaying()) publish(isPlaying_, false);
  previousTime_.reset();
  occlusionObserver_.reset();
}

void MorphSpeedExamples::occlusionDidChange() {
  // Frames resume without a jump of the clock.
  previousTime_.reset();
  if (!link_) return;
  auto v = view(0);
  auto window = v ? v->window() : nullptr;
  link_->setPaused(!(window && window->occlusionStateVisible()));
}

void MorphSpeedExamples::tick(CADisplayLink&) {
  auto v = view(0);
  auto window = v ? v->window() : nullptr;
  if (window && window->isVisible() && !window->isMiniaturized() && !reduceMotion()) step(systemUptime());
  else stop();
}

void MorphSpeedExamples::step(double now) {
  if (!animationsEnabled()) return;
  for (int slot : liveViews()) prepareView(slot);
  if (previousTime_) clock_ += std::clamp(now - *previousTime_, 0.0, kLargestStep);
  previousTime_ = now;
  if (!hoveredCursor_ && clock_ >= nextChange_) {
    const auto catalog = testStripRegions();
    index_ = (index_ + 1) % int(catalog.size());
    const auto& entry = catalog[size_t(index_)];
    ArtRef art = NativeCursorLibrary::shared()->match(entry.cursor);
    if (!art) {
      stop();
      return;
    }
    targetArt_ = art;
    const auto durations = effectiveDurations();
    for (int slot : liveViews()) animations_[size_t(slot)].begin(art, clock_, durations[size_t(slot)] / 1000);
    targetName_ = entry.name;
    nextChange_ = clock_ + kChangeInterval;
  }
  for (int slot : liveViews()) view(slot)->setImage(animations_[size_t(slot)].frame(clock_));
}

void MorphSpeedExamples::hover(const std::shared_ptr<NSCursor>& cursor, std::optional<std::string> name, bool animated) {
  if (!cursor) {
    if (hoveredCursor_) {
      hoveredCursor_.reset();
      nextChange_ = clock_ + kChangeInterval;
    }
    return;
  }
  ArtRef art = NativeCursorLibrary::shared()->match(cursor);
  if (!art) return;
  if (hoveredCursor_ && hoveredCursor_->art && hoveredCursor_->art->identity() == art->identity()) return;
  hoveredCursor_ = HoveredCursor{cursor, art, name.value_or("cursor")};
  targetArt_ = art;
  targetName_ = hoveredCursor_->name;
  const auto durations = effectiveDurations();
  for (int slot : liveViews()) {
    auto v = view(slot);
    auto& animation = animations_[size_t(slot)];
    if (animated && isPlaying() && !reduceMotion())
      animation.begin(art, clock_, durations[size_t(slot)] / 1000, clock_, v->image());
    else
      animation.show(art, clock_);
    v->setImage(animation.frame(clock_));
  }
}

void MorphSpeedExamples::reset() {
  stop();
  clock_ = 0;
  nextChange_ = 0;
  index_ = 0;
  previousTime_.reset();
  targetName_ = hoveredCursor_ ? hoveredCursor_->name : testStripRegions().front().name;
  targetArt_ = hoveredCursor_ ? hoveredCursor_->art : NativeCursorLibrary::shared()->art(PointerKind::arrow);
  for (int slot : liveViews()) {
    auto& animation = animations_[size_t(slot)];
    if (targetArt_) animation.show(targetArt_, 0);
    else emptyAnimation(slot);
    view(slot)->setImage(animation.frame(0));
  }
}

void MorphSpeedExamples::setAnimationsEnabled(bool enabled) {
  if (enabled == animationsEnabled()) return;
  publish(animationsEnabled_, enabled);
  if (enabled) start();
  else reset();
}

void MorphSpeedExamples::refreshTargetArt() {
  std::shared_ptr<NSCursor> cursor;
  std::string name;
  const auto catalog = testStripRegions();
  if (hoveredCursor_) {
    cursor = hoveredCursor_->cursor;
    name = hoveredCursor_->name;
  } else {
    auto it = std::find_if(catalog.begin(), catalog.end(), [&](const TestStripRegion& r) { return r.name == targetName_; });
    if (it != catalog.end()) cursor = it->cursor, name = it->name;
    else cursor = NSCursor::arrowCursor(), name = catalog.front().name;
  }
  ArtRef art = NativeCursorLibrary::shared()->match(cursor);
  if (!art) return;
  if (hoveredCursor_) hoveredCursor_ = HoveredCursor{cursor, art, name};
  // The matched art is the target whether or not a cursor is hovered.
  targetArt_ = art;
  for (int slot : liveViews()) {
    emptyAnimation(slot);
    renderScales_.erase(slot);
    prepareView(slot);
  }
}

// ---- drawing view and canvas -----------------------------------------------

SpeedExampleDrawingView::SpeedExampleDrawingView(CGRect frame) : PointerDrawingView(frame) {}

void SpeedExampleDrawingView::viewDidMoveToWindow() {
  PointerDrawingView::viewDidMoveToWindow();
  if (!window()) return;
  std::weak_ptr<NSView> weak = weak_from_this();
  DispatchQueue::main()->async([weak] {
    auto strong = std::static_pointer_cast<SpeedExampleDrawingView>(weak.lock());
    if (strong && strong->window() && strong->onWindowAttached) strong->onWindowAttached();
  });
}

void SpeedExampleDrawingView::layout() {
  PointerDrawingView::layout();
  const CGRect b = bounds();
  if (!fitsCursorCatalog) {
    hotspot = CGPointMake(CGRectGetMidX(b) - 10, CGRectGetMidY(b) - 20);
  } else {
    const CatalogFit fit = fitCatalog(b, requestedPointerScale);
    setPointerScale(fit.scale);
    hotspot = CGPointMake(fit.x, fit.y);
  }
  setNeedsDisplay(true);
}

CatalogFit fitCatalog(CGRect bounds, double maximumScale) {
  const CGRect inner = CGRectInset(bounds, 16, 16);
  const CGRect c = speedExampleCatalogBounds();
  const double innerWidth = CGRectIsNull(inner) ? 0 : std::max(0.0, CGRectGetWidth(inner));
  const double innerHeight = CGRectIsNull(inner) ? 0 : std::max(0.0, CGRectGetHeight(inner));
  CatalogFit fit;
  fit.scale = std::min({maximumScale, innerWidth / CGRectGetWidth(c), innerHeight / CGRectGetHeight(c)});
  fit.x = CGRectGetMidX(bounds) - CGRectGetMidX(c) * fit.scale;
  fit.y = CGRectGetMidY(bounds) - CGRectGetMidY(c) * fit.scale;
  return fit;
}

CGRect speedExampleCatalogBounds() {
  static ProcessWide<CGRect> bounds([] {
    CGRect u = CGRectNull;
    for (const auto& region : testStripRegions()) {
      if (!region.cursor || !region.cursor->image()) continue;
      const CGPoint hot = region.cursor->hotSpot();
      const CGSize size = region.cursor->image()->size();
      u = CGRectUnion(u, CGRectMake(-hot.x, -hot.y, size.width, size.height));
    }
    u = CGRectInset(u, -3, -3);
    const double r = vurle::renderScale();
    const double minX = std::floor(r * CGRectGetMinX(u)) / r, minY = std::floor(r * CGRectGetMinY(u)) / r;
    const double maxX = std::ceil(r * CGRectGetMaxX(u)) / r, maxY = std::ceil(r * CGRectGetMaxY(u)) / r;
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
  });
  return bounds.get();
}

namespace {

std::string morphLabel(double milliseconds) {
  // Whole milliseconds, halves away from zero.
  return std::to_string(static_cast<long long>(std::round(milliseconds))) + " millisecond cursor morph";
}

struct CanvasRepresentable : ui::NSViewRepresentable {
  std::shared_ptr<MorphSpeedExamples> examples;
  int index = 0;
  std::optional<double> pointerScale;
  bool fitsCursorCatalog = false;

  std::string label() const {
    const auto durations = examples->effectiveDurations();
    return index >= 0 && index < int(durations.size()) ? morphLabel(durations[size_t(index)]) : std::string();
  }
  std::shared_ptr<NSView> makeNSView(Context&) const override {
    auto view = std::make_shared<SpeedExampleDrawingView>(CGRectMake(0, 0, 160, 160));
    const double scale = pointerScale.value_or(examples->usesCurrentSetting() ? 2.1 : 2.5);
    view->setPointerScale(scale);
    view->requestedPointerScale = scale;
    view->fitsCursorCatalog = fitsCursorCatalog;
    view->imageInterpolation = NSImageInterpolationHigh;
    if (index == 0) {
      std::weak_ptr<MorphSpeedExamples> weak = examples;
      view->onWindowAttached = [weak] {
        if (auto strong = weak.lock()) strong->start();
      };
    }
    view->setAccessibilityElement(true);
    view->setAccessibilityLabel(label());
    examples->attachView(view, index);
    return view;
  }
  void updateNSView(NSView& view, Context&) const override { view.setAccessibilityLabel(label()); }
};

}  // namespace

ui::View SpeedExampleCanvas(std::shared_ptr<MorphSpeedExamples> examples, int index, std::optional<double> pointerScale,
                            bool fitsCursorCatalog) {
  auto rep = std::make_shared<CanvasRepresentable>();
  rep->examples = std::move(examples);
  rep->index = index;
  rep->pointerScale = pointerScale;
  rep->fitsCursorCatalog = fitsCursorCatalog;
  return ui::Representable("SpeedExampleCanvas", rep);
}

}  // namespace vurle
