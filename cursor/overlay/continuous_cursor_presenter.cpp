#include "cursor/overlay/continuous_cursor_presenter.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

#include "cursor/art/cursor_scale.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {

platform::NSWindowLevel cursorWindowLevel() {
  static const platform::NSWindowLevel level = platform::CGWindowLevelForKey(platform::kCGCursorWindowLevelKey);
  return level;
}

std::optional<CGFloat> renderScaleAt(CGPoint point) {
  auto screen = screenContaining(point);
  if (!screen) return std::nullopt;
  return renderScale(screen->backingScaleFactor());
}

std::shared_ptr<ContinuousCursorPresenter> ContinuousCursorPresenter::make(
    std::shared_ptr<CursorOverlayPlacement> overlaySpace) {
  auto presenter = std::make_shared<ContinuousCursorPresenter>(Key{}, std::move(overlaySpace));
  const auto front = platform::NSWorkspace::sharedWorkspace().frontmostApplication();
  if (front) presenter->foregroundPID = static_cast<int32_t>(front->processIdentifier());
  std::weak_ptr<ContinuousCursorPresenter> weak = presenter;
  presenter->foregroundObserver = platform::NSWorkspace::sharedWorkspace().notificationCenter().addObserverForName(
      platform::NSWorkspaceDidActivateApplicationNotification, nullptr, platform::DispatchQueue::main(),
      [weak](const platform::NSNotification& notification) {
        if (auto self = weak.lock()) self->foregroundApplicationActivated(notification);
      });
  presenter->makeOverlayPanel();
  presenter->refreshKnownLabels();
  return presenter;
}

ContinuousCursorPresenter::ContinuousCursorPresenter(Key, std::shared_ptr<CursorOverlayPlacement> placement)
    : panel(std::make_shared<ContinuousCursorPanel>(platform::CGRectZero, platform::NSWindowStyleMaskNonactivatingPanel,
                                                    platform::NSBackingStoreBuffered, false)),
      layer(platform::CALayer::make()),
      overlaySpace(std::move(placement)),
      lease(makeCursorLease()),
      stationaryHandoff(StationaryCursorHandoff::make(NativeCursorPresenter::make())),
      nativeReadback(NativeCursorReadbackRecorder::make(
          CursorTrace::shared(), [source = std::make_shared<NativeCursorReadbackSource>()] { return source->read(); })) {
  if (auto arrow = NativeCursorLibrary::shared()->art(PointerKind::arrow)) animation.show(arrow, 0);
}

ContinuousCursorPresenter::~ContinuousCursorPresenter() {
  if (handoffPreparationTimer) handoffPreparationTimer->invalidate();
  if (releaseTimer) releaseTimer->invalidate();
  if (foregroundObserver) platform::NSWorkspace::sharedWorkspace().notificationCenter().removeObserver(foregroundObserver);
  // Whatever the presenter was doing, the pointer goes back to the native
  // cursor; the lease keeps retrying a refused show on its own queue.
  lease->revoke();
}

namespace {

void appendNumber(std::string& text, double value) { text += shortestDecimal(value); }

}  // namespace

void ContinuousCursorPresenter::appendSize(std::string& text, CGSize size) {
  text += "(width: ";
  appendNumber(text, size.width);
  text += ", height: ";
  appendNumber(text, size.height);
  text += ")";
}

std::string ContinuousCursorPresenter::label(std::optional<int64_t> of) const {
  if (!of) return "custom";
  auto it = knownLabels.find(*of);
  return it == knownLabels.end() ? "custom" : it->second;
}

std::string ContinuousCursorPresenter::sampleDescription(const NativeCursorArt& art, double density) const {
  std::string text = label(art.identity());
  text += ";size=";
  appendSize(text, art.nativeSize());
  text += ";hotspot=(x: ";
  appendNumber(text, art.nativeHotspot().x);
  text += ", y: ";
  appendNumber(text, art.nativeHotspot().y);
  text += ");hidden=";
  text += art.isHidden() ? "true" : "false";
  text += ";density=";
  appendNumber(text, density);
  return text;
}

void ContinuousCursorPresenter::insertLabels(const std::vector<std::string>& labels, std::set<std::string>& into) {
  into.insert(labels.begin(), labels.end());
}

void ContinuousCursorPresenter::refreshKnownLabels() {
  knownLabels.clear();
  resizeIdentities.clear();
  auto& library = *NativeCursorLibrary::shared();
  static constexpr std::string_view kResizePrefixes[] = {"resize", "column", "row", "frame"};
  for (const auto& named : namedSystemCursors()) {
    const ArtRef art = library.match(named.cursor);
    if (!art) continue;
    knownLabels.try_emplace(art->identity(), named.name);  // the first name wins
    const bool resize = std::any_of(std::begin(kResizePrefixes), std::end(kResizePrefixes),
                                    [&](std::string_view prefix) { return named.name.starts_with(prefix); });
    if (resize) resizeIdentities.insert(art->identity());
  }
}

void ContinuousCursorPresenter::makeOverlayPanel() {
  panel->setOpaque(false);
  panel->setBackgroundColor(platform::NSColor::clearColor());
  panel->setHasShadow(false);
  panel->setIgnoresMouseEvents(true);
  panel->setHidesOnDeactivate(false);
  panel->setLevel(kOverlayPanelLevel);
  panel->disableCursorRects();
  panel->setAnimationBehavior(platform::NSWindowAnimationBehaviorNone);
  panel->setBecomesKeyOnlyIfNeeded(true);
  panel->setExcludedFromWindowsMenu(true);
  panel->setRestorable(false);
  panel->setReleasedWhenClosed(false);
  panel->setCollectionBehavior(platform::NSWindowCollectionBehaviorCanJoinAllSpaces |
                               platform::NSWindowCollectionBehaviorStationary |
                               platform::NSWindowCollectionBehaviorIgnoresCycle |
                               platform::NSWindowCollectionBehaviorFullScreenAuxiliary |
                               platform::NSWindowCollectionBehaviorCanJoinAllApplications);
  auto content = std::make_shared<platform::NSView>(platform::CGRectZero);
  content->setWantsLayer(true);
  panel->setContentView(content);
  layer->setContentsGravity(platform::kCAGravityResize);
  layer->setMinificationFilter(platform::kCAFilterNearest);
  layer->setMagnificationFilter(platform::kCAFilterNearest);
  layer->setHidden(true);
  content->layer()->addSublayer(layer);
}

void ContinuousCursorPresenter::rebuildPanel() {
  if (overlaySpace) overlaySpace->detach(*panel);
  if (!layer->isHidden()) {
    platform::CATransaction::begin();
    platform::CATransaction::setDisableActions(true);
    layer->setHidden(true);
    platform::CATransaction::commit();
  }
  layer->removeFromSuperlayer();
  panel->orderOut();
  panel->close();
  panel = std::make_shared<ContinuousCursorPanel>(platform::CGRectZero, platform::NSWindowStyleMaskNonactivatingPanel,
                                                  platform::NSBackingStoreBuffered, false);
  makeOverlayPanel();
}

void ContinuousCursorPresenter::setLayerVisible(bool visible) {
  if (layer->isHidden() != visible) return;
  platform::CATransaction::begin();
  platform::CATransaction::setDisableActions(true);
  layer->setHidden(!visible);
  platform::CATransaction::commit();
}

const std::shared_ptr<ContinuousCursorWindowLookup>& ContinuousCursorPresenter::windowLookup() {
  if (!windowLookup_) windowLookup_ = std::make_shared<ContinuousCursorWindowLookup>(
        [](CGPoint point, int32_t owner) { return hitTestWindow(owner, point); });
  return windowLookup_;
}

void ContinuousCursorPresenter::resetWindowLookupCache() { windowLookup()->invalidate(); }

bool ContinuousCursorPresenter::overlayVisible() const {
  if (!panel->isVisible()) return false;
  return overlaySpace ? overlaySpace->audit(*panel) : panel->isOnActiveSpace();
}

bool ContinuousCursorPresenter::seedMatches(std::optional<int32_t> expected) const {
  return access.currentSeed() == expected;
}

double ContinuousCursorPresenter::restoreTolerance() const {
  return screen ? 1.0 / std::max<double>(screen->backingScaleFactor(), 1.0) : 1.0;
}

}  // namespace vurle
