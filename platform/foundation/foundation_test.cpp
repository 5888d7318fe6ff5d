#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/foundation/file_descriptor.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/foundation/log.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

TEST(NSLogTest, CaptureCollectsLinesAndNestsInOrder) {
  LogCapture outer;
  NSLog("first");
  {
    LogCapture inner;
    NSLog("second");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"second"});
  }
  NSLog("third");
  EXPECT_EQ(outer.lines(), (std::vector<std::string>{"first", "third"}));
}

// A descriptor is closed once, by its last owner, and never by one it was
// moved or released from.
TEST(FileDescriptorTest, OnlyTheLastOwnerClosesIt) {
  const auto isOpen = [](int fd) { return ::fcntl(fd, F_GETFD) != -1; };
  const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC), second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  {
    FileDescriptor moved(first), owner(second);
    owner = std::move(moved);
    EXPECT_FALSE(isOpen(second));
    const FileDescriptor last(std::move(owner));
    EXPECT_EQ(owner.get(), -1);
    EXPECT_TRUE(isOpen(first));
  }
  EXPECT_FALSE(isOpen(first));
  const int kept = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(FileDescriptor(kept).release(), kept);
  EXPECT_TRUE(isOpen(kept));
  ::close(kept);
}

TEST(NSLockTest, TryLockFailsWhileAnotherThreadHoldsTheLock) {
  NSLock lock;
  lock.lock();
  bool acquired = true;
  std::thread other([&] { acquired = lock.tryLock(); });
  other.join();
  EXPECT_FALSE(acquired);
  lock.unlock();
  EXPECT_TRUE(lock.tryLock());
  lock.unlock();
}

TEST(NSRecursiveLockTest, SameThreadMayLockTwice) {
  NSRecursiveLock lock;
  lock.lock();
  EXPECT_TRUE(lock.tryLock());
  lock.unlock();
  lock.unlock();
}

TEST(ProcessWideTest, MakesOnceAndAgainAfterReset) {
  int made = 0;
  ProcessWide<int> value([&] { return ++made; });
  EXPECT_EQ(value.get(), 1);
  EXPECT_EQ(value.get(), 1);
  resetProcessState();
  EXPECT_EQ(value.get(), 2);
  EXPECT_EQ(made, 2);
}

TEST(ProcessWideTest, RacingFirstUsesAllSeeOneValue) {
  std::atomic<int> made{0};
  ProcessWide<int> value([&] { return ++made; });
  std::vector<int> seen(8);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { seen[i] = value.get(); });
  for (auto& thread : threads) thread.join();
  for (int v : seen) EXPECT_EQ(v, seen[0]);
}

TEST(ProcessWideTest, DestroyedValueLeavesTheResetRegistry) {
  int made = 0;
  {
    ProcessWide<int> value([&] { return ++made; });
    value.get();
  }
  resetProcessState();  // must not touch the destroyed value
  EXPECT_EQ(made, 1);
}

}  // namespace
}  // namespace platform

#include "platform/foundation/process_info.hpp"

namespace platform {
namespace {

TEST(ProcessInfoTest, VersionComparisonIsLexicographicAndResets) {
  ProcessInfo::setOperatingSystemVersion({15, 2, 1});
  EXPECT_TRUE(ProcessInfo::isOperatingSystemAtLeastVersion({15, 0, 0}));
  EXPECT_TRUE(ProcessInfo::isOperatingSystemAtLeastVersion({14, 9, 9}));
  EXPECT_TRUE(ProcessInfo::isOperatingSystemAtLeastVersion({15, 2, 1}));
  EXPECT_FALSE(ProcessInfo::isOperatingSystemAtLeastVersion({15, 2, 2}));
  EXPECT_FALSE(ProcessInfo::isOperatingSystemAtLeastVersion({26, 0, 0}));
  resetProcessState();
  EXPECT_EQ(ProcessInfo::operatingSystemVersion().majorVersion, 26);
}

}  // namespace
}  // namespace platform
