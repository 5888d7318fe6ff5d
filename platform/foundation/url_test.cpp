#include "platform/foundation/url.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(NSURLTest, SplitsTheParts) {
  auto url = NSURL::URLWithString("https://user@Vurle.app:8443/terms/a%20b/?x=1#top");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->scheme(), "https");
  EXPECT_EQ(url->host(), "Vurle.app");  // as written: hosts are compared case-sensitively
  EXPECT_EQ(url->path(), "/terms/a b/");
  EXPECT_EQ(url->query(), "x=1");
  EXPECT_EQ(url->fragment(), "top");

  auto bare = NSURL::URLWithString("https://vurle.app");
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->path(), "");
  EXPECT_FALSE(bare->query().has_value());
  EXPECT_FALSE(bare->fragment().has_value());
  // An empty query is still a query.
  EXPECT_EQ(NSURL::URLWithString("https://vurle.app/terms?")->query(), "");

  auto mail = NSURL::URLWithString("mailto:hello@vurle.app");
  ASSERT_TRUE(mail.has_value());
  EXPECT_EQ(mail->scheme(), "mailto");
  EXPECT_FALSE(mail->host().has_value());
  EXPECT_EQ(mail->path(), "hello@vurle.app");

  EXPECT_EQ(NSURL::URLWithString("http://[::1]:80/")->host(), "::1");
  EXPECT_FALSE(NSURL::URLWithString("relative/path")->scheme().has_value());
}

TEST(NSURLTest, RejectsTextThatIsNotAURL) {
  for (const char* text : {"", "https://vurle.app/a b", "https://vurle.app/%zz", "https://vurle.app/%4", "1http://x",
                           "ht tp://x", "https://x/#a#b", "https://x/\x01"}) {
    EXPECT_FALSE(NSURL::URLWithString(text).has_value()) << text;
  }
}

TEST(NSURLTest, AppendsPathComponents) {
  auto root = *NSURL::URLWithString("https://vurle.app/");
  EXPECT_EQ(root.URLByAppendingPathComponent("privacy/").absoluteString(), "https://vurle.app/privacy/");
  auto bare = *NSURL::URLWithString("https://vurle.app");
  EXPECT_EQ(bare.URLByAppendingPathComponent("terms/").absoluteString(), "https://vurle.app/terms/");
  auto withQuery = *NSURL::URLWithString("https://vurle.app/docs?lang=en");
  EXPECT_EQ(withQuery.URLByAppendingPathComponent("a b").absoluteString(), "https://vurle.app/docs/a%20b?lang=en");
}

TEST(NSURLTest, FileURLsRoundTripTheirPath) {
  auto file = NSURL::fileURLWithPath("/tmp/a b/EULA#1.json");
  EXPECT_TRUE(file.isFileURL());
  EXPECT_EQ(file.absoluteString(), "file:///tmp/a%20b/EULA%231.json");
  EXPECT_EQ(file.path(), "/tmp/a b/EULA#1.json");
  EXPECT_FALSE(file.fragment().has_value());
  EXPECT_EQ(NSURL::URLWithString(file.absoluteString())->path(), file.path());
}

}  // namespace
}  // namespace platform
