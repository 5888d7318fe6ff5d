#include "platform/desktop/screen_recorder.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/appkit/color.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/ui/graph.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/desktop/simulated_desktop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/graphics/appkit_image.hpp"
#include "platform/graphics/context.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace platform {
namespace {

uint8_t alphaOf(uint32_t pixel) { return static_cast<uint8_t>(pixel >> 24); }
uint8_t redOf(uint32_t pixel) { return static_cast<uint8_t>(pixel >> 16); }
uint8_t greenOf(uint32_t pixel) { return static_cast<uint8_t>(pixel >> 8); }
uint8_t blueOf(uint32_t pixel) { return static_cast<uint8_t>(pixel); }

// A solid, opaque RGBA image.
CGImageRef solidImage(size_t width, size_t height, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> bytes(width * height * 4);
  for (size_t i = 0; i < width * height; ++i) {
    bytes[4 * i] = r;
    bytes[4 * i + 1] = g;
    bytes[4 * i + 2] = b;
    bytes[4 * i + 3] = 255;
  }
  auto data = CFDataCreate(bytes.data(), bytes.size());
  return CGImageCreate(width, height, 8, 32, width * 4, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaPremultipliedLast,
                       CGDataProviderCreateWithCFData(data), nullptr, false, kCGRenderingIntentDefault);
}

// A view that fills its bounds with red in its own drawRect.
class RedView : public NSView {
 public:
  using NSView::NSView;
  void drawRect(NSRect) override {
    NSColor::colorWithSRGBRed(1, 0, 0, 1).setFill();
    CGContextFillRect(NSGraphicsContext::currentContext()->CGContext(), bounds());
  }
};

class ScreenRecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WindowServer::shared();
    resetProcessState();
    scenario_.screens = {{CGRectMake(0, 0, 1000, 800), 2.0, 0.0, std::nullopt}};
    scenario_.pointerStart = {400, 300};
  }
  void TearDown() override { resetProcessState(); }

  SimulatedSchedulerScope scope_;
  Scenario scenario_;
};

TEST_F(ScreenRecorderTest, TheCursorIsDrawnWithItsHotspotOnThePointerOnlyWhileItShows) {
  SimulatedDesktop desktop(scenario_);
  // A cursor whose whole image is red, hotspot 3 points in from its top-left corner.
  CursorImageSet red;
  red.images = {solidImage(20, 20, 255, 0, 0)};
  red.size = {10, 10};
  red.hotSpot = {3, 3};
  CurrentCursor::shared().setCursorFromAnotherApplication(red);

  ScreenRecorder recorder({{100, 80}, 2.0});
  const CGPoint pointer{400, 300};
  auto picture = recorder.capture(pointer);
  ASSERT_TRUE(picture);
  ASSERT_EQ(picture->width(), 200);
  ASSERT_EQ(picture->height(), 160);
  // The pointer sits at the picture's centre: (50, 40) points, (100, 80) pixels.
  const uint32_t atHotspot = picture->pixel(100, 80);
  EXPECT_EQ(redOf(atHotspot), 255);
  EXPECT_EQ(greenOf(atHotspot), 0);
  // The image starts 3 points up and left of the pointer and ends 7 points after it.
  EXPECT_EQ(redOf(picture->pixel(100 - 6, 80 - 6)), 255);
  EXPECT_NE(redOf(picture->pixel(100 - 7, 80)), 255);
  EXPECT_EQ(redOf(picture->pixel(100 + 13, 80 + 13)), 255);
  EXPECT_NE(redOf(picture->pixel(100 + 14, 80)), 255);

  // Unchanged: nothing new to record.
  EXPECT_FALSE(recorder.capture(pointer));

  CursorState::shared().hideCursor(7);
  auto hidden = recorder.capture(pointer);
  ASSERT_TRUE(hidden);
  EXPECT_NE(redOf(hidden->pixel(100, 80)), 255);
  CursorState::shared().showCursor(7);
}

TEST_F(ScreenRecorderTest, OwnWindowsAreDrawnFromTheirLayersUpsideUp) {
  SimulatedDesktop desktop(scenario_);
  CursorState::shared().hideCursor(7);  // only the window matters here
  // A window at AppKit (350, 460) of 100 × 80 points: window-server y 800 - 540 = 260.
  auto window = NSWindow::make(NSMakeRect(350, 460, 100, 80), 2.0);
  auto content = std::make_shared<NSView>(NSMakeRect(0, 0, 100, 80));
  content->setWantsLayer(true);
  window->setContentView(content);
  auto sublayer = CALayer::make();
  // 10 × 10 points at the bottom left of the window in the layer's y-up space.
  sublayer->setFrame(CGRectMake(0, 0, 10, 10));
  sublayer->setContents(solidImage(20, 20, 0, 0, 255));
  sublayer->setMagnificationFilter(kCAFilterNearest);
  content->layer()->addSublayer(sublayer);
  window->orderFront();

  ScreenRecorder recorder({{200, 200}, 1.0});
  recorder.setOwnWindows({window});
  // The picture's top-left point is (300, 200); the window's bottom edge is at y 340.
  auto picture = recorder.draw({400, 300});
  EXPECT_EQ(blueOf(picture.pixel(50 + 5, 140 - 5)), 255);
  EXPECT_EQ(redOf(picture.pixel(50 + 5, 140 - 5)), 0);
  EXPECT_NE(blueOf(picture.pixel(50 + 5, 140 - 15)), 255);  // above the layer
  EXPECT_NE(blueOf(picture.pixel(50 + 5, 140 + 1)), 255);   // below the window

  sublayer->setHidden(true);
  EXPECT_NE(blueOf(recorder.draw({400, 300}).pixel(55, 135)), 255);
  sublayer->setHidden(false);
  window->setAlphaValue(0);
  EXPECT_NE(blueOf(recorder.draw({400, 300}).pixel(55, 135)), 255);
  CursorState::shared().showCursor(7);
}

TEST_F(ScreenRecorderTest, HostedContentIsDrawnInFramesAndWindowPicturesShowTheSheetOnTheWindow) {
  SimulatedDesktop desktop(scenario_);
  CursorState::shared().hideCursor(7);
  // The window's top-left at window-server (350, 260), 100 × 80 points; an
  // unflipped content view holds a hosting view in its lower half whose
  // page is blue over green, and a view that draws itself red in the left
  // of its upper half.
  auto window = NSWindow::make(NSMakeRect(350, 460, 100, 80), 2.0);
  window->setContentView(std::make_shared<NSView>(NSMakeRect(0, 0, 100, 80)));
  auto host = ui::NSHostingView::make(
      ui::VStack(ui::HorizontalAlignment::center, 0,
                 {ui::ColorView(ui::Color::sRGB(0, 0, 1)), ui::ColorView(ui::Color::sRGB(0, 1, 0))}),
      NSMakeRect(0, 0, 100, 40));
  window->contentView()->addSubview(host);
  window->contentView()->addSubview(std::make_shared<RedView>(NSMakeRect(0, 40, 40, 40)));
  window->orderFront();
  scope_->runUntilIdle();

  ScreenRecorder recorder({{200, 200}, 1.0});
  recorder.setOwnWindows({window});
  auto picture = recorder.draw({400, 300});  // top-left (300, 200): the window at (50, 60)
  EXPECT_EQ(blueOf(picture.pixel(50 + 50, 60 + 50)), 255) << "the page's upper colour";
  EXPECT_EQ(greenOf(picture.pixel(50 + 50, 60 + 70)), 255) << "its lower colour";
  EXPECT_EQ(redOf(picture.pixel(50 + 20, 60 + 20)), 255) << "drawn as the window's own picture draws views";
  EXPECT_NE(redOf(picture.pixel(50 + 60, 60 + 20)), 255) << "the rest of the upper half is empty";
  EXPECT_NE(blueOf(picture.pixel(50 + 60, 60 + 20)), 255);
  // Cut by the picture's edge, its top-left at (360, 280): the window's
  // left 10 and top 20 points are outside, the rest stays in place.
  auto cut = recorder.draw({460, 380});
  EXPECT_EQ(redOf(cut.pixel(10, 10)), 255);
  EXPECT_EQ(blueOf(cut.pixel(10, 30)), 255);
  EXPECT_EQ(greenOf(cut.pixel(10, 50)), 255);
  EXPECT_NE(redOf(cut.pixel(35, 10)), 255);

  const auto folder = std::filesystem::temp_directory_path() / ("vurle-window-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  auto sheet = NSWindow::make(NSMakeRect(0, 0, 60, 30), 2.0);
  sheet->setContentView(ui::NSHostingView::make(ui::ColorView(ui::Color::sRGB(1, 0, 0)), NSMakeRect(0, 0, 60, 30)));
  window->beginSheet(sheet);
  scope_->runUntilIdle();
  std::string error;
  const auto path = (folder / "window.png").string();
  ASSERT_TRUE(writeWindowPicture(*window, path, 2, &error)) << error;
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 200);
  const auto at = [&](int x, int y) {
    cairo_surface_flush(png);
    return reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(png) +
                                             y * cairo_image_surface_get_stride(png))[x];
  };
  EXPECT_EQ(redOf(at(100, 10)), 255) << "the sheet, centred at the top (an untitled window has no bar)";
  EXPECT_EQ(greenOf(at(100, 150)), 255) << "the window's page below it";
  cairo_surface_destroy(png);
  EXPECT_FALSE(writeWindowPicture(*window, (folder / "missing" / "window.png").string(), 2, &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(folder);
  CursorState::shared().showCursor(7);
}

TEST_F(ScreenRecorderTest, PicturesAndContactSheetsAreWrittenOrTheFaultIsSaid) {
  SimulatedDesktop desktop(scenario_);
  ScreenRecorder recorder({{40, 30}, 2.0});
  ScreenPicture first = recorder.draw({100, 100});
  ScreenPicture second = recorder.draw({300, 300});
  EXPECT_EQ(alphaOf(first.pixel(0, 0)), 255);

  const auto folder = std::filesystem::temp_directory_path() / ("vurle-recorder-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  std::string error;
  ASSERT_TRUE(first.writePNG((folder / "frame.png").string(), &error)) << error;
  EXPECT_GT(std::filesystem::file_size(folder / "frame.png"), 0u);
  ASSERT_TRUE(writeContactSheet({&first, &second}, {"a", "b"}, 4, (folder / "sheet.png").string(), &error)) << error;
  EXPECT_GT(std::filesystem::file_size(folder / "sheet.png"), 0u);

  EXPECT_FALSE(first.writePNG((folder / "missing" / "frame.png").string(), &error));
  EXPECT_NE(error.find("missing/frame.png"), std::string::npos) << error;
  EXPECT_FALSE(writeContactSheet({}, {}, 4, (folder / "empty.png").string(), &error));
  EXPECT_FALSE(std::filesystem::exists(folder / "empty.png"));
  std::filesystem::remove_all(folder);
}

// Cairo and fontconfig keep their font caches for the life of the process;
// releasing them at the end keeps the leak checker's report to our own code.
class FontCacheRelease : public ::testing::Environment {
 public:
  void TearDown() override { releaseDrawingCaches(); }
};
const auto* const fontCacheRelease = ::testing::AddGlobalTestEnvironment(new FontCacheRelease);

}  // namespace
}  // namespace platform
