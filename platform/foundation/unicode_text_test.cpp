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

}  // namespace
}  // namespace platform
