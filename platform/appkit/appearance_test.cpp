#include "platform/appkit/appearance.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/color.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/test_support.hpp"

namespace platform {
namespace {

const auto aqua = [] { return NSAppearance::appearanceNamed(NSAppearanceNameAqua); };
const auto dark = [] { return NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua); };

// Remembers what it drew in and how often it heard of a change.
class ProbeView : public NSView {
 public:
  using NSView::NSView;
  void viewDidChangeEffectiveAppearance() override { ++changes; }
  void drawRect(NSRect) override { drawnWindowBackground = NSColor::windowBackgroundColor(); }
  int changes = 0;
  std::optional<NSColor> drawnWindowBackground;
};

class NSAppearanceTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

TEST_F(NSAppearanceTest, NamesAndBestMatches) {
  EXPECT_EQ(NSAppearance::appearanceNamed("NSAppearanceNameVibrantDark"), nullptr);
  struct Case {
    bool isDark;
    std::vector<std::string> names;
    std::string best;
  };
  const Case cases[] = {
      {false, {NSAppearanceNameAqua, NSAppearanceNameDarkAqua}, NSAppearanceNameAqua},
      {true, {NSAppearanceNameAqua, NSAppearanceNameDarkAqua}, NSAppearanceNameDarkAqua},
      {true, {NSAppearanceNameAqua}, ""},
      {false, {NSAppearanceNameDarkAqua}, ""},
      {false, {}, ""},
  };
  for (const auto& c : cases) {
    const auto appearance = c.isDark ? dark() : aqua();
    EXPECT_EQ(appearance->bestMatchFromAppearancesWithNames(c.names), c.best) << appearance->name();
    EXPECT_EQ(appearance->isDark(), c.isDark);
  }
}

TEST_F(NSAppearanceTest, ViewsInheritFromTheApplicationAndHearEachChange) {
  auto window = std::make_shared<NSWindow>(NSMakeRect(0, 0, 100, 100), NSWindowStyleMaskTitled);
  auto content = std::make_shared<ProbeView>(NSMakeRect(0, 0, 100, 100));
  auto inner = std::make_shared<ProbeView>(NSMakeRect(0, 0, 50, 50));
  auto own = std::make_shared<ProbeView>(NSMakeRect(0, 0, 50, 50));
  window->setContentView(content);
  content->addSubview(inner);
  content->addSubview(own);
  window->orderFront();
  own->setAppearance(aqua());
  EXPECT_EQ(own->changes, 0) << "its own appearance is the one it had";
  EXPECT_EQ(inner->effectiveAppearance(), aqua()) << "the system's aqua until set";

  // Steps: the system goes dark, the application keeps light, the view's
  // own is cleared, the application follows the system again.
  struct Step {
    const char* what;
    std::function<void()> act;
    std::shared_ptr<NSAppearance> inner, own;
    int innerChanges, ownChanges;
  };
  const Step steps[] = {
      {"system dark", [] { NSAppearance::setSystemAppearance(dark()); }, dark(), aqua(), 1, 0},
      {"system dark again", [] { NSAppearance::setSystemAppearance(dark()); }, dark(), aqua(), 1, 0},
      {"application light", [] { NSApplication::shared()->setAppearance(aqua()); }, aqua(), aqua(), 2, 0},
      {"own cleared", [&] { own->setAppearance(nullptr); }, aqua(), aqua(), 2, 0},
      {"application follows the system", [] { NSApplication::shared()->setAppearance(nullptr); }, dark(), dark(), 3, 1},
      {"content light", [&] { content->setAppearance(aqua()); }, aqua(), aqua(), 4, 2},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_EQ(inner->effectiveAppearance(), s.inner) << s.what;
    EXPECT_EQ(own->effectiveAppearance(), s.own) << s.what;
    EXPECT_EQ(inner->changes, s.innerChanges) << s.what;
    EXPECT_EQ(own->changes, s.ownChanges) << s.what;
  }
}

TEST_F(NSAppearanceTest, NamedColoursResolveAgainstTheDrawingViewsAppearance) {
  NSAppearance::setSystemAppearance(dark());
  auto light = std::make_shared<ProbeView>(NSMakeRect(0, 0, 4, 4));
  light->setAppearance(aqua());
  auto inherited = std::make_shared<ProbeView>(NSMakeRect(0, 0, 4, 4));
  light->cacheDisplayInRect(light->bounds(), light->bitmapImageRepForCachingDisplayInRect(light->bounds()));
  inherited->cacheDisplayInRect(inherited->bounds(), inherited->bitmapImageRepForCachingDisplayInRect(inherited->bounds()));
  ASSERT_TRUE(light->drawnWindowBackground && inherited->drawnWindowBackground);
  EXPECT_GT(light->drawnWindowBackground->redComponent(), 0.9);
  EXPECT_LT(inherited->drawnWindowBackground->redComponent(), 0.3);
  EXPECT_LT(NSColor::windowBackgroundColor().redComponent(), 0.3) << "outside drawing: the application's";

  struct Case {
    const char* what;
    NSColor (*color)();
  };
  const Case cases[] = {{"window background", NSColor::windowBackgroundColor},
                        {"control background", NSColor::controlBackgroundColor},
                        {"text background", NSColor::textBackgroundColor},
                        {"label", NSColor::labelColor},
                        {"secondary label", NSColor::secondaryLabelColor},
                        {"text", NSColor::textColor}};
  for (const auto& c : cases) {
    NSColor inLight = NSColor::clearColor(), inDark = NSColor::clearColor();
    aqua()->performAsCurrentDrawingAppearance([&] { inLight = c.color(); });
    dark()->performAsCurrentDrawingAppearance([&] { inDark = c.color(); });
    // Text stays legible on its background in both.
    const bool text = c.color == NSColor::labelColor || c.color == NSColor::secondaryLabelColor ||
                      c.color == NSColor::textColor;
    if (text) {
      EXPECT_LT(inLight.redComponent(), 0.5) << c.what;
      EXPECT_GT(inDark.redComponent(), 0.5) << c.what;
    } else {
      EXPECT_GT(inLight.redComponent(), 0.5) << c.what;
      EXPECT_LT(inDark.redComponent(), 0.5) << c.what;
    }
  }
  EXPECT_EQ(NSAppearance::currentDrawingAppearance(), dark()) << "put back after each block";
}

TEST_F(NSAppearanceTest, APushButtonDrawsInItsAppearanceAndTheDefaultOneInTheAccentColour) {
  // "Cancel" beside "Done", which may be the default; one of them drawn.
  // The face beside the title; across the title's opaque pixels, a white
  // title's reddest or a dark one's least red.
  const struct Case {
    const char* drawn;
    bool doneIsDefault, dark;
    NSBezelStyle bezel;
    bool whiteTitle;
    testing::Pixel face;
  } cases[] = {{"Done", true, false, NSBezelStyle::rounded, true, {0, 122, 255, 255}},
               {"Done", true, true, NSBezelStyle::rounded, true, {10, 132, 255, 255}},
               {"Done", false, true, NSBezelStyle::rounded, false, {255, 255, 255, 255}},
               {"Cancel", true, false, NSBezelStyle::rounded, false, {255, 255, 255, 255}},
               // No face: the title in the label colour, light in the dark appearance.
               {"Done", true, false, NSBezelStyle::regularSquare, false, {0, 0, 0, 0}},
               {"Done", true, true, NSBezelStyle::regularSquare, true, {0, 0, 0, 0}}};
  for (const auto& c : cases) {
    auto window = NSWindow::make(NSMakeRect(0, 0, 200, 100), 1);
    window->setContentView(std::make_shared<NSView>(NSMakeRect(0, 0, 200, 100)));
    window->contentView()->setAppearance(c.dark ? dark() : aqua());
    auto done = NSButton::buttonWithTitle("Done", [] {}), cancel = NSButton::buttonWithTitle("Cancel", [] {});
    window->contentView()->addSubview(cancel);
    window->contentView()->addSubview(done);
    if (c.doneIsDefault) window->setDefaultButtonCell(done->cell());
    const auto button = std::string(c.drawn) == "Done" ? done : cancel;
    button->setBezelStyle(c.bezel);
    auto rep = button->bitmapImageRepForCachingDisplayInRect(button->bounds());
    button->cacheDisplayInRect(button->bounds(), rep);
    const auto at = [&](int x) { return testing::pixelAt(rep->bitmapData(), rep->bytesPerRow(), x, rep->pixelsHigh() / 2); };
    std::vector<int> reds;
    for (int x = 0; x < rep->pixelsWide(); ++x)
      if (at(x)[3] > 200) reds.push_back(at(x)[0]);
    SCOPED_TRACE(::testing::Message() << c.drawn << " default " << c.doneIsDefault << " dark " << c.dark);
    EXPECT_EQ(at(3), c.face);
    ASSERT_FALSE(reds.empty());
    EXPECT_TRUE(c.whiteTitle ? *std::max_element(reds.begin(), reds.end()) > 200
                             : *std::min_element(reds.begin(), reds.end()) < 60);
  }
}

}  // namespace
}  // namespace platform
