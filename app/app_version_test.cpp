#include "app/app_version.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/bundle/bundle.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

TEST(AppVersionTest, TheVersionAndBuildAreTheBundlesStringsElseTheirDefaultsReadAtEveryCall) {
  const fs::path root = fs::temp_directory_path() / ("vurle-version-" + std::to_string(::getpid()));
  struct Case {
    const char* info;  // nullptr: no information dictionary
    const char* version;
    const char* build;
  };
  const std::vector<Case> cases{
      {R"({"CFBundleShortVersionString": "1.4", "CFBundleVersion": "87"})", "1.4", "87"},
      {R"({"CFBundleShortVersionString": "2.0"})", "2.0", "12"},
      {R"({"CFBundleShortVersionString": 1.4, "CFBundleVersion": 87})", "0.10", "12"},
      {R"({"CFBundleVersion": ["87"]})", "0.10", "12"},
      {nullptr, "0.10", "12"},
  };
  platform::resetProcessState();
  for (const auto& c : cases) {
    fs::remove_all(root);
    fs::create_directories(root);
    if (c.info) std::ofstream(root / "Info.json") << c.info;
    // The same process, another bundle: nothing of the last one is kept.
    platform::NSBundle::setMainBundlePath(root);
    EXPECT_EQ(appShortVersion(), c.version) << (c.info ? c.info : "none");
    EXPECT_EQ(appBuildVersion(), c.build) << (c.info ? c.info : "none");
  }
  fs::remove_all(root);
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
