// Release, the native-restore bridge and placement of the overlay presenter.

#include <cmath>
#include <functional>
#include <limits>

#include "cursor/native/native_test_support.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/overlay_presenter_test_support.hpp"
#include "platform/windowserver/connections.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CursorState;
using platform::NSCursor;

class OverlayReleaseTest : public testing::OverlayPresenterTest {
 protected:
  void SetUp() override {
    OverlayPresenterTest::SetUp();
    showCursor(NSCursor::IBeamCursor());
    handoff->policy = [] { return StationaryPolicyAnswer{std::nullopt, {CGRectMake(0, 0, 1512, 982)}, 0.14}; };
  }
  ArtRef text() { return artOf(PointerKind::text); }
};

TEST_F(OverlayReleaseTest, TheReasonDecidesWhetherThePreparationAndTheHandoffSurvive) {
  struct Case {
    const char* reason;
    bool keepsHandoff;
  };
  const Case cases[] = {{"idle-native", true},        {"native-yield", true},  {"release", true},
                        {"space-changed", true},      {"space-transition", true}, {"keyboard-activity", true},
                        {"input", true},              {"disabled", false},     {"resolution-change", false},
                        {"policy:native menu bar", false}, {"input-resume-gate", false}};
  for (const auto& c : cases) {
    handoff->armAtRest(platform::NSEvent::mouseLocation(), 2, false, false, nullptr, 0, false);
    presenter->prepareHandoff(nullptr, false, 2, 0.5);
    ASSERT_TRUE(handoff->armed) << c.reason;
    ASSERT_TRUE(presenter->handoffPreparation) << c.reason;
    presenter->release(c.reason);
    EXPECT_EQ(handoff->armed, c.keepsHandoff) << c.reason;
    EXPECT_EQ(presenter->handoffPreparation.has_value(), c.keepsHandoff) << c.reason;
    EXPECT_EQ(presenter->unmapAfterRelease, std::string(c.reason) == "disabled") << c.reason;
    EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>(c.reason));
    presenter->cancelHandoffPreparation();
    handoff->cancelStationaryHandoff("next");
    presenter->unmapAfterRelease = false;
  }
  // Idle releases: no image, no hide, nothing to give back.
  EXPECT_TRUE(events("overlay-show-return").empty());
  EXPECT_TRUE(events("overlay-release").empty());
  EXPECT_FALSE(presenter->panel->isVisible());
  EXPECT_EQ(presenter->layer->contents(), nullptr);

  // The same reason twice is recorded once.
  const size_t blocked = events("overlay-blocked").size();
  presenter->release("input");
  presenter->release("input");
  EXPECT_EQ(events("overlay-blocked").size(), blocked + 1);
}

TEST_F(OverlayReleaseTest, AReleaseWhileActiveShowsTheCursorClearsTheLayerAndCleansUpLater) {
  acquireOverlay(text());
  ASSERT_FALSE(CursorState::shared().cursorIsVisible());
  ASSERT_NE(presenter->layer->contents(), nullptr);
  presenter->release("outside-window");
  EXPECT_FALSE(presenter->active);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
  EXPECT_EQ(details("overlay-show-return"), std::vector<std::string>{"hide-balanced"});
  EXPECT_EQ(details("overlay-release"), std::vector<std::string>{"outside-window"});
  EXPECT_EQ(presenter->layer->contents(), nullptr);
  EXPECT_TRUE(presenter->layer->isHidden());
  EXPECT_TRUE(presenter->layer->changes().back().actionsDisabled);
  EXPECT_TRUE(presenter->pendingDrawableClear);
  EXPECT_FALSE(presenter->screen);
  EXPECT_FALSE(presenter->identity);
  // Without a private Space the deferred clean-up orders the panel out.
  EXPECT_TRUE(presenter->panel->isVisible());
  scope->runUntilIdle();
  EXPECT_FALSE(presenter->panel->isVisible());
  EXPECT_FALSE(presenter->cleanupPending);

  // Read-backs follow at 50, 200 and 500 ms while the trace records.
  scope->advance(0.6);
  EXPECT_EQ(details("overlay-restored-readback"), (std::vector<std::string>{"after-50ms", "after-200ms", "after-500ms"}));
  for (const auto& event : events("overlay-restored-readback")) EXPECT_EQ(event.value, 1.0);
}

TEST_F(OverlayReleaseTest, TheNextPresentationAfterAReleaseStartsFromAFreshBoundaryTolerance) {
  acquireOverlay(text());
  // The cursor changes under the slowly moving pointer: the new shape is
  // held back at the boundary when the overlay is released.
  showCursor(NSCursor::pointingHandCursor());
  const CGPoint at = platform::NSEvent::mouseLocation();
  movePointer({at.x + 1, at.y});
  presentFrame();
  ASSERT_TRUE(presenter->active);
  ASSERT_TRUE(presenter->boundary.pending);
  presenter->release("outside-window");
  const auto& left = presenter->boundary;
  EXPECT_FALSE(left.identity || left.previous || left.pending || left.pendingSince);
  EXPECT_EQ(left.point, platform::CGPointMake(0, 0));
  EXPECT_EQ(left.changedAt, 0);

  // Acquired again on the arrow, the tolerance knows no shape before it.
  acquireOverlay(artOf(PointerKind::arrow));
  EXPECT_EQ(presenter->boundary.identity, std::optional<int64_t>(artOf(PointerKind::arrow)->identity()));
  EXPECT_FALSE(presenter->boundary.previous);
}

TEST_F(OverlayReleaseTest, WithTheTraceOffNoReadBackIsScheduled) {
  acquireOverlay(text());
  CursorTrace::shared()->disable();
  presenter->release("outside-window");
  CursorTrace::shared()->enable(2, false);
  scope->advance(0.6);
  EXPECT_TRUE(events("overlay-restored-readback").empty());
}

TEST_F(OverlayReleaseTest, TheBridgeKeepsTheImageUntilTheNativeCursorIsBackThenFinishes) {
  acquireOverlay(text());
  CursorState::shared().setShowLag(0.1);  // the server brings the cursor back late
  presenter->release("own-window-unavailable");
  EXPECT_EQ(details("overlay-native-restore-bridge"), std::vector<std::string>{"own-window-unavailable"});
  EXPECT_EQ(details("overlay-release-pending"), std::vector<std::string>{"own-window-unavailable"});
  ASSERT_TRUE(presenter->releaseTimer);
  EXPECT_FALSE(presenter->layer->isHidden());  // the image stands in for the cursor
  EXPECT_TRUE(presenter->idleRestorePending());

  // "input" keeps a running bridge deadline; a second, different release
  // while pending does not complete it.
  const auto until = presenter->idleRestoreUntil;
  presenter->release("input");
  EXPECT_EQ(presenter->idleRestoreUntil, until);

  scope->advance(0.09);
  EXPECT_TRUE(presenter->releaseTimer);
  EXPECT_FALSE(presenter->layer->isHidden());
  scope->advance(0.05);  // the cursor is visible: the next re-check finishes
  EXPECT_FALSE(presenter->releaseTimer);
  EXPECT_TRUE(presenter->layer->isHidden());
  EXPECT_EQ(presenter->layer->contents(), nullptr);
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("idle-native"));
  EXPECT_FALSE(presenter->idleRestoreUntil);
}

TEST_F(OverlayReleaseTest, AnIdleHandBackClearsFirstRevealsAsAFallbackAndEndsAtTheDeadline) {
  acquireOverlay(text());
  CursorState::shared().setShowLag(0.9);  // the cursor returns after the bridge
  const int flushes = platform::CATransaction::flushCount();
  presenter->release("idle-native");
  EXPECT_EQ(events("overlay-idle-preclear").size(), 1u);
  EXPECT_EQ(events("overlay-drawable-clear-commit").size(), 1u);
  EXPECT_EQ(platform::CATransaction::flushCount(), flushes + 1);
  ASSERT_TRUE(presenter->idleRestoreUntil && presenter->idleRestoreRevealAt);
  EXPECT_TRUE(presenter->layer->isHidden());
  // Past the reveal time with the cursor still missing, the image returns.
  scope->advance(1.0 / 30 + 0.001);
  EXPECT_FALSE(presenter->layer->isHidden());
  EXPECT_EQ(events("overlay-idle-restore-fallback").size(), 1u);
  // The bridge lasts 0.75 s and no longer.
  const double deadline = *presenter->idleRestoreUntil;
  scope->advance(deadline - now() - 0.02);
  EXPECT_TRUE(presenter->releaseTimer);
  scope->advance(0.06);
  EXPECT_FALSE(presenter->releaseTimer);
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("idle-native"));
  EXPECT_TRUE(presenter->layer->isHidden());

}

TEST_F(OverlayReleaseTest, ABridgeEndsWhenThePointerMovesBeyondADevicePixel) {
  // Half a point is within a device pixel at 2×; a whole point is not.
  acquireOverlay(text());
  CursorState::shared().setShowLag(0.9);
  presenter->release("native-visibility");
  ASSERT_TRUE(presenter->idleRestoreUntil);
  const CGPoint at = platform::NSEvent::mouseLocation();
  presenter->pointerMoved({at.x + 0.5, at.y});
  EXPECT_NE(presenter->lastStopReason, std::optional<std::string>("idle-restore-moved"));
  presenter->pointerMoved({at.x + 1, at.y});
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("idle-restore-moved"));
}

TEST_F(OverlayReleaseTest, ABridgeEndsAtOnceOnACursorChangeOrDiscreteInputAndTheImageClears) {
  struct Case {
    const char* name;
    std::function<void()> end;
    const char* reason;
  };
  const Case cases[] = {
      {"a cursor change, then a move within a device pixel",
       [this] {
         showCursor(NSCursor::arrowCursor());
         const CGPoint at = platform::NSEvent::mouseLocation();
         presenter->pointerMoved({at.x + 0.5, at.y});
       },
       "idle-restore-moved"},
      {"a key press", [this] { presenter->handleDiscreteInput(platform::kCGEventKeyDown, now()); }, "input"},
      // Press and release both queued before the main thread got to the
      // press: no button reads as held any more.
      {"a quick click", [this] { presenter->handleDiscreteInput(platform::kCGEventLeftMouseDown, now()); }, "input"},
  };
  for (const auto& c : cases) {
    showCursor(NSCursor::IBeamCursor());
    acquireOverlay(text());
    CursorState::shared().setShowLag(0.9);
    presenter->release("native-visibility");
    ASSERT_TRUE(presenter->idleRestoreUntil) << c.name;
    ASSERT_FALSE(presenter->layer->isHidden()) << c.name;
    c.end();
    EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>(c.reason)) << c.name;
    EXPECT_FALSE(presenter->idleRestoreUntil) << c.name;
    EXPECT_FALSE(presenter->releaseTimer) << c.name;
    EXPECT_TRUE(presenter->layer->isHidden()) << c.name;
    EXPECT_EQ(presenter->layer->contents(), nullptr) << c.name;
    EXPECT_FALSE(CursorState::shared().cursorIsVisible()) << c.name;  // not for want of the native cursor
    CursorState::shared().setShowLag(0);
    scope->advance(1);
    // The pointer moves on, so that the overlay may come back.
    const CGPoint at = platform::NSEvent::mouseLocation();
    movePointer({at.x + 2, at.y});
    presenter->pointerMoved(platform::NSEvent::mouseLocation());
  }
}

TEST_F(OverlayReleaseTest, ABridgeWithoutAPreClearEndsAtTheFirstRecheckAfterTheBackgroundPropertyLapses) {
  acquireOverlay(text());
  CursorState::shared().setShowLag(0.6);  // the native cursor reads invisible throughout
  presenter->release("native-visibility");
  ASSERT_TRUE(presenter->idleRestoreUntil);
  ASSERT_FALSE(presenter->idleRestoreRevealAt);
  ASSERT_TRUE(presenter->lease->backgroundEnabled());
  while (presenter->lease->backgroundEnabled() && now() < *presenter->idleRestoreUntil) {
    EXPECT_TRUE(presenter->releaseTimer);
    EXPECT_FALSE(presenter->layer->isHidden());
    scope->advance(0.001);
  }
  ASSERT_FALSE(presenter->lease->backgroundEnabled());
  const double lapsed = now();
  // The bridge lasts 0.75 s at most, but not past the next re-check.
  EXPECT_LT(lapsed - *presenter->idleRestoreUntil, -0.3);
  while (presenter->releaseTimer && now() < lapsed + 0.1) scope->advance(0.001);
  EXPECT_LE(now() - lapsed, 1.0 / 30 + 0.001);
  EXPECT_FALSE(presenter->releaseTimer);
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("idle-native"));
  EXPECT_TRUE(presenter->layer->isHidden());
  EXPECT_FALSE(CursorState::shared().cursorIsVisible());
}

TEST_F(OverlayReleaseTest, AnIdleHandBackUnderACursorStillHiddenRollsItsPreClearBack) {
  acquireOverlay(text());
  // The window server refuses to show the cursor again for a while.
  platform::Connections::shared().failNext("CGSShowCursor", platform::kCGErrorFailure, -1);
  presenter->release("idle-native");
  EXPECT_EQ(events("overlay-idle-preclear").size(), 1u);
  EXPECT_EQ(events("overlay-idle-preclear-rollback").size(), 1u);
  EXPECT_TRUE(presenter->lease->hidden());
  EXPECT_FALSE(presenter->layer->isHidden());  // the image stands in for the hidden cursor
  EXPECT_NE(presenter->layer->contents(), nullptr);
  EXPECT_TRUE(presenter->releaseTimer);
  EXPECT_FALSE(presenter->handoffPreparation);
  // Shown again, the release finishes on its own.
  platform::Connections::shared().clearFailures();
  scope->advance(0.2);
  EXPECT_FALSE(presenter->releaseTimer);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
  EXPECT_TRUE(presenter->layer->isHidden());
}

TEST_F(OverlayReleaseTest, AnIdleHandBackWhoseHandoffCannotArmDropsItsPreparationAQuarterSecondLater) {
  acquireOverlay(text());
  handoff->policy = [] { return StationaryPolicyAnswer{"native menu bar", {}, 0.14}; };
  presenter->release("idle-native");
  ASSERT_FALSE(presenter->releaseTimer);
  ASSERT_TRUE(presenter->handoffPreparation);
  const double prepared = now();
  scope->advance(0.24);
  EXPECT_TRUE(presenter->handoffPreparation);
  scope->advance(0.02);
  EXPECT_FALSE(presenter->handoffPreparation);
  EXPECT_FALSE(presenter->handoffPreparationTimer);
  EXPECT_FALSE(handoff->armed);
  EXPECT_NEAR(now() - prepared, 0.26, 1e-9);
}

TEST_F(OverlayReleaseTest, WithTheTraceOnPlacementsAreRecordedAtMostEveryFiftyMilliseconds) {
  presenter->panel->setFrame(primary()->frame(), false);
  const auto frame = testing::solidFrame(CGRectMake(0, 0, 16, 20), 4, 0);
  struct Case {
    double after;  // seconds after the first placement
    size_t recorded;
  };
  presenter->place({100, 100}, frame, 2);
  const double first = now();
  double x = 100;
  for (const Case c : {Case{0.04, 1}, Case{0.06, 2}, Case{0.1, 2}, Case{0.111, 3}}) {
    scope->advance(first + c.after - now());
    presenter->place({x += 5, 100}, frame, 2);
    EXPECT_EQ(events("overlay-position").size(), c.recorded) << c.after;
  }
}

TEST_F(OverlayReleaseTest, PlacementPutsTheHotspotOnThePointerAtTheRightSize) {
  presenter->panel->setFrame(primary()->frame(), false);
  movePointer({10.7, 10.2});
  struct Case {
    CGRect bounds;
    CGPoint anchor;
  };
  // Frames drawn at 4 pixels per point on a 2× screen show at twice their
  // point size.
  for (const Case c : {Case{CGRectMake(0, 0, 16, 20), {0, 1}}, Case{CGRectMake(-4, -9, 16, 90), {0.25, 0.9}}}) {
    const auto frame = testing::solidFrame(c.bounds, 4, 0);
    const size_t before = presenter->layer->changes().size();
    presenter->place(platform::NSEvent::mouseLocation(), frame, 2);
    EXPECT_EQ(presenter->layer->position(), platform::CGPointMake(10, 11));
    EXPECT_EQ(presenter->layer->anchorPoint(), c.anchor);
    EXPECT_EQ(presenter->layer->bounds().size, platform::CGSizeMake(c.bounds.size.width * 2, c.bounds.size.height * 2));
    EXPECT_EQ(presenter->layer->contentsScale(), 2);
    EXPECT_EQ(presenter->layer->contents(), frame.image);
    const auto& all = presenter->layer->changes();
    for (size_t i = before; i < all.size(); ++i) EXPECT_TRUE(all[i].actionsDisabled) << all[i].key;

    // The same picture at the same place: only the generation moves.
    const size_t changes = presenter->layer->changes().size();
    const uint64_t generation = presenter->drawableGeneration;
    presenter->place(platform::NSEvent::mouseLocation(), frame, 2);
    EXPECT_EQ(presenter->layer->changes().size(), changes);
    EXPECT_EQ(presenter->drawableGeneration, generation + 1);
  }
  EXPECT_EQ(presenter->panel->level(), 1000);
  const std::string position = details("overlay-position").front();
  EXPECT_EQ(position.rfind("input=(10.7, 10.2", 0), 0u) << position;
  EXPECT_NE(position.find(";layer=(10.0, 11.0);density=2.0"), std::string::npos) << position;

  // Over an elevated utility window the panel rises to the cursor level.
  presenter->overlapsElevatedUtility = [](CGRect) { return true; };
  presenter->place(platform::NSEvent::mouseLocation(), testing::solidFrame(CGRectMake(0, 0, 16, 20), 4, 9), 2);
  EXPECT_EQ(presenter->panel->level(), cursorWindowLevel());
  EXPECT_EQ(events("overlay-level").size(), 1u);
}

TEST_F(OverlayReleaseTest, AFrameWithoutAUsableSizeOrScalePlacesNothing) {
  presenter->panel->setFrame(primary()->frame(), false);
  const auto good = testing::solidFrame(CGRectMake(0, 0, 16, 20), 4, 0);
  presenter->place({50, 50}, good, 2);
  const size_t changes = presenter->layer->changes().size();
  auto flat = good;
  flat.canvas.bounds = CGRectMake(0, 0, 0, 20);
  auto endless = good;
  endless.canvas.bounds = CGRectMake(0, 0, std::numeric_limits<double>::infinity(), 20);
  presenter->place({60, 60}, flat, 2);
  presenter->place({60, 60}, endless, 2);
  presenter->place({60, 60}, good, 0);
  presenter->place({60, 60}, good, std::nan(""));
  EXPECT_EQ(presenter->layer->changes().size(), changes);
  EXPECT_EQ(events("overlay-place-skipped").size(), 4u);
  EXPECT_EQ(details("overlay-place-skipped").front(), "(width: 0.0, height: 20.0)");
  EXPECT_TRUE(std::isfinite(presenter->layer->position().x));
}

// The private Space as the presenter sees it: counts its calls.
struct RecordingPlacement : CursorOverlayPlacement {
  void attach(const platform::NSWindow&, bool) override { ++attaches; }
  void detach(const platform::NSWindow&) override { ++detaches; }
  bool audit(const platform::NSWindow&) override { return true; }
  int attaches = 0;
  int detaches = 0;
};

TEST_F(OverlayReleaseTest, WithAPrivateSpaceThePanelStaysMappedUnlessTheOverlayIsDisabled) {
  auto placement = std::make_shared<RecordingPlacement>();
  handoff.reset();
  presenter = ContinuousCursorPresenter::make(placement);
  handoff = presenter->stationaryHandoff;

  acquireOverlay(text());
  presenter->release("outside-window");
  scope->runUntilIdle();
  EXPECT_TRUE(presenter->panel->isVisible());
  EXPECT_EQ(placement->detaches, 0);
  EXPECT_EQ(presenter->layer->contents(), nullptr);

  acquireOverlay(text());
  presenter->release("disabled");
  scope->runUntilIdle();
  EXPECT_FALSE(presenter->panel->isVisible());
  EXPECT_EQ(placement->detaches, 1);

  // With the Space, a Space change may bridge to the native cursor too.
  presenter->reset();
  EXPECT_FALSE(presenter->unmapAfterRelease);
  acquireOverlay(text());
  CursorState::shared().setShowLag(0.1);
  presenter->release("space-changed");
  EXPECT_EQ(details("overlay-native-restore-bridge"), std::vector<std::string>{"space-changed"});
  scope->advance(0.2);
  EXPECT_FALSE(presenter->releaseTimer);
}

}  // namespace
}  // namespace vurle
