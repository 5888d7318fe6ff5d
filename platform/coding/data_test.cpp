#include "platform/coding/data.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace platform {
namespace {

TEST(Base64Test, RoundTripsEveryPaddingLength) {
  const struct {
    std::string bytes;
    const char* text;
  } cases[] = {{"", ""},         {"f", "Zg=="},     {"fo", "Zm8="},
               {"foo", "Zm9v"},  {"foob", "Zm9vYg=="}, {std::string("\xff\xfe\x00", 3), "//4A"}};
  for (const auto& c : cases) {
    const Data bytes = dataFromString(c.bytes);
    EXPECT_EQ(base64EncodedString(bytes), c.text);
    EXPECT_EQ(dataFromBase64(c.text), bytes) << c.text;
  }
}

TEST(Base64Test, RefusesAnythingButCanonicalText) {
  for (const char* text : {"Zg=", "Zg", "Z===", "Zg=a", "Zh==", "Zm9v\n", "Zm 9", "Zg==Zg==", "====", "Zm9*"}) {
    EXPECT_FALSE(dataFromBase64(text).has_value()) << text;
  }
}

TEST(DataWithContentsOfURLTest, ReadsUpToTheLimitAndNothingLarger) {
  const auto path = std::filesystem::temp_directory_path() / ("vurle-data-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << std::string(40000, 'z');
  const NSURL url = NSURL::fileURLWithPath(path.string());
  EXPECT_EQ(dataWithContentsOfURL(url)->size(), 40000u);
  EXPECT_EQ(dataWithContentsOfURL(url, 40000)->size(), 40000u);
  EXPECT_FALSE(dataWithContentsOfURL(url, 39999));
  EXPECT_FALSE(dataWithContentsOfURL(NSURL::fileURLWithPath(path.string() + ".missing")));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace platform
