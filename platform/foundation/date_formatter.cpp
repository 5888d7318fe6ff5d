#include "platform/foundation/date_formatter.hpp"

#include <unicode/dtptngen.h>
#include <unicode/locid.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <mutex>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

constexpr const char* kDefaultLocale = "en_US";
constexpr const char* kDefaultTimeZone = "UTC";

struct SessionState {
  std::mutex mutex;
  std::string locale = kDefaultLocale;
  std::string timeZone = kDefaultTimeZone;
};

SessionState& session() {
  static SessionState* made = [] {
    auto* created = new SessionState();
    addResetHook(created, [created] {
      std::lock_guard<std::mutex> guard(created->mutex);
      created->locale = kDefaultLocale;
      created->timeZone = kDefaultTimeZone;
    });
    return created;
  }();
  return *made;
}

// ICU answers a locale for any identifier, falling back to the root for
// ones it has no data for; only the locales it lists as available count.
bool knownLocale(const std::string& identifier) {
  if (identifier.empty()) return false;
  const icu::Locale wanted(identifier.c_str());
  if (wanted.isBogus()) return false;
  int32_t count = 0;
  const icu::Locale* available = icu::Locale::getAvailableLocales(count);
  for (int32_t i = 0; i < count; ++i)
    if (identifier == available[i].getName()) return true;
  return false;
}

bool knownTimeZone(const std::string& name) {
  if (name.empty()) return false;
  // ICU answers its "unknown" zone for a name it does not know.
  std::unique_ptr<icu::TimeZone> zone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name)));
  icu::UnicodeString id, unknown;
  return zone && zone->getID(id) != icu::TimeZone::getUnknown().getID(unknown);
}

}  // namespace

std::optional<NSLocale> NSLocale::localeWithLocaleIdentifier(const std::string& identifier) {
  if (!knownLocale(identifier)) return std::nullopt;
  return NSLocale(identifier, false);
}

NSLocale NSLocale::currentLocale() {
  auto& s = session();
  std::lock_guard<std::mutex> guard(s.mutex);
  return NSLocale(s.locale, false);
}

NSLocale NSLocale::autoupdatingCurrentLocale() { return NSLocale({}, true); }

bool NSLocale::setCurrentLocaleIdentifier(const std::string& identifier) {
  if (!knownLocale(identifier)) return false;
  auto& s = session();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.locale = identifier;
  return true;
}

std::string NSLocale::localeIdentifier() const {
  return autoupdating_ ? currentLocale().localeIdentifier() : identifier_;
}

std::optional<NSTimeZone> NSTimeZone::timeZoneWithName(const std::string& name) {
  if (!knownTimeZone(name)) return std::nullopt;
  return NSTimeZone(name);
}

NSTimeZone NSTimeZone::localTimeZone() {
  auto& s = session();
  std::lock_guard<std::mutex> guard(s.mutex);
  return NSTimeZone(s.timeZone);
}

bool NSTimeZone::setDefaultTimeZoneName(const std::string& name) {
  if (!knownTimeZone(name)) return false;
  auto& s = session();
  std::lock_guard<std::mutex> guard(s.mutex);
  s.timeZone = name;
  return true;
}

NSDateFormatter::NSDateFormatter()
    : locale_(NSLocale::currentLocale()), timeZone_(NSTimeZone::localTimeZone()) {}

void NSDateFormatter::setLocalizedDateFormatFromTemplate(const std::string& dateTemplate) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale locale(locale_.localeIdentifier().c_str());
  std::unique_ptr<icu::DateTimePatternGenerator> generator(
      icu::DateTimePatternGenerator::createInstance(locale, status));
  if (U_FAILURE(status) || !generator) return;
  const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString::fromUTF8(dateTemplate), status);
  if (U_FAILURE(status)) return;
  format_.clear();
  pattern.toUTF8String(format_);
}

std::string NSDateFormatter::stringFromDate(Date date) const {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Locale locale(locale_.localeIdentifier().c_str());
  icu::SimpleDateFormat formatter(icu::UnicodeString::fromUTF8(format_), locale, status);
  if (U_FAILURE(status)) return {};
  formatter.adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone_.name())));
  icu::UnicodeString text;
  formatter.format(date.timeIntervalSince1970() * 1000.0, text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace platform
