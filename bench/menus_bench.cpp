// Menus:
// - StatusMenu/open: the main thread's time to open the status menu and
//   close it again: the delegate's menuWillOpen (the login item re-read),
//   the validation of every item (the login item re-read again for its
//   check mark) and the tracking notifications. The login item is the
//   shared one over a real autostart entry in a temporary settings folder,
//   so both status reads are the file reads a user's menu makes. Reports
//   the median and 99th percentile per opening (counters median_us,
//   p99_us).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/app_delegate.hpp"
#include "app/login_item.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "platform/appkit/application.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace {

namespace fs = std::filesystem;

void BM_OpenStatusMenu(benchmark::State& state) {
  const fs::path root = fs::temp_directory_path() / ("vurle-menus-bench-" + std::to_string(::getpid()));
  fs::create_directories(root / "bundle");
  std::ofstream(root / "bundle" / "Info.json") << R"({"CFBundleIdentifier": "bench.vurle.menus", "CFBundleExecutable": "vurle"})";
  std::ofstream(root / "bundle" / "vurle") << "#!/bin/sh\n";
  fs::permissions(root / "bundle" / "vurle", fs::perms::owner_all);
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string previous = saved ? saved : "";
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  platform::resetProcessState();
  platform::NSBundle::setMainBundlePath(root / "bundle");
  std::vector<double> micros;
  {
    platform::SimulatedSchedulerScope scope;
    vurle::ShellSeams seams;
    seams.loginItem = vurle::LoginItem::shared();
    seams.loginItem->setEnabled(true);
    auto delegate = std::make_shared<vurle::AppDelegate>(seams);
    platform::NSApplication::shared()->setDelegate(delegate);
    delegate->setStatusItemVisible(true);
    const auto menu = delegate->statusItem()->menu();
    for (auto _ : state) {
      const auto start = std::chrono::steady_clock::now();
      menu->open();
      menu->cancelTracking();
      micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    delegate->engine()->stop();
  }
  std::sort(micros.begin(), micros.end());
  if (!micros.empty()) {
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
  }
  saved ? ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  platform::resetProcessState();
  fs::remove_all(root);
}
BENCHMARK(BM_OpenStatusMenu)->Name("StatusMenu/open")->Unit(benchmark::kMicrosecond);

}  // namespace
