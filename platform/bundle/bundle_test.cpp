#include "platform/bundle/bundle.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    fs::create_directories(root / "Resources");
  }
  void TearDown() override {
    resetProcessState();
    fs::remove_all(root);
  }
  void write(const fs::path& relative, const std::string& text) { std::ofstream(root / relative) << text; }

  const fs::path root = fs::temp_directory_path() /
                        ("vurle-bundle-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
};

TEST_F(BundleTest, ReadsIdentityInformationAndResources) {
  write("Info.json", R"({"CFBundleIdentifier": "mirt.vurle.app", "CFBundleVersion": "7", "VurleUpdatesEnabled": false})");
  write("Resources/EULA.json", "{}");
  auto bundle = NSBundle::bundleWithPath(root);
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(bundle->bundleIdentifier(), "mirt.vurle.app");
  ASSERT_NE(bundle->objectForInfoDictionaryKey("VurleUpdatesEnabled"), nullptr);
  EXPECT_EQ(*bundle->objectForInfoDictionaryKey("VurleUpdatesEnabled"), PropertyListValue(false));
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("SUFeedURL"), nullptr);

  auto eula = bundle->URLForResource("EULA", "json");
  ASSERT_TRUE(eula.has_value());
  EXPECT_TRUE(eula->isFileURL());
  EXPECT_EQ(fs::path(eula->path()), fs::canonical(root / "Resources/EULA.json"));
  for (auto [name, type] : {std::pair{"EULA", "txt"}, {"eula", "json"}, {"", "json"}, {"../Info", "json"}, {"..", ""}}) {
    EXPECT_FALSE(bundle->URLForResource(name, type).has_value()) << name << "." << type;
  }
  EXPECT_EQ(NSBundle::bundleWithPath(root / "Info.json"), nullptr);
  EXPECT_EQ(NSBundle::bundleWithPath(root / "missing"), nullptr);
}

TEST_F(BundleTest, AMalformedInformationDictionaryReadsAsEmptyAndIsReported) {
  // A hostile one nested far too deep is only another malformed file.
  const std::string deep = R"({"CFBundleIdentifier": "mirt.vurle.app", "x": )" + std::string(20000, '[') +
                           std::string(20000, ']') + "}";
  for (const std::string& text :
       {std::string(R"({"CFBundleIdentifier": )"), std::string(R"(["mirt.vurle.app"])"),
        std::string(R"({"CFBundleIdentifier": null})"), deep}) {
    write("Info.json", text);
    LogCapture log;
    auto bundle = NSBundle::bundleWithPath(root);
    EXPECT_TRUE(bundle->infoDictionary().empty()) << text.substr(0, 40);
    EXPECT_FALSE(bundle->bundleIdentifier().has_value());
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].find("Info.json"), std::string::npos);
  }
  write("Info.json", R"({"CFBundleIdentifier": 12})");
  EXPECT_FALSE(NSBundle::bundleWithPath(root)->bundleIdentifier().has_value());
}

TEST_F(BundleTest, MainBundleCanBePointedElsewhereUntilReset) {
  write("Info.json", R"({"CFBundleIdentifier": "test.bundle"})");
  std::error_code error;
  const auto executableFolder = fs::read_symlink("/proc/self/exe", error).parent_path();
  EXPECT_EQ(NSBundle::mainBundle()->bundlePath(), executableFolder);
  NSBundle::setMainBundlePath(root);
  EXPECT_EQ(NSBundle::mainBundle()->bundleIdentifier(), "test.bundle");
  resetProcessState();
  EXPECT_EQ(NSBundle::mainBundle()->bundlePath(), executableFolder);
}

// The running program's own bundle starts the running executable, whatever
// its dictionary says; any other bundle starts the file it names.
TEST_F(BundleTest, TheExecutableIsTheRunningOneOrTheOneTheDictionaryNames) {
  std::error_code error;
  EXPECT_EQ(NSBundle::mainBundle()->executablePath(), fs::read_symlink("/proc/self/exe", error));
  struct Case {
    const char* info;
    std::optional<std::string> executable;
  };
  const Case cases[] = {
      {R"({"CFBundleExecutable": "my \"odd\" app"})", "my \"odd\" app"},
      {R"({"CFBundleExecutable": "vurle"})", "vurle"},
      {R"({"CFBundleExecutable": "../vurle"})", std::nullopt},
      {R"({"CFBundleExecutable": ".."})", std::nullopt},
      {R"({"CFBundleExecutable": ""})", std::nullopt},
      {R"({"CFBundleExecutable": 3})", std::nullopt},
      {R"({})", std::nullopt},
  };
  for (const auto& c : cases) {
    write("Info.json", c.info);
    NSBundle::setMainBundlePath(root);
    const auto expected = c.executable ? std::optional<fs::path>(root / *c.executable) : std::nullopt;
    EXPECT_EQ(NSBundle::mainBundle()->executablePath(), expected) << c.info;
  }
}

}  // namespace
}  // namespace platform
