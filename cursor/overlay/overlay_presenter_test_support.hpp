#pragma once

// The overlay presenter on a simulated desktop: one 1512 × 982 pt screen at
// 2 pixels per point, another application in front, the pointer where the
// test puts it, and a virtual clock. After every test the presenter is gone
// and the native cursor is visible with no hide outstanding.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/art/native_cursor_library.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/events/event.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle::testing {

inline constexpr int32_t kEditorPID = 4242;

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

  // What the present path's first acquisition leaves behind, so that tests
  // reach an active overlay: the screen, owner and window band stored, the
  // current cursor sampled, the panel staged over the screen, the native
  // cursor hidden under the lease, the layer shown and the frame placed.
  void acquireOverlay(const ArtRef& art, CGRect band = platform::CGRectMake(100, 100, 800, 600)) {
    auto& p = *presenter;
    p.screen = primary();
    p.owner = p.foregroundPID;
    p.window = band;
    p.sampleSeed = currentSeed();
    p.sampledArt = art;
    p.sampleIsAnimated = false;
    p.panel->setFrame(primary()->frame(), false);
    p.panel->orderFrontRegardless();
    ASSERT_TRUE(p.animation.show(art, now()));
    const auto frame = p.animation.frame(now());
    ASSERT_TRUE(frame);
    auto check = p.spaceAnimation.transitionCheck(primary());
    ASSERT_TRUE(check);
    ASSERT_TRUE(p.lease->acquire(check, [] {}));
    p.setLayerVisible(true);
    p.active = true;
    p.identity = art->identity();
    p.lastStopReason.reset();
    p.place(platform::NSEvent::mouseLocation(), *frame, primary()->backingScaleFactor());
    p.lastFrame = frame;
    p.lastFrameTime = now();
    p.lastMotionPoint = platform::NSEvent::mouseLocation();
    p.lastMotionAt = now();
  }

  std::shared_ptr<ContinuousCursorPresenter> presenter;
  std::shared_ptr<StationaryCursorHandoff> handoff;
};

}  // namespace vurle::testing
