#pragma once

// The few Unicode facts the system's texts are checked with (a bug report's
// fields, a shortcut's key text), kept here as small tables so that trimming,
// the e-mail pattern and the control-character check follow the same sets as
// the platform's text APIs:
// - White_Space: the property of that name in the Unicode Character
//   Database's PropList.txt (Unicode 15.0). It is what the platform's
//   "whitespace and newline" set and a regular expression's \s match.
// - Control characters: general categories Cc and Cf in UnicodeData.txt
//   (Unicode 15.0), the platform's "control characters" set. Cf holds
//   invisible format characters such as the zero-width joiner, so those count
//   as control characters too.
// - Upper case: the full, locale-independent mapping of ICU's root locale,
//   as the platform's uppercasedString gives it: "ß" becomes "SS" and "i"
//   becomes "I" whatever the process's locale.
// - What draws something, for showable text: ICU's general categories and
//   its Default_Ignorable_Code_Point property.
// Every function takes well-formed UTF-8 (see platform::isValidUTF8).

#include <cstddef>
#include <string>

namespace platform {

bool isWhiteSpace(char32_t scalar);
bool isControlCharacter(char32_t scalar);

// The Unicode scalars of well-formed UTF-8 text.
std::u32string unicodeScalars(const std::string& text);
// The text without White_Space scalars at either end.
std::string trimmingWhiteSpace(const std::string& text);
// The number of UTF-16 code units the text takes: two for a scalar beyond
// U+FFFF, one for any other.
std::size_t utf16Length(const std::string& text);
// Between UTF-8 and UTF-16, which the platform's text ranges count in.
// Ill-formed input (UTF-8 that is not well formed, a lone surrogate)
// becomes U+FFFD for each bad sequence; text of more than 715 827 882
// units gives the empty string.
std::u16string utf16String(const std::string& text);
std::string utf8String(const std::u16string& text);
// Whether any of its scalars is a control character.
bool containsControlCharacters(const std::string& text);
// Whether text from outside (a service's sentence, an update feed's version)
// may be shown as it came: well-formed UTF-8 (checked here, so any bytes may
// be passed), at most `maximumLength` UTF-16 units, with at least one
// character that draws something by itself (a letter, number, punctuation
// or symbol that is neither default-ignorable, such as U+3164, nor blank,
// such as U+2800: not only spaces, format characters or marks), no control
// character of general category Cc (a bell, an escape sequence, a line
// break), no line or paragraph separator (U+2028, U+2029) and no
// bidirectional formatting character (U+061C, U+200E, U+200F,
// U+202A-U+202E, U+2066-U+2069), which could hide or reorder what the user
// reads. Other format characters, such as an emoji's zero-width joiner, are
// shown.
bool isShowableText(const std::string& text, std::size_t maximumLength);
// The text in upper case; the text unchanged if ICU refuses it.
std::string uppercasedString(const std::string& text);

}  // namespace platform
