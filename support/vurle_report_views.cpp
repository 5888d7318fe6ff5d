// vurle_report_views FOLDER [SCALE]
//
// Writes PNGs of the windows the support folder completes into FOLDER
// (made when missing), at SCALE pixels per point (2 by default), on a
// simulated clock against a loopback site, so the pictures are the same on
// every run: the bug-report form in each of its looks,
// bug_report_editing.png, bug_report_newer_release.png,
// bug_report_sent.png, and the About window with its update settings card,
// about_window_unconfigured.png (a build without an update configuration)
// and about_window_started.png (a configured updater, started). A bundle
// and settings of the tool's own, in a folder removed afterwards, stand in
// for the user's; the bundle's information dictionary is the program's
// (its version and build), with the updater's keys each look sets. (The
// settings views, which may not see the form or the card, are
// vurle_views'.) Exits 1 with a message when a picture cannot be written
// or is blank (one colour all over), 2 on bad usage.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>

#include "platform/appkit/screen.hpp"
#include "platform/appkit/window.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/coding/data.hpp"
#include "platform/coding/json_coding.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dispatch/test_hang_guard.hpp"
#include "platform/network/loopback_server.hpp"
#include "platform/network/url_session.hpp"
#include "platform/ui/drawing.hpp"
#include "platform/windowserver/window_server.hpp"
#include "support/bug_report_window.hpp"
#include "support/update_configuration.hpp"
#include "support/update_settings_card.hpp"
#include "support/vurle_updates.hpp"
#include "ui/onboarding/about_window.hpp"

using namespace platform;
using namespace platform::ui;
using namespace vurle;

namespace {

bool reported(bool written, const std::filesystem::path& path) {
  return reportWrittenPicture("vurle_report_views", written, path.string());
}

// The About window as the program builds it, for an unconfigured build (the
// program's information dictionary as it is) and for a configured updater
// once started, from a bundle in `bundle` whose information dictionary each
// look writes. The feed's host goes to `site`, though a started updater
// asks nothing until a check.
bool writeAboutWindows(SimulatedSchedulerScope& scope, const LoopbackServer& site, const std::filesystem::path& bundle,
                       const std::filesystem::path& folder, double scale) {
  std::error_code failed;
  std::filesystem::create_directories(bundle / "Resources", failed);
  if (!failed) {
    std::filesystem::copy_file(VURLE_LOGO_PATH, bundle / "Resources" / "vurle-logo.svg",
                               std::filesystem::copy_options::overwrite_existing, failed);
  }
  if (failed) {
    std::fprintf(stderr, "vurle_report_views: cannot lay out a bundle in %s: %s\n", bundle.c_str(),
                 failed.message().c_str());
    return false;
  }
  const auto programInfo = std::filesystem::path(VURLE_PROGRAM_BUNDLE) / "Info.json";
  const JSON program = JSON::parse(std::ifstream(programInfo), nullptr, false);
  if (!program.is_object()) {
    std::fprintf(stderr, "vurle_report_views: cannot read the program's %s\n", programInfo.c_str());
    return false;
  }
  const std::string host = UpdateConfiguration::updateServiceHost();
  URLSession::routeHostForTesting(host, NSURL::URLWithString(site.baseURL()).value());
  const JSON configured = {{"VurleUpdatesEnabled", "YES"},
                           {"SUFeedURL", "https://" + host + "/appcast.xml"},
                           {"SUPublicEDKey", base64EncodedString(Data(32, 7))}};
  bool ok = true;
  for (const auto& [name, keys, start] : {std::tuple{"about_window_unconfigured.png", JSON::object(), false},
                                          std::tuple{"about_window_started.png", configured, true}}) {
    JSON info = program;
    info.update(keys);
    if (!(std::ofstream(bundle / "Info.json") << info.dump())) {
      std::fprintf(stderr, "vurle_report_views: cannot write %s\n", (bundle / "Info.json").c_str());
      ok = false;
      continue;
    }
    NSBundle::setMainBundlePath(bundle);
    auto updates = VurleUpdates::make();
    if (start) updates->start();
    scope->runUntilIdle();
    if (start && !updates->canCheckForUpdates()) {
      std::fprintf(stderr, "vurle_report_views: the updater did not start: %s\n", updates->message().c_str());
      ok = false;
      continue;
    }
    auto controller = VurleAboutWindowController::make(UpdateSettingsCard(updates));
    const auto path = folder / name;
    ok &= reported(writeWindowPNG(*controller->window(), path.string(), scale), path);
  }
  return ok;
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

  // The user's settings and caches are never read or written.
  const auto own = std::filesystem::temp_directory_path() / ("vurle-report-views-" + std::to_string(::getpid()));
  ::setenv("XDG_CONFIG_HOME", (own / "config").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (own / "cache").c_str(), 1);
  WindowServer::shared();
  SimulatedSchedulerScope scope;
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  LoopbackServer site;
  std::string releases = R"([{"version":"0.2.0","build":2,"minimumSystemVersion":"15.0"}])";
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
  // The form reports the program's own version and build.
  NSBundle::setMainBundlePath(VURLE_PROGRAM_BUNDLE);
  options.metadata = BugReportMetadata::current();
  if (!NSBundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString")) {
    std::fprintf(stderr, "vurle_report_views: the program's bundle %s has no version\n", VURLE_PROGRAM_BUNDLE);
    return 1;
  }
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
    ok &= reported(host && writePNG(*host->graph(), path.string(), scale), path);
  };
  const auto checked = [&] { return store->versionState().kind != BugReportVersionState::Kind::checking; };

  const auto step = [&](bool done, const char* what) {
    if (!done) std::fprintf(stderr, "vurle_report_views: %s did not finish\n", what);
    ok &= done;
  };
  presenter->present(parent, store);
  step(pumpSimulatedUntil(scope, checked), "the first release check");
  presenter->hostingView()->typeText("Pointer froze");
  scope->runUntilIdle();
  write("bug_report_newer_release.png");
  presenter->dismiss();

  releases = "[]";
  scope->advance(BugReportStore::releaseCheckSpacing + 1);
  presenter->present(parent, store);
  step(pumpSimulatedUntil(scope, checked), "the second release check");
  store->setDetails("1. Open a text editor\n2. Move the pointer over the text\n3. The pointer stops moving");
  scope->runUntilIdle();
  write("bug_report_editing.png");

  presenter->hostingView()->pressReturn();
  step(pumpSimulatedUntil(scope, [&] { return store->didSend(); }), "sending");
  scope->advance(1);
  write("bug_report_sent.png");
  presenter->dismiss();
  presenter.reset();
  parent.reset();
  scope->runUntilIdle();

  ok &= writeAboutWindows(scope, site, own / "bundle", folder, scale);
  scope->runUntilIdle();
  std::error_code ignored;
  std::filesystem::remove_all(own, ignored);
  return ok ? 0 : 1;
}
