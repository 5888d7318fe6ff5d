#include "platform/foundation/number_formatter.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace platform {
namespace {

// A locale of the test's own separator and grouping.
struct Punct : std::numpunct<char> {
  Punct(char separator, std::string grouping) : separator(separator), grouping(std::move(grouping)) {}
  char do_thousands_sep() const override { return separator; }
  std::string do_grouping() const override { return grouping; }
  char separator;
  std::string grouping;
};

TEST(NumberFormatterTest, GroupsByTheLocalesSeparatorAndGrouping) {
  struct Case {
    std::int64_t value;
    char separator;
    std::string grouping;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {6000, '.', "\3", "6.000"},
      {999, '.', "\3", "999"},
      {1000, ',', "\3", "1,000"},
      {1234567, ',', "\3\2", "12,34,567"},  // the last group size repeats
      {-6000, ',', "\3", "-6,000"},
      {0, ',', "\3", "0"},
      {6000, ',', "", "6000"},  // a locale that does not group
      {INT64_MIN, ',', "\3", "-9,223,372,036,854,775,808"},
  };
  for (const auto& c : cases) {
    const std::locale locale(std::locale::classic(), new Punct(c.separator, c.grouping));
    EXPECT_EQ(NSNumberFormatter::decimalString(c.value, locale), c.expected) << c.value;
  }
}

TEST(NumberFormatterTest, TheUsersLocaleComesFromTheEnvironmentAndFallsBackToTheDefaultGrouping) {
  struct Case {
    std::optional<std::string> all, numeric, lang;
    std::string name;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, std::nullopt, ""},
      {std::nullopt, std::nullopt, "C", "C"},
      {std::nullopt, std::nullopt, "POSIX", "POSIX"},
      {std::nullopt, std::nullopt, "C.UTF-8", "C.UTF-8"},
      {std::nullopt, std::nullopt, "xx_YY.UTF-8", "xx_YY.UTF-8"},  // not installed
      {std::nullopt, "C", "xx_YY.UTF-8", "C"},
      {"POSIX", "xx_YY", "xx_YY", "POSIX"},
      {"", std::nullopt, "C", "C"},  // an empty variable is unset
  };
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
  }
  auto put = [](const char* name, const std::optional<std::string>& value) {
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  };
  for (const auto& c : cases) {
    put("LC_ALL", c.all);
    put("LC_NUMERIC", c.numeric);
    put("LANG", c.lang);
    EXPECT_EQ(NSNumberFormatter::userLocaleName(), c.name);
    EXPECT_EQ(NSNumberFormatter::localizedDecimalString(6000), "6,000") << c.name;
  }
  for (const auto& [name, value] : saved) put(name, value);
}

}  // namespace
}  // namespace platform
