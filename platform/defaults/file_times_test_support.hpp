#pragma once

// Test support for what goes by a file's age: files dated from the file
// system's own now, which is what the code under test compares against, so
// that a test can plant ages far from a limit on either side.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <filesystem>

namespace platform {

// The time the file system stamps now: `folder`, touched, carries it.
inline timespec fileSystemNow(const std::filesystem::path& folder) {
  struct stat info {};
  EXPECT_EQ(::utimensat(AT_FDCWD, folder.c_str(), nullptr, 0), 0);
  EXPECT_EQ(::stat(folder.c_str(), &info), 0);
  return info.st_mtim;
}

// Dates `path` `age` seconds before `now` (after it when negative), to the
// nanosecond.
inline void dateFile(const std::filesystem::path& path, const timespec& now, double age) {
  constexpr long long nano = 1'000'000'000;
  const long long at = static_cast<long long>(now.tv_sec) * nano + now.tv_nsec - std::llround(age * 1e9);
  const timespec times[2] = {{at / nano, at % nano}, {at / nano, at % nano}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

}  // namespace platform
