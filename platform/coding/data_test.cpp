#include "platform/coding/data.hpp"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace platform
