#pragma once

// Dates written for a person, through ICU: locales and time zones of the
// desktop's session and a date formatter over them. The current locale and
// time zone are the simulated desktop's choice (en_US and UTC until it
// sets others; resetProcessState() brings those back). Locale data is
// ICU's as installed, so a time in en_US reads "1:05 PM" with ICU's narrow
// no-break space before "PM". Any thread; a formatter is used from one
// thread at a time.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/date.hpp"

namespace platform {

class NSLocale {
 public:
  // A locale ICU has data for ("en_US", "en_GB", "de_DE"...); none for any
  // other identifier.
  static std::optional<NSLocale> localeWithLocaleIdentifier(const std::string& identifier);
  // The session's locale as it is now.
  static NSLocale currentLocale();
  // A locale that is always the session's current one, also after a change.
  static NSLocale autoupdatingCurrentLocale();
  // The simulated desktop's locale setting; false (nothing changed) for an
  // identifier ICU has no data for.
  static bool setCurrentLocaleIdentifier(const std::string& identifier);

  // An autoupdating locale answers the current identifier.
  std::string localeIdentifier() const;

 private:
  NSLocale(std::string identifier, bool autoupdating) : identifier_(std::move(identifier)), autoupdating_(autoupdating) {}
  std::string identifier_;
  bool autoupdating_ = false;
};

class NSTimeZone {
 public:
  // An Olson name ICU knows ("UTC", "Europe/London"...); none otherwise.
  static std::optional<NSTimeZone> timeZoneWithName(const std::string& name);
  // The session's time zone as it is now.
  static NSTimeZone localTimeZone();
  // The simulated desktop's time-zone setting; false for an unknown name.
  static bool setDefaultTimeZoneName(const std::string& name);

  const std::string& name() const { return name_; }

 private:
  explicit NSTimeZone(std::string name) : name_(std::move(name)) {}
  std::string name_;
};

// Formats dates by a pattern of ICU's (Unicode TR 35) date symbols. A new
// formatter has the current locale, the local time zone and no format.
class NSDateFormatter {
 public:
  NSDateFormatter();

  const NSLocale& locale() const { return locale_; }
  void setLocale(NSLocale locale) { locale_ = std::move(locale); }
  const NSTimeZone& timeZone() const { return timeZone_; }
  void setTimeZone(NSTimeZone zone) { timeZone_ = std::move(zone); }
  const std::string& dateFormat() const { return format_; }
  void setDateFormat(std::string format) { format_ = std::move(format); }
  // The format the locale writes for the template's fields ("jmm": hour
  // and minutes in the locale's 12- or 24-hour convention), made from the
  // formatter's locale at the time of the call.
  void setLocalizedDateFormatFromTemplate(const std::string& dateTemplate);

  // The date in the format, locale and time zone; empty when ICU refuses
  // the pattern.
  std::string stringFromDate(Date date) const;

 private:
  NSLocale locale_;
  NSTimeZone timeZone_;
  std::string format_;
};

}  // namespace platform
