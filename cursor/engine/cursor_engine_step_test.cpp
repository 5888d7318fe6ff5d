// The engine's frame on both paths, on a simulated desktop: a 1440 × 900
// screen, an editor in front with one window, and the pointer where the
// test puts it.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cursor/art/native_cursor_library.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "cursor/engine/native_surface_policy.hpp"
#include "cursor/native/native_test_support.hpp"
#include "cursor/engine/engine_test_support.hpp"
#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/event.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/events/event.hpp"
#include "platform/windowserver/core_cursors.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CursorState;

constexpr int32_t kEditor = 4242;
constexpr double kFrame = 1.0 / 120.0;

class EngineStepTest : public EngineTestBase {
 protected:
  void SetUp() override {
    TraceRecordingTest::SetUp();
    screen = platform::NSScreen::make(CGRectMake(0, 0, 1440, 900), 2);
    platform::NSScreen::setScreens({screen});
    auto& workspace = platform::NSWorkspace::sharedWorkspace();
    workspace.launchApplication(kEditor, "com.example.editor", "Editor");
    workspace.activateApplication(kEditor);
    editorWindow(CGRectMake(100, 100, 1000, 700));
    moveTo({500, 400});
  }

  // The editor's standard window as the Accessibility hit test finds it.
  static void editorWindow(CGRect frame) {
    auto& server = platform::AccessibilityServer::shared();
    auto window = server.makeElement(kEditor);
    server.setAttribute(window, platform::kAXRoleAttribute, std::string("AXWindow"));
    server.setAttribute(window, platform::kAXSubroleAttribute, std::string("AXStandardWindow"));
    CGPoint position = platform::CGPointMake(frame.origin.x, 900 - platform::CGRectGetMaxY(frame));
    CGSize size = frame.size;
    server.setAttribute(window, platform::kAXPositionAttribute, platform::AXValueCreate(platform::kAXValueCGPointType, &position));
    server.setAttribute(window, platform::kAXSizeAttribute, platform::AXValueCreate(platform::kAXValueCGSizeType, &size));
    server.addElementRegion(kEditor, platform::CGRectMake(position.x, position.y, size.width, size.height), window);
  }
  // AppKit coordinates.
  static void moveTo(CGPoint point) { CursorState::shared().setCursorLocation(platform::CGPointMake(point.x, 900 - point.y)); }
  static CGPoint pointer() { return platform::NSEvent::mouseLocation(); }
  static int32_t show(const std::shared_ptr<platform::NSCursor>& cursor) {
    return platform::CurrentCursor::shared().setCursorFromAnotherApplication(
        platform::CurrentCursor::imageSet(*cursor->image(), cursor->hotSpot()));
  }

  void start(bool native) {
    defaults->setBool(native, kUseLegacyCursorPresenterKey);
    engine = CursorEngine::make(nullptr, defaults);
    hostWindow = platform::NSWindow::make(platform::NSMakeRect(2000, 2000, 460, 591), 2);
    engine->install(hostWindow);
    engine->start();
    ASSERT_TRUE(engine->systemWide()) << engine->error();
    if (!native) {
      engine->continuousPresenter()->spaceAnimation.isTransitioning(screen);
    }
    scope->advance(0.6);  // the Space settles, the policy reads its first window list
  }
  // One display frame, with the pointer moved on by `dx` points first.
  void frame(double dx = 1) {
    moveTo({pointer().x + dx, pointer().y});
    platform::CADisplayLink::fireAll(now());
    scope->advance(kFrame);
  }
  // One display frame after the user moved the pointer on by `dx` points
  // (a mouse-moved event, which the engine hears).
  void movingFrame(double dx = 1) {
    post(platform::kCGEventMouseMoved, {pointer().x + dx, pointer().y});
    scope->advance(kFrame);
    platform::CADisplayLink::fireAll(now());
  }
  static void post(platform::CGEventType type, CGPoint at) {
    platform::CGEventPost(platform::kCGSessionEventTap,
                          platform::CGEventCreateMouseEvent(nullptr, type, platform::CGPointMake(at.x, 900 - at.y),
                                                            platform::kCGMouseButtonLeft));
  }
  // Frames until the engine's last frame has been handed back to the system
  // cursor (its idle lease over, the engine told) and the link rests.
  void handBack() {
    for (int i = 0; i < 150 && (engine->overlayVisible() || engine->linkRuns()); ++i) frame(0);
    ASSERT_FALSE(engine->overlayVisible());
    ASSERT_EQ(platform::CurrentCursor::shared().owner(), 0);
  }
  // The window list cannot be read: the policy answers "native policy
  // pending" until `policyAnswers`.
  void holdPolicyPending() {
    platform::WindowTable::shared().setListFailure(true);
    engine->policy()->invalidate();
  }
  // The list reads again; the pointer's next move asks the policy afresh.
  void policyAnswers() {
    platform::WindowTable::shared().setListFailure(false);
    post(platform::kCGEventMouseMoved, {pointer().x + 1, pointer().y});
    scope->runUntilIdle();
  }
  // The native path settled on the I-beam, then morphing to the pointing
  // hand.
  void morphNatively() {
    start(true);
    show(platform::NSCursor::IBeamCursor());
    for (int i = 0; i < 5; ++i) frame(0);
    handBack();
    show(platform::NSCursor::pointingHandCursor());
    for (int i = 0; i < 3; ++i) frame(0);
  }
  // From the engine's next frame the policy has no answer for 0.08 s: the
  // running morph pauses with its frame held, resumes where it stood and
  // runs to its end without the presenter taking its frame back.
  void pendingForEightyMilliseconds() {
    ASSERT_TRUE(engine->animation().isRunning(now()));
    const double started = engine->animation().started;
    const uint64_t epoch = engine->presenter()->recoveryEpoch();
    holdPolicyPending();
    const double pausedAt = now();
    platform::CADisplayLink::fireAll(now());
    EXPECT_FALSE(engine->linkRuns());  // paused, the last frame held
    EXPECT_TRUE(engine->overlayVisible());
    scope->advance(pausedAt + 0.08 - now());
    policyAnswers();
    platform::CADisplayLink::fireAll(now());
    EXPECT_NEAR(engine->animation().started - started, 0.08, 1e-9);
    for (int i = 0; i < 60 && engine->animation().isRunning(now()); ++i) {
      EXPECT_TRUE(engine->overlayVisible()) << i;
      frame(0);
    }
    EXPECT_FALSE(engine->animation().isRunning(now()));
    EXPECT_EQ(engine->presenter()->recoveryEpoch(), epoch);
    EXPECT_LT(engine->ownershipCooldownUntil(), now());
  }
  ContinuousCursorPresenter& overlay() { return *engine->continuousPresenter(); }
  static std::vector<std::string> details(const std::string& kind) {
    std::vector<std::string> found;
    for (const auto& event : events(kind)) found.push_back(event.detail.value_or("<none>"));
    return found;
  }
  std::string stopReason() { return overlay().lastStopReason.value_or("none"); }

  std::shared_ptr<platform::NSUserDefaults> defaults = platform::NSUserDefaults::makeInMemory("engine-step-test");
  std::shared_ptr<platform::NSScreen> screen;
  std::shared_ptr<platform::NSWindow> hostWindow;
};

TEST_F(EngineStepTest, ACursorChangeIsMorphedInTheOverlayAndHandedBackWhenThePointerRests) {
  start(false);
  show(platform::NSCursor::arrowCursor());
  for (int i = 0; i < 30 && !overlay().active; ++i) frame();
  ASSERT_TRUE(overlay().active) << stopReason();
  EXPECT_FALSE(CursorState::shared().cursorIsVisible());

  // The editor sets the I-beam: the next frames morph to it.
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 4; ++i) frame();
  EXPECT_EQ(details("continuous-overlay"), std::vector<std::string>{"transition"});
  EXPECT_TRUE(overlay().animation.isRunning(now()) || overlay().identity.has_value());

  // At rest the overlay gives the pointer back to the system cursor.
  for (int i = 0; i < 60; ++i) frame(0);
  EXPECT_FALSE(overlay().active);
  // (Then, with nothing to resume for, the frames stop altogether.)
  const auto blocked = details("overlay-blocked");
  EXPECT_NE(std::find(blocked.begin(), blocked.end(), "idle-native"), blocked.end());
  EXPECT_EQ(stopReason(), "input");
  EXPECT_FALSE(engine->linkRuns());
  scope->advance(0.1);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
}

// Idle costs the main run loop only the timers that have work: over 10 s of
// virtual time, with the refresh a real run has, wake-ups counted as a real
// main run loop would wake.
TEST_F(EngineStepTest, IdleWakesTheMainLoopOnlyForTimersThatHaveWork) {
  auto refresh = platform::CADisplayLink::scheduleRefresh(kFrame);
  const auto wakeUpsOver = [this](double seconds) {
    const auto before = scope->mainWakeUps();
    scope->advance(seconds);
    return static_cast<double>(scope->mainWakeUps() - before);
  };
  const auto linkFrames = [this] { return engine->displayLink() ? engine->displayLink()->frameCount() : 0L; };

  // Installed but not started, as when the start is refused: the
  // maintenance pass alone, five times a second.
  defaults->setBool(false, kUseLegacyCursorPresenterKey);
  engine = CursorEngine::make(nullptr, defaults);
  hostWindow = platform::NSWindow::make(platform::NSMakeRect(2000, 2000, 460, 591), 2);
  engine->install(hostWindow);
  scope->advance(1);
  const double notRunning = wakeUpsOver(10);
  EXPECT_NEAR(notRunning, 50, 1);
  EXPECT_FALSE(refresh->isTicking());

  // Running on the overlay path, the pointer moved and then at rest: the
  // link rests, the refresh with it, and the maintenance pass does not
  // wake it again.
  engine->start();
  ASSERT_TRUE(engine->systemWide()) << engine->error();
  show(platform::NSCursor::arrowCursor());
  for (int i = 0; i < 20; ++i) {
    moveTo({pointer().x + 2, pointer().y});
    scope->advance(kFrame);
  }
  scope->advance(1);
  ASSERT_FALSE(engine->linkRuns());
  const long framesBefore = linkFrames();
  const double resting = wakeUpsOver(10);
  EXPECT_NEAR(resting, 50, 2);
  EXPECT_EQ(linkFrames(), framesBefore);
  EXPECT_FALSE(refresh->isTicking());

  // The pointer moves on (the motion tap wakes the resting link) and the
  // cursor changes: the morph gets every 120 Hz frame while it runs.
  const auto moveOn = [] {
    moveTo({pointer().x + 1, pointer().y});
    platform::CGEventPost(platform::kCGSessionEventTap,
                          platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventMouseMoved,
                                                            platform::CGPointMake(pointer().x, 900 - pointer().y),
                                                            platform::kCGMouseButtonLeft));
  };
  moveOn();
  scope->advance(kFrame);
  show(platform::NSCursor::IBeamCursor());
  int morphTicks = 0;
  for (int i = 0; i < 60; ++i) {
    const long before = linkFrames();
    moveOn();
    scope->advance(kFrame);
    if (!overlay().animation.isRunning(now())) continue;
    ++morphTicks;
    EXPECT_EQ(linkFrames() - before, 1) << "tick " << i;
  }
  EXPECT_GE(morphTicks, 10);
  EXPECT_EQ(details("continuous-overlay"), std::vector<std::string>{"transition"});

  // Paused as the animation session pauses it: nothing wakes the loop.
  engine->setEnabled(false);
  engine->setDemoKind(std::nullopt);
  engine->disable();
  engine->release(true, std::nullopt, false);
  scope->advance(1);
  const double paused = wakeUpsOver(10);
  EXPECT_EQ(paused, 0);
  EXPECT_EQ(engine->maintenanceTimer(), nullptr);
  // Started again, the maintenance comes back.
  engine->start();
  EXPECT_NE(engine->maintenanceTimer(), nullptr);
  RecordProperty("mainWakeUpsPerSecond",
                 "not running " + std::to_string(notRunning / 10) + ", running at rest " +
                     std::to_string(resting / 10) + ", paused " + std::to_string(paused / 10) + "; morph frames " +
                     std::to_string(morphTicks));
  refresh->invalidate();
}

TEST_F(EngineStepTest, GatesGiveTheirReasonInOrderOnBothSidesOfTheirDeadlines) {
  start(false);
  engine->setAnimateDuringCapture(false);
  // The screenshot tool comes forward: 1.5 s of screenshot grace, 0.15 s of
  // native grace.
  auto capture = platform::NSWorkspace::sharedWorkspace().launchApplication(77, "com.apple.screencapture", "Screenshot");
  const double t0 = now();
  engine->applicationDidActivate(capture);
  struct Case {
    double at;  // seconds after t0
    std::function<void()> arrange;
    std::string reason;
  };
  const Case cases[] = {
      {0.1, [] {}, "policy:screenshot-grace"},  // both graces hold: the screenshot's wins
      {1.49, [] {}, "policy:screenshot-grace"},
      {1.5, [this] { engine->menuDidEndTracking(); }, "policy:native-grace"},
      {1.59, [] {}, "policy:native-grace"},
      {1.6, [] { platform::NSWorkspace::sharedWorkspace().setReduceMotion(true); }, "policy:reduce-motion"},
  };
  for (const auto& c : cases) {
    scope->advance(t0 + c.at - now());
    c.arrange();
    moveTo({pointer().x + 2, pointer().y});  // reopens the input gate each time
    engine->ensureDisplayLink();
    engine->step();
    EXPECT_EQ(stopReason(), c.reason) << c.at;
  }
  platform::NSWorkspace::sharedWorkspace().setReduceMotion(false);
}

TEST_F(EngineStepTest, TheEdgeBandHoldsTheBottomAndSidesButNotTheTop) {
  start(false);
  struct Case {
    CGPoint at;
    bool inBand;
  };
  // Out-of-band positions first: the Dock experiment is made on first use.
  const Case cases[] = {{{720, 300}, false}, {{720, 899}, false}, {{300, 450}, false},
                        {{720, 200}, true},  {{100, 450}, true}};
  for (const auto& c : cases) {
    moveTo(c.at);
    engine->ensureDisplayLink();
    engine->step();
    scope->advance(kFrame);  // the policy's answer for this place arrives
    // Input just happened here: the overlay cannot resume, so only the band
    // keeps the frame going past the input check.
    overlay().resume = ContinuousCursorResumeGate{now(), pointer(), 0.3, false};
    engine->ensureDisplayLink();
    engine->step();
    EXPECT_EQ(engine->hasDockExperiment(), c.inBand) << c.at.x << "," << c.at.y;
    EXPECT_EQ(stopReason(), "input");
    EXPECT_FALSE(engine->linkRuns());
  }
}

TEST_F(EngineStepTest, APointerOnNoScreenGivesThePointerBackAndSharedEdgesBelongToOneScreen) {
  auto upper = platform::NSScreen::make(CGRectMake(0, 900, 1440, 900), 2);
  platform::NSScreen::setScreens({screen, upper});
  EXPECT_EQ(screenContaining({720, 900}), screen);  // the top edge of the lower screen
  EXPECT_EQ(screenContaining({720, 900.5}), upper);
  EXPECT_EQ(screenContaining({720, 0}), nullptr);  // the bottom edge belongs to no screen
  EXPECT_EQ(screenContaining({720, 0.5}), screen);

  start(false);
  show(platform::NSCursor::arrowCursor());
  for (int i = 0; i < 30 && !overlay().active; ++i) frame();
  ASSERT_TRUE(overlay().active) << stopReason();
  CursorState::shared().setCursorLocation({2000, 100});  // beyond every screen
  engine->step();
  EXPECT_FALSE(overlay().active);
  EXPECT_EQ(stopReason(), "pointer-offscreen");
  EXPECT_FALSE(engine->linkRuns());
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
  moveTo({500, 400});
}

TEST_F(EngineStepTest, TheNativePathMorphsHeldChangesAndHandsEachRestingFrameBack) {
  start(true);
  auto settle = [&] {
    for (int i = 0; i < 150 && engine->overlayVisible(); ++i) frame(0);
  };
  // The first shapes (the arrow at start, then the I-beam) are shown as
  // they are, then handed back to the system.
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 5; ++i) frame(0);
  EXPECT_EQ(details("settle"), std::vector<std::string>(2, "unheld-input"));
  settle();
  EXPECT_FALSE(engine->overlayVisible());
  EXPECT_EQ(platform::CurrentCursor::shared().owner(), 0);  // the editor's own cursor shows

  // Each later change is held behind the resting frame and morphed, and
  // its resting frame is handed back in turn.
  for (const auto& next : {platform::NSCursor::pointingHandCursor(), platform::NSCursor::arrowCursor()}) {
    const size_t before = events("transition").size();
    show(next);
    for (int i = 0; i < 30; ++i) frame(0);
    EXPECT_EQ(events("transition").size(), before + 1);
    EXPECT_FALSE(engine->animation().isRunning(now()));
    EXPECT_TRUE(engine->restingHandBack());
    settle();
    EXPECT_FALSE(engine->overlayVisible());
    EXPECT_EQ(platform::CurrentCursor::shared().owner(), 0);
    EXPECT_GE(engine->ownershipCooldownUntil(), 0);
    EXPECT_LT(engine->ownershipCooldownUntil(), now());  // the hand-back was the engine's own: no cooldown
  }
  // Nothing is submitted again while the shape rests, and the frames stop.
  const size_t submitted = events("submitted").size();
  for (int i = 0; i < 60; ++i) frame(0);
  EXPECT_EQ(events("submitted").size(), submitted);
  EXPECT_TRUE(engine->sourceValid());
  EXPECT_FALSE(engine->linkRuns());
}

TEST_F(EngineStepTest, TheArtMapHoldsSixtyFourSeedsAndTheNextEmptiesIt) {
  start(true);
  for (int i = 0; i < 2; ++i) frame(0);
  // The arrow at start is the first seed; 63 more changes make 64.
  size_t seen = engine->sampledArtCount();
  ASSERT_EQ(seen, 1u);
  for (int change = 0; change < 63; ++change) {
    show(change % 2 ? platform::NSCursor::arrowCursor() : platform::NSCursor::IBeamCursor());
    frame(0);
    frame(0);
  }
  EXPECT_EQ(engine->sampledArtCount(), 64u);
  show(platform::NSCursor::pointingHandCursor());  // the 65th seed
  frame(0);
  frame(0);
  EXPECT_EQ(engine->sampledArtCount(), 1u);
}

TEST_F(EngineStepTest, AnUnknownCursorChangingInPlaceIsStreamedNatively) {
  start(true);
  show(testing::solidCursor(16, 20));
  for (int i = 0; i < 150 && (events("settle").size() < 2 || engine->overlayVisible()); ++i) frame(0);
  ASSERT_FALSE(engine->overlayVisible());
  // Four changes within 0.25 s, the pointer still: the first three morph,
  // the fourth and any within 0.3 s after it show natively.
  std::vector<size_t> transitions;
  for (uint8_t grey : {60, 100, 140, 180, 220}) {
    show(testing::solidCursor(16, grey));
    for (int i = 0; i < 5; ++i) frame(0);
    transitions.push_back(events("transition").size());
  }
  ASSERT_GE(transitions[0], 1u);
  EXPECT_EQ(transitions[1], transitions[0] + 1);
  EXPECT_EQ(transitions[2], transitions[1] + 1);
  EXPECT_EQ(transitions[3], transitions[2]);  // streamed
  EXPECT_EQ(transitions[4], transitions[3]);  // still within 0.3 s of the last change
  EXPECT_FALSE(engine->overlayVisible());

  // Once the stream has been quiet for 0.3 s, the engine takes a change up
  // again and morphs it.
  for (int i = 0; i < 60; ++i) frame(0);
  const size_t settled = events("settle").size();
  const size_t morphed = events("transition").size();
  show(testing::solidCursor(16, 250));
  for (int i = 0; i < 5; ++i) frame(0);
  EXPECT_EQ(events("transition").size(), morphed + 1);
  EXPECT_EQ(events("settle").size(), settled);
}

TEST_F(EngineStepTest, AnAnimatedCursorUnderTheEnginesFrameGetsTheScreenBack) {
  start(true);
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 150 && (events("settle").size() < 2 || engine->overlayVisible()); ++i) frame(0);
  show(platform::NSCursor::pointingHandCursor());
  for (int i = 0; i < 3; ++i) frame(0);
  ASSERT_TRUE(engine->animation().isRunning(now()));
  const auto& native = engine->presenter();

  // The editor turns busy; the sampler announces the animated cursor, and
  // before the engine's next frame the presenter's hold frame covers it,
  // taking its seed as accepted input.
  const auto busy = platform::CoreCursors::waitAnimation(8, 32);
  ASSERT_TRUE(busy);
  const int32_t animated = platform::CurrentCursor::shared().setCursorFromAnotherApplication(*busy);
  engine->sampler()->poll();
  native->setHolds(true, std::nullopt);
  ASSERT_TRUE(native->captureNative(platform::NSCursor::IBeamCursor(), animated, {}, std::nullopt, nullptr));
  ASSERT_TRUE(native->ownsSeed(CursorState::shared().cursorSeed()));
  ASSERT_TRUE(native->isAcceptedInputSeed(animated));

  // The engine gives the pointer back: the busy cursor shows again.
  frame(0);
  const auto inputs = events("input");
  EXPECT_TRUE(std::any_of(inputs.begin(), inputs.end(), [&](const auto& e) { return e.seed == animated; }));
  EXPECT_FALSE(engine->overlayVisible());
  EXPECT_EQ(platform::CurrentCursor::shared().owner(), 0);
  EXPECT_GT(platform::CurrentCursor::shared().cursor().frameCount, 1);
}

TEST_F(EngineStepTest, APendingPolicyOfEightyMillisecondsPausesTheMorphWhereItStands) {
  morphNatively();
  pendingForEightyMilliseconds();
}

TEST_F(EngineStepTest, AMorphBegunAsAPendingWaitEndsPausesAndResumesOnTheNextWait) {
  start(true);
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 5; ++i) frame(0);
  handBack();
  // A click may open a menu: the policy is asked afresh and cannot answer
  // for a moment, while the editor under the click shows the pointing hand.
  // The presenter holds it behind the resting frame meanwhile.
  holdPolicyPending();
  post(platform::kCGEventLeftMouseDown, pointer());
  post(platform::kCGEventLeftMouseUp, pointer());
  scope->runUntilIdle();
  show(platform::NSCursor::pointingHandCursor());
  scope->advance(0.03);
  EXPECT_EQ(events("hold").back().detail, std::optional<std::string>("accepted"));
  EXPECT_FALSE(engine->animation().isRunning(now()));
  // The policy answers: the step that ends the wait begins the morph (the
  // click leaves no boundary hold), and its first frame goes out.
  const size_t transitions = events("transition").size();
  policyAnswers();
  platform::CADisplayLink::fireAll(now());
  ASSERT_EQ(events("transition").size(), transitions + 1);
  EXPECT_TRUE(engine->overlayVisible());
  pendingForEightyMilliseconds();
  EXPECT_EQ(events("settle").size(), 2u);  // only the first two shapes were shown as they are
}

TEST_F(EngineStepTest, APendingPolicyOfAHundredAndTwentyMillisecondsGivesThePointerBack) {
  morphNatively();
  ASSERT_TRUE(engine->animation().isRunning(now()));
  holdPolicyPending();
  const double pausedAt = now();
  platform::CADisplayLink::fireAll(now());
  EXPECT_FALSE(engine->linkRuns());
  EXPECT_TRUE(engine->overlayVisible());
  // Still no answer 0.12 s on; the pointer's move wakes the engine.
  scope->advance(pausedAt + 0.12 - now());
  movingFrame();
  EXPECT_FALSE(engine->overlayVisible());
  EXPECT_FALSE(engine->sourceValid());
  platform::WindowTable::shared().setListFailure(false);
  // The system shows the pointing hand the engine morphed to, and once the
  // presenter's idle lease is over, the editor's own cursor.
  scope->advance(0.3);
  EXPECT_EQ(platform::CurrentCursor::shared().owner(), 0);
}

TEST_F(EngineStepTest, ChangesLongAfterTheRestingHandBackAreMorphedUnderAMovingPointer) {
  start(true);
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 5; ++i) frame(0);
  handBack();
  show(platform::NSCursor::pointingHandCursor());
  for (int i = 0; i < 30; ++i) frame(0);
  handBack();
  // With the link resting the policy's reading went stale: the hand-back's
  // own sample met "native policy pending" and waited for the next answer.
  const auto yields = details("policy-yield");
  EXPECT_NE(std::find(yields.begin(), yields.end(), NativeSurfacePolicy::kPending), yields.end());
  struct Case {
    double after;  // seconds after the hand-back
    std::shared_ptr<platform::NSCursor> next;
  };
  const Case cases[] = {{0.3, platform::NSCursor::arrowCursor()},
                        {1, platform::NSCursor::IBeamCursor()},
                        {2, platform::NSCursor::pointingHandCursor()}};
  for (const auto& c : cases) {
    scope->advance(c.after);
    const size_t transitions = events("transition").size();
    const size_t settles = events("settle").size();
    show(c.next);
    for (int i = 0; i < 30; ++i) movingFrame();
    EXPECT_EQ(events("transition").size(), transitions + 1) << c.after;
    EXPECT_EQ(events("settle").size(), settles) << c.after;
    handBack();
  }
}

TEST_F(EngineStepTest, AChangeIsHeldAtABoundaryOnlyWhileNoButtonIsPressed) {
  start(true);
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 5; ++i) frame(0);
  for (int i = 0; i < 150 && engine->overlayVisible(); ++i) frame(0);
  struct Case {
    bool button;
    std::shared_ptr<platform::NSCursor> next;
    bool heldAtBoundary;
  };
  const Case cases[] = {{false, platform::NSCursor::pointingHandCursor(), true},
                        {true, platform::NSCursor::arrowCursor(), false}};
  for (const auto& c : cases) {
    if (c.button) {
      platform::CGEventPost(platform::kCGSessionEventTap,
                            platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventLeftMouseDown, pointer(),
                                                              platform::kCGMouseButtonLeft));
      // Past the discrete-input window, so that only the button counts.
      for (int i = 0; i < 30; ++i) frame(0);
    }
    const size_t before = events("transition").size() + events("settle").size();
    show(c.next);
    bool held = false;
    for (int i = 0; i < 10; ++i) {
      frame(0);
      held = held || engine->boundaryTolerance().pending.has_value();
    }
    EXPECT_EQ(held, c.heldAtBoundary) << c.button;
    EXPECT_EQ(events("transition").size() + events("settle").size(), before + 1) << c.button;  // taken either way
    for (int i = 0; i < 150 && engine->overlayVisible(); ++i) frame(0);
  }
  platform::CGEventPost(platform::kCGSessionEventTap,
                        platform::CGEventCreateMouseEvent(nullptr, platform::kCGEventLeftMouseUp, pointer(),
                                                          platform::kCGMouseButtonLeft));
}

TEST_F(EngineStepTest, AChangeWithinAClicksWindowIsNeverHeldAtABoundary) {
  start(true);
  show(platform::NSCursor::IBeamCursor());
  for (int i = 0; i < 5; ++i) frame(0);
  handBack();
  struct Case {
    double after;  // seconds after the click
    std::shared_ptr<platform::NSCursor> next;
    bool heldAtBoundary;
  };
  // The click's window is 0.15 s.
  const Case cases[] = {{0.12, platform::NSCursor::pointingHandCursor(), false},
                        {0.16, platform::NSCursor::arrowCursor(), true}};
  for (const auto& c : cases) {
    post(platform::kCGEventLeftMouseDown, pointer());
    post(platform::kCGEventLeftMouseUp, pointer());
    scope->runUntilIdle();
    const double clicked = now();
    while (now() + kFrame <= clicked + c.after) frame(0);
    scope->advance(clicked + c.after - now());
    const size_t before = events("transition").size() + events("settle").size();
    show(c.next);
    bool held = false;
    for (int i = 0; i < 10; ++i) {
      frame(0);
      held = held || engine->boundaryTolerance().pending.has_value();
    }
    EXPECT_EQ(held, c.heldAtBoundary) << c.after;
    EXPECT_EQ(events("transition").size() + events("settle").size(), before + 1) << c.after;
    handBack();
  }
}

TEST_F(EngineStepTest, AFrameTakenBackByThePresentersWatchdogKeepsTheEngineAwayForHalfASecond) {
  morphNatively();
  ASSERT_TRUE(engine->animation().isRunning(now()));
  ASSERT_TRUE(engine->overlayVisible());

  // The main thread stalls past the frame's lifetime: the watchdog gives
  // the pointer back while the engine's frame is on screen.
  const uint64_t epoch = engine->presenter()->recoveryEpoch();
  scope->advance(0.3);
  ASSERT_NE(engine->presenter()->recoveryEpoch(), epoch);
  const double taken = now();
  engine->step();
  EXPECT_NEAR(engine->ownershipCooldownUntil(), taken + 0.5, 1e-9);
  EXPECT_FALSE(engine->overlayVisible());

  struct Case {
    double at;  // seconds after the frame was taken back
    std::shared_ptr<platform::NSCursor> next;
    bool taken;
  };
  const Case cases[] = {{0.47, platform::NSCursor::arrowCursor(), false},
                        {0.52, platform::NSCursor::IBeamCursor(), true}};
  for (const auto& c : cases) {
    scope->advance(taken + c.at - now());
    const size_t before = events("transition").size() + events("settle").size();
    show(c.next);
    for (int i = 0; i < 3; ++i) frame(0);  // 25 ms: still inside the cooldown for the first case
    EXPECT_EQ(events("transition").size() + events("settle").size(), before + (c.taken ? 1 : 0)) << c.at;
    EXPECT_EQ(engine->overlayVisible(), c.taken) << c.at;
  }
}

}  // namespace
}  // namespace vurle
