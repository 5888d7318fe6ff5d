#include "cursor/native/cursor_trace.hpp"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "platform/dispatch/clock.hpp"
#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

using nlohmann::json;

constexpr long kSharedCapacity = 8192;
constexpr double kFrameEventInterval = 0.1;
constexpr double kOneFrameMilliseconds = 1000.0 / 60.0;
constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

json encodeDouble(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

double decodeDouble(const json& value, const char* key) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) {
    const auto& text = value.get_ref<const json::string_t&>();
    if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
    if (text == "inf") return std::numeric_limits<double>::infinity();
    if (text == "-inf") return -std::numeric_limits<double>::infinity();
  }
  throw std::invalid_argument(std::string("trace event: \"") + key + "\" must be a number");
}

// A whole number in the range of T; a real with no fraction counts.
template <class T>
T decodeInteger(const json& value, const char* key) {
  const auto fail = [key]() -> T {
    throw std::invalid_argument(std::string("trace event: \"") + key + "\" must be a whole number in range");
  };
  if (value.is_number_unsigned()) {
    const auto number = value.get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<T>::max())) return fail();
    return static_cast<T>(number);
  }
  if (value.is_number_integer()) {
    const auto number = value.get<int64_t>();
    if constexpr (std::is_unsigned_v<T>) {
      if (number < 0) return fail();
      if (static_cast<uint64_t>(number) > std::numeric_limits<T>::max()) return fail();
    } else {
      if (number < std::numeric_limits<T>::min() || number > std::numeric_limits<T>::max()) return fail();
    }
    return static_cast<T>(number);
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    // The upper bound 2^bits is exclusive, and exactly representable.
    const double upper = std::ldexp(1.0, std::numeric_limits<T>::digits);
    const double lower = std::is_unsigned_v<T> ? 0.0 : -upper;
    if (std::isfinite(number) && std::trunc(number) == number && number >= lower && number < upper) {
      return static_cast<T>(number);
    }
  }
  return fail();
}

template <class T>
void read(const json& object, const char* key, std::optional<T>& field) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return;
  if constexpr (std::is_same_v<T, double>) {
    field = decodeDouble(*it, key);
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) throw std::invalid_argument(std::string("trace event: \"") + key + "\" must be a string");
    field = it->template get<std::string>();
  } else {
    field = decodeInteger<T>(*it, key);
  }
}

std::string timestamp(double secondsSince1970) {
  const auto whole = static_cast<std::time_t>(std::floor(secondsSince1970));
  const int millis = static_cast<int>((secondsSince1970 - std::floor(secondsSince1970)) * 1000);
  std::tm parts{};
  gmtime_r(&whole, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
  return text;
}

}  // namespace

json CursorTrace::Event::encode() const {
  json object = json::object();
  object["time"] = encodeDouble(time);
  object["kind"] = kind;
  if (seed) object["seed"] = *seed;
  if (generation) object["generation"] = *generation;
  if (identity) object["identity"] = *identity;
  if (value) object["value"] = encodeDouble(*value);
  if (detail) object["detail"] = *detail;
  if (seedBefore) object["seedBefore"] = *seedBefore;
  if (seedReturned) object["seedReturned"] = *seedReturned;
  if (seedAfter) object["seedAfter"] = *seedAfter;
  return object;
}

CursorTrace::Event CursorTrace::Event::decode(const json& object) {
  if (!object.is_object()) throw std::invalid_argument("trace event: not an object");
  auto time = object.find("time");
  if (time == object.end() || time->is_null()) throw std::invalid_argument("trace event: \"time\" is missing");
  auto kind = object.find("kind");
  if (kind == object.end() || !kind->is_string()) {
    throw std::invalid_argument("trace event: \"kind\" is missing or not a string");
  }
  Event event;
  event.time = decodeDouble(*time, "time");
  event.kind = kind->get<std::string>();
  read(object, "seed", event.seed);
  read(object, "generation", event.generation);
  read(object, "identity", event.identity);
  read(object, "value", event.value);
  read(object, "detail", event.detail);
  read(object, "seedBefore", event.seedBefore);
  read(object, "seedReturned", event.seedReturned);
  read(object, "seedAfter", event.seedAfter);
  return event;
}

const std::shared_ptr<CursorTrace>& CursorTrace::shared() {
  static const std::shared_ptr<CursorTrace> trace = [] {
    auto made = std::make_shared<CursorTrace>(kSharedCapacity, [] { return platform::systemUptime(); });
    // The instance stays; tests get it back as it was built.
    platform::addResetHook(made.get(), [raw = made.get()] {
      std::lock_guard<platform::NSLock> guard(raw->lock_);
      raw->clear();
      raw->enabled_ = false;
      raw->session_ = 0;
      raw->rolling_ = false;
      raw->started_ = 0;
      raw->startedAt_.reset();
    });
    return made;
  }();
  return trace;
}

CursorTrace::CursorTrace(long capacity, Clock now)
    : capacity_(capacity < 1 ? 1 : capacity),
      now_(std::move(now)),
      buffer_(static_cast<size_t>(capacity_)),
      lastFrameEvent_(kMinusInfinity) {}

void CursorTrace::clear() {
  for (auto& slot : buffer_) slot.reset();
  next_ = 0;
  count_ = 0;
  overwritten_ = 0;
  lastFrameEvent_ = kMinusInfinity;
}

void CursorTrace::record(std::string_view kind, const Fields& fields) {
  std::unique_lock<platform::NSLock> guard(lock_, std::try_to_lock);
  if (!guard.owns_lock() || !enabled_) return;
  if (fields.session && *fields.session != session_) return;
  const double t = now_() - started_;
  if (rolling_ && kind == "overlay-frame") {
    if (t - lastFrameEvent_ < kFrameEventInterval) return;
    lastFrameEvent_ = t;
  }
  // Slots are overwritten in place so their strings keep their storage.
  auto& slot = buffer_[static_cast<size_t>(next_)];
  Event& event = slot ? *slot : slot.emplace();
  event.time = t;
  event.kind.assign(kind);
  event.seed = fields.seed;
  event.generation = fields.generation;
  event.identity = fields.identity;
  event.value = fields.value;
  if (fields.detail) {
    if (!event.detail) event.detail.emplace();
    event.detail->assign(*fields.detail);
  } else {
    event.detail.reset();
  }
  event.seedBefore = fields.seedBefore;
  event.seedReturned = fields.seedReturned;
  event.seedAfter = fields.seedAfter;
  next_ = (next_ + 1) % capacity_;
  if (count_ != capacity_) {
    ++count_;
  } else {
    ++overwritten_;
  }
}

void CursorTrace::recordMainWork(std::optional<double> since, std::string_view label) {
  if (!since) return;
  const double ms = (now_() - *since) * 1000;
  if (!(ms > kOneFrameMilliseconds)) return;
  record("cursor-main-work", {.value = ms, .detail = label});
}

void CursorTrace::enable(uint64_t session, bool rolling) {
  const double wall = platform::wallClockTime();
  std::lock_guard<platform::NSLock> guard(lock_);
  // Events of an earlier session were timed from another start.
  clear();
  enabled_ = true;
  session_ = session;
  rolling_ = rolling;
  started_ = now_();
  startedAt_ = timestamp(wall);
}

void CursorTrace::disable() {
  std::lock_guard<platform::NSLock> guard(lock_);
  enabled_ = false;
}

CursorTrace::Status CursorTrace::status() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return {enabled_, session_};
}

std::vector<CursorTrace::Event> CursorTrace::events() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  std::vector<Event> events;
  events.reserve(static_cast<size_t>(count_));
  for (long i = 0; i < count_; ++i) {
    const long index = (next_ - count_ + i + capacity_) % capacity_;
    events.push_back(*buffer_[static_cast<size_t>(index)]);
  }
  return events;
}

std::string CursorTrace::exportJSON() const {
  json array = json::array();
  for (const auto& event : events()) array.push_back(event.encode());
  // Details are free text; a stray byte that is not UTF-8 must not lose the export.
  return array.dump(-1, ' ', false, json::error_handler_t::replace);
}

long CursorTrace::count() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return count_;
}

long CursorTrace::next() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return next_;
}

long CursorTrace::overwritten() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return overwritten_;
}

double CursorTrace::lastFrameEvent() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return lastFrameEvent_;
}

std::optional<std::string> CursorTrace::startedAt() const {
  std::lock_guard<platform::NSLock> guard(lock_);
  return startedAt_;
}

std::optional<CursorTrace::Event> CursorTrace::slot(long index) const {
  std::lock_guard<platform::NSLock> guard(lock_);
  if (index < 0 || index >= capacity_) return std::nullopt;
  return buffer_[static_cast<size_t>(index)];
}

}  // namespace vurle
