#include <gtest/gtest.h>

#include "cursor/engine/experimental_dock_cursor.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/native/native_test_support.hpp"
#include "platform/accessibility/accessibility_server.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/events/event.hpp"
#include "platform/windowserver/window_queries.hpp"

namespace vurle {
namespace {

using namespace platform;
using Item = ExperimentalDockRegions::Item;

constexpr pid_t kDock = 60;
// The default screen (1512 × 982) in window-server coordinates, the Dock
// along its bottom: an application, a separator, another application.
const CGRect kScreen = CGRectMake(0, 0, 1512, 982);
const CGRect kFirstApp = CGRectMake(300, 900, 80, 80);
const CGRect kSeparator = CGRectMake(380, 900, 20, 80);
const CGRect kSecondApp = CGRectMake(400, 900, 80, 80);
const CGPoint kOnFirstApp = CGPointMake(340, 940);
const CGPoint kOnSeparator = CGPointMake(390, 940);

class DockTest : public testing::NativeTest {
 protected:
  void SetUp() override {
    NativeTest::SetUp();
    NSWorkspace::sharedWorkspace().launchApplication(kDock, "com.apple.dock", "Dock",
                                                     NSApplicationActivationPolicy::accessory);
    WindowTable::shared().setWindows({{.number = 90, .ownerPID = kDock, .ownerName = "Dock",
                                       .layer = CGWindowLevelForKey(kCGDockWindowLevelKey),
                                       .bounds = CGRectMake(0, 890, 1512, 92)}});
    list = ax().makeElement(kDock);
    ax().setAttribute(list, kAXRoleAttribute, std::string("AXList"));
    ax().setAttribute(AXUIElementCreateApplication(kDock), kAXChildrenAttribute,
                      std::vector<AXUIElementRef>{ax().makeElement(kDock), list});
    setItems({item("AXApplicationDockItem", kFirstApp), item("AXSeparatorDockItem", kSeparator),
              item("AXApplicationDockItem", kSecondApp)});
  }
  static AccessibilityServer& ax() { return AccessibilityServer::shared(); }
  AXUIElementRef item(const std::string& subrole, CGRect frame) {
    auto element = ax().makeElement(kDock);
    ax().setAttribute(element, kAXSubroleAttribute, subrole);
    ax().setAttribute(element, kAXPositionAttribute, AXValueCreate(kAXValueCGPointType, &frame.origin));
    ax().setAttribute(element, kAXSizeAttribute, AXValueCreate(kAXValueCGSizeType, &frame.size));
    return element;
  }
  void setItems(std::vector<AXUIElementRef> items) { ax().setAttribute(list, kAXChildrenAttribute, items); }
  static std::vector<Item> read(CGPoint point = kOnFirstApp) {
    return ExperimentalDockRegions::readDock(ExperimentalCursorHitTest::make(), kScreen, point);
  }

  AXUIElementRef list;
};

TEST_F(DockTest, ReadsTheVerifiedItems) {
  const std::vector<Item> all = {{kFirstApp, false}, {kSeparator, true}, {kSecondApp, false}};
  EXPECT_EQ(read(), all);
  // Items are clipped to the screen; an item off it is dropped.
  setItems({item("AXApplicationDockItem", CGRectMake(1480, 900, 80, 80)),
            item("AXTrashDockItem", CGRectMake(1600, 900, 80, 80))});
  EXPECT_EQ(read(), (std::vector<Item>{{CGRectMake(1480, 900, 32, 80), false}}));

  struct Case {
    const char* name;
    std::function<void()> arrange;
    size_t expected;
  } cases[] = {
      {"every kind of item",
       [&] {
         setItems({item("AXFolderDockItem", kFirstApp), item("AXTrashDockItem", kSecondApp),
                   item("AXDocumentDockItem", kSeparator), item("AXMinimizedWindowDockItem", kSeparator)});
       },
       3},
      {"a position of the wrong type",
       [&] {
         auto bad = item("AXApplicationDockItem", kFirstApp);
         ax().setAttribute(bad, kAXPositionAttribute, AXValueCreate(kAXValueCGSizeType, &kFirstApp.size));
         setItems({bad, item("AXApplicationDockItem", kSecondApp)});
       },
       1},
      {"a size that is text",
       [&] {
         auto bad = item("AXApplicationDockItem", kFirstApp);
         ax().setAttribute(bad, kAXSizeAttribute, std::string("80x80"));
         setItems({bad});
       },
       0},
      {"128 children", [&] { setItems(std::vector<AXUIElementRef>(128, item("AXApplicationDockItem", kFirstApp))); },
       128},
      {"129 children", [&] { setItems(std::vector<AXUIElementRef>(129, item("AXApplicationDockItem", kFirstApp))); },
       0},
      {"no list", [&] { ax().setAttribute(list, kAXRoleAttribute, std::string("AXGroup")); }, 0},
      {"a slow Dock", [&] { ax().setResponseTime(kDock, 0.02); }, 0},
      {"a window above the Dock level",
       [&] { WindowTable::shared().addWindow({.number = 91, .ownerPID = kDock, .layer = 101, .bounds = kScreen}); },
       0},
      {"the Dock level, not the Dock",
       [&] {
         WindowTable::shared().addWindow({.number = 91, .ownerPID = 77,
                                          .layer = CGWindowLevelForKey(kCGDockWindowLevelKey), .bounds = kScreen});
       },
       0},
      {"no hit test", [&] { SymbolRegistry::shared().remove("SLSGetWindowBounds"); }, 0},
  };
  for (const auto& c : cases) {
    SetUp();
    c.arrange();
    EXPECT_EQ(read().size(), c.expected) << c.name;
  }
}

TEST_F(DockTest, RegionsReadAtMostEveryEightiethAndTraceChanges) {
  auto regions = ExperimentalDockRegions::make();
  int refreshed = 0;
  regions->setOnRefresh([&] { ++refreshed; });
  auto request = [&](CGPoint point = kOnFirstApp) { return regions->requestRefresh(kScreen, point); };

  EXPECT_EQ(request(), std::nullopt);  // nothing read yet: a read starts
  EXPECT_TRUE(regions->pending());
  scope->runUntilIdle();
  const double readAt = now();
  const ExperimentalDockRegions::Context context{{{kFirstApp, false}, {kSeparator, true}, {kSecondApp, false}},
                                                 readAt + 0.2};
  EXPECT_EQ(request(), context);
  EXPECT_EQ(request(CGPointMake(100, 940)), std::nullopt);  // beside every item
  EXPECT_EQ(refreshed, 1);

  // The next read waits 0.08 s; the answer is trusted for 0.2 s.
  const int reads = WindowQueries::shared().calls("SLSFindWindowAndOwner");
  scope->advance(0.075);
  request();
  EXPECT_FALSE(regions->pending());
  scope->advance(0.01);
  request();
  EXPECT_TRUE(regions->pending());
  regions->setOnRefresh(nullptr);
  scope->advance(0.1);  // the second read (at 0.085) is stored with its own limit
  EXPECT_EQ(WindowQueries::shared().calls("SLSFindWindowAndOwner"), reads + 1);
  EXPECT_EQ(regions->snapshot()->until, readAt + 0.085 + 0.2);

  // Only changes of the result are traced.
  setItems({});
  for (int i = 0; i < 2; ++i) {
    scope->advance(0.09);
    request();
    scope->runUntilIdle();
  }
  auto traced = events("dock-region-read");
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced[0].detail, "verified-items");
  EXPECT_EQ(traced[0].value, 3);
  EXPECT_EQ(traced[1].detail, "no-verified-items");
  EXPECT_EQ(traced[1].value, std::nullopt);
  EXPECT_FALSE(regions->snapshot().has_value());

  // A read of an old generation is not stored but still calls back.
  regions->setOnRefresh([&] { ++refreshed; });
  setItems({item("AXApplicationDockItem", kFirstApp)});
  scope->advance(0.09);
  request();
  regions->invalidate();
  scope->runUntilIdle();
  EXPECT_EQ(refreshed, 2);
  EXPECT_FALSE(regions->snapshot().has_value());
  EXPECT_EQ(request(), std::nullopt);  // invalidated: reads again at once
  scope->runUntilIdle();
  EXPECT_TRUE(request().has_value());
  EXPECT_EQ(refreshed, 3);
}

}  // namespace
}  // namespace vurle
