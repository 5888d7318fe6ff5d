#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/program.hpp"
#include "app/scenario_run.hpp"
#include "platform/desktop/screen_recorder.hpp"
#include "platform/appkit/window.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/network/url_session.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

// Darkest pixel (0..255 luminance) in a square around (x, y).
int darkestAround(cairo_surface_t* png, int x, int y, int radius) {
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int darkest = 255;
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      const auto* px = reinterpret_cast<const uint32_t*>(data + (y + dy) * stride) + (x + dx);
      const int luminance = (((*px >> 16) & 0xFF) + ((*px >> 8) & 0xFF) + (*px & 0xFF)) / 3;
      darkest = std::min(darkest, luminance);
    }
  }
  return darkest;
}

TEST(ScenarioProgramTest, ATextFieldUnderTheMovingPointerMorphsThePointerAndHandsItBack) {
  const fs::path root = fs::temp_directory_path() / ("vurle-program-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  const fs::path scenario = root / "field.json";
  std::ofstream(scenario) << R"({
    "name": "field",
    "screens": [{"frame": [0, 0, 1000, 700], "backingFactor": 2}],
    "windows": [{"frame": [100, 100, 500, 400], "owner": {"pid": 701, "name": "Notes"},
                 "cursors": [{"rect": [150, 200, 400, 100], "cursor": "text"}]}],
    "pointer": [700, 600],
    "timeline": [{"wait": 0.3}, {"move": {"to": [300, 250], "duration": 0.4}}, {"wait": 0.6}]
  })";
  std::ostringstream out, err;
  const int status = runScenario({scenario.string(), (root / "run").string()}, programScenarioLaunch(), out, err);
  const std::string summary = out.str();
  ASSERT_EQ(status, 0) << err.str() << summary;
  // One change, arrow to I-beam, morphed by this process and handed back.
  EXPECT_NE(summary.find("cursor changes: 1, transitions played: 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("hand-backs to the native cursor: 1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("the cursor is visible with a hide count of 0"), std::string::npos) << summary;
  EXPECT_TRUE(fs::exists(root / "run" / "trace.json"));
  EXPECT_TRUE(fs::exists(root / "run" / "transitions" / "01-text.png"));
  EXPECT_TRUE(fs::exists(root / "run" / "settings"));

  // The last frame: the pointer rests on the field with the system's I-beam
  // back, its hotspot (the beam's middle) on the pointer at the picture's
  // centre, and the field's white around it.
  fs::path last;
  for (const auto& entry : fs::directory_iterator(root / "run" / "frames")) {
    if (last.empty() || entry.path().filename() > last.filename()) last = entry.path();
  }
  ASSERT_FALSE(last.empty());
  cairo_surface_t* png = cairo_image_surface_create_from_png(last.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  const int cx = cairo_image_surface_get_width(png) / 2;
  const int cy = cairo_image_surface_get_height(png) / 2;
  EXPECT_LT(darkestAround(png, cx, cy, 1), 100);  // the beam's stroke
  EXPECT_GT(darkestAround(png, cx + 40, cy, 1), 200);  // the field, 20 points to the right
  cairo_surface_destroy(png);
  fs::remove_all(root);
  platform::resetProcessState();
}

// Cairo and fontconfig keep their font caches for the life of the process.
class FontCacheRelease : public ::testing::Environment {
 public:
  void TearDown() override { platform::releaseDrawingCaches(); }
};
const auto* const fontCacheRelease = ::testing::AddGlobalTestEnvironment(new FontCacheRelease);

TEST(ProgramSeamsTest, ReportABugOpensTheFormAsASheetOnTheMainWindowOnce) {
  platform::WindowServer::shared();
  platform::resetProcessState();
  platform::SimulatedSchedulerScope scope;
  // The shared store checks the site's release list: the site is a loopback server here.
  platform::LoopbackServer site;
  site.server().Get("/releases.json", [](const httplib::Request&, httplib::Response& response) {
    response.set_content("[]", "application/json");
  });
  platform::URLSession::routeHostForTesting("vurle.app", *platform::NSURL::URLWithString(site.baseURL()));
  {
    auto window = platform::NSWindow::make(platform::CGRectMake(100, 100, 460, 591), 2);
    window->setContentView(std::make_shared<platform::NSView>(platform::CGRectZero));
    window->makeKeyAndOrderFront();
    const ShellSeams seams = programSeams();
    // The form is not drawn here: the process's pinned fonts must not
    // outlive the font caches this program releases at its end.
    seams.presentBugReport(window);
    const auto sheet = window->attachedSheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->title(), "Report a bug");
    seams.presentBugReport(window);
    EXPECT_EQ(window->attachedSheet(), sheet) << "the open form comes forward; no second one";
    window->endSheet(sheet);
  }
  scope->runUntilIdle();
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
