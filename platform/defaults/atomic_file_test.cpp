#include "platform/defaults/atomic_file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/defaults/file_times_test_support.hpp"

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

// A temporary goes once it is more than the limit from the file system's
// now, before it or after it (a clock set back since a killed write); within
// the limit a writer may still be filling it. The limit is an hour here, so
// that no stall of the test moves a file across it: the two files a
// nanosecond from it sit where time passing takes them away from it.
TEST_F(AtomicFileTest, TemporariesGoOnceMoreThanTheLimitFromTheFileSystemsNow) {
  constexpr double limit = 3600;
  const struct {
    const char* name;
    double age;  // seconds before now; negative: after it
    bool removed;
  } cases[] = {
      {".domain.json.Past01", 2 * limit, true},
      {".domain.json.Past02", limit + 1e-9, true},
      {".domain.json.Now000", 0, false},
      {".domain.json.Ahead2", -(limit - 1e-9), false},
      {".domain.json.Ahead3", -1.5 * limit, true},
  };
  const timespec now = fileSystemNow(folder);
  for (const auto& c : cases) {
    std::ofstream(folder / c.name) << "partial";
    dateFile(folder / c.name, now, c.age);
  }
  removeStaleTemporaries(target, limit, FileLock::acquire(lockFileFor(target)));
  for (const auto& c : cases) EXPECT_EQ(fs::exists(folder / c.name), !c.removed) << c.name;
  EXPECT_EQ(contents(), "old settings");
}

}  // namespace
}  // namespace platform
