#include "platform/dispatch/dispatch_source_event.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <system_error>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/dispatch/test_hang_guard.hpp"

namespace platform {
namespace {

// Both ends of a pipe, non-blocking, closed at the end.
struct Pipe {
  Pipe() {
    int ends[2];
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    read = ends[0];
    write = ends[1];
  }
  ~Pipe() {
    ::close(read);
    ::close(write);
  }
  void put(const std::string& bytes) const { ASSERT_EQ(::write(write, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
  int read = -1;
  int write = -1;
};

class DispatchSourceReadTest : public ::testing::Test {
 protected:
  SimulatedSchedulerScope scope;
  Pipe pipe;
  std::string received;
  int calls = 0;

  // A handler that reads at most `chunk` bytes a call.
  std::shared_ptr<DispatchSourceRead> reader(std::size_t chunk) {
    auto source = DispatchSourceRead::make(pipe.read, DispatchQueue::main());
    source->setEventHandler([this, chunk] {
      EXPECT_TRUE(DispatchQueue::main()->isCurrent());
      ++calls;
      char buffer[64];
      for (std::size_t taken = 0; taken < chunk;) {
        const ssize_t length = ::read(pipe.read, buffer, std::min(sizeof buffer, chunk - taken));
        if (length <= 0) break;
        received.append(buffer, static_cast<std::size_t>(length));
        taken += static_cast<std::size_t>(length);
      }
    });
    return source;
  }
};

TEST_F(DispatchSourceReadTest, RunsOnceForWhatWaitsAndAgainWhileTheHandlerLeftSome) {
  auto source = reader(64);
  pipe.put("before");
  scope->runUntilIdle();
  EXPECT_EQ(calls, 0) << "a suspended source runs nothing";
  source->resume();
  EXPECT_THROW(source->resume(), std::logic_error);
  scope->runUntilIdle();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(received, "before");
  // Quiet, it stays quiet however much time goes by.
  scope->advance(10.0);
  EXPECT_EQ(calls, 1);
  // Two writes before the queue turns are one call.
  pipe.put("a");
  pipe.put("b");
  scope->runUntilIdle();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(received, "beforeab");
  source->cancel();
  pipe.put("after");
  scope->runUntilIdle();
  EXPECT_EQ(calls, 2) << "a cancelled source runs nothing";
  source->resume();
  scope->runUntilIdle();
  EXPECT_EQ(calls, 2);
}

TEST_F(DispatchSourceReadTest, AHandlerThatReadsPartOfItRunsUntilItIsAllRead) {
  auto source = reader(2);
  source->resume();
  pipe.put("12345");
  scope->runUntilIdle();
  EXPECT_EQ(received, "12345");
  EXPECT_EQ(calls, 3);
  // A source dropped is cancelled: nothing runs for it, nothing leaks.
  source.reset();
  pipe.put("6");
  scope->runUntilIdle();
  EXPECT_EQ(calls, 3);
  EXPECT_THROW(DispatchSourceRead::make(-1, DispatchQueue::main()), std::invalid_argument);
  EXPECT_THROW(DispatchSourceRead::make(pipe.read, nullptr), std::invalid_argument);
}

// The watcher thread of the production scheduler hands readiness to the
// source's queue; the wait is bounded only to guard against a hang.
TEST(DispatchSourceReadRealTest, TheWatcherThreadWakesTheSourceThatHasDataAndNoOther) {
  Pipe quiet;
  Pipe busy;
  auto queue = DispatchQueue::make("mirt.vurle.descriptor-test");
  std::atomic<int> quietCalls{0};
  std::promise<std::string> got;
  auto silent = DispatchSourceRead::make(quiet.read, queue);
  silent->setEventHandler([&] { ++quietCalls; });
  auto speaking = DispatchSourceRead::make(busy.read, queue);
  speaking->setEventHandler([&] {
    char buffer[16];
    const ssize_t length = ::read(busy.read, buffer, sizeof buffer);
    if (length > 0) got.set_value(std::string(buffer, static_cast<std::size_t>(length)));
  });
  silent->resume();
  speaking->resume();
  busy.put("wake");
  auto answer = got.get_future();
  ASSERT_EQ(answer.wait_for(kTestHangGuard), std::future_status::ready);
  EXPECT_EQ(answer.get(), "wake");
  // Cancelled, the descriptors may be closed at once.
  silent->cancel();
  speaking->cancel();
  queue->sync([] {});
  EXPECT_EQ(quietCalls.load(), 0);
}

// Signals are raised at this thread, which the simulated scheduler polls
// on: a process-wide signal could reach a test thread that has it unblocked.
class DispatchSourceSignalTest : public ::testing::Test {
 protected:
  void SetUp() override { DispatchSourceSignal::blockSignals({SIGUSR1}); }
  void TearDown() override {
    DispatchSourceSignal::refuseDescriptors(std::nullopt);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, SIGUSR1);
    timespec none{};
    while (::sigtimedwait(&one, nullptr, &none) == SIGUSR1) {
    }
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  }
  SimulatedSchedulerScope scope;
};

TEST_F(DispatchSourceSignalTest, ASignalReachesTheHandlerOnItsQueueInsteadOfActing) {
  auto source = DispatchSourceSignal::make(SIGUSR1, DispatchQueue::main());
  int calls = 0;
  source->setEventHandler([&] { ++calls; });
  source->resume();
  scope->runUntilIdle();
  EXPECT_EQ(calls, 0);
  ASSERT_EQ(::raise(SIGUSR1), 0);
  scope->runUntilIdle();
  EXPECT_EQ(calls, 1);
  scope->advance(5.0);
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(::raise(SIGUSR1), 0);
  scope->runUntilIdle();
  EXPECT_EQ(calls, 2);
  source->cancel();
  ASSERT_EQ(::raise(SIGUSR1), 0);
  scope->runUntilIdle();
  EXPECT_EQ(calls, 2);
}

TEST_F(DispatchSourceSignalTest, AnUnblockedSignalOrARefusedDescriptorIsReported) {
  EXPECT_THROW(DispatchSourceSignal::make(SIGUSR2, DispatchQueue::main()), std::logic_error);
  DispatchSourceSignal::refuseDescriptors(EMFILE);
  try {
    DispatchSourceSignal::make(SIGUSR1, DispatchQueue::main());
    ADD_FAILURE() << "a refused descriptor made a source";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EMFILE);
  }
  DispatchSourceSignal::refuseDescriptors(std::nullopt);
  EXPECT_NE(DispatchSourceSignal::make(SIGUSR1, DispatchQueue::main()), nullptr);
}

TEST(DispatchSourceSignalDeathTest, EndingTheProcessByASignalActsAsItsDefaultWould) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto blockedThenEnded = [](int signal) {
    DispatchSourceSignal::blockSignals({signal});
    DispatchSourceSignal::endProcessBy(signal);
  };
  EXPECT_EXIT(blockedThenEnded(SIGTERM), ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EXIT(blockedThenEnded(SIGINT), ::testing::KilledBySignal(SIGINT), "");
  // Its default goes unnoticed, so the status says which one it was.
  EXPECT_EXIT(blockedThenEnded(SIGURG), ::testing::ExitedWithCode(128 + SIGURG), "");
}

}  // namespace
}  // namespace platform
