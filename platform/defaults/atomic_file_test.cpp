#include "platform/defaults/atomic_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>

namespace platform {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder);
    std::ofstream(target) << "old settings";
  }
  void TearDown() override { fs::remove_all(folder); }
  std::string contents() const {
    std::ifstream file(target);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {})); }

  const fs::path folder = fs::temp_directory_path() / ("vurle-atomic-" + std::to_string(::getpid()));
  const fs::path target = folder / "domain.json";
};

TEST_F(AtomicFileTest, CommitReplacesTheFileWhole) {
  {
    AtomicFileWriter writer(target);
    writer.write(dataFromString("new settings"));
    EXPECT_EQ(contents(), "old settings");  // nothing visible before the rename
    writer.commit();
  }
  EXPECT_EQ(contents(), "new settings");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, AWriteInterruptedBeforeTheRenameLeavesTheOldFile) {
  fs::path temporary;
  {
    AtomicFileWriter writer(target);
    temporary = writer.temporaryPath();
    writer.write(dataFromString("half"));
    EXPECT_TRUE(fs::exists(temporary));
  }
  EXPECT_EQ(contents(), "old settings");
  EXPECT_FALSE(fs::exists(temporary));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(AtomicFileTest, FailuresThrowAndLeaveTheOldFile) {
  EXPECT_THROW(AtomicFileWriter(folder / "missing" / "domain.json"), std::system_error);
  // The destination is a folder that is not empty: the rename must fail.
  fs::create_directories(folder / "busy" / "inside");
  AtomicFileWriter writer(folder / "busy");
  writer.write(dataFromString("x"));
  EXPECT_THROW(writer.commit(), std::system_error);
  EXPECT_EQ(contents(), "old settings");
}

}  // namespace
}  // namespace platform
