#include "platform/foundation/number_formatter.hpp"

#include <cstdlib>
#include <stdexcept>

namespace platform {
namespace {

// The default numbers of the platform: groups of three, separated by ",".
struct DefaultGrouping : std::numpunct<char> {
  char do_thousands_sep() const override { return ','; }
  std::string do_grouping() const override { return "\3"; }
};

bool isPortableLocale(const std::string& name) {
  return name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0 || name.rfind("POSIX.", 0) == 0;
}

}  // namespace

std::string NSNumberFormatter::userLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return value;
  }
  return {};
}

std::string NSNumberFormatter::decimalString(std::int64_t value, const std::locale& locale) {
  const auto& punct = std::use_facet<std::numpunct<char>>(locale);
  const std::string grouping = punct.grouping();
  const char separator = punct.thousands_sep();
  // Digits of the magnitude, without overflow for the most negative value.
  std::string digits;
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    digits.insert(digits.begin(), char('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude > 0);
  // Groups from the right: each grouping entry in turn, the last repeated;
  // an entry of 0 or CHAR_MAX (or none at all) ends the grouping.
  std::string out;
  size_t group = 0, inGroup = 0;
  for (size_t i = digits.size(); i-- > 0;) {
    const int size = group < grouping.size() ? static_cast<unsigned char>(grouping[group])
                     : grouping.empty()      ? 0
                                             : static_cast<unsigned char>(grouping.back());
    if (size > 0 && size < 127 && inGroup == static_cast<size_t>(size)) {
      out.insert(out.begin(), separator);
      inGroup = 0;
      if (group + 1 < grouping.size()) ++group;
    }
    out.insert(out.begin(), digits[i]);
    ++inGroup;
  }
  return value < 0 ? "-" + out : out;
}

std::string NSNumberFormatter::localizedDecimalString(std::int64_t value) {
  const std::string name = userLocaleName();
  const std::locale portable(std::locale::classic(), new DefaultGrouping);
  if (isPortableLocale(name)) return decimalString(value, portable);
  try {
    return decimalString(value, std::locale(name));
  } catch (const std::runtime_error&) {
    return decimalString(value, portable);  // not installed here
  }
}

}  // namespace platform
