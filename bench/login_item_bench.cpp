// What re-reading launch at login costs: every menu opening and settings
// page showing refreshes the status, which reads the autostart entry (a
// stat, the file, its lines, a stat of the program) on the main thread,
// however many other files the autostart folder holds.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "app/login_item.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/foundation/process_wide.hpp"

namespace {

namespace fs = std::filesystem;

// A bundle and a configuration folder of the benchmark's own; the entry
// registered or not, beside `others` files of other programs.
class LoginItemFixture {
 public:
  LoginItemFixture(bool registered, long others) {
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) saved_ = value;
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    fs::create_directories(root_ / "bundle");
    std::ofstream(root_ / "bundle" / "Info.json")
        << R"({"CFBundleIdentifier": "bench.login.item", "CFBundleName": "vurle", "CFBundleExecutable": "vurle"})";
    std::ofstream(root_ / "bundle" / "vurle") << "#!/bin/sh\n";
    fs::permissions(root_ / "bundle" / "vurle", fs::perms::owner_all);
    platform::NSBundle::setMainBundlePath(root_ / "bundle");
    fs::create_directories(root_ / "config" / "autostart");
    for (long n = 0; n < others; ++n) std::ofstream(root_ / "config" / "autostart" / ("other-" + std::to_string(n)));
    item_ = vurle::LoginItem::shared();
    if (registered) item_->setEnabled(true);
  }
  ~LoginItemFixture() {
    item_.reset();
    platform::resetProcessState();
    saved_ ? ::setenv("XDG_CONFIG_HOME", saved_->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(root_);
  }
  vurle::LoginItem& item() { return *item_; }
  fs::path entry() const { return root_ / "config" / "autostart" / "bench.login.item.desktop"; }
  fs::path executable() const { return root_ / "bundle" / "vurle"; }

 private:
  const fs::path root_ = fs::temp_directory_path() / ("vurle-bench-login-" + std::to_string(::getpid()));
  std::optional<std::string> saved_;
  std::shared_ptr<vurle::LoginItem> item_;
};

void BM_LoginItemRefreshStatus(benchmark::State& state) {
  const bool registered = state.range(0) != 0;
  LoginItemFixture fixture(registered, state.range(1));
  if (fixture.item().enabled() != registered) {
    state.SkipWithError("the entry is not as set up");
    return;
  }
  for (auto _ : state) {
    fixture.item().refreshStatus();
    benchmark::DoNotOptimize(fixture.item().enabled());
  }
  state.SetLabel(std::string(registered ? "entry present" : "no entry") + ", " + std::to_string(state.range(1)) +
                 " other files");
}
BENCHMARK(BM_LoginItemRefreshStatus)->Args({0, 0})->Args({1, 0});
// One run of fixed length, so that the crowded folder is made once.
BENCHMARK(BM_LoginItemRefreshStatus)->Args({1, 20'000})->Iterations(200);

// An entry whose Exec is env with a chain of 30,000 -S (60 KB) before the
// program: each -S re-reads the rest of the chain.
void BM_LoginItemRefreshStatusOfAnEnvChain(benchmark::State& state) {
  LoginItemFixture fixture(false, 0);
  std::string chain;
  for (int i = 0; i < 30'000; ++i) chain += "-S";
  std::ofstream(fixture.entry()) << "[Desktop Entry]\nType=Application\nName=vurle\nExec=env " << chain << " \""
                                 << fixture.executable().string() << "\"\n";
  fixture.item().refreshStatus();
  if (!fixture.item().enabled()) {
    state.SkipWithError("the entry does not read as on");
    return;
  }
  for (auto _ : state) {
    fixture.item().refreshStatus();
    benchmark::DoNotOptimize(fixture.item().enabled());
  }
}
BENCHMARK(BM_LoginItemRefreshStatusOfAnEnvChain);

}  // namespace
