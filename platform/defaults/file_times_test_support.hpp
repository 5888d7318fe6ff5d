#pragma once

// Files dated from the file system's own now, the clock that ages are read
// on, so that a test can plant ages far from a limit on either side.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>

namespace platform {

// The time the file system stamps now, read off `folder`, touched for it.
inline timespec fileSystemNow(const std::filesystem::path& folder) {
  struct stat info {};
  EXPECT_EQ(::utimensat(AT_FDCWD, folder.c_str(), nullptr, 0), 0);
  EXPECT_EQ(::stat(folder.c_str(), &info), 0);
  return info.st_mtim;
}

// Dates `path` `age` seconds before `now` (after it when negative).
inline void dateFile(const std::filesystem::path& path, const timespec& now, double age) {
  constexpr long long nano = 1'000'000'000;
  const long long at = static_cast<long long>(now.tv_sec) * nano + now.tv_nsec - std::llround(age * 1e9);
  const timespec times[2] = {{at / nano, at % nano}, {at / nano, at % nano}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

}  // namespace platform
