// vurle_report_views FOLDER [SCALE]
//
// Writes a PNG of the bug-report form in each of its looks into FOLDER
// (made when missing), at SCALE pixels per point (2 by default), on a
// simulated clock against a loopback site, so the pictures are the same on
// every run: bug_report_editing.png, bug_report_newer_release.png,
// bug_report_sent.png. (The settings views, which may not see the form,
// are vurle_views'.) Exits 1 with a message when a picture cannot be
// written, 2 on bad usage.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/ui/drawing.hpp"
#include "platform/windowserver/window_server.hpp"
#include "support/bug_report_window.hpp"

using namespace platform;
using namespace platform::ui;
using namespace vurle;

namespace {

// Serves the scheduler's work as the networking thread hands it over.
bool pump(SimulatedSchedulerScope& scope, const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    scope->runUntilIdle();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: vurle_report_views FOLDER [SCALE]\n");
    return 2;
  }
  const double scale = argc == 3 ? std::atof(argv[2]) : 2.0;
  if (!(scale > 0 && scale <= 8)) {
    std::fprintf(stderr, "vurle_report_views: SCALE must be a number above 0 and at most 8\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made) {
    std::fprintf(stderr, "vurle_report_views: cannot make %s: %s\n", folder.c_str(), made.message().c_str());
    return 1;
  }

  WindowServer::shared();
  SimulatedSchedulerScope scope;
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  LoopbackServer site;
  std::string releases = R"([{"version":"1.5","build":50,"minimumSystemVersion":"15.0"}])";
  site.server().Get("/releases.json", [&](const httplib::Request&, httplib::Response& response) {
    response.set_content(releases, "application/json");
  });
  // Accepted, under the id the report carries.
  site.server().Post(R"(.*/api/app-bug-reports)", [](const httplib::Request& request, httplib::Response& response) {
    const auto sent = JSON::parse(request.body, nullptr, false);
    const std::string id = sent.is_object() && sent.contains("id") && sent["id"].is_string() ? sent["id"].get<std::string>() : "";
    response.status = 201;
    response.set_content(JSON{{"accepted", true}, {"id", id}}.dump(), "application/json");
  });

  BugReportStore::Options options;
  options.defaults = NSUserDefaults::makeInMemory("mirt.vurle.report-views");
  options.metadata = BugReportMetadata{"1.4", "42", "14.6.1", "stable"};
  options.baseURL = site.baseURL();
  auto store = BugReportStore::make(std::move(options));
  auto parent = NSWindow::make(CGRectMake(100, 100, 460, 591), 2);
  parent->setContentView(std::make_shared<NSView>(CGRectZero));
  parent->makeKeyAndOrderFront();
  auto presenter = BugReportPresenter::make({makeIdleUpdates(), nullptr});

  bool ok = true;
  const auto write = [&](const char* name) {
    const auto path = folder / name;
    auto host = presenter->hostingView();
    if (host && writePNG(*host->graph(), path.string(), scale)) {
      std::printf("%s\n", path.c_str());
      return;
    }
    std::fprintf(stderr, "vurle_report_views: cannot write %s\n", path.c_str());
    ok = false;
  };
  const auto checked = [&] { return store->versionState().kind != BugReportVersionState::Kind::checking; };

  const auto step = [&](bool done, const char* what) {
    if (!done) std::fprintf(stderr, "vurle_report_views: %s did not finish\n", what);
    ok &= done;
  };
  presenter->present(parent, store);
  step(pump(scope, checked), "the first release check");
  presenter->hostingView()->typeText("Pointer froze");
  scope->runUntilIdle();
  write("bug_report_newer_release.png");
  presenter->dismiss();

  releases = "[]";
  scope->advance(BugReportStore::releaseCheckSpacing + 1);
  presenter->present(parent, store);
  step(pump(scope, checked), "the second release check");
  store->setDetails("1. Open a text editor\n2. Move the pointer over the text\n3. The pointer stops moving");
  scope->runUntilIdle();
  write("bug_report_editing.png");

  presenter->hostingView()->pressReturn();
  step(pump(scope, [&] { return store->didSend(); }), "sending");
  scope->advance(1);
  write("bug_report_sent.png");
  presenter->dismiss();
  presenter.reset();
  parent.reset();
  scope->runUntilIdle();
  return ok ? 0 : 1;
}
