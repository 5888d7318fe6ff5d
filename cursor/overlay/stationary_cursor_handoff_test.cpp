#include "cursor/overlay/stationary_cursor_handoff.hpp"

#include <algorithm>
#include <functional>

#include "cursor/native/native_test_support.hpp"
#include "cursor/overlay/overlay_presenter_test_support.hpp"

namespace vurle {
namespace {

using platform::CADisplayLink;
using platform::CGRectMake;
using platform::NSCursor;

class StationaryCursorHandoffTest : public testing::OverlayPresenterTest {
 protected:
  void SetUp() override {
    OverlayPresenterTest::SetUp();
    showCursor(NSCursor::arrowCursor());
    handoff->policy = [this] { return answer; };
  }
  CGPoint pointer() const { return platform::NSEvent::mouseLocation(); }
  void armHere() { handoff->armAtRest(pointer(), 2, false, false, nullptr, 0, false); }
  // Lets the sampler see the cursor and the main queue take its sample.
  void settleSampler() { scope->advance(0.01); }
  // Display frames every 1/120 s for the given time.
  void runFrames(double seconds) {
    for (double t = 0; t < seconds; t += 1.0 / 120) {
      scope->advance(1.0 / 120);
      CADisplayLink::fireAll(now());
    }
  }
  std::vector<std::string> observeOnly() const { return details("stationary-handoff-observe-only"); }

  StationaryPolicyAnswer answer{std::nullopt, {CGRectMake(0, 0, 1512, 982)}, 0.14};
};

TEST_F(StationaryCursorHandoffTest, ACursorChangeUnderARestingPointerMorphsThroughTheNativePresenter) {
  armHere();
  ASSERT_TRUE(handoff->armed);
  EXPECT_EQ(details("stationary-handoff-armed"), std::vector<std::string>{"<none>"});
  EXPECT_TRUE(handoff->sourceReady);
  EXPECT_TRUE(handoff->sampler->isEnabled());
  EXPECT_TRUE(handoff->holdsPointer(pointer()));

  // An application shows the I-beam under the still pointer: the handoff's
  // presenter holds it behind the arrow and morphs to it.
  const int32_t ibeam = showCursor(NSCursor::IBeamCursor());
  settleSampler();
  EXPECT_EQ(events("stationary-handoff-morph").size(), 1u);
  ASSERT_TRUE(handoff->displayLink);
  EXPECT_EQ(handoff->seed, ibeam);
  runFrames(0.1);
  EXPECT_FALSE(events("stationary-handoff-continued").empty());
  EXPECT_EQ(platform::CurrentCursor::shared().registeredName(), std::optional<std::string>(kFrameCursorName));
  EXPECT_TRUE(observeOnly().empty());

  // The morph ends: the pointer goes back to the native I-beam and the
  // handoff stays armed for the next change.
  runFrames(0.1);
  EXPECT_EQ(observeOnly(), std::vector<std::string>{"morph-settled"});
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(handoff->displayLink);
  EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());

  // Moving the pointer ends it for good.
  movePointer({401, 500});
  presenter->pointerMoved(pointer());
  EXPECT_FALSE(handoff->armed);
  EXPECT_EQ(details("stationary-handoff-cancel"), std::vector<std::string>{"pointer-moved"});
  EXPECT_FALSE(handoff->sampler->isEnabled());
}

TEST_F(StationaryCursorHandoffTest, TransparentAnimatedAndUnreadableCursorsAreNeverMorphed) {
  armHere();
  ASSERT_TRUE(handoff->armed);
  auto clear = testing::solidCursor(16, 0, 0);
  showCursor(clear);
  settleSampler();
  EXPECT_EQ(observeOnly(), std::vector<std::string>{"transparent"});
  EXPECT_TRUE(events("stationary-handoff-morph").empty());
  EXPECT_TRUE(handoff->armed);

  // A sample without a picture observes only as well.
  handoff->armWithSample(NativeCursorSample{nullptr, currentSeed(), false, false, std::nullopt});
  EXPECT_EQ(observeOnly().back(), "unreadable-or-rejected");
  EXPECT_TRUE(events("stationary-handoff-morph").empty());
}

TEST_F(StationaryCursorHandoffTest, APolicyStillPendingAfterATenthOfASecondEndsTheMorph) {
  armHere();
  answer.reason = kPolicyPending;
  showCursor(NSCursor::pointingHandCursor());
  settleSampler();
  ASSERT_TRUE(handoff->pending);  // held behind the arrow, waiting for the policy
  const double arrived = handoff->pendingAt;
  while (now() + 1.0 / 120 < arrived + 0.1) runFrames(1.0 / 120);
  EXPECT_TRUE(observeOnly().empty()) << now() - arrived;
  runFrames(2.0 / 120);
  EXPECT_EQ(observeOnly(), std::vector<std::string>{"policy-unavailable"});
  EXPECT_TRUE(events("stationary-handoff-morph").empty());
  EXPECT_FALSE(handoff->pending);
}

TEST_F(StationaryCursorHandoffTest, ALeftGestureHoldsThePointerWhileTheButtonIsDownAndSettlesAsAGesture) {
  press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft);
  presenter->handleDiscreteInput(platform::kCGEventLeftMouseDown, now());
  ASSERT_TRUE(handoff->armed);
  EXPECT_TRUE(handoff->isLeftGesture);
  EXPECT_EQ(details("stationary-handoff-armed"), std::vector<std::string>{"left-gesture"});
  // With the left button held, the gesture holds the pointer anywhere.
  EXPECT_TRUE(handoff->holdsPointer({900, 100}));

  showCursor(NSCursor::closedHandCursor());
  settleSampler();
  EXPECT_EQ(events("stationary-handoff-morph").size(), 1u);
  runFrames(0.25);
  EXPECT_EQ(observeOnly(), std::vector<std::string>{"left-gesture-settled"});

  // A drag with the right button also down ends the gesture's hold.
  press(platform::kCGEventRightMouseDown, platform::kCGMouseButtonRight);
  EXPECT_FALSE(handoff->holdsPointer(pointer()));
  EXPECT_FALSE(handoff->leftGestureBoundary(pointer()));
  EXPECT_EQ(observeOnly().back(), "left-gesture-boundary");
  press(platform::kCGEventRightMouseUp, platform::kCGMouseButtonRight);
  press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
}

TEST_F(StationaryCursorHandoffTest, TheContextMenuEntryWindowIsClampedAndHoldsOnlyARightPress) {
  struct Case {
    double duration;
    double window;
  };
  for (const Case c : {Case{0.05, 0.2}, Case{0.14, 0.24}, Case{0.45, 0.55}, Case{0.6, 0.6}}) {
    handoff->duration = c.duration;
    handoff->armContextMenuEntry();
    ASSERT_TRUE(handoff->menuEntryUntil);
    EXPECT_NEAR(*handoff->menuEntryUntil - now(), c.window, 1e-9) << c.duration;
  }
  handoff->cancelStationaryHandoff("reset");

  // Over the arrow a context menu brings no new shape: no window opens.
  armHere();
  ASSERT_TRUE(handoff->armed);
  press(platform::kCGEventRightMouseDown, platform::kCGMouseButtonRight);
  presenter->handleDiscreteInput(platform::kCGEventRightMouseDown, now());
  EXPECT_FALSE(handoff->menuEntryUntil);
  EXPECT_EQ(events("context-menu-entry-native-arrow").size(), 1u);
  press(platform::kCGEventRightMouseUp, platform::kCGMouseButtonRight);
  handoff->cancelStationaryHandoff("reset");

  showCursor(NSCursor::IBeamCursor());
  armHere();
  ASSERT_TRUE(handoff->armed);
  handoff->duration = 0.14;
  press(platform::kCGEventRightMouseDown, platform::kCGMouseButtonRight);
  presenter->handleDiscreteInput(platform::kCGEventRightMouseDown, now());
  ASSERT_TRUE(handoff->menuEntryUntil);
  EXPECT_EQ(events("context-menu-entry-armed").size(), 5u);  // the four above and this one
  EXPECT_TRUE(handoff->holdsPointer(pointer()));  // the right press is a resting pointer
  press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft);
  EXPECT_FALSE(handoff->holdsPointer(pointer()));  // a left press is not
  press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);

  // Both sides of the window's end: 0.24 s after it opened.
  scope->advance(0.239);
  EXPECT_TRUE(handoff->holdsPointer(pointer()));
  EXPECT_TRUE(handoff->armed);
  scope->advance(0.002);
  EXPECT_FALSE(handoff->holdsPointer(pointer()));
  EXPECT_FALSE(handoff->armed);
  EXPECT_EQ(details("stationary-handoff-cancel").back(), "context-menu-entry-expired");
  press(platform::kCGEventRightMouseUp, platform::kCGMouseButtonRight);
}

TEST_F(StationaryCursorHandoffTest, InsideTheContextMenuEntryWindowOnlyTheArrowIsMorphed) {
  struct Case {
    CursorRef next;
    bool morphs;
  };
  for (const Case& c : {Case{NSCursor::pointingHandCursor(), false}, Case{NSCursor::arrowCursor(), true}}) {
    showCursor(NSCursor::IBeamCursor());
    armHere();
    ASSERT_TRUE(handoff->armed);
    press(platform::kCGEventRightMouseDown, platform::kCGMouseButtonRight);
    presenter->handleDiscreteInput(platform::kCGEventRightMouseDown, now());
    ASSERT_TRUE(handoff->menuEntryUntil);
    const size_t morphs = events("stationary-handoff-morph").size();
    showCursor(c.next);  // the menu opens under the pointer
    settleSampler();
    EXPECT_EQ(events("stationary-handoff-morph").size() - morphs, c.morphs ? 1u : 0u) << c.morphs;
    EXPECT_EQ(handoff->armed, c.morphs);
    runFrames(0.25);
    press(platform::kCGEventRightMouseUp, platform::kCGMouseButtonRight);
    handoff->cancelStationaryHandoff("next");
  }
  EXPECT_EQ(details("stationary-handoff-cancel").front(), "context-menu-nonarrow");
}

// Mid-morph the handoff's frame is the system cursor; either way of
// stopping gives the native cursor back at once. Only the full cancel stops
// watching: after an observe-only stop the handoff may play the next change.
TEST_F(StationaryCursorHandoffTest, ACancelGivesTheNativeCursorBackAtOnce) {
  struct Case {
    const char* what;
    std::function<void()> stop;
    bool watching;
  };
  const Case cases[] = {
      {"full cancel", [this] { presenter->cancelStationaryHandoff("overlay-acquisition"); }, false},
      // The pointer moves before the presenter hears of it: the next frame
      // finds it gone from the armed point.
      {"observe-only",
       [this] {
         movePointer({401, 500});
         CADisplayLink::fireAll(now());
       },
       true},
  };
  for (const auto& c : cases) {
    movePointer({400, 500});
    showCursor(NSCursor::arrowCursor());
    armHere();
    showCursor(NSCursor::IBeamCursor());
    settleSampler();
    runFrames(0.05);
    ASSERT_TRUE(handoff->displayLink) << c.what;
    ASSERT_EQ(platform::CurrentCursor::shared().registeredName(), std::optional<std::string>(kFrameCursorName));
    const size_t observed = observeOnly().size();
    c.stop();
    EXPECT_EQ(platform::CurrentCursor::shared().owner(), 0) << c.what;
    EXPECT_FALSE(handoff->nativeBusy()) << c.what;
    EXPECT_FALSE(handoff->displayLink) << c.what;
    EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible()) << c.what;
    EXPECT_EQ(handoff->armed, c.watching) << c.what;
    EXPECT_EQ(handoff->sampler->isEnabled(), c.watching) << c.what;
    if (c.watching) {
      EXPECT_EQ(observeOnly().at(observed), "advance-position-or-buttons");
    }
    handoff->cancelStationaryHandoff("next");
  }
}

TEST_F(StationaryCursorHandoffTest, AnUndecidedPolicyIsAskedAgainBeforeOrAtTheInterceptionTime) {
  struct Case {
    std::optional<std::string> atRetry;
    const char* result;
    bool morphs;
  };
  const Case cases[] = {{std::nullopt, "held", true}, {std::string(kPolicyPending), "native-fallback", false}};
  for (const auto& c : cases) {
    // Armed to observe while the policy cannot decide: nothing is held yet.
    const size_t morphs = events("stationary-handoff-morph").size();
    answer.reason = kPolicyPending;
    handoff->armAtRest(pointer(), 2, false, false, nullptr, 0, true);
    ASSERT_TRUE(handoff->armed);
    ASSERT_TRUE(handoff->sourceReady);
    showCursor(c.morphs ? NSCursor::pointingHandCursor() : NSCursor::crosshairCursor());
    scope->advance(0.002);
    ASSERT_TRUE(handoff->policyRetry) << c.result;
    EXPECT_EQ(events("stationary-policy-retry-wait").size(), c.morphs ? 1u : 2u);
    answer.reason = c.atRetry;
    if (c.morphs) {
      handoff->refreshPolicy();  // the engine's next tick, still within the interception time
    } else {
      scope->advance(0.01);  // the scheduled retry, at the interception time
    }
    EXPECT_FALSE(handoff->policyRetry);
    EXPECT_EQ(details("stationary-policy-retry-result").back(), c.result);
    EXPECT_EQ(events("stationary-handoff-morph").size() - morphs, c.morphs ? 1u : 0u) << c.result;
    if (!c.morphs) {
      EXPECT_EQ(observeOnly().back(), "unheld-or-source-missing");
    }
    runFrames(0.25);
    handoff->cancelStationaryHandoff("next");
  }
}

TEST_F(StationaryCursorHandoffTest, ClosingTheAppSwitcherStopsAnArmedHandoffButKeepsWatching) {
  armHere();
  handoff->setAppSwitcherScope(AppSwitcherCursorScope{{CGRectMake(0, 0, 10, 10)}, [] { return true; }});
  EXPECT_TRUE(handoff->hasAppSwitcherScope);
  EXPECT_TRUE(observeOnly().empty());
  handoff->setAppSwitcherScope(std::nullopt);
  EXPECT_EQ(observeOnly(), std::vector<std::string>{"app-switcher-closed"});
  EXPECT_TRUE(handoff->armed);
  EXPECT_FALSE(handoff->sourceReady);
  // A later change becomes the new baseline instead of a morph.
  showCursor(NSCursor::pointingHandCursor());
  settleSampler();
  EXPECT_EQ(events("stationary-handoff-baseline").size(), 1u);
  EXPECT_TRUE(handoff->sourceReady);
  EXPECT_TRUE(events("stationary-handoff-morph").empty());
}

TEST_F(StationaryCursorHandoffTest, ArmingRefusesWithoutPolicyWithButtonsOrWhenThePolicyRefuses) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
  };
  const Case cases[] = {
      {"no policy", [this] { handoff->policy = nullptr; }},
      {"policy refuses", [this] { answer.reason = "native menu bar"; }},
      {"pending without observing", [this] { answer.reason = kPolicyPending; }},
      {"button held", [] { press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft); }},
      {"native hidden", [] { platform::CursorState::shared().hideCursor(77); }},
  };
  for (const auto& c : cases) {
    c.arrange();
    armHere();
    EXPECT_FALSE(handoff->armed) << c.name;
    handoff->policy = [this] { return answer; };
    answer.reason.reset();
    press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
    platform::CursorState::shared().showCursor(77);
  }
  EXPECT_TRUE(events("stationary-handoff-armed").empty());
  armHere();
  EXPECT_TRUE(handoff->armed);
}

}  // namespace
}  // namespace vurle
