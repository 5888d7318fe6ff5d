#include "cursor/overlay/cursor_space_animation.hpp"

#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {
namespace {

using platform::NSScreen;
using platform::Spaces;

class CursorSpaceAnimationTest : public testing::OverlayTest {};

TEST_F(CursorSpaceAnimationTest, TheGateHoldsAfterASpaceChangeAnAnimationOrAnUnreadableSpace) {
  CursorSpaceVisibilityGate gate;
  const double t = 10;
  EXPECT_TRUE(gate.check(false, 5, t));  // the first reading only records
  EXPECT_FALSE(gate.check(false, 7, t));
  EXPECT_EQ(gate.notBefore(), t + 0.5);
  EXPECT_FALSE(gate.check(false, 7, t + 0.49));
  EXPECT_TRUE(gate.check(false, 7, t + 0.5));
  EXPECT_EQ(events("lease-space-context-changed").size(), 1u);

  // A 0.2 s hold raised inside the 0.5 s one leaves the later time.
  EXPECT_FALSE(gate.check(false, 9, t + 1));
  EXPECT_FALSE(gate.check(true, 9, t + 1.1));
  EXPECT_EQ(gate.notBefore(), t + 1.5);

  // Animating holds 0.2 s past the reading, even once it has stopped.
  EXPECT_FALSE(gate.check(true, 9, t + 2));
  EXPECT_FALSE(gate.check(false, 9, t + 2.1));
  EXPECT_TRUE(gate.check(false, 9, t + 2 + 0.2));

  // No Space: held, and the last Space is kept.
  EXPECT_FALSE(gate.check(false, 0, t + 3));
  EXPECT_EQ(gate.lastSpace(), 9u);
  EXPECT_TRUE(gate.check(false, 9, t + 3 + 0.2));

  // A Space change seen during the slide holds 0.5 s as well.
  EXPECT_FALSE(gate.check(true, 11, t + 4));
  EXPECT_EQ(gate.notBefore(), t + 4.5);
  EXPECT_EQ(events("lease-space-context-changed").size(), 3u);
}

TEST_F(CursorSpaceAnimationTest, ProbesFollowTheWindowServerAndWorkspaceNotices) {
  CursorSpaceAnimation animation;
  auto screen = NSScreen::screens().front();
  EXPECT_EQ(animation.isTransitioning(screen), false);
  auto check = animation.transitionCheck(screen);
  ASSERT_TRUE(check);
  EXPECT_TRUE(check());

  Spaces::shared().setDisplayAnimating(1, true);
  EXPECT_FALSE(check());
  Spaces::shared().setDisplayAnimating(1, false);
  scope->advance(0.19);
  EXPECT_EQ(animation.isTransitioning(screen), true);
  scope->advance(0.02);
  EXPECT_TRUE(check());

  Spaces::shared().setCurrentSpace(1, 4);
  EXPECT_FALSE(check());
  scope->advance(0.49);
  EXPECT_FALSE(check());
  scope->advance(0.02);
  EXPECT_TRUE(check());
  Spaces::shared().setCurrentSpace(1, 0);
  EXPECT_FALSE(check());
  Spaces::shared().setCurrentSpace(1, 4);
  scope->advance(0.2);
  EXPECT_TRUE(check());

  // A workspace notice holds every known display, and one first seen just
  // after it too.
  animation.noteSpaceChange();
  EXPECT_FALSE(check());
  scope->advance(0.1);
  auto second = NSScreen::make(platform::CGRectMake(1512, 0, 800, 600), 1.0, 2);
  EXPECT_EQ(animation.isTransitioning(second), true);
  scope->advance(0.11);
  EXPECT_TRUE(check());
  EXPECT_EQ(animation.isTransitioning(second), false);

  // The display's UUID is read once and never refreshed: under a new UUID
  // the window server no longer answers for the old one.
  Spaces::shared().setDisplayUUID(1, "5E1A8C3F-0000-4000-8000-000000000001");
  EXPECT_EQ(animation.isTransitioning(screen), true);
  EXPECT_EQ(CursorSpaceAnimation().isTransitioning(screen), false);
}

TEST_F(CursorSpaceAnimationTest, WithoutAFunctionANumberAUUIDOrAConnectionThereIsNoProbe) {
  struct Case {
    const char* name;
    std::function<void(NSScreen&)> arrange;
  };
  auto remove = [](const char* symbol) {
    return [symbol](NSScreen&) { platform::SymbolRegistry::shared().remove(symbol); };
  };
  const Case cases[] = {
      {"main connection function", remove("CGSMainConnectionID")},
      {"animation function", remove("SLSManagedDisplayIsAnimating")},
      {"Space function", remove("SLSManagedDisplayGetCurrentSpace")},
      {"no display number", [](NSScreen& s) { s.setDeviceDescription({}); }},
      {"a display number that is text",
       [](NSScreen& s) { s.setDeviceDescription({{platform::NSScreenNumber, platform::CFValue("1")}}); }},
      {"no UUID", [](NSScreen&) { Spaces::shared().setDisplayUUID(1, std::nullopt); }},
      {"no main connection", [](NSScreen&) { platform::WindowServer::shared().setMainConnectionID(0); }},
  };
  for (const auto& c : cases) {
    platform::resetProcessState();
    auto screen = NSScreen::screens().front();
    c.arrange(*screen);
    CursorSpaceAnimation animation;
    EXPECT_EQ(animation.isTransitioning(screen), std::nullopt) << c.name;
    EXPECT_FALSE(animation.transitionCheck(screen)) << c.name;
    EXPECT_FALSE(animation.transitionProbe(nullptr)) << c.name;
  }
}

}  // namespace
}  // namespace vurle
