#include "platform/foundation/unicode_text.hpp"

#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <iterator>

namespace platform {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// PropList.txt, White_Space.
constexpr Range kWhiteSpace[] = {
    {0x0009, 0x000D}, {0x0020, 0x0020}, {0x0085, 0x0085}, {0x00A0, 0x00A0}, {0x1680, 0x1680},
    {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F}, {0x3000, 0x3000},
};

// UnicodeData.txt, general categories Cc and Cf, in code point order.
constexpr Range kControl[] = {
    {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

template <std::size_t N>
bool inRanges(const Range (&ranges)[N], char32_t scalar) {
  auto after = std::upper_bound(std::begin(ranges), std::end(ranges), scalar,
                                [](char32_t value, const Range& range) { return value < range.first; });
  return after != std::begin(ranges) && scalar <= std::prev(after)->last;
}

// The scalar starting at byte `i` of well-formed UTF-8; `i` moves past it.
char32_t nextScalar(const std::string& text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t scalar = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
    scalar = (scalar << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  }
  i += length;
  return scalar;
}

bool isCc(char32_t scalar) { return scalar < 0x20 || (scalar >= 0x7F && scalar <= 0x9F); }

bool isBidirectionalFormatting(char32_t scalar) {
  return scalar == 0x061C || scalar == 0x200E || scalar == 0x200F || (scalar >= 0x202A && scalar <= 0x202E) ||
         (scalar >= 0x2066 && scalar <= 0x2069);
}

// Whether the scalar draws something by itself, by ICU's properties: a
// letter, number, punctuation or symbol that is not default-ignorable (the
// Hangul fillers are letters that show nothing), nor one of the symbols
// whose glyph is blank. Marks only change the character before them.
bool drawsByItself(char32_t scalar) {
  const auto c = static_cast<UChar32>(scalar);
  return (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_N_MASK | U_GC_P_MASK | U_GC_S_MASK)) != 0 &&
         !u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) &&
         scalar != 0x2800 &&   // braille pattern blank
         scalar != 0x1D159;    // musical symbol null notehead
}

}  // namespace

bool isWhiteSpace(char32_t scalar) { return inRanges(kWhiteSpace, scalar); }

bool isControlCharacter(char32_t scalar) { return inRanges(kControl, scalar); }

std::u32string unicodeScalars(const std::string& text) {
  std::u32string scalars;
  for (std::size_t i = 0; i < text.size();) scalars.push_back(nextScalar(text, i));
  return scalars;
}

std::string trimmingWhiteSpace(const std::string& text) {
  std::size_t begin = text.size();
  std::size_t end = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    if (isWhiteSpace(nextScalar(text, i))) continue;
    begin = std::min(begin, start);
    end = i;
  }
  return begin < end ? text.substr(begin, end - begin) : std::string();
}

std::size_t utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < text.size();) units += nextScalar(text, i) > 0xFFFF ? 2 : 1;
  return units;
}

constexpr std::size_t kMaxConvertedLength = 0x7FFFFFFF / 3;

std::u16string utf16String(const std::string& text) {
  // ICU counts in 32 bits; nothing the system handles comes near.
  if (text.empty() || text.size() > kMaxConvertedLength) return {};
  // Never more UTF-16 units than UTF-8 bytes.
  std::u16string out(text.size(), u'\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string utf8String(const std::u16string& text) {
  if (text.empty() || text.size() > kMaxConvertedLength) return {};
  // Three bytes at most for each unit (a pair of four bytes is two units).
  std::string out(text.size() * 3, '\0');
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                     static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<size_t>(length));
  return out;
}

bool containsControlCharacters(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    if (isControlCharacter(nextScalar(text, i))) return true;
  }
  return false;
}

bool isShowableText(const std::string& text, std::size_t maximumLength) {
  // A text within the bound takes at most three bytes a unit, so a longer
  // one is refused before a byte of it is read.
  if ((text.size() + 2) / 3 > maximumLength || text.size() > kMaxConvertedLength) return false;
  // ICU's preflight both checks the UTF-8 (overlong forms, surrogates and
  // code points past U+10FFFF are invalid characters) and counts the units.
  int32_t units = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(nullptr, 0, &units, text.data(), static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) return false;
  if (static_cast<std::size_t>(units) > maximumLength) return false;
  bool drawn = false;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t scalar = nextScalar(text, i);
    const int8_t type = u_charType(static_cast<UChar32>(scalar));
    if (isCc(scalar) || isBidirectionalFormatting(scalar) || type == U_LINE_SEPARATOR ||
        type == U_PARAGRAPH_SEPARATOR) {
      return false;
    }
    drawn = drawn || drawsByItself(scalar);
  }
  return drawn;
}

std::string uppercasedString(const std::string& text) {
  if (text.empty()) return text;
  UErrorCode status = U_ZERO_ERROR;
  // "" is the root locale; a null locale would follow the process's own.
  UCaseMap* map = ucasemap_open("", 0, &status);
  if (U_FAILURE(status)) return text;
  std::string upper(text.size() * 3 + 4, '\0');
  int32_t length = ucasemap_utf8ToUpper(map, upper.data(), static_cast<int32_t>(upper.size()), text.data(),
                                        static_cast<int32_t>(text.size()), &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    upper.assign(static_cast<std::size_t>(length), '\0');
    length = ucasemap_utf8ToUpper(map, upper.data(), length, text.data(), static_cast<int32_t>(text.size()), &status);
  }
  ucasemap_close(map);
  if (U_FAILURE(status)) return text;
  upper.resize(static_cast<std::size_t>(length));
  return upper;
}

}  // namespace platform
