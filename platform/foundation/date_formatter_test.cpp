#include "platform/foundation/date_formatter.hpp"

#include <gtest/gtest.h>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

class DateFormatterTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }
};

// Tuesday 5 March 2024, 13:05:09 UTC.
constexpr double kPinned = 1709643909.0;
const std::string kNarrowNoBreakSpace = "\u202F";

TEST_F(DateFormatterTest, FormatsInTheSessionsLocaleAndTimeZone) {
  struct Case {
    std::string locale, zone, format, dateTemplate, expected;
  };
  const Case cases[] = {
      {"en_US", "UTC", "EEE MMM d", "", "Tue Mar 5"},
      {"en_US", "UTC", "", "jmm", "1:05" + kNarrowNoBreakSpace + "PM"},
      {"en_GB", "UTC", "EEE MMM d", "", "Tue Mar 5"},
      {"en_GB", "UTC", "", "jmm", "13:05"},
      {"en_US", "America/New_York", "", "jmm", "8:05" + kNarrowNoBreakSpace + "AM"},
      {"de_DE", "Europe/Berlin", "", "jmm", "14:05"},
      {"de_DE", "UTC", "EEE MMM d", "", "Di. März 5"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(NSLocale::setCurrentLocaleIdentifier(c.locale)) << c.locale;
    ASSERT_TRUE(NSTimeZone::setDefaultTimeZoneName(c.zone)) << c.zone;
    NSDateFormatter formatter;
    formatter.setLocale(NSLocale::autoupdatingCurrentLocale());
    if (!c.dateTemplate.empty()) {
      formatter.setLocalizedDateFormatFromTemplate(c.dateTemplate);
    } else {
      formatter.setDateFormat(c.format);
    }
    EXPECT_EQ(formatter.stringFromDate(Date::withTimeIntervalSince1970(kPinned)), c.expected)
        << c.locale << " " << c.zone << " " << c.format << c.dateTemplate;
  }
}

TEST_F(DateFormatterTest, UnknownLocalesAndZonesAreRefusedAndChangeNothing) {
  EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), "en_US");
  EXPECT_EQ(NSTimeZone::localTimeZone().name(), "UTC");
  for (const std::string bad : {"", "xx_YY", "en_US@bogus=1", "not a locale"}) {
    EXPECT_FALSE(NSLocale::setCurrentLocaleIdentifier(bad)) << bad;
    EXPECT_FALSE(NSLocale::localeWithLocaleIdentifier(bad)) << bad;
  }
  for (const std::string bad : {"", "Mars/Olympus", "UTC+99"}) {
    EXPECT_FALSE(NSTimeZone::setDefaultTimeZoneName(bad)) << bad;
    EXPECT_FALSE(NSTimeZone::timeZoneWithName(bad)) << bad;
  }
  EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), "en_US");
  EXPECT_EQ(NSTimeZone::localTimeZone().name(), "UTC");

  // A fixed locale keeps its identifier; the autoupdating one follows.
  const NSLocale fixed = NSLocale::currentLocale();
  const NSLocale following = NSLocale::autoupdatingCurrentLocale();
  ASSERT_TRUE(NSLocale::setCurrentLocaleIdentifier("en_GB"));
  EXPECT_EQ(fixed.localeIdentifier(), "en_US");
  EXPECT_EQ(following.localeIdentifier(), "en_GB");
  resetProcessState();
  EXPECT_EQ(NSLocale::currentLocale().localeIdentifier(), "en_US");
}

}  // namespace
}  // namespace platform
