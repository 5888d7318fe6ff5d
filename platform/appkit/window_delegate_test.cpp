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
  void windowWillMiniaturize(const NSNotification&) override { log("will mini"); }
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

TEST_F(WindowDelegateTest, KeyCloseAndMiniaturiseChangesReachTheDelegateAndTheDefaultCentreInOrder) {
  const auto style = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable;
  auto a = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), style);
  auto b = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled);
  auto da = std::make_shared<RecordingWindowDelegate>("a");
  auto db = std::make_shared<RecordingWindowDelegate>("b");
  db->calls = da->calls;
  a->setDelegate(da);
  b->setDelegate(db);
  // The centre hears every change after the delegate, with the window as object.
  std::vector<std::string> posted;
  std::vector<NotificationToken> tokens;
  for (const char* name : {NSWindowDidBecomeKeyNotification, NSWindowWillCloseNotification,
                           NSWindowWillMiniaturizeNotification, NSWindowDidMiniaturizeNotification}) {
    tokens.push_back(NSNotificationCenter::defaultCenter().addObserverForName(
        name, nullptr, nullptr, [&posted, &a, &b, name](const NSNotification& note) {
          posted.push_back(std::string(note.object == a.get() ? "a " : note.object == b.get() ? "b " : "? ") + name);
        }));
  }

  a->makeKeyAndOrderFront();
  a->makeKeyWindow();  // already key: nothing to tell
  b->makeKeyAndOrderFront();
  a->makeKeyAndOrderFront();
  a->miniaturize(nullptr);
  // The animation runs with the window still on screen for 0.25 s.
  a->miniaturize(nullptr);  // already on its way
  scope->advance(0.249);
  EXPECT_FALSE(a->isMiniaturized());
  EXPECT_TRUE(a->isVisible());
  EXPECT_TRUE(a->isKeyWindow());
  scope->advance(0.002);
  EXPECT_TRUE(a->isMiniaturized());
  EXPECT_FALSE(a->isVisible());
  a->miniaturize(nullptr);  // already in the Dock
  b->miniaturize(nullptr);  // not miniaturizable
  scope->advance(1);
  a->deminiaturize(nullptr);
  EXPECT_TRUE(a->isKeyWindow());
  // Closed mid-animation, it never reaches the Dock.
  a->miniaturize(nullptr);
  a->close();
  scope->advance(1);
  EXPECT_FALSE(a->isMiniaturized());
  // Closed from the Dock, it is no longer miniaturised.
  a->makeKeyAndOrderFront();
  a->miniaturize(nullptr);
  scope->advance(1);
  ASSERT_TRUE(a->isMiniaturized());
  a->close();
  EXPECT_FALSE(a->isMiniaturized());
  b->orderOut();  // not key: no resign
  EXPECT_EQ(*da->calls, (std::vector<std::string>{"a key", "a resign", "b key", "b resign", "a key", "a will mini",
                                                  "a resign", "a mini", "a key", "a demini", "a will mini", "a close",
                                                  "a resign", "a key", "a will mini", "a resign", "a mini",
                                                  "a close"}));
  const std::string key = NSWindowDidBecomeKeyNotification, willMini = NSWindowWillMiniaturizeNotification,
                    didMini = NSWindowDidMiniaturizeNotification, close = NSWindowWillCloseNotification;
  EXPECT_EQ(posted, (std::vector<std::string>{"a " + key, "b " + key, "a " + key, "a " + willMini, "a " + didMini,
                                              "a " + key, "a " + willMini, "a " + close, "a " + key, "a " + willMini,
                                              "a " + didMini, "a " + close}));
  da.reset();
  b->makeKeyAndOrderFront();  // a delegate that is gone is not called
  EXPECT_EQ(posted.back(), "b " + key);  // the centre still hears it
}

TEST_F(WindowDelegateTest, CloseAndMiniaturizeActionsNeedTheirButtonsAndFramesRecordTheirAnimation) {
  struct Case {
    NSWindowStyleMask style;
    bool closes, miniaturizes;
  };
  const Case cases[] = {
      {NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable, true, true},
      {NSWindowStyleMaskTitled | NSWindowStyleMaskClosable, true, false},
      {NSWindowStyleMaskTitled | NSWindowStyleMaskMiniaturizable, false, true},
      {NSWindowStyleMaskTitled, false, false},
      // No title bar, no buttons, whatever the mask says.
      {NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), c.style);
    window->makeKeyAndOrderFront();
    EXPECT_EQ(window->respondsToAction("performClose:"), c.closes);
    EXPECT_EQ(window->respondsToAction("performMiniaturize:"), c.miniaturizes);
    EXPECT_FALSE(window->respondsToAction("terminate:"));
    EXPECT_EQ(window->performAction("performMiniaturize:", nullptr), c.miniaturizes);
    scope->advance(NSWindow::miniaturizeDuration + 0.01);
    EXPECT_EQ(window->isMiniaturized(), c.miniaturizes);
    window->deminiaturize(nullptr);
    EXPECT_EQ(window->performAction("performClose:", nullptr), c.closes);
    EXPECT_EQ(window->isVisible(), !c.closes);
    EXPECT_EQ(window->windowNumber() < 1, c.closes);
  }

  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled);
  EXPECT_EQ(window->frameRectForContentRect(NSMakeRect(10, 20, 500, 300)), NSMakeRect(10, 20, 500, 300));
  window->setFrame(NSMakeRect(0, 0, 500, 300), true, true);
  EXPECT_TRUE(window->lastFrameChangeAnimated());
  EXPECT_EQ(window->frame(), NSMakeRect(0, 0, 500, 300));  // taken at once
  window->setFrame(NSMakeRect(0, 0, 500, 200), true, false);
  EXPECT_FALSE(window->lastFrameChangeAnimated());
  window->setFrame(NSMakeRect(0, 0, 500, 300), true, true);
  window->setFrame(NSMakeRect(0, 0, 500, 250), false);
  EXPECT_FALSE(window->lastFrameChangeAnimated());
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
