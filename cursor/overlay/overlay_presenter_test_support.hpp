#pragma once

// The overlay presenter on a simulated desktop: one 1512 × 982 pt screen at
// 2 pixels per point, another application in front, the pointer where the
// test puts it, and a virtual clock. After every test the presenter is gone
// and the native cursor is visible with no hide outstanding.

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/art/native_cursor_library.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/events/event.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle::testing {

inline const int32_t kEditorPID = platform::foreignPid(4242);

class OverlayPresenterTest : public OverlayTest {
 protected:
  void SetUp() override {
    OverlayTest::SetUp();
    auto& workspace = platform::NSWorkspace::sharedWorkspace();
    workspace.launchApplication(kEditorPID, "com.example.editor", "Editor");
    workspace.activateApplication(kEditorPID);
    movePointer({400, 500});
    presenter = ContinuousCursorPresenter::make(nullptr);
    handoff = presenter->stationaryHandoff;
  }
  void TearDown() override {
    handoff.reset();
    presenter.reset();
    scope->advance(1.0);  // the lease's watchdog and the native presenter's finish on their own
    EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());
    EXPECT_EQ(platform::CursorState::shared().outstandingHides(), 0);
    OverlayTest::TearDown();
  }

  // AppKit coordinates (y up from the bottom of the primary screen).
  static void movePointer(CGPoint point) {
    platform::CursorState::shared().setCursorLocation(
        platform::CGPointMake(point.x, platform::CGRectGetMaxY(primary()->frame()) - point.y));
  }
  static std::shared_ptr<platform::NSScreen> primary() { return platform::NSScreen::screens().front(); }
  static void press(platform::CGEventType type, platform::CGMouseButton button) {
    platform::CGEventPost(platform::kCGHIDEventTap,
                          platform::CGEventCreateMouseEvent(nullptr, type, platform::CursorState::shared().cursorLocation(), button));
  }
  static int32_t currentSeed() { return platform::CursorState::shared().cursorSeed(); }
  // Another application sets the cursor; answers the new seed.
  static int32_t showCursor(const CursorRef& cursor) {
    return platform::CurrentCursor::shared().setCursorFromAnotherApplication(
        platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot()));
  }
  static ArtRef artOf(PointerKind kind) { return NativeCursorLibrary::shared()->art(kind); }

  // Another application's standard window under the pointer, as the
  // Accessibility hit test finds it (`frame` in AppKit coordinates); it
  // replaces every window the test arranged before.
  void standardWindow(CGRect frame, int32_t pid = kEditorPID) {
    auto& server = platform::AccessibilityServer::shared();
    server.reset();
    presenter->windowLookup()->invalidate();
    auto window = server.makeElement(pid);
    server.setAttribute(window, platform::kAXRoleAttribute, std::string("AXWindow"));
    server.setAttribute(window, platform::kAXSubroleAttribute, std::string("AXStandardWindow"));
    const CGFloat top = platform::CGRectGetMaxY(primary()->frame());
    CGPoint position = platform::CGPointMake(frame.origin.x, top - platform::CGRectGetMaxY(frame));
    CGSize size = frame.size;
    server.setAttribute(window, platform::kAXPositionAttribute, platform::AXValueCreate(platform::kAXValueCGPointType, &position));
    server.setAttribute(window, platform::kAXSizeAttribute, platform::AXValueCreate(platform::kAXValueCGSizeType, &size));
    server.addElementRegion(pid, platform::CGRectMake(position.x, position.y, size.width, size.height), window);
  }
  // One display frame of the present path on the primary screen, as the
  // engine hands it over when everything allows animation.
  void presentFrame(std::optional<CGRect> experimentalWindow = std::nullopt, double duration = 0.15) {
    presenter->present(primary(), true, std::nullopt, experimentalWindow, std::nullopt, now(), duration, 0);
  }
  // Runs display frames (1/120 s apart) until the overlay is active or
  // `frames` have passed; answers whether it became active.
  bool presentUntilActive(int frames = 12, std::optional<CGRect> experimentalWindow = std::nullopt) {
    for (int i = 0; i < frames && !presenter->active; ++i) {
      presentFrame(experimentalWindow);
      if (!presenter->active) scope->advance(1.0 / 120.0);
    }
    return presenter->active;
  }

  // The overlay taken over by the present path itself: another application
  // shows the art, its window (`band`) lies under the pointer, and display
  // frames run until the hide is acknowledged. A pointer within the screen's
  // 2 pt edge is acquired just inside it, then moved back.
  void acquireOverlay(const ArtRef& art, CGRect band = platform::CGRectMake(100, 100, 800, 600)) {
    ASSERT_TRUE(art);
    platform::CurrentCursor::shared().setCursorFromAnotherApplication(
        platform::CurrentCursor::imageSet(*art->native(), art->nativeHotspot()));
    standardWindow(band);
    const CGPoint target = platform::NSEvent::mouseLocation();
    const CGRect inner = platform::CGRectInset(primary()->frame(), 2.5, 2.5);
    const CGPoint inside{std::clamp(target.x, platform::CGRectGetMinX(inner), platform::CGRectGetMaxX(inner)),
                         std::clamp(target.y, platform::CGRectGetMinY(inner), platform::CGRectGetMaxY(inner))};
    movePointer(inside);
    // The display's Space gate opens 0.5 s after its first reading.
    presenter->spaceAnimation.isTransitioning(primary());
    scope->advance(0.6);
    // A fresh approach: the pointer just arrived, nothing rests on it.
    presenter->cancelHandoffPreparation();
    presenter->cancelStationaryHandoff("test-approach");
    presenter->lastMotionPoint.reset();
    ASSERT_TRUE(presentUntilActive()) << presenter->lastStopReason.value_or("no release");
    movePointer(target);
  }

  std::shared_ptr<ContinuousCursorPresenter> presenter;
  std::shared_ptr<StationaryCursorHandoff> handoff;
};

}  // namespace vurle::testing
