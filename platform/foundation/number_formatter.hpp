#pragma once

// Whole numbers in the user's decimal format, as a number formatter with
// the decimal style writes them. The user's locale is the first of
// LC_ALL, LC_NUMERIC and LANG that is set and not empty; the C and POSIX
// locales (and their ".UTF-8" forms), a locale this system has not
// installed and no locale at all write the platform's default, groups of
// three separated by ",". Any thread.

#include <cstdint>
#include <locale>
#include <string>

namespace platform {

class NSNumberFormatter {
 public:
  // The number grouped as the user's locale groups it.
  static std::string localizedDecimalString(std::int64_t value);
  // The number grouped by the locale's separator and grouping.
  static std::string decimalString(std::int64_t value, const std::locale& locale);
  // The name the user's locale has, as the environment gives it; empty for none.
  static std::string userLocaleName();
};

}  // namespace platform
