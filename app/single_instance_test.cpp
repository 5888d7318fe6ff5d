#include "app/single_instance.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/appkit/application.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

class CountingDelegate : public platform::NSApplicationDelegate {
 public:
  bool applicationShouldHandleReopen(platform::NSApplication&, bool) override {
    ++reopens;
    return false;
  }
  int reopens = 0;
};

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::resetProcessState(); }
  void TearDown() override {
    platform::resetProcessState();
    fs::remove_all(root);
  }
  std::string lockNote() const {
    std::ifstream file(folder / SingleInstance::lockFileName);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  platform::SimulatedSchedulerScope scope;
  const fs::path root = fs::temp_directory_path() /
                        ("vurle-instance-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
  const fs::path folder = root / "config" / "vurle";
};

TEST_F(SingleInstanceTest, ALaterLaunchFindsTheHolderAndReopensIt) {
  auto delegate = std::make_shared<CountingDelegate>();
  platform::NSApplication::shared()->setDelegate(delegate);
  {
    auto first = SingleInstance::acquire(folder);  // makes the folder
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(lockNote(), std::to_string(::getpid()) + "\n");
    // A second open of the lock is another launch, in this process or not.
    EXPECT_EQ(SingleInstance::acquire(folder), nullptr);

    // Requests made before the holder listens wait in its pipe.
    const auto holder = SingleInstance::requestReopen(folder);
    EXPECT_EQ(holder.processIdentifier, ::getpid());
    EXPECT_TRUE(holder.reopenRequested);
    EXPECT_EQ(delegate->reopens, 0);
    first->listen();
    // Served as soon as the main queue turns, with no time passing.
    scope->runUntilIdle();
    EXPECT_EQ(delegate->reopens, 1);
    // Quiet, the pipe wakes nothing.
    scope->advance(10.0);
    EXPECT_EQ(delegate->reopens, 1);
    EXPECT_EQ(scope->pendingCount(), 0u);
    // Two launches close together reopen twice; nothing is left over.
    SingleInstance::requestReopen(folder);
    SingleInstance::requestReopen(folder);
    scope->runUntilIdle();
    EXPECT_EQ(delegate->reopens, 3);
    scope->advance(1.0);
    EXPECT_EQ(delegate->reopens, 3);
    EXPECT_EQ(SingleInstance::describe(holder, folder),
              "vurle is already running as process " + std::to_string(::getpid()) + " with the settings in " +
                  folder.string() + "; it was asked to show its window");
  }
  // The holder gone, its lock and pipe are free and nobody reads requests.
  const auto unheard = SingleInstance::requestReopen(folder);
  EXPECT_FALSE(unheard.reopenRequested);
  EXPECT_NE(SingleInstance::describe(unheard, folder).find("could not be asked to show its window"), std::string::npos);
  auto next = SingleInstance::acquire(folder);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(delegate->reopens, 3);
}

// A lock file that is a user's file as well (a second name a copy made with
// hard links gave it) is locked, which writes nothing: the holder writes no
// process id into it and says so once, and a later launch reads none from
// it, whatever it holds, nor through a link put at its name.
TEST_F(SingleInstanceTest, ALockFileWithOtherNamesIsLockedButNeverWritten) {
  const fs::path theirs = root / "copy.lock";
  fs::create_directories(folder);
  std::ofstream(theirs) << "4242\n";
  const fs::file_time_type dated = fs::last_write_time(theirs) - std::chrono::hours(1);
  fs::last_write_time(theirs, dated);
  fs::create_hard_link(theirs, folder / SingleInstance::lockFileName);
  platform::LogCapture log;
  auto holder = SingleInstance::acquire(folder);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(SingleInstance::acquire(folder), nullptr);
  EXPECT_EQ(lockNote(), "4242\n");
  EXPECT_EQ(fs::last_write_time(theirs), dated);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("a file with other names as well"), std::string::npos) << log.lines()[0];
  EXPECT_EQ(SingleInstance::requestReopen(folder).processIdentifier, std::nullopt);
  fs::remove(folder / SingleInstance::lockFileName);
  fs::create_symlink(theirs, folder / SingleInstance::lockFileName);
  EXPECT_EQ(SingleInstance::requestReopen(folder).processIdentifier, std::nullopt);
}

TEST_F(SingleInstanceTest, AFolderThatCannotHoldTheLockIsReported) {
  fs::create_directories(root);
  std::ofstream(root / "config") << "a file where the folder should be";
  EXPECT_THROW(SingleInstance::acquire(folder), std::system_error);
  // Something else under the pipe's name is replaced by the pipe.
  fs::create_directories(root / "other");
  std::ofstream(root / "other" / SingleInstance::reopenPipeName) << "stray";
  auto holder = SingleInstance::acquire(root / "other");
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(fs::status(root / "other" / SingleInstance::reopenPipeName).type(), fs::file_type::fifo);
  EXPECT_EQ(SingleInstance::describe({std::nullopt, false}, root / "other"),
            "vurle is already running with the settings in " + (root / "other").string() +
                "; it could not be asked to show its window");
}

}  // namespace
}  // namespace vurle
