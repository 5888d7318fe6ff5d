#include "cursor/overlay/cursor_overlay_space.hpp"

#include <unistd.h>

#include "cursor/overlay/overlay_test_support.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {
namespace {

using platform::CGRectMake;
using platform::kCGErrorFailure;
using platform::Spaces;
using platform::WindowRecord;
using platform::WindowTable;

class CursorOverlaySpaceTest : public testing::OverlayTest {
 protected:
  std::shared_ptr<platform::NSPanel> makePanel() {
    auto made = std::make_shared<platform::NSPanel>(CGRectMake(100, 200, 50, 40),
                                                    platform::NSWindowStyleMaskNonactivatingPanel);
    made->orderFrontRegardless();
    return made;
  }
  static int calls(const char* name) { return Spaces::shared().calls(name); }
  // Changes the window server's record of the panel.
  void edit(const std::function<void(WindowRecord&)>& change) {
    for (auto record : WindowTable::shared().windows()) {
      if (static_cast<long>(record.number) == panel->windowNumber()) {
        change(record);
        WindowTable::shared().updateWindow(record);
      }
    }
  }

  void SetUp() override {
    OverlayTest::SetUp();
    panel = makePanel();
  }

  std::shared_ptr<platform::NSPanel> panel;
};

TEST_F(CursorOverlaySpaceTest, TheSpaceIsRaisedShownAndTornDown) {
  auto space = CursorOverlaySpace::make();
  ASSERT_NE(space, nullptr);
  const auto id = static_cast<platform::CGSSpaceID>(space->identifier());
  EXPECT_EQ(Spaces::shared().privateSpaces(), std::set<platform::CGSSpaceID>{id});
  EXPECT_EQ(Spaces::shared().spaceLevel(id), 0);
  EXPECT_TRUE(Spaces::shared().spaceShown(id));
  EXPECT_EQ(events("overlay-private-space-created").size(), 1u);

  // Torn down with no window, the Space is still hidden and destroyed.
  space.reset();
  EXPECT_EQ(calls("SLSRemoveWindowsFromSpaces"), 0);
  EXPECT_EQ(calls("SLSHideSpaces"), 1);
  EXPECT_TRUE(Spaces::shared().privateSpaces().empty());

  // With a window attached, teardown takes it out first.
  space = CursorOverlaySpace::make();
  space->attach(*panel, false);
  space.reset();
  EXPECT_EQ(calls("SLSRemoveWindowsFromSpaces"), 1);
  EXPECT_TRUE(Spaces::shared().showsWindow(static_cast<platform::CGWindowID>(panel->windowNumber())));
}

TEST_F(CursorOverlaySpaceTest, CreationFailsWithoutItsFunctionsConnectionSpaceOrLevel) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    int destroys;
  };
  std::vector<Case> cases;
  for (const char* missing : {"SLSMainConnectionID", "SLSSpaceCreate", "SLSSpaceSetAbsoluteLevel", "SLSShowSpaces",
                              "SLSSpaceAddWindowsAndRemoveFromSpaces", "SLSRemoveWindowsFromSpaces", "SLSHideSpaces",
                              "SLSSpaceDestroy"}) {
    cases.push_back({missing, [missing] { platform::SymbolRegistry::shared().remove(missing); }, 0});
  }
  cases.push_back({"no framework", [] { platform::SymbolRegistry::shared().removeImage(platform::kSkyLightFrameworkPath); }, 0});
  cases.push_back({"no connection", [] { platform::WindowServer::shared().setMainConnectionID(0); }, 0});
  cases.push_back({"no Space", [] { Spaces::shared().failNext("SLSSpaceCreate", kCGErrorFailure); }, 0});
  cases.push_back({"level refused", [] { Spaces::shared().failNext("SLSSpaceSetAbsoluteLevel", kCGErrorFailure); }, 1});
  for (const auto& c : cases) {
    platform::resetProcessState();
    c.arrange();
    EXPECT_EQ(CursorOverlaySpace::make(), nullptr) << c.name;
    EXPECT_TRUE(Spaces::shared().privateSpaces().empty()) << c.name;
    EXPECT_EQ(calls("SLSSpaceDestroy"), c.destroys) << c.name;
    EXPECT_EQ(calls("SLSShowSpaces"), 0) << c.name;
  }
  EXPECT_TRUE(events("overlay-private-space-created").empty());
}

TEST_F(CursorOverlaySpaceTest, AttachAndDetachAreIdempotent) {
  auto space = CursorOverlaySpace::make();
  ASSERT_NE(space, nullptr);
  // A window the server does not know yet is never attached.
  platform::NSPanel unmapped(CGRectMake(0, 0, 10, 10), platform::NSWindowStyleMaskNonactivatingPanel);
  space->attach(unmapped, true);
  space->detach(unmapped);
  EXPECT_EQ(calls("SLSSpaceAddWindowsAndRemoveFromSpaces"), 0);
  EXPECT_EQ(calls("SLSRemoveWindowsFromSpaces"), 0);

  space->attach(*panel, false);
  space->attach(*panel, false);
  EXPECT_EQ(calls("SLSSpaceAddWindowsAndRemoveFromSpaces"), 1);
  ASSERT_EQ(events("overlay-private-space-attached").size(), 1u);
  EXPECT_EQ(events("overlay-private-space-attached")[0].value, panel->windowNumber());
  space->attach(*panel, true);
  EXPECT_EQ(calls("SLSSpaceAddWindowsAndRemoveFromSpaces"), 2);
  EXPECT_EQ(Spaces::shared().spaceWindows(static_cast<platform::CGSSpaceID>(space->identifier())).size(), 1u);

  space->detach(*panel);
  space->detach(*panel);
  EXPECT_EQ(calls("SLSRemoveWindowsFromSpaces"), 1);
  EXPECT_TRUE(space->windows().empty());
}

TEST_F(CursorOverlaySpaceTest, TheAuditChecksTheWindowListWithinItsTolerances) {
  auto space = CursorOverlaySpace::make();
  ASSERT_NE(space, nullptr);
  EXPECT_FALSE(space->audit(*panel));  // not attached
  space->attach(*panel, false);
  EXPECT_TRUE(space->audit(*panel));

  struct Case {
    const char* name;
    std::function<void(WindowRecord&)> change;
    bool visible;
  };
  const Case cases[] = {
      {"1.5 pt wider", [](WindowRecord& r) { r.bounds.size.width += 1.5; }, false},
      {"0.5 pt wider", [](WindowRecord& r) { r.bounds.size.width += 0.5; }, true},
      {"moved 1 pt", [](WindowRecord& r) { r.bounds.origin.y -= 1; }, true},
      {"alpha 0.98", [](WindowRecord& r) { r.alpha = 0.98; }, false},
      {"alpha 0.99", [](WindowRecord& r) { r.alpha = 0.99; }, true},
      {"off screen", [](WindowRecord& r) { r.onScreen = false; }, false},
      {"another owner", [](WindowRecord& r) { r.ownerPID = ::getpid() + 1; }, false},
      {"bounds missing", [](WindowRecord& r) { r.entryOverrides[platform::kCGWindowBounds] = std::nullopt; }, false},
      {"alpha as text", [](WindowRecord& r) { r.entryOverrides[platform::kCGWindowAlpha] = platform::CFValue("1"); }, false},
  };
  for (const auto& c : cases) {
    panel->orderFront();  // the record as the panel has it
    edit(c.change);
    scope->advance(0.1);  // past the cache
    EXPECT_EQ(space->audit(*panel), c.visible) << c.name;
  }

  // Hidden by the window server, the panel is not really visible.
  panel->orderFront();
  platform::dlsym<platform::SLSHideSpacesFn>(platform::RTLD_DEFAULT, "SLSHideSpaces")
      .value()(space->connection(), {platform::CFValue(space->identifier())});
  scope->advance(0.1);
  EXPECT_FALSE(space->audit(*panel));
  panel->orderOut();
  EXPECT_FALSE(space->audit(*panel));
}

TEST_F(CursorOverlaySpaceTest, TheAuditAsksTheWindowServerAtMostOncePerIntervalForOneFrame) {
  auto space = CursorOverlaySpace::make();
  space->attach(*panel, false);
  const int before = WindowTable::shared().listReads();
  EXPECT_TRUE(space->audit(*panel));
  scope->advance(0.05);
  EXPECT_TRUE(space->audit(*panel));
  EXPECT_EQ(WindowTable::shared().listReads(), before + 1);

  // A moved frame is asked about at once; the answer is cached again.
  panel->setFrame(CGRectMake(110, 200, 50, 40), false);
  EXPECT_TRUE(space->audit(*panel));
  EXPECT_EQ(WindowTable::shared().listReads(), before + 2);
  // The cache runs out after 0.08 s, and every attach or detach clears it.
  scope->advance(0.081);
  EXPECT_TRUE(space->audit(*panel));
  EXPECT_EQ(WindowTable::shared().listReads(), before + 3);
  space->attach(*panel, true);
  EXPECT_TRUE(space->audit(*panel));
  EXPECT_EQ(WindowTable::shared().listReads(), before + 4);
}

}  // namespace
}  // namespace vurle
