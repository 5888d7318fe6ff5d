#include "platform/foundation/data_detector.hpp"

#include <gtest/gtest.h>

#include "platform/foundation/process_wide.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

TEST(NSDataDetectorTest, FindsWebAndMailLinksWithoutTheSentencesPunctuation) {
  const struct {
    const char* text;
    // The linked text, and the URL it makes; empty: no link.
    const char* linked;
    const char* url;
  } cases[] = {
      {"See https://vurle.app/terms.", "https://vurle.app/terms", "https://vurle.app/terms"},
      {"(http://example.com/a_(b))", "http://example.com/a_(b)", "http://example.com/a_(b)"},
      {"(see http://example.com/x)", "http://example.com/x", "http://example.com/x"},
      {"Visit www.example.com, now!", "www.example.com", "http://www.example.com"},
      {"Write to help@vurle.app.", "help@vurle.app", "mailto:help@vurle.app"},
      {"Write to mailto:help@vurle.app?", "mailto:help@vurle.app", "mailto:help@vurle.app"},
      {"HTTPS://EXAMPLE.COM/\"", "HTTPS://EXAMPLE.COM/", "HTTPS://EXAMPLE.COM/"},
      {"ftp://example.com and plain words", "", ""},
      {"an @ sign alone, a@b without a domain", "", ""},
      {"http://exa mple", "http://exa", "http://exa"},
      {"https://bad%zzlink", "", ""},
  };
  auto detector = NSDataDetector::linkDetector();
  ASSERT_TRUE(detector);
  for (const auto& c : cases) {
    const std::u16string text = utf16String(c.text);
    const auto links = detector->matchesInString(text);
    if (!*c.linked) {
      EXPECT_TRUE(links.empty()) << c.text;
      continue;
    }
    ASSERT_EQ(links.size(), 1u) << c.text;
    EXPECT_EQ(utf8String(text.substr(links[0].range.location, links[0].range.length)), c.linked) << c.text;
    EXPECT_EQ(links[0].URL.absoluteString(), c.url) << c.text;
  }
}

TEST(NSDataDetectorTest, RangesCountUTF16UnitsAndLinksComeInOrder) {
  auto detector = NSDataDetector::linkDetector();
  ASSERT_TRUE(detector);
  const auto links = detector->matchesInString(utf16String("😀 a@b.io, then https://x.io/@c.io"));
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].range, NSMakeRange(3, 6));
  EXPECT_EQ(links[1].range, NSMakeRange(16, 18)) << "an address inside a URL is part of the URL";
}

TEST(NSDataDetectorTest, CreationFailsWhileTheSeamSaysSoUntilReset) {
  NSDataDetector::setCreationFails(true);
  EXPECT_FALSE(NSDataDetector::linkDetector());
  resetProcessState();
  EXPECT_TRUE(NSDataDetector::linkDetector());
}

}  // namespace
}  // namespace platform
