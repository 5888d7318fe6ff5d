#include <array>
#include <cstdint>
#include <string>

#include "platform/events/event.hpp"

namespace platform {
namespace {

struct Key {
  const char* base = nullptr;  // null: the key types nothing
  const char* shifted = nullptr;
};

// UTF-8 of a function-key character of the platform's private-use block.
constexpr const char* kUp = "\xEF\x9C\x80";         // U+F700
constexpr const char* kDown = "\xEF\x9C\x81";       // U+F701
constexpr const char* kLeft = "\xEF\x9C\x82";       // U+F702
constexpr const char* kRight = "\xEF\x9C\x83";      // U+F703
constexpr const char* kForwardDelete = "\xEF\x9C\xA8";  // U+F728
constexpr const char* kHome = "\xEF\x9C\xA9";       // U+F729
constexpr const char* kEnd = "\xEF\x9C\xAB";        // U+F72B
constexpr const char* kPageUp = "\xEF\x9C\xAC";     // U+F72C
constexpr const char* kPageDown = "\xEF\x9C\xAD";   // U+F72D
constexpr const char* kClear = "\xEF\x9C\xB9";      // U+F739
constexpr const char* kHelp = "\xEF\x9D\x86";       // U+F746
// F1 to F20 are U+F704 onwards.
constexpr const char* kF[20] = {
    "\xEF\x9C\x84", "\xEF\x9C\x85", "\xEF\x9C\x86", "\xEF\x9C\x87", "\xEF\x9C\x88",
    "\xEF\x9C\x89", "\xEF\x9C\x8A", "\xEF\x9C\x8B", "\xEF\x9C\x8C", "\xEF\x9C\x8D",
    "\xEF\x9C\x8E", "\xEF\x9C\x8F", "\xEF\x9C\x90", "\xEF\x9C\x91", "\xEF\x9C\x92",
    "\xEF\x9C\x93", "\xEF\x9C\x94", "\xEF\x9C\x95", "\xEF\x9C\x96", "\xEF\x9C\x97",
};

// The US layout by virtual key code; a key without a shifted form types
// the same with shift.
const std::array<Key, 128>& usLayout() {
  static const std::array<Key, 128> keys = [] {
    std::array<Key, 128> k{};
    auto both = [&k](int code, const char* base, const char* shifted) { k[code] = {base, shifted}; };
    auto one = [&k](int code, const char* text) { k[code] = {text, text}; };
    const char* letters[][2] = {{"a", "A"}, {"s", "S"}, {"d", "D"}, {"f", "F"}, {"h", "H"}, {"g", "G"},
                                {"z", "Z"}, {"x", "X"}, {"c", "C"}, {"v", "V"}};
    for (int code = 0; code < 10; ++code) both(code, letters[code][0], letters[code][1]);
    both(11, "b", "B");
    both(12, "q", "Q");
    both(13, "w", "W");
    both(14, "e", "E");
    both(15, "r", "R");
    both(16, "y", "Y");
    both(17, "t", "T");
    both(18, "1", "!");
    both(19, "2", "@");
    both(20, "3", "#");
    both(21, "4", "$");
    both(22, "6", "^");
    both(23, "5", "%");
    both(24, "=", "+");
    both(25, "9", "(");
    both(26, "7", "&");
    both(27, "-", "_");
    both(28, "8", "*");
    both(29, "0", ")");
    both(30, "]", "}");
    both(31, "o", "O");
    both(32, "u", "U");
    both(33, "[", "{");
    both(34, "i", "I");
    both(35, "p", "P");
    one(36, "\r");
    both(37, "l", "L");
    both(38, "j", "J");
    both(39, "'", "\"");
    both(40, "k", "K");
    both(41, ";", ":");
    both(42, "\\", "|");
    both(43, ",", "<");
    both(44, "/", "?");
    both(45, "n", "N");
    both(46, "m", "M");
    both(47, ".", ">");
    one(48, "\t");
    one(49, " ");
    both(50, "`", "~");
    one(51, "\x7F");
    one(53, "\x1B");
    one(65, ".");
    one(67, "*");
    one(69, "+");
    one(71, kClear);
    one(75, "/");
    one(76, "\x03");
    one(78, "-");
    one(81, "=");
    const char* digits[] = {"0", "1", "2", "3", "4", "5", "6", "7"};
    for (int i = 0; i < 8; ++i) one(82 + i, digits[i]);
    one(91, "8");
    one(92, "9");
    const int functionCodes[20] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                   103, 111, 105, 107, 113, 106, 64, 79, 80, 90};
    for (int i = 0; i < 20; ++i) one(functionCodes[i], kF[i]);
    one(114, kHelp);
    one(115, kHome);
    one(116, kPageUp);
    one(117, kForwardDelete);
    one(119, kEnd);
    one(121, kPageDown);
    one(123, kLeft);
    one(124, kRight);
    one(125, kDown);
    one(126, kUp);
    return k;
  }();
  return keys;
}

bool isLetter(const char* text) { return text[0] >= 'a' && text[0] <= 'z' && text[1] == '\0'; }

}  // namespace

std::string keyboardLayoutCharacters(CGKeyCode key, CGEventFlags flags) {
  if (key >= 128) return {};
  const Key& entry = usLayout()[key];
  if (!entry.base) return {};
  const bool letter = isLetter(entry.base);
  if ((flags & kCGEventFlagMaskControl) != 0) {
    if (letter) return std::string(1, static_cast<char>(entry.base[0] - 'a' + 1));
    const std::string base = entry.base;
    if (base == "[") return "\x1B";
    if (base == "\\") return "\x1C";
    if (base == "]") return "\x1D";
  }
  const bool shift = (flags & kCGEventFlagMaskShift) != 0;
  const bool capitals = letter && (flags & kCGEventFlagMaskAlphaShift) != 0;
  return (shift || capitals) ? entry.shifted : entry.base;
}

}  // namespace platform
