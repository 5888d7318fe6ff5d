#pragma once

// The pointer test strip: six equal regions side by side, each showing a
// system cursor; moving the pointer over a region makes that cursor the
// pointer. In plain mode each region is a cursor rect and the strip also
// sets the cursor itself when the pointer enters it; in local mode (a
// duration is given) the strip installs no cursor rects and morphs the
// pointer from the previous region's cursor to the new one, setting a
// cursor made from each morph frame, driven by the screen's display link.
//
// The strip last placed in a window is reachable through activeStrip()
// (the engine's CursorTestStrip seam), held weakly, so the application delegate, the pages and the engine can
// cancel or re-synchronise it. Main thread only; the queued blocks and the
// display link hold the view weakly.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/art/pointer_animation.hpp"
#include "cursor/engine/cursor_test_strip.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/appkit/tracking_area.hpp"
#include "platform/appkit/view.hpp"
#include "platform/ui/view.hpp"

namespace vurle {

struct TestStripRegion {
  std::string name;
  std::shared_ptr<platform::NSCursor> cursor;
};

// "Pointer", "Add", "Open hand", "Closed hand", "Text", "Resize
// horizontally", built once per process state; the index is the region
// index everywhere, and the speed examples read it as their catalog.
std::vector<TestStripRegion> testStripRegions();

class PointerTestStripView : public platform::NSView, public CursorTestStrip {
 public:
  static constexpr int kRegionCount = 6;
  struct CursorRequestEvent {
    long number = 0;
    double timestamp = 0;
    bool operator==(const CursorRequestEvent&) const = default;
  };
  struct LocalPresentation {
    CursorFrame frame;
    double time = 0;
    std::shared_ptr<platform::NSCursor> cursor;
  };

  // With no frame: 420 × 46 points.
  static std::shared_ptr<PointerTestStripView> make(std::optional<CGRect> frame = std::nullopt);
  // Never made from an archive: stops the process.
  explicit PointerTestStripView(platform::NSCoder& coder);
  static std::shared_ptr<PointerTestStripView> activeStrip();

  // Sets the hover callback and the mode: a duration in seconds for local
  // mode, none for plain mode.
  void configure(std::optional<double> localAnimationDuration, std::function<void(std::optional<int>)> onHover);
  void clearOnHover() { onHover_ = nullptr; }
  // Ends any test in progress.
  void cancelCursorTest();
  // Re-applies the cursor under the pointer after the artwork was rebuilt
  // (the engine calls it on the active strip).
  void resyncCursorTest() override;

  CGRect regionRect(int index) const;
  // Where the region's cursor image is drawn: centred in the region, scaled
  // to fit 27 × 29 points but never above 1.25; zero when it has no image.
  CGRect glyphRect(int index) const;
  std::optional<int> regionIndex(CGPoint point) const;
  // The region under the real pointer, when the strip is where it can be
  // used (active application, key visible window without a sheet, shown).
  std::optional<int> mouseRegionIndex() const;

  // Read by tests and by the owners.
  std::optional<int> hoveredIndex() const { return hoveredIndex_; }
  std::optional<int> requestedCursorIndex() const { return requestedCursorIndex_; }
  const std::optional<CursorRequestEvent>& lastCursorRequestEvent() const { return lastCursorRequestEvent_; }
  const std::shared_ptr<platform::CADisplayLink>& localLink() const { return localLink_; }
  const std::optional<LocalPresentation>& localPresentation() const { return localPresentation_; }
  const std::optional<double>& localAnimationDuration() const { return localAnimationDuration_; }
  const std::shared_ptr<platform::CALayer>& highlight() const { return highlight_; }
  const PointerAnimation& localAnimation() const { return localAnimation_; }

  bool isFlipped() const override { return true; }
  bool mouseDownCanMoveWindow() const override { return false; }
  bool acceptsFirstMouse(const platform::NSEvent* event) const override {
    (void)event;
    return true;
  }
  void updateTrackingAreas() override;
  void layout() override;
  std::string stringForToolTip(CGPoint point) const override;
  void resetCursorRects() override;
  void drawRect(CGRect dirtyRect) override;
  void cursorUpdate(const platform::NSEvent& event) override;
  void mouseEntered(const platform::NSEvent& event) override;
  void mouseMoved(const platform::NSEvent& event) override;
  void mouseExited(const platform::NSEvent& event) override;
  void viewWillMoveToWindow(const std::shared_ptr<platform::NSWindow>& newWindow) override;
  void viewDidMoveToWindow() override;
  // The appearance changed: the colours are evaluated again.
  void applyColors();

  // The display link's action while a local morph runs.
  void advanceLocalCursor(platform::CADisplayLink& link);

 private:
  explicit PointerTestStripView(CGRect frame);
  void setUp();
  void scheduleCursorRectUpdate();
  void requestCursor(std::optional<int> index, const platform::NSEvent* event, bool force);
  bool startLocalAnimation(std::optional<int> from, int to);
  bool presentLocalFrame(double t);
  void stopLocalAnimation();
  void setHoveredIndex(std::optional<int> index);
  void handleMove(const platform::NSEvent& event);
  bool insideActiveStrip(CGPoint screenPoint) const;

  std::shared_ptr<platform::NSTrackingArea> tracking_;
  std::shared_ptr<platform::CALayer> highlight_;
  std::optional<CGRect> registeredBounds_;
  bool cursorRectUpdatePending_ = false;
  std::optional<int> hoveredIndex_;
  std::optional<int> requestedCursorIndex_;
  std::optional<CursorRequestEvent> lastCursorRequestEvent_;
  PointerAnimation localAnimation_;
  std::shared_ptr<platform::CADisplayLink> localLink_;
  std::optional<LocalPresentation> localPresentation_;
  std::optional<double> localAnimationDuration_;
  std::function<void(std::optional<int>)> onHover_;
};

// The strip for a declarative page: made once, configured on every render,
// and on removal its hover callback is cleared and its test cancelled.
platform::ui::View PointerTestStrip(std::optional<double> localAnimationDuration,
                                    std::function<void(std::optional<int>)> onHover);

}  // namespace vurle
