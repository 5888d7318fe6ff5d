#include "platform/foundation/foreign_pid.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <stdexcept>

namespace platform {
namespace {

TEST(ForeignPidTest, SkipsThisProcessAndKeepsEveryOtherIdentifierApart) {
  const pid_t self = ::getpid();
  struct Case {
    pid_t n;
    pid_t expected;
  } cases[] = {
      {self - 2, self - 2}, {self - 1, self - 1}, {self, self + 1}, {self + 1, self + 2}, {self + 2, self + 3},
      {0, 0},               {-3, -3},  // refusal cases pass through
  };
  for (const auto& c : cases) EXPECT_EQ(foreignPid(c.n), c.expected) << "n = " << c.n << ", self = " << self;

  // Over this process's neighbourhood and the small fixed identifiers tests
  // use: never ours, and no two inputs share a result.
  std::set<pid_t> seen;
  int inputs = 0;
  auto take = [&](pid_t n) {
    const pid_t pid = foreignPid(n);
    EXPECT_NE(pid, self) << "n = " << n;
    seen.insert(pid);
    ++inputs;
  };
  for (pid_t n = self - 200; n <= self + 200; ++n) take(n);
  for (pid_t n = 1; n <= 5000; ++n) {
    if (n < self - 200 || n > self + 200) take(n);
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(inputs));

  EXPECT_THROW(foreignPid(std::numeric_limits<pid_t>::max()), std::out_of_range);
  EXPECT_EQ(foreignPid(std::numeric_limits<pid_t>::max() - 1), std::numeric_limits<pid_t>::max());
}

}  // namespace
}  // namespace platform
