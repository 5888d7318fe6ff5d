#include "platform/foundation/file_manager.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetProcessState();
    FileManagerFaults::reset();
    root_ = fs::temp_directory_path() / ("vurle-system-root-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "System/Library/Folder");
    std::ofstream(root_ / "System/Library/Folder/a.txt") << "a";
    std::ofstream(root_ / "System/Library/Folder/b.txt") << "b";
    std::ofstream(root_ / "outside.txt") << "x";
  }
  void TearDown() override {
    fs::remove_all(root_);
    FileManagerFaults::reset();
    resetProcessState();
  }
  fs::path root_;
};

TEST_F(FileManagerTest, SystemPathsResolveUnderTheRootAndNeverLeaveIt) {
  struct Case {
    std::string path;
    bool withRoot;
    std::optional<std::string> underRoot;  // none: names nothing; "=": the path itself
  };
  const Case cases[] = {
      {"/System/Library/Folder/a.txt", true, "System/Library/Folder/a.txt"},
      {"/System", true, "System"},
      {"/System/Library/../Library/Folder", true, "System/Library/Folder"},
      {"/System/../outside.txt", true, "outside.txt"},
      {"/System/../../etc/passwd", true, std::nullopt},
      {"/System/Library/Folder/a.txt", false, std::nullopt},
      {"/Systemic/file", true, "="},
      {"/tmp/file", true, "="},
  };
  for (const auto& c : cases) {
    setSystemRoot(c.withRoot ? std::optional<fs::path>(root_) : std::nullopt);
    const fs::path resolved = resolveFilePath(c.path);
    if (!c.underRoot) {
      EXPECT_TRUE(resolved.empty()) << c.path << " -> " << resolved;
    } else if (*c.underRoot == "=") {
      EXPECT_EQ(resolved, fs::path(c.path)) << c.path;
    } else {
      EXPECT_EQ(resolved, (root_ / *c.underRoot).lexically_normal()) << c.path;
    }
  }
}

TEST_F(FileManagerTest, ListsSystemFoldersAsSystemPathsAndReportsFailures) {
  auto& files = NSFileManager::defaultManager();
  const NSURL folder = NSURL::fileURLWithPath("/System/Library/Folder");
  EXPECT_FALSE(files.contentsOfDirectoryAtURL(folder)) << "no root: nothing is there";
  EXPECT_FALSE(files.fileExistsAtPath("/System/Library/Folder/a.txt"));

  setSystemRoot(root_);
  auto listed = files.contentsOfDirectoryAtURL(folder);
  ASSERT_TRUE(listed);
  std::vector<std::string> paths;
  for (const auto& url : *listed) paths.push_back(url.path());
  std::sort(paths.begin(), paths.end());
  EXPECT_EQ(paths, (std::vector<std::string>{"/System/Library/Folder/a.txt", "/System/Library/Folder/b.txt"}));
  EXPECT_TRUE(files.fileExistsAtPath("/System/Library/Folder/a.txt"));
  EXPECT_FALSE(files.fileExistsAtPath("/System/Library/Folder/c.txt"));

  EXPECT_FALSE(files.contentsOfDirectoryAtURL(NSURL::fileURLWithPath("/System/Library/Missing")));
  EXPECT_FALSE(files.contentsOfDirectoryAtURL(NSURL::fileURLWithPath("/System/Library/Folder/a.txt")));
  EXPECT_FALSE(files.contentsOfDirectoryAtURL(*NSURL::URLWithString("https://example.com/System")));
  FileManagerFaults::failNextListing();
  EXPECT_FALSE(files.contentsOfDirectoryAtURL(folder)) << "the injected failure";
  EXPECT_TRUE(files.contentsOfDirectoryAtURL(folder)) << "only the next listing fails";
}

}  // namespace
}  // namespace platform
