#include "cursor/overlay/continuous_cursor_presenter.hpp"

#include <cmath>
#include <limits>
#include <map>

#include "cursor/native/native_test_support.hpp"
#include "cursor/overlay/overlay_presenter_test_support.hpp"
#include "platform/appkit/view.hpp"
#include "platform/foundation/foreign_pid.hpp"
#include "platform/windowserver/connections.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::CGPointMake;

class ContinuousCursorPresenterTest : public testing::OverlayPresenterTest {};

TEST_F(ContinuousCursorPresenterTest, ConstructionConfiguresAClickThroughPanelAndFollowsTheFrontApplication) {
  auto& panel = *presenter->panel;
  struct Snapshot {
    platform::NSWindowStyleMask style;
    unsigned long backing;
    long level;
    uint64_t collection;
    long animation;
    bool opaque, shadow, ignoresMouse, hidesOnDeactivate, cursorRects, keyOnlyIfNeeded, windowsMenu, restorable,
        releasedWhenClosed;
    bool operator==(const Snapshot&) const = default;
  };
  const Snapshot seen{panel.styleMask(), panel.backingType(), panel.level(), panel.collectionBehavior(),
                      panel.animationBehavior(), panel.isOpaque(), panel.hasShadow(), panel.ignoresMouseEvents(),
                      panel.hidesOnDeactivate(), panel.areCursorRectsEnabled(), panel.becomesKeyOnlyIfNeeded(),
                      !panel.isExcludedFromWindowsMenu(), panel.isRestorable(), panel.isReleasedWhenClosed()};
  EXPECT_EQ(seen, (Snapshot{128, 2, 1000, 262481, 2, false, false, true, false, false, true, false, false, false}));
  ASSERT_TRUE(panel.backgroundColor());
  EXPECT_EQ(panel.backgroundColor()->alphaComponent(), 0);
  panel.makeKeyAndOrderFront();
  EXPECT_FALSE(panel.isKeyWindow());
  EXPECT_FALSE(panel.isMainWindow());
  panel.orderOut();

  // The drawing layer sits in the content view's layer, hidden, scaled
  // with nearest filtering so cursor pixels stay crisp.
  ASSERT_TRUE(panel.contentView() && panel.contentView()->layer());
  EXPECT_EQ(presenter->layer->superlayer(), panel.contentView()->layer());
  EXPECT_TRUE(presenter->layer->isHidden());
  EXPECT_EQ(presenter->layer->contentsGravity(), platform::kCAGravityResize);
  EXPECT_EQ(presenter->layer->minificationFilter(), platform::kCAFilterNearest);
  EXPECT_EQ(presenter->layer->magnificationFilter(), platform::kCAFilterNearest);

  // A new presenter may acquire at once and rests on the arrow.
  EXPECT_TRUE(presenter->resume.isOpen(now()));
  EXPECT_EQ(presenter->animation.to, artOf(PointerKind::arrow));
  EXPECT_EQ(presenter->foregroundPID, testing::kEditorPID);

  // Activation notices move the foreground owner.
  auto& workspace = platform::NSWorkspace::sharedWorkspace();
  workspace.launchApplication(platform::foreignPid(5151), "com.example.viewer", "Viewer");
  workspace.activateApplication(platform::foreignPid(5151));
  EXPECT_EQ(presenter->foregroundPID, platform::foreignPid(5151));

  // Rebuilding gives a new panel configured the same way, with the layer in it.
  auto old = presenter->panel;
  presenter->rebuildPanel();
  ASSERT_NE(presenter->panel, old);
  EXPECT_EQ(presenter->panel->collectionBehavior(), 262481u);
  EXPECT_EQ(presenter->layer->superlayer(), presenter->panel->contentView()->layer());
  EXPECT_EQ(old->windowNumber(), -1);  // closed
}

TEST_F(ContinuousCursorPresenterTest, ANewPresenterWithoutAFrontApplicationHasNoOwner) {
  platform::NSWorkspace::sharedWorkspace().reset();
  auto lone = ContinuousCursorPresenter::make(nullptr);
  EXPECT_FALSE(lone->foregroundPID);
}

TEST_F(ContinuousCursorPresenterTest, DroppingThePresenterWhileItHidesTheCursorShowsItAgain) {
  acquireOverlay(artOf(PointerKind::text));
  EXPECT_FALSE(platform::CursorState::shared().cursorIsVisible());
  // The window server refuses the first shows: the retry outlives the presenter.
  platform::Connections::shared().failNext("CGSShowCursor", platform::kCGErrorFailure, 3);
  std::weak_ptr<ContinuousCursorPresenter> weak = presenter;
  handoff.reset();
  presenter.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_FALSE(platform::CursorState::shared().cursorIsVisible());
  scope->advance(0.5);
  EXPECT_TRUE(platform::CursorState::shared().cursorIsVisible());
  EXPECT_GE(platform::Connections::shared().calls("CGSShowCursor"), 4);
}

TEST_F(ContinuousCursorPresenterTest, LabelsDescriptionsAndSizesUseTheFirstCatalogueName) {
  // Every named cursor's identity carries the first name that had it.
  std::map<int64_t, std::string> first;
  int shared = 0;
  for (const auto& named : namedSystemCursors()) {
    auto art = NativeCursorLibrary::shared()->match(named.cursor);
    if (!art) continue;
    if (!first.emplace(art->identity(), named.name).second) ++shared;
  }
  ASSERT_FALSE(first.empty());
  for (const auto& [identity, name] : first) EXPECT_EQ(presenter->knownLabels.at(identity), name);
  EXPECT_EQ(presenter->knownLabels.size(), first.size());
  EXPECT_GT(shared, 0) << "no two catalogue names share an art here";
  const auto arrow = artOf(PointerKind::arrow);
  EXPECT_EQ(presenter->label(arrow->identity()), "arrow");
  EXPECT_TRUE(presenter->resizeIdentities.count(artOf(PointerKind::horizontal)->identity()));
  EXPECT_FALSE(presenter->resizeIdentities.count(arrow->identity()));

  const std::string description = presenter->sampleDescription(*arrow, 2);
  std::string expected = "arrow;size=";
  ContinuousCursorPresenter::appendSize(expected, arrow->nativeSize());
  EXPECT_EQ(description.rfind(expected, 0), 0u) << description;
  EXPECT_NE(description.find(";hidden=false;density=2.0"), std::string::npos) << description;
  std::string size;
  ContinuousCursorPresenter::appendSize(size, platform::CGSizeMake(32, 17.5));
  EXPECT_EQ(size, "(width: 32.0, height: 17.5)");

  // An art nobody named is "custom".
  presenter->knownLabels.clear();
  EXPECT_EQ(presenter->sampleDescription(*arrow, 1).rfind("custom;size=", 0), 0u);
  EXPECT_NE(presenter->sampleDescription(*arrow, 1).find(";hotspot=(x: "), std::string::npos);
}

TEST_F(ContinuousCursorPresenterTest, RegionsNearThePointerAreClippedToASquareAroundIt) {
  // Pointer at (100, 882) in AppKit coordinates is (100, 100) on the
  // window server's side of the 982 pt tall screen.
  const CGPoint pointer = CGPointMake(100, 882);
  struct Case {
    const char* name;
    CGRect region;
    bool leftGesture;
    std::optional<CGRect> expected;
  };
  const Case cases[] = {
      {"covering, plain", CGRectMake(0, 0, 500, 500), false, CGRectMake(99.5, 99.5, 1, 1)},
      {"covering, gesture", CGRectMake(0, 0, 500, 500), true, CGRectMake(76, 76, 48, 48)},
      {"partly inside", CGRectMake(100, 0, 500, 500), true, CGRectMake(100, 76, 24, 48)},
      {"touching edge dropped", CGRectMake(100.5, 0, 50, 500), false, std::nullopt},
      {"just inside kept", CGRectMake(100.4, 0, 50, 500), false, CGRectMake(100.4, 99.5, 0.1, 1)},
      {"far away", CGRectMake(600, 600, 10, 10), true, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto near = regionsNearPointer({c.region}, c.leftGesture, pointer);
    if (!c.expected) {
      EXPECT_TRUE(near.empty()) << c.name;
      continue;
    }
    ASSERT_EQ(near.size(), 1u) << c.name;
    EXPECT_NEAR(near[0].origin.x, c.expected->origin.x, 1e-9) << c.name;
    EXPECT_NEAR(near[0].origin.y, c.expected->origin.y, 1e-9) << c.name;
    EXPECT_NEAR(near[0].size.width, c.expected->size.width, 1e-9) << c.name;
    EXPECT_NEAR(near[0].size.height, c.expected->size.height, 1e-9) << c.name;
  }
  EXPECT_TRUE(regionsNearPointer({}, true, pointer).empty());
  // Order is kept; misses leave no gap.
  const auto several = regionsNearPointer(
      {CGRectMake(0, 0, 100, 500), CGRectMake(900, 900, 1, 1), CGRectMake(100, 0, 100, 500)}, true, pointer);
  ASSERT_EQ(several.size(), 2u);
  EXPECT_LT(several[0].origin.x, several[1].origin.x);
  // Without a screen the flip is about 0.
  platform::NSScreen::setScreens({});
  const auto flat = regionsNearPointer({CGRectMake(-10, -10, 20, 20)}, false, CGPointMake(0, 0));
  ASSERT_EQ(flat.size(), 1u);
  EXPECT_EQ(flat[0], CGRectMake(-0.5, -0.5, 1, 1));
  platform::NSScreen::resetScreens();
}

TEST_F(ContinuousCursorPresenterTest, VisiblePixelsNeedAnAlphaAboveEight) {
  for (const uint8_t alpha : {0, 8, 9, 255}) {
    const auto frame = testing::solidFrame(CGRectMake(-2, -2, 8, 8), 2, 255, 0, alpha);
    EXPECT_EQ(imageHasVisiblePixels(frame.image), alpha > 8) << int(alpha);
  }
  EXPECT_FALSE(imageHasVisiblePixels(nullptr));
}

}  // namespace
}  // namespace vurle
