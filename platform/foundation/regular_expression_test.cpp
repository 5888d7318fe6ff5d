#include "platform/foundation/regular_expression.hpp"

#include <gtest/gtest.h>

#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

TEST(NSRegularExpressionTest, RangesCountUTF16UnitsAndGroupsThatTookNoPart) {
  auto re = NSRegularExpression::make("(b+)|(x)", NSRegularExpression::caseInsensitive);
  ASSERT_TRUE(re);
  // "é" is one unit, the emoji two.
  const auto matches = re->matchesInString(utf16String("é😀Bb a b"));
  ASSERT_TRUE(matches);
  ASSERT_EQ(matches->size(), 2u);
  EXPECT_EQ((*matches)[0].range(), NSMakeRange(3, 2));
  EXPECT_EQ((*matches)[0].ranges[1], NSMakeRange(3, 2));
  EXPECT_EQ((*matches)[0].ranges[2], NSRange{}) << "the other alternative took no part";
  EXPECT_EQ((*matches)[1].range(), NSMakeRange(8, 1));
  EXPECT_EQ(NSMaxRange((*matches)[1].range()), 9u);
  EXPECT_TRUE(NSRegularExpression::make("b")->matchesInString(utf16String("B"))->empty()) << "case matters by default";
}

TEST(NSRegularExpressionTest, ReplacesEveryMatchWithTheTemplate) {
  const struct {
    const char* pattern;
    const char* text;
    const char* replacement;
    const char* result;
  } cases[] = {
      {"(\\w+)@(\\w+)", "a@b, c@d", "$2 at $1", "b at a, d at c"},
      {"x", "no match here", "y", "no match here"},
      {"(\\d)", "1-2", "\\$$1", "$1-$2"},
      {"é", "résumé", "e", "resume"},
      {"a*", "", "-", "-"},
  };
  for (const auto& c : cases) {
    auto re = NSRegularExpression::make(c.pattern);
    ASSERT_TRUE(re) << c.pattern;
    auto out = re->stringByReplacingMatches(utf16String(c.text), utf16String(c.replacement));
    ASSERT_TRUE(out) << c.pattern;
    EXPECT_EQ(utf8String(*out), c.result) << c.pattern;
  }
}

TEST(NSRegularExpressionTest, InvalidPatternsAndRunawayMatchesFailInsteadOfHanging) {
  std::string error;
  EXPECT_FALSE(NSRegularExpression::make("(unclosed", 0, &error));
  EXPECT_NE(error.find("U_REGEX"), std::string::npos) << error;
  EXPECT_FALSE(NSRegularExpression::make(""));
  // Exponential backtracking: stopped by the step limit.
  auto runaway = NSRegularExpression::make("(a+)+$");
  ASSERT_TRUE(runaway);
  const std::u16string hostile = std::u16string(40, u'a') + u"!";
  EXPECT_FALSE(runaway->matchesInString(hostile));
  EXPECT_FALSE(runaway->stringByReplacingMatches(hostile, u"x"));
  EXPECT_FALSE(NSRegularExpression::make("a")->matchesInString(
      std::u16string(NSRegularExpression::kMaxTextLength + 1, u'a')));
}

TEST(UnicodeTextTest, ConvertsBetweenUTF8AndUTF16ReplacingWhatIsIllFormed) {
  EXPECT_EQ(utf16String("a😀é"), u"a\U0001F600é");
  EXPECT_EQ(utf8String(u"a\U0001F600é"), "a😀é");
  EXPECT_EQ(utf16String("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(utf8String(std::u16string{u'a', char16_t(0xD800), u'b'}), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(utf16String(""), u"");
}

}  // namespace
}  // namespace platform
