// Discrete input, the resume gate, the handoff preparation and the context
// changes of the overlay presenter.

#include <unistd.h>

#include <functional>

#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/overlay_presenter_test_support.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/spaces.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CursorState;
using platform::NSCursor;

class OverlayInputTest : public testing::OverlayPresenterTest {
 protected:
  void SetUp() override {
    OverlayPresenterTest::SetUp();
    showCursor(NSCursor::arrowCursor());
    handoff->policy = [] { return StationaryPolicyAnswer{std::nullopt, {CGRectMake(0, 0, 1512, 982)}, 0.14}; };
  }
  CGPoint pointer() const { return platform::NSEvent::mouseLocation(); }
  void armHere() { handoff->armAtRest(pointer(), 2, false, false, nullptr, 0, false); }
};

TEST_F(OverlayInputTest, TheGateOpensAfterMovementAndItsQuietPeriod) {
  struct Case {
    bool moved;
    double at;
    bool open;
  };
  for (const Case c : {Case{true, 1.29, false}, Case{true, 1.3, true}, Case{false, 1.3, false}, Case{false, 99, false}}) {
    const ContinuousCursorResumeGate gate{1.0, {}, 0.3, c.moved};
    EXPECT_EQ(gate.isOpen(c.at), c.open) << c.moved << " " << c.at;
    presenter->resume = gate;
    EXPECT_EQ(presenter->canResume(c.at), c.open) << c.moved << " " << c.at;
  }

  // A still pointer may resume only within 0.25 s of its last motion,
  // unless the overlay is active or the last stop was an animated cursor.
  presenter->resume = ContinuousCursorResumeGate{};
  presenter->lastMotionPoint = pointer();
  presenter->lastMotionAt = 10;
  EXPECT_TRUE(presenter->canResume(10.24));
  EXPECT_FALSE(presenter->canResume(10.25));
  presenter->lastStopReason = "native-animated";
  EXPECT_TRUE(presenter->canResume(10.25));

  // Held buttons and a hidden application keep it closed.
  press(platform::kCGEventOtherMouseDown, platform::kCGMouseButtonCenter);
  EXPECT_FALSE(presenter->canResume(10.25));
  press(platform::kCGEventOtherMouseUp, platform::kCGMouseButtonCenter);
  platform::NSApplication::shared()->hide(nullptr);
  EXPECT_FALSE(presenter->canResume(10.25));
  platform::NSApplication::shared()->unhide(nullptr);
  EXPECT_TRUE(presenter->canResume(10.25));
}

TEST_F(OverlayInputTest, AKeyPressClosesTheGateForItsQuietPeriodAndEndsTheHandoff) {
  armHere();
  ASSERT_TRUE(handoff->armed);
  const double t = now();
  presenter->handleDiscreteInput(platform::kCGEventKeyDown, t);
  EXPECT_EQ(details("stationary-handoff-cancel").front(), "discrete-input-10");
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("input"));
  EXPECT_FALSE(presenter->resume.moved);
  EXPECT_EQ(presenter->resume.quietPeriod, 0.08);

  movePointer({402, 500});
  presenter->pointerMoved(pointer());
  EXPECT_TRUE(presenter->resume.moved);
  EXPECT_FALSE(presenter->canResume(t + 0.05));
  EXPECT_TRUE(presenter->canResume(t + 0.08));

  // After a mouse press half a point is no move; a whole point is.
  press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft);
  press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
  presenter->handleDiscreteInput(platform::kCGEventLeftMouseDown, now());
  EXPECT_EQ(presenter->resume.quietPeriod, 0);
  presenter->pointerMoved({pointer().x + 0.5, pointer().y});
  EXPECT_FALSE(presenter->resume.moved);
  presenter->pointerMoved({pointer().x + 1, pointer().y});
  EXPECT_TRUE(presenter->resume.moved);
}

TEST_F(OverlayInputTest, AResetReopensAGateAKeyPressClosedWithoutAnyMotion) {
  presenter->handleDiscreteInput(platform::kCGEventKeyDown, now());
  ASSERT_FALSE(presenter->canResume(now() + 1));
  presenter->reset();
  EXPECT_TRUE(presenter->resume.isOpen(now()));
  EXPECT_TRUE(presenter->canResume(now()));
}

TEST_F(OverlayInputTest, NoHandoffArmsOnALeftDragWhileTheLeaseKeepsItsBackgroundProperty) {
  acquireOverlay(artOf(PointerKind::text));
  // The cursor is back at once, but the window server will not clear the
  // background property: the lease keeps it, and retries on its checks.
  platform::Connections::shared().failNext("CGSSetConnectionProperty", platform::kCGErrorFailure, -1);
  press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft);
  struct Case {
    const char* when;
    std::function<void()> before;
    bool armed;
  };
  const Case cases[] = {
      {"the drag that releases the overlay", [] {}, false},
      {"0.2 s on, the property still kept", [this] { scope->advance(0.2); }, false},
      {"once it is cleared", [this] {
         platform::Connections::shared().clearFailures();
         scope->advance(0.11);
       }, true},
  };
  for (const auto& c : cases) {
    c.before();
    presenter->handleDiscreteInput(platform::kCGEventLeftMouseDragged, now());
    EXPECT_FALSE(presenter->active) << c.when;
    EXPECT_TRUE(CursorState::shared().cursorIsVisible()) << c.when;
    EXPECT_EQ(presenter->lease->backgroundEnabled(), !c.armed) << c.when;
    EXPECT_EQ(handoff->armed, c.armed) << c.when;
  }
  EXPECT_EQ(details("stationary-handoff-armed"), std::vector<std::string>{"left-gesture"});
  press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
}

TEST_F(OverlayInputTest, ARightPressOverTheOverlaysArrowArmsNoHandoff) {
  struct Case {
    PointerKind kind;
    bool armed;
  };
  for (const Case c : {Case{PointerKind::arrow, false}, Case{PointerKind::text, true}}) {
    acquireOverlay(artOf(c.kind));
    press(platform::kCGEventRightMouseDown, platform::kCGMouseButtonRight);
    presenter->handleDiscreteInput(platform::kCGEventRightMouseDown, now());
    EXPECT_FALSE(presenter->active);
    EXPECT_EQ(handoff->armed, c.armed) << static_cast<int>(c.kind);
    press(platform::kCGEventRightMouseUp, platform::kCGMouseButtonRight);
    handoff->cancelStationaryHandoff("next");
    const CGPoint at = pointer();
    movePointer({at.x + 2, at.y});
    presenter->pointerMoved(pointer());
  }
  EXPECT_EQ(details("stationary-handoff-armed"), std::vector<std::string>{"right-click"});
}

TEST_F(OverlayInputTest, AnApplicationSwitchDuringASpaceTransitionArmsNoEarlierThanHalfASecondOnceTheDisplaySettles) {
  struct Case {
    double stillAt;    // when the display stops animating, seconds after the switch
    double notYetAt;   // still unarmed
    double armedBy;
  };
  // Settled early, the handoff waits out the half second; still animating
  // then, it waits for the display (0.2 s after its last animating read).
  for (const Case c : {Case{0.1, 0.49, 0.53}, Case{0.61, 0.77, 0.85}}) {
    platform::Spaces::shared().setDisplayAnimating(1, true);
    const double switched = now();
    presenter->applicationContextChanged(5151);
    EXPECT_FALSE(handoff->armed);
    ASSERT_TRUE(presenter->handoffPreparation);
    EXPECT_EQ(presenter->handoffPreparation->settlingDisplay, primary());
    scope->advance(switched + c.stillAt - now());
    platform::Spaces::shared().setDisplayAnimating(1, false);
    scope->advance(switched + c.notYetAt - now());
    EXPECT_FALSE(handoff->armed) << c.stillAt;
    scope->advance(switched + c.armedBy - now());
    EXPECT_TRUE(handoff->armed) << c.stillAt;
    EXPECT_FALSE(presenter->handoffPreparation) << c.stillAt;
    handoff->cancelStationaryHandoff("next");
  }
}

TEST_F(OverlayInputTest, AnActivationEndsTheHandoffOnlyInsideAnOpenContextMenuEntryWindow) {
  platform::NSWorkspace::sharedWorkspace().launchApplication(5151, "com.example.viewer", "Viewer");
  for (const bool entryWindow : {false, true}) {
    armHere();
    ASSERT_TRUE(handoff->armed);
    if (entryWindow) handoff->armContextMenuEntry();
    platform::NSWorkspace::sharedWorkspace().activateApplication(5151);
    EXPECT_EQ(presenter->foregroundPID, 5151);
    EXPECT_EQ(handoff->armed, !entryWindow) << entryWindow;
    platform::NSWorkspace::sharedWorkspace().activateApplication(testing::kEditorPID);
    handoff->cancelStationaryHandoff("next");
  }
  EXPECT_EQ(details("stationary-handoff-cancel"), (std::vector<std::string>{"next", "context-menu-owner-changed"}));
}

TEST_F(OverlayInputTest, ScrollingWhileActiveOnlyRefreshesTheMotionPoint) {
  acquireOverlay(artOf(PointerKind::text));
  const std::string before = presenter->lastStopReason.value_or("none");
  movePointer({420, 520});
  presenter->handleDiscreteInput(platform::kCGEventScrollWheel, now() + 0.01);
  EXPECT_TRUE(presenter->active);
  EXPECT_EQ(presenter->lastMotionPoint, std::optional<CGPoint>(pointer()));
  EXPECT_EQ(presenter->lastMotionAt, now() + 0.01);
  EXPECT_EQ(presenter->lastStopReason.value_or("none"), before);
  presenter->release("disabled");
}

TEST_F(OverlayInputTest, APreparationArmsAtRestAfterItsDelayAndIsDroppedByMotionOrItsDeadline) {
  presenter->prepareHandoff(nullptr, false, 2, 0.5);
  ASSERT_TRUE(presenter->handoffPreparation);
  const double notBefore = presenter->handoffPreparation->notBefore;
  EXPECT_DOUBLE_EQ(presenter->handoffPreparation->deadline, notBefore + 0.25);
  presenter->prepareHandoff(nullptr, true, 3, 0);  // one exists: unchanged
  EXPECT_EQ(presenter->handoffPreparation->notBefore, notBefore);
  scope->advance(0.49);
  EXPECT_FALSE(handoff->armed);
  scope->advance(0.02);
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(presenter->handoffPreparation);  // done once the handoff holds the pointer
  handoff->cancelStationaryHandoff("test");

  // A settling display waits for its Space and lasts 0.75 s; a native
  // cursor that never shows lets it run out.
  CursorState::shared().hideCursor(77);
  presenter->prepareHandoff(primary(), false, 2, 0.5);
  ASSERT_TRUE(presenter->handoffPreparation);
  EXPECT_DOUBLE_EQ(presenter->handoffPreparation->deadline, presenter->handoffPreparation->notBefore + 0.75);
  scope->advance(1.24);
  EXPECT_TRUE(presenter->handoffPreparation);
  scope->advance(0.02);
  EXPECT_FALSE(presenter->handoffPreparation);
  EXPECT_FALSE(handoff->armed);
  CursorState::shared().showCursor(77);

  // One point of motion drops it at the next tick.
  presenter->prepareHandoff(nullptr, false, 2, 0.5);
  movePointer({401, 500});
  scope->advance(0.011);
  EXPECT_FALSE(presenter->handoffPreparation);
}

TEST_F(OverlayInputTest, KeyboardSuspendPreparesAHandoffOnlyWhenNoneIsArmed) {
  presenter->suspend("keyboard-activity", now());
  ASSERT_TRUE(presenter->handoffPreparation);
  EXPECT_NEAR(presenter->handoffPreparation->notBefore - now(), 0.08, 1e-9);
  EXPECT_FALSE(presenter->resume.moved);
  presenter->cancelHandoffPreparation();

  armHere();
  ASSERT_TRUE(handoff->armed);
  presenter->suspend("keyboard-activity", now());
  EXPECT_FALSE(presenter->handoffPreparation);
  EXPECT_TRUE(handoff->armed);  // a keyboard release leaves the handoff alone
  EXPECT_FALSE(presenter->resume.moved);
}

TEST_F(OverlayInputTest, ASpaceChangeReleasesAndPreparesOnlyWhenTheHandoffDidNotHoldThePointer) {
  armHere();
  ASSERT_TRUE(handoff->holdsPointer(pointer()));
  presenter->spaceChanged(now());
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("space-changed"));
  EXPECT_EQ(details("stationary-handoff-cancel"), std::vector<std::string>{"input-space-changed"});
  EXPECT_FALSE(presenter->handoffPreparation);
  EXPECT_FALSE(presenter->resume.moved);

  presenter->spaceChanged(now());
  ASSERT_TRUE(presenter->handoffPreparation);
  EXPECT_EQ(presenter->handoffPreparation->settlingDisplay, primary());
  EXPECT_NEAR(presenter->handoffPreparation->notBefore - now(), 0.5, 1e-9);
  EXPECT_FALSE(presenter->sampleSeed);
  EXPECT_EQ(presenter->lastMotionPoint, std::optional<CGPoint>(pointer()));
}

TEST_F(OverlayInputTest, ApplicationChangesMoveTheOwnerAndAMissingOwnerReleases) {
  for (const std::optional<int32_t> pid : {std::optional<int32_t>(0), std::optional<int32_t>(), std::optional<int32_t>(-3)}) {
    presenter->foregroundPID = testing::kEditorPID;
    presenter->lastStopReason.reset();
    presenter->applicationContextChanged(pid);
    EXPECT_FALSE(presenter->foregroundPID);
    EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("activation-owner-unavailable"));
  }
  presenter->applicationContextChanged(5151);
  EXPECT_EQ(presenter->foregroundPID, 5151);
  EXPECT_EQ(details("application-handoff-preparation"), std::vector<std::string>{"new-observer"});
  EXPECT_TRUE(handoff->armed);  // the Space is settled: prepared without delay, armed at once
}

TEST_F(OverlayInputTest, TheScreenEdgeBandExemptsOnlyWindowsAlignedWithTheEdge) {
  presenter->pointerBoundaryReason = [](CGPoint) { return std::optional<std::string>("native screen edge"); };
  struct Case {
    double windowEdge;
    CGPoint pointer;
    bool released;
  };
  const Case cases[] = {
      {0.5, {1, 300}, false},   // aligned within a point: the overlay may stay
      {2, {1, 300}, true},      // two points off: native edge
      {0.5, {2, 300}, true},    // pointer no longer in the 2 pt band
      {0.5, {1, 1.5}, true},    // bottom 2 pt excluded
      {0.5, {1, 960}, true},    // top 28 pt excluded
  };
  for (const auto& c : cases) {
    movePointer(c.pointer);
    acquireOverlay(artOf(PointerKind::horizontal), CGRectMake(c.windowEdge, 0, 800, 982));
    presenter->checkScreenEdge(pointer());
    EXPECT_EQ(!presenter->active, c.released) << c.windowEdge << " " << c.pointer.y;
    if (c.released) {
      EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("policy:native screen edge"));
    }
    presenter->release("disabled");
  }
  // Another reason always releases.
  movePointer({1, 300});
  acquireOverlay(artOf(PointerKind::horizontal), CGRectMake(0.5, 0, 800, 982));
  presenter->pointerBoundaryReason = [](CGPoint) { return std::optional<std::string>("native menu bar"); };
  presenter->checkScreenEdge(pointer());
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("policy:native menu bar"));
}

TEST_F(OverlayInputTest, AResolutionChangeReleasesAndReopensTheGate) {
  acquireOverlay(artOf(PointerKind::text));
  presenter->resume.moved = false;
  presenter->resolutionChanged();
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("resolution-change"));
  EXPECT_TRUE(presenter->resume.isOpen(now()));
  EXPECT_FALSE(presenter->animation.to);
  EXPECT_FALSE(presenter->sampledArt);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
}

TEST_F(OverlayInputTest, YieldingForTheAppSwitcherPreparesAnObservingHandoff) {
  acquireOverlay(artOf(PointerKind::text));
  presenter->yieldToNative(AppSwitcherCursorScope{{CGRectMake(0, 0, 100, 100)}, [] { return true; }});
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("native-yield"));
  EXPECT_TRUE(handoff->hasAppSwitcherScope);
  // The native cursor is back at once: the preparation arms the handoff on
  // its first tick and is done.
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(presenter->handoffPreparation);
  EXPECT_TRUE(presenter->nativeCursorReleased());
  presenter->yieldToNative(std::nullopt);
  EXPECT_FALSE(handoff->hasAppSwitcherScope);
  EXPECT_TRUE(handoff->armed);
}

TEST_F(OverlayInputTest, AClickOnTheOverlaysSettledCursorArmsAGestureWithItsOwnSample) {
  acquireOverlay(artOf(PointerKind::text));
  // The server shows the cursor back late: only the overlay's own sample
  // can stand for the cursor under the click.
  CursorState::shared().setShowLag(0.05);
  press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft);
  presenter->handleDiscreteInput(platform::kCGEventLeftMouseDown, now());
  EXPECT_FALSE(presenter->active);
  EXPECT_TRUE(handoff->armed);
  EXPECT_TRUE(handoff->isLeftGesture);
  ASSERT_TRUE(handoff->animation.to);  // the overlay's sample: the same art by identity
  EXPECT_EQ(handoff->animation.to->identity(), artOf(PointerKind::text)->identity());
  EXPECT_EQ(details("stationary-handoff-armed"), std::vector<std::string>{"left-gesture"});
  press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
  // Releasing the button where it went down keeps the handoff at rest.
  presenter->handleDiscreteInput(platform::kCGEventLeftMouseUp, now());
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(handoff->isLeftGesture);
  EXPECT_EQ(events("left-gesture-release").size(), 1u);
}

TEST_F(OverlayInputTest, WindowLookupsGoOutOnlyForAnotherVisibleApplicationWithNoButtonHeld) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    bool requested;
  };
  const auto self = static_cast<int32_t>(::getpid());
  const Case cases[] = {
      {"plain", [] {}, true},
      {"hidden application", [] { platform::NSApplication::shared()->hide(nullptr); }, false},
      {"button held", [] { press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft); }, false},
      {"no owner", [this] { presenter->foregroundPID.reset(); }, false},
      {"own process", [this, self] { presenter->foregroundPID = self; }, false},
      {"animated cursor", [this] {
         presenter->sampleIsAnimated = true;
         presenter->sampleSeed = currentSeed();
       }, false},
  };
  for (const auto& c : cases) {
    presenter->foregroundPID = testing::kEditorPID;
    presenter->sampleIsAnimated = false;
    presenter->windowLookup()->invalidate();
    scope->runUntilIdle();
    c.arrange();
    presenter->requestWindowLookup(pointer(), now());
    EXPECT_EQ(presenter->windowLookup()->inFlight(), c.requested) << c.name;
    platform::NSApplication::shared()->unhide(nullptr);
    press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
  }
}

TEST_F(OverlayInputTest, AnApplicationChangeUnderAHeldPointerGoesToTheExistingHandoff) {
  armHere();
  ASSERT_TRUE(handoff->armed);
  presenter->applicationContextChanged(5151);
  EXPECT_EQ(details("application-handoff-preparation"), std::vector<std::string>{"existing-observer"});
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(presenter->handoffPreparation);

  // Inside a context-menu entry window the change ends the handoff.
  handoff->armContextMenuEntry();
  presenter->applicationContextChanged(6161);
  EXPECT_FALSE(handoff->armed);
  EXPECT_EQ(details("stationary-handoff-cancel"), std::vector<std::string>{"application-context-changed"});
}

TEST_F(OverlayInputTest, DiagnosticsAreRequestedOnlyWhileTheTraceRecords) {
  presenter->lastStopReason = "input";
  presenter->reportDiagnostics();
  scope->runUntilIdle();
  const auto readbacks = events("native-selection-readback");
  ASSERT_EQ(readbacks.size(), 1u);
  CursorTrace::shared()->disable();
  presenter->reportDiagnostics();
  scope->runUntilIdle();
  CursorTrace::shared()->enable(3, false);
  EXPECT_TRUE(events("native-selection-readback").empty());
}

}  // namespace
}  // namespace vurle
