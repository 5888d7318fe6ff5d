#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/layout_constraint.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/visual_effect_view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class RecordingWindowDelegate : public NSWindowDelegate {
 public:
  explicit RecordingWindowDelegate(std::string name) : name(std::move(name)) {}
  void windowDidBecomeKey(const NSNotification&) override { log("key"); }
  void windowDidResignKey(const NSNotification&) override { log("resign"); }
  void windowWillClose(const NSNotification&) override { log("close"); }
  void windowDidMiniaturize(const NSNotification&) override { log("mini"); }
  void windowDidDeminiaturize(const NSNotification&) override { log("demini"); }
  void log(const char* what) { calls->push_back(name + " " + what); }
  std::string name;
  std::shared_ptr<std::vector<std::string>> calls = std::make_shared<std::vector<std::string>>();
};

class WindowDelegateTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
  SimulatedSchedulerScope scope;
};

TEST_F(WindowDelegateTest, KeyCloseAndMiniaturiseChangesReachTheDelegateInOrder) {
  const auto style = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable;
  auto a = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), style);
  auto b = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled);
  auto da = std::make_shared<RecordingWindowDelegate>("a");
  auto db = std::make_shared<RecordingWindowDelegate>("b");
  db->calls = da->calls;
  a->setDelegate(da);
  b->setDelegate(db);

  a->makeKeyAndOrderFront();
  a->makeKeyWindow();  // already key: nothing to tell
  b->makeKeyAndOrderFront();
  a->makeKeyAndOrderFront();
  a->miniaturize(nullptr);
  EXPECT_TRUE(a->isMiniaturized());
  EXPECT_FALSE(a->isVisible());
  a->miniaturize(nullptr);  // already in the Dock
  b->miniaturize(nullptr);  // not miniaturizable
  a->deminiaturize(nullptr);
  EXPECT_TRUE(a->isKeyWindow());
  a->close();
  b->orderOut();  // not key: no resign
  EXPECT_EQ(*da->calls, (std::vector<std::string>{"a key", "a resign", "b key", "b resign", "a key", "a resign",
                                                  "a mini", "a key", "a demini", "a close", "a resign"}));
  da.reset();
  b->makeKeyAndOrderFront();  // a delegate that is gone is not called
}

TEST_F(WindowDelegateTest, TitleBarButtonsCentringAndLimits) {
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2.0)});
  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 460, 591), NSWindowStyleMaskTitled);
  auto zoom = window->standardWindowButton(NSWindowButton::zoomButton);
  ASSERT_NE(zoom, nullptr);
  EXPECT_TRUE(zoom->isEnabled());
  zoom->setEnabled(false);
  EXPECT_FALSE(window->standardWindowButton(NSWindowButton::zoomButton)->isEnabled());  // the same button
  EXPECT_EQ(std::make_shared<NSWindow>(NSMakeRect(0, 0, 10, 10), 0)->standardWindowButton(NSWindowButton::zoomButton),
            nullptr);
  window->center();
  EXPECT_EQ(window->frame(), NSMakeRect(490, 154.5, 460, 591));
  NSScreen::setScreens({});
  window->center();
  EXPECT_EQ(window->frame(), NSMakeRect(490, 154.5, 460, 591));
}

TEST_F(WindowDelegateTest, PinnedEdgesFollowTheSuperviewAndUnsupportedConstraintsAreRefused) {
  auto effect = std::make_shared<NSVisualEffectView>(NSMakeRect(0, 0, 200, 100));
  EXPECT_EQ(effect->material(), NSVisualEffectMaterial::windowBackground);
  auto hosted = std::make_shared<NSView>(NSMakeRect(0, 0, 1, 1));
  hosted->setTranslatesAutoresizingMaskIntoConstraints(false);
  effect->addSubview(hosted);
  using A = NSLayoutAttribute;
  NSLayoutConstraint::activateConstraints({NSLayoutConstraint::make(hosted, A::leading, effect, A::leading, 10),
                                           NSLayoutConstraint::make(hosted, A::trailing, effect, A::trailing, -10),
                                           NSLayoutConstraint::make(hosted, A::top, effect, A::top, 5)});
  EXPECT_EQ(hosted->frame(), NSMakeRect(0, 0, 1, 1));  // three edges do not place it
  NSLayoutConstraint::activateConstraints({NSLayoutConstraint::make(hosted, A::bottom, effect, A::bottom, 0)});
  EXPECT_EQ(hosted->frame(), NSMakeRect(10, 0, 180, 95));
  effect->setFrame(NSMakeRect(0, 0, 460, 591));
  EXPECT_EQ(hosted->frame(), NSMakeRect(10, 0, 440, 586));
  EXPECT_EQ(effect->constraints().size(), 4u);

  auto stranger = std::make_shared<NSView>(NSMakeRect(0, 0, 1, 1));
  EXPECT_THROW(NSLayoutConstraint::activateConstraints({NSLayoutConstraint::make(stranger, A::top, effect, A::top)}),
               std::logic_error);
}

}  // namespace
}  // namespace platform
