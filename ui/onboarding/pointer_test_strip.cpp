#include "ui/onboarding/pointer_test_strip.hpp"

#include <algorithm>
#include <cmath>

#include "cursor/art/fatal_error.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"

namespace vurle {

using namespace platform;

namespace {

// The label colour of the light appearance is black; these are its alphas.
constexpr double kBackgroundAlpha = 0.045;
constexpr double kHighlightAlpha = 0.065;
// The separator colour (black at 0.1) at alpha 0.35.
constexpr double kSeparatorAlpha = 0.1 * 0.35;

double roundHalfAway(double v) { return std::round(v); }

}  // namespace

std::vector<TestStripRegion> testStripRegions() {
  static ProcessWide<std::vector<TestStripRegion>> regions([] {
    return std::vector<TestStripRegion>{
        {"Pointer", NSCursor::arrowCursor()},      {"Add", NSCursor::dragCopyCursor()},
        {"Open hand", NSCursor::openHandCursor()}, {"Closed hand", NSCursor::closedHandCursor()},
        {"Text", NSCursor::IBeamCursor()},         {"Resize horizontally", NSCursor::resizeLeftRightCursor()},
    };
  });
  return regions.get();
}

PointerTestStripView::PointerTestStripView(CGRect frame) : NSView(frame) {}

PointerTestStripView::PointerTestStripView(NSCoder& coder) : NSView(coder) {
  fatalError("init(coder:) has not been implemented");
}

std::shared_ptr<PointerTestStripView> PointerTestStripView::make(std::optional<CGRect> frame) {
  std::shared_ptr<PointerTestStripView> view(new PointerTestStripView(frame.value_or(CGRectMake(0, 0, 420, 46))));
  view->setUp();
  return view;
}

std::shared_ptr<PointerTestStripView> PointerTestStripView::activeStrip() {
  return std::dynamic_pointer_cast<PointerTestStripView>(CursorTestStrip::activeStrip());
}

void PointerTestStripView::setUp() {
  highlight_ = CALayer::make();
  setWantsLayer(true);
  layer()->setValue("cornerRadius", 10.0);
  layer()->setValue("masksToBounds", true);
  layer()->addSublayer(highlight_);
  setAccessibilityElement(true);
  setAccessibilityRole("group");
  setAccessibilityLabel("Cursor test strip");
  setAccessibilityHelp("Move across the cursor regions to try cursor transitions.");
  applyColors();
  setNeedsDisplay(true);
}

void PointerTestStripView::applyColors() {
  // Colours are recorded as the label colour's name and alpha; the light
  // appearance is the only one here.
  layer()->setValue("backgroundColor", std::string("labelColor"));
  layer()->setValue("backgroundColorAlpha", kBackgroundAlpha);
  highlight_->setValue("backgroundColor", std::string("labelColor"));
  highlight_->setValue("backgroundColorAlpha", kHighlightAlpha);
  setNeedsDisplay(true);
}

CGRect PointerTestStripView::regionRect(int i) const {
  const CGRect b = bounds();
  const double x0 = CGRectGetMinX(b) + CGRectGetWidth(b) * i / kRegionCount;
  const double x1 = CGRectGetMinX(b) + CGRectGetWidth(b) * (i + 1) / kRegionCount;
  return CGRectMake(x0, CGRectGetMinY(b), x1 - x0, CGRectGetHeight(b));
}

std::optional<int> PointerTestStripView::regionIndex(CGPoint point) const {
  const CGRect b = bounds();
  if (!CGRectContainsPoint(b, point) || CGRectGetWidth(b) <= 0) return std::nullopt;
  const int i = int((point.x - CGRectGetMinX(b)) / CGRectGetWidth(b) * kRegionCount);
  return std::min(kRegionCount - 1, i);
}

void PointerTestStripView::configure(std::optional<double> duration, std::function<void(std::optional<int>)> onHover) {
  onHover_ = std::move(onHover);
  const bool wasLocal = localAnimationDuration_.has_value();
  localAnimationDuration_ = duration;
  if (!duration && wasLocal) {
    if (localLink_) {
      stopLocalAnimation();
      if (auto i = mouseRegionIndex()) testStripRegions()[size_t(*i)].cursor->set();
    }
    scheduleCursorRectUpdate();
  } else if (duration && !wasLocal) {
    scheduleCursorRectUpdate();
  }
}

void PointerTestStripView::updateTrackingAreas() {
  if (tracking_) return;
  tracking_ = std::make_shared<NSTrackingArea>(
      CGRectZero,
      NSTrackingMouseEnteredAndExited | NSTrackingMouseMoved | NSTrackingCursorUpdate | NSTrackingActiveInActiveApp |
          NSTrackingInVisibleRect,
      shared_from_this());
  addTrackingArea(tracking_);
}

void PointerTestStripView::layout() {
  if (registeredBounds_ && *registeredBounds_ == bounds()) return;
  registeredBounds_ = bounds();
  scheduleCursorRectUpdate();
  removeAllToolTips();
  for (int i = 0; i < kRegionCount; ++i) addToolTipRect(regionRect(i));
  CATransaction::begin();
  CATransaction::setDisableActions(true);
  if (hoveredIndex_) highlight_->setFrame(regionRect(*hoveredIndex_));
  CATransaction::commit();
  setNeedsDisplay(true);
}

std::string PointerTestStripView::stringForToolTip(CGPoint point) const {
  if (auto i = regionIndex(point)) return testStripRegions()[size_t(*i)].name;
  return {};
}

void PointerTestStripView::scheduleCursorRectUpdate() {
  if (cursorRectUpdatePending_) return;
  cursorRectUpdatePending_ = true;
  std::weak_ptr<NSView> weak = weak_from_this();
  DispatchQueue::main()->async([weak] {
    auto strong = std::static_pointer_cast<PointerTestStripView>(weak.lock());
    if (!strong) return;
    strong->cursorRectUpdatePending_ = false;
    if (auto w = strong->window()) w->invalidateCursorRectsForView(strong);
  });
}

void PointerTestStripView::resetCursorRects() {
  if (localAnimationDuration_) return;
  for (int i = 0; i < kRegionCount; ++i) addCursorRect(regionRect(i), testStripRegions()[size_t(i)].cursor);
}

CGRect PointerTestStripView::glyphRect(int i) const {
  const auto cursor = testStripRegions()[size_t(i)].cursor;
  if (!cursor || !cursor->image()) return CGRectZero;
  const CGSize size = cursor->image()->size();
  if (!(size.width > 0 && size.height > 0)) return CGRectZero;
  const CGRect r = regionRect(i);
  const double s = std::min({27 / size.width, 29 / size.height, 1.25});
  return CGRectMake(roundHalfAway(CGRectGetMidX(r) - size.width * s / 2),
                    roundHalfAway(CGRectGetMidY(r) - size.height * s / 2), size.width * s, size.height * s);
}

void PointerTestStripView::drawRect(CGRect) {
  auto context = NSGraphicsContext::currentContext();
  for (int i = 0; i < kRegionCount; ++i) {
    const CGRect r = regionRect(i);
    const CGRect glyph = glyphRect(i);
    if (!CGRectIsEmpty(glyph)) {
      testStripRegions()[size_t(i)].cursor->image()->drawInRect(glyph, NSZeroRect, NSCompositingOperationSourceOver,
                                                                hoveredIndex_ == i ? 0.12 : 1.0, true,
                                                                NSImageHints{NSImageInterpolationHigh});
    }
    if (i >= 1 && context) {
      const CGContextRef cg = context->CGContext();
      // The current compositing operation: source-over is the only one used here.
      CGContextSetRGBFillColor(cg, 0, 0, 0, kSeparatorAlpha);
      CGContextFillRect(cg, CGRectMake(CGRectGetMinX(r), CGRectGetMinY(r) + 11, 0.5, CGRectGetHeight(r) - 22));
    }
  }
}

std::optional<int> PointerTestStripView::mouseRegionIndex() const {
  auto app = NSApplication::shared();
  auto w = window();
  if (!app->isActive() || !w || !w->isKeyWindow() || !w->isVisible() || w->attachedSheet()) return std::nullopt;
  if (isHiddenOrHasHiddenAncestor()) return std::nullopt;
  const CGPoint p = convertPointFromWindow(w->mouseLocationOutsideOfEventStream());
  if (!CGRectContainsPoint(visibleRect(), p)) return std::nullopt;
  return regionIndex(p);
}

void PointerTestStripView::requestCursor(std::optional<int> index, const NSEvent* event, bool force) {
  if (!index) return;
  const CursorRequestEvent captured{event ? event->eventNumber() : 0, event ? event->timestamp() : 0};
  const std::optional<int> previous = requestedCursorIndex_;
  if (previous == index) {
    if (!force) return;
    if (event && lastCursorRequestEvent_ == captured) return;
  }
  requestedCursorIndex_ = index;
  lastCursorRequestEvent_ = event ? std::optional<CursorRequestEvent>(captured) : std::nullopt;
  std::weak_ptr<NSView> weak = weak_from_this();
  const bool hadEvent = event != nullptr;
  DispatchQueue::main()->async([weak, captured, hadEvent] {
    auto strong = std::static_pointer_cast<PointerTestStripView>(weak.lock());
    if (!strong) return;
    // Compared without building an optional: GCC 12 warns falsely
    // (-Wmaybe-uninitialized) about one at -O3.
    const auto& last = strong->lastCursorRequestEvent_;
    if (hadEvent ? last == captured : !last) strong->lastCursorRequestEvent_.reset();
  });
  if (previous && previous != index) {
    if (startLocalAnimation(previous, *index)) return;
  }
  if (previous == index && localPresentation_) {
    localPresentation_->cursor->set();
    return;
  }
  stopLocalAnimation();
  testStripRegions()[size_t(*index)].cursor->set();
}

bool PointerTestStripView::startLocalAnimation(std::optional<int> from, int to) {
  auto w = window();
  if (!localAnimationDuration_ || !from || mouseRegionIndex() != to || !w) return false;
  auto screen = w->screen();
  if (!screen) return false;
  auto library = NativeCursorLibrary::shared();
  ArtRef target = library->match(testStripRegions()[size_t(to)].cursor);
  if (!target) return false;
  const double now = systemUptime();
  if (!localLink_) {
    ArtRef source = library->match(testStripRegions()[size_t(*from)].cursor);
    if (!source) return false;
    localAnimation_ = PointerAnimation(w->backingScaleFactor(), std::nullopt, false, true);
    if (!localAnimation_.show(source, now)) return false;
  }
  std::optional<double> shownAt;
  std::optional<CursorFrame> shown;
  if (localPresentation_) shownAt = localPresentation_->time, shown = localPresentation_->frame;
  if (!localAnimation_.begin(target, now, *localAnimationDuration_, shownAt, shown)) return false;
  if (localAnimation_.isRunning(now) && presentLocalFrame(now)) {
    if (!localLink_) {
      auto self = std::static_pointer_cast<PointerTestStripView>(shared_from_this());
      localLink_ = displayLinkWithTarget(screen, self, &PointerTestStripView::advanceLocalCursor);
      localLink_->addToRunLoop(RunLoop::main(), RunLoopMode::common);
    }
    return true;
  }
  return false;
}

bool PointerTestStripView::presentLocalFrame(double t) {
  auto frame = localAnimation_.frame(t);
  if (!frame) return false;
  const CGRect b = frame->canvas.bounds;
  auto image = NSImage::makeWithCGImage(frame->image, b.size);
  auto cursor = NSCursor::make(image, CGPointMake(-CGRectGetMinX(b), -CGRectGetMinY(b)));
  if (!cursor) return false;
  cursor->set();
  localPresentation_ = LocalPresentation{*frame, t, cursor};
  return true;
}

void PointerTestStripView::advanceLocalCursor(CADisplayLink&) {
  const auto i = mouseRegionIndex();
  if (!i) {
    cancelCursorTest();
    return;
  }
  if (i != requestedCursorIndex_) {
    requestCursor(i, nullptr, false);
    setHoveredIndex(i);
    return;
  }
  const double now = systemUptime();
  if (localAnimation_.isRunning(now) && presentLocalFrame(now)) return;
  stopLocalAnimation();
  testStripRegions()[size_t(*i)].cursor->set();
}

void PointerTestStripView::stopLocalAnimation() {
  if (!localLink_ && !localPresentation_) return;
  if (localLink_) localLink_->invalidate();
  localLink_.reset();
  localPresentation_.reset();
  PointerAnimation emptied(localAnimation_.fixedScale, localAnimation_.pixelLimit, localAnimation_.prefersMetal,
                           localAnimation_.cacheStaticCustomTransitions);
  localAnimation_ = emptied;
}

void PointerTestStripView::setHoveredIndex(std::optional<int> index) {
  if (index == hoveredIndex_) return;
  const std::optional<int> previous = hoveredIndex_;
  hoveredIndex_ = index;
  setNeedsDisplay(true);
  CATransaction::begin();
  // The highlight shows at once, then slides between regions and fades out
  // (0.1 s), unless Reduce Motion is on.
  CATransaction::setDisableActions(!previous || NSWorkspace::sharedWorkspace().accessibilityDisplayShouldReduceMotion());
  highlight_->setValue("opacity", index ? 1.0 : 0.0);
  if (index) highlight_->setFrame(regionRect(*index));
  CATransaction::commit();
  setAccessibilityValue(index ? testStripRegions()[size_t(*index)].name : std::string());
  if (onHover_) onHover_(index);
}

void PointerTestStripView::cursorUpdate(const NSEvent& event) {
  const auto i = regionIndex(convertPointFromWindow(event.locationInWindow()));
  if (i) {
    requestCursor(i, &event, true);
    setHoveredIndex(i);
  } else {
    cancelCursorTest();
    NSView::cursorUpdate(event);
  }
}

void PointerTestStripView::handleMove(const NSEvent& event) {
  const auto i = regionIndex(convertPointFromWindow(event.locationInWindow()));
  requestCursor(i, &event, false);
  if (i != hoveredIndex_) setHoveredIndex(i);
}

void PointerTestStripView::mouseEntered(const NSEvent& event) { handleMove(event); }
void PointerTestStripView::mouseMoved(const NSEvent& event) { handleMove(event); }

void PointerTestStripView::mouseExited(const NSEvent& event) {
  if (regionIndex(convertPointFromWindow(event.locationInWindow()))) handleMove(event);
  else cancelCursorTest();
}

void PointerTestStripView::cancelCursorTest() {
  if (localPresentation_ && mouseRegionIndex() && NSCursor::currentCursor() == localPresentation_->cursor)
    NSCursor::arrowCursor()->set();
  stopLocalAnimation();
  requestedCursorIndex_.reset();
  lastCursorRequestEvent_.reset();
  setHoveredIndex(std::nullopt);
}

bool PointerTestStripView::insideActiveStrip(CGPoint screenPoint) const {
  if (!NSApplication::shared()->isActive()) return false;
  auto strip = activeStrip();
  if (!strip) return false;
  auto w = strip->window();
  if (!w || !w->isVisible() || strip->isHiddenOrHasHiddenAncestor()) return false;
  return CGRectContainsPoint(strip->visibleRect(), strip->convertPointFromWindow(w->convertPointFromScreen(screenPoint)));
}

void PointerTestStripView::resyncCursorTest() {
  stopLocalAnimation();
  requestedCursorIndex_.reset();
  lastCursorRequestEvent_.reset();
  scheduleCursorRectUpdate();
  setNeedsDisplay(true);
  const CGPoint location = NSEvent::mouseLocation();
  auto w = window();
  if (insideActiveStrip(location) && w)
    requestCursor(regionIndex(convertPointFromWindow(w->convertPointFromScreen(location))), nullptr, true);
}

void PointerTestStripView::viewWillMoveToWindow(const std::shared_ptr<NSWindow>& newWindow) {
  if (window() && newWindow != window()) cancelCursorTest();
}

void PointerTestStripView::viewDidMoveToWindow() {
  if (window()) CursorTestStrip::setActiveStrip(std::static_pointer_cast<PointerTestStripView>(shared_from_this()));
  else cancelCursorTest();
}

namespace {

struct StripRepresentable : ui::NSViewRepresentable {
  std::optional<double> duration;
  std::function<void(std::optional<int>)> onHover;

  std::shared_ptr<NSView> makeNSView(Context&) const override {
    auto strip = PointerTestStripView::make();
    strip->configure(duration, onHover);
    return strip;
  }
  void updateNSView(NSView& view, Context&) const override {
    static_cast<PointerTestStripView&>(view).configure(duration, onHover);
  }
  void dismantleNSView(NSView& view, std::any&) const override {
    auto& strip = static_cast<PointerTestStripView&>(view);
    strip.clearOnHover();
    strip.cancelCursorTest();
  }
  CGSize sizeThatFits(std::optional<double> width, std::optional<double> height, const NSView& view) const override {
    // The strip takes the width it is offered and its own height.
    const CGSize own = view.frame().size;
    return {width && std::isfinite(*width) ? *width : own.width,
            height && std::isfinite(*height) ? std::min(*height, own.height) : own.height};
  }
};

}  // namespace

ui::View PointerTestStrip(std::optional<double> localAnimationDuration, std::function<void(std::optional<int>)> onHover) {
  auto rep = std::make_shared<StripRepresentable>();
  rep->duration = localAnimationDuration;
  rep->onHover = std::move(onHover);
  return ui::Representable("PointerTestStrip", rep);
}

}  // namespace vurle
