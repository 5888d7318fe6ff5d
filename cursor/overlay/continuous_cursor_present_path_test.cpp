// The present path: acquisition, drawing, refusals and recovery, frame by
// frame on the simulated desktop.

#include <cmath>
#include <functional>
#include <limits>

#include "cursor/overlay/continuous_cursor_presenter.hpp"
#include "cursor/overlay/overlay_presenter_test_support.hpp"
#include "platform/appkit/application.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CursorState;

constexpr double kFrame = 1.0 / 120.0;

class PresentPathTest : public testing::OverlayPresenterTest {
 protected:
  CGPoint pointer() const { return platform::NSEvent::mouseLocation(); }
  // The pointer moves on by half a point and one display frame passes.
  void nudgeAndPresent(std::optional<CGRect> experimental = std::nullopt) {
    const CGPoint at = pointer();
    movePointer({at.x + 0.5, at.y});
    presentFrame(experimental);
    scope->advance(kFrame);
  }
  std::vector<double> values(const std::string& kind) {
    std::vector<double> found;
    for (const auto& event : events(kind)) found.push_back(event.value.value_or(NAN));
    return found;
  }
};

TEST_F(PresentPathTest, AcquisitionStagesHidesIsAcknowledgedDrawsAndHandsBackWhenIdle) {
  showCursor(platform::NSCursor::IBeamCursor());
  standardWindow(CGRectMake(100, 100, 800, 600));
  presenter->spaceAnimation.isTransitioning(primary());
  scope->advance(0.6);

  // Frame 1: the window lookup is still out; frame 2: staging; frame 3:
  // the hide is requested and acknowledged at once.
  ASSERT_TRUE(presentUntilActive());
  EXPECT_EQ(details("overlay-blocked"), std::vector<std::string>{"lookup-pending"});
  ASSERT_EQ(events("overlay-hide-ack").size(), 1u);
  EXPECT_LT(*events("overlay-hide-ack")[0].value, 50);
  EXPECT_EQ(events("overlay-acquire").size(), 1u);
  EXPECT_EQ(events("overlay-hide-request").size(), 1u);
  EXPECT_FALSE(CursorState::shared().cursorIsVisible());
  EXPECT_TRUE(presenter->panel->isVisible());
  EXPECT_FALSE(presenter->layer->isHidden());
  EXPECT_NE(presenter->layer->contents(), nullptr);

  // Frames extend the lease while the pointer moves.
  const double deadline = presenter->lease->deadline();
  nudgeAndPresent();
  nudgeAndPresent();
  EXPECT_TRUE(presenter->active) << presenter->lastStopReason.value_or("");
  EXPECT_GT(presenter->lease->deadline(), deadline);

  // A resting pointer: drawn on every frame before 0.25 s, handed back on
  // the first frame from then on.
  const double rested = presenter->lastMotionAt;
  double lastActive = rested;
  while (presenter->active && now() - rested < 1) {
    lastActive = now();
    scope->advance(kFrame);
    presenter->requestWindowLookup(pointer(), now());  // as the engine does every frame
    presentFrame();
  }
  EXPECT_LT(lastActive - rested, 0.25);
  EXPECT_GE(now() - rested, 0.25);
  EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>("idle-native"));
  scope->advance(0.1);
  EXPECT_TRUE(CursorState::shared().cursorIsVisible());
}

TEST_F(PresentPathTest, AHideThatIsNeverSeenBacksOffAQuarterHalfAndWholeSecond) {
  showCursor(platform::NSCursor::IBeamCursor());
  standardWindow(CGRectMake(100, 100, 800, 600));
  presenter->spaceAnimation.isTransitioning(primary());
  scope->advance(0.6);
  CursorState::shared().setHideLag(std::numeric_limits<double>::infinity());
  for (int frame = 0; frame < 400 && events("overlay-acquisition-backoff").size() < 4; ++frame) nudgeAndPresent();
  EXPECT_EQ(values("overlay-acquisition-backoff"), (std::vector<double>{250, 500, 1000, 1000}));
  EXPECT_EQ(details("overlay-acquisition-backoff"), std::vector<std::string>(4, "hide-ack-timeout"));
  EXPECT_FALSE(presenter->active);

  // Each attempt waits 0.05 s for the hide, not a frame less.
  const auto requests = events("overlay-hide-request");
  const auto backoffs = events("overlay-acquisition-backoff");
  ASSERT_EQ(requests.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_GE(backoffs[i].time - requests[i].time, 0.05 - 1e-9) << i;
  CursorState::shared().setHideLag(0);
}

TEST_F(PresentPathTest, EveryRefusalReleasesWithItsReason) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::function<void()> present;
    const char* reason;  // nullptr: the overlay stays
  };
  auto plain = [this] { presentFrame(); };
  auto nothing = [] {};
  const Case cases[] = {
      {"refused without a reason", nothing,
       [this] { presenter->present(primary(), false, std::nullopt, std::nullopt, std::nullopt, now(), 0.15, 0); },
       "policy:unspecified"},
      {"refused with a reason", nothing,
       [this] {
         presenter->present(primary(), false, "native menu bar", std::nullopt, std::nullopt, now(), 0.15, 0);
       },
       "policy:native menu bar"},
      {"input gate closed", [this] { presenter->resume = {now(), pointer(), 0.3, false}; }, plain,
       "input-resume-gate"},
      {"button held", [] { press(platform::kCGEventLeftMouseDown, platform::kCGMouseButtonLeft); },
       plain, "mouse-button-held"},
      {"application hidden", [] { platform::NSApplication::shared()->hide(nullptr); }, plain,
       "app-hidden"},
      {"no foreground application", [this] { presenter->foregroundPID.reset(); }, plain,
       "foreground-unavailable"},
      {"panel off the Space", [this] { presenter->panel->setOnActiveSpace(false); }, plain,
       "overlay-not-visible"},
      {"screen edge", [] { movePointer({1, 500}); }, plain, "screen-edge"},
      {"beyond the looked-up window", [] { movePointer({93, 500}); }, plain, "outside-cached-window"},
      {"an I-beam just outside its window", [] { movePointer({97, 500}); }, plain, "outside-window"},
      {"inside the window", [] { movePointer({101, 500}); }, plain, nullptr},
      {"the engine's surface", nothing, [this] { presentFrame(CGRectMake(300, 300, 400, 400)); }, nullptr},
      {"beyond the engine's surface", nothing, [this] { presentFrame(CGRectMake(100, 100, 200, 200)); },
       "outside-window-band"},
  };
  for (const auto& c : cases) {
    acquireOverlay(artOf(PointerKind::text));
    ASSERT_TRUE(presenter->active) << c.name;
    c.arrange();
    c.present();
    if (c.reason) {
      EXPECT_FALSE(presenter->active) << c.name;
      EXPECT_EQ(presenter->lastStopReason, std::optional<std::string>(c.reason)) << c.name;
    } else {
      EXPECT_TRUE(presenter->active) << c.name << ": " << presenter->lastStopReason.value_or("");
    }
    // Undo, and let the release finish before the next case.
    press(platform::kCGEventLeftMouseUp, platform::kCGMouseButtonLeft);
    platform::NSApplication::shared()->unhide(nullptr);
    presenter->foregroundPID = testing::kEditorPID;
    presenter->panel->setOnActiveSpace(true);
    presenter->resume = ContinuousCursorResumeGate{};
    movePointer({400, 500});
    presenter->release("disabled");
    scope->advance(1.0);
    EXPECT_TRUE(CursorState::shared().cursorIsVisible()) << c.name;
  }
}

TEST_F(PresentPathTest, ATickWhileAReleaseCompletesDoesNothing) {
  acquireOverlay(artOf(PointerKind::text));
  presenter->releaseTimer = platform::NSTimer::make(1, false, [](platform::NSTimer&) {});
  const size_t recorded = CursorTrace::shared()->events().size();
  presenter->present(primary(), false, std::nullopt, std::nullopt, std::nullopt, now(), 0.15, 0);
  EXPECT_TRUE(presenter->active);
  EXPECT_EQ(CursorTrace::shared()->events().size(), recorded);
  presenter->releaseTimer.reset();
}

TEST_F(PresentPathTest, APanelOffTheSpaceIsRemappedThenRebuiltThenLeftAlone) {
  showCursor(platform::NSCursor::IBeamCursor());
  standardWindow(CGRectMake(100, 100, 800, 600));
  presenter->spaceAnimation.isTransitioning(primary());
  scope->advance(0.6);
  for (int frame = 0; frame < 150; ++frame) {
    presenter->panel->setOnActiveSpace(false);  // the window server keeps it elsewhere
    nudgeAndPresent();
  }
  EXPECT_EQ(details("overlay-remap"), std::vector<std::string>{"staged-off-space"});
  EXPECT_EQ(details("overlay-rebuild"), std::vector<std::string>{"staged-off-space"});
  ASSERT_EQ(events("overlay-remap").size(), 1u);
  EXPECT_GE(events("overlay-rebuild")[0].time - events("overlay-remap")[0].time, 0.25 - 1e-9);
  EXPECT_TRUE(events("overlay-hide-request").empty());
  EXPECT_FALSE(presenter->active);

  // A Space change starts the recovery afresh.
  presenter->spaceChanged(now());
  EXPECT_EQ(presenter->panelRecoveryAttempts, 0);
}

TEST_F(PresentPathTest, ACursorChangeBetweenTheTwoSeedReadsKeepsTheOldSample) {
  acquireOverlay(artOf(PointerKind::text));
  const auto kept = presenter->sampleSeed;
  showCursor(platform::NSCursor::pointingHandCursor());
  const int32_t before = currentSeed();
  CursorState::shared().beforeSeedRead(2, [] { showCursor(platform::NSCursor::arrowCursor()); });
  presentFrame();
  ASSERT_EQ(events("overlay-sample-raced").size(), 1u);
  const auto raced = events("overlay-sample-raced")[0];
  EXPECT_EQ(raced.seed, before);
  EXPECT_EQ(raced.seedBefore, before);
  EXPECT_EQ(raced.seedAfter, currentSeed());
  EXPECT_EQ(raced.detail, std::optional<std::string>("hand;density=2.0"));
  EXPECT_EQ(presenter->sampleSeed, kept);

  // The next frame samples the arrow, which morphs once the boundary's
  // short hold is over.
  nudgeAndPresent();
  nudgeAndPresent();
  EXPECT_EQ(presenter->sampleSeed, currentSeed());
  EXPECT_TRUE(presenter->active);
  EXPECT_EQ(details("continuous-overlay"), std::vector<std::string>{"transition"});
}

}  // namespace
}  // namespace vurle
