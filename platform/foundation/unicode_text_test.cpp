#include "platform/foundation/unicode_text.hpp"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/uloc.h>

#include <string>

namespace platform {
namespace {

// The tables hold the same Unicode version as the ICU the build links, so
// every scalar must agree with ICU's own properties.
TEST(UnicodeTextTest, TheTablesAgreeWithICUForEveryScalar) {
  int disagreements = 0;
  for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
    const int8_t type = u_charType(c);
    const bool control = type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
    const bool space = u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
    if (isControlCharacter(static_cast<char32_t>(c)) != control || isWhiteSpace(static_cast<char32_t>(c)) != space) {
      if (++disagreements < 5) ADD_FAILURE() << std::hex << "U+" << c;
    }
  }
  EXPECT_EQ(disagreements, 0);
}

TEST(UnicodeTextTest, UppercasingIsTheFullMappingOfTheRootLocaleWhateverTheDefault) {
  struct Case {
    const char* text;
    const char* upper;
  };
  const Case cases[] = {
      {"a", "A"},
      {"i", "I"},           // not the dotted capital of Turkish
      {"ß", "SS"},          // full mapping: one letter becomes two
      {"ﬁ", "FI"},
      {"é", "É"},
      {".", "."},
      {"", ""},
      {"\xEF\x9C\x88", "\xEF\x9C\x88"},  // a function key's private-use character is kept
      {"ǆ", "Ǆ"},
  };
  char saved[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  uloc_getName(uloc_getDefault(), saved, sizeof saved, &status);
  for (const char* locale : {"en_US", "tr_TR", "az"}) {
    status = U_ZERO_ERROR;
    uloc_setDefault(locale, &status);
    for (const auto& c : cases) EXPECT_EQ(uppercasedString(c.text), c.upper) << locale << " " << c.text;
  }
  status = U_ZERO_ERROR;
  uloc_setDefault(saved, &status);
}

TEST(UnicodeTextTest, AnyControlOrFormatScalarMakesTextHoldControlCharacters) {
  struct Case {
    std::string text;
    bool control;
  };
  const Case cases[] = {
      {"", false},          {".", false},         {"F5", false},          {"\x1B", true},
      {"a\x7F", true},      {"\xC2\xA0", false},  {"a\xE2\x80\x8D", true},  // zero-width joiner (Cf)
      {"\xEF\xBB\xBF", true},                     // byte-order mark (Cf)
      {"\xF3\xA0\x80\x81", true},                 // language tag (Cf, beyond the BMP)
      {"\xE2\x80\x90", false},                    // hyphen, right after the format range
  };
  for (const auto& c : cases) EXPECT_EQ(containsControlCharacters(c.text), c.control) << c.text;
}

// One rule for every text from outside, at a 300-unit bound: each kind of
// character that is refused, and the bound on both sides in units and bytes.
TEST(UnicodeTextTest, OutsideTextIsShowableOnlyWhenShortAndPlain) {
  const std::string emoji = "😀";  // two UTF-16 units, four bytes
  auto times = [](const std::string& text, int count) {
    std::string result;
    for (int i = 0; i < count; ++i) result += text;
    return result;
  };
  struct Case {
    const char* name;
    std::string text;
    bool shown;
  };
  const Case cases[] = {
      {"plain", "Too short.", true},
      {"300 characters", std::string(300, 'a'), true},
      {"301 characters", std::string(301, 'a'), false},
      {"150 emoji are 300 units", times(emoji, 150), true},
      {"150 emoji and a letter", times(emoji, 150) + "a", false},
      {"300 three-byte characters", times("€", 300), true},
      {"301 three-byte characters", times("€", 301), false},
      {"100 KB", std::string(100000, 'a'), false},
      {"empty", "", false},
      {"blank", " \u00A0 ", false},
      {"bell", "Ding\a", false},
      {"escape sequence", "1.3\x1B[2J", false},
      {"line feed", "Two\nlines", false},
      {"tab", "A\ttab", false},
      {"delete", "A\x7F", false},
      {"next line, a C1 control", "A\u0085B", false},
      {"control sequence introducer", "A\u009B2J", false},
      {"Arabic letter mark", "A\u061CB", false},
      {"left-to-right mark", "A\u200EB", false},
      {"right-to-left mark", "A\u200FB", false},
      {"left-to-right embedding", "A\u202AB", false},
      {"right-to-left override", "A\u202EB", false},
      {"left-to-right isolate", "A\u2066B", false},
      {"pop directional isolate", "A\u2069B", false},
      {"zero-width joiner is no bidirectional mark", "👩\u200D💻 Busy.", true},
      {"no-break space", "Try\u00A0later.", true},
      {"just past the marks", "A\u2027\u202F\u206AB", true},
      {"line separator", "A\u2028B", false},
      {"paragraph separator", "A\u2029B", false},
      {"zero-width space alone", "\u200B", false},
      {"byte-order mark alone", "\uFEFF", false},
      {"word joiner alone", "\u2060", false},
      {"Hangul filler alone", "\u3164 ", false},
      {"blank braille pattern alone", "\u2800", false},
      {"null notehead alone", "\U0001D159", false},
      {"marks alone", "\u0301\u0903", false},
      {"a mark on a letter", "e\u0301", true},
      {"a symbol, invisible characters beside it", "\u200B\u2060\u20AC\u3164", true},
      {"not UTF-8", "Bad \xFF byte", false},
      {"an encoded surrogate", "A\xED\xA0\x80", false},
      {"an overlong slash", "A\xC0\xAF", false},
      {"cut inside a character", "A\xE2\x82", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isShowableText(c.text, 300), c.shown) << c.name;
}

}  // namespace
}  // namespace platform
