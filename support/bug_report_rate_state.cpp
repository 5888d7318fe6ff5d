#include "support/bug_report_rate_state.hpp"

#include <algorithm>
#include <cmath>

#include "platform/coding/json_coding.hpp"

namespace vurle {
namespace {

constexpr double kAttemptWindow = 60.0;
constexpr double kSentWindow = 3600.0;
constexpr double kLongestWait = 86400.0;

// The earliest time inside the window, when at least `limit` times are.
double limitEnd(const std::vector<double>& times, double now, double window, std::size_t limit) {
  std::size_t count = 0;
  double earliest = INFINITY;
  for (double time : times) {
    if (!std::isfinite(time) || !(time > now - window)) continue;
    ++count;
    earliest = std::min(earliest, time);
  }
  return count >= limit ? earliest + window : 0.0;
}

std::vector<double> decodeTimes(const platform::JSON& record, const char* key) {
  auto found = record.find(key);
  if (found == record.end() || !found->is_array()) throw platform::DecodingError(std::string(key) + ": expected an array");
  std::vector<double> times;
  times.reserve(found->size());
  for (const auto& value : *found) {
    if (!value.is_number()) throw platform::DecodingError(std::string(key) + ": expected numbers");
    times.push_back(value.get<double>());
  }
  return times;
}

}  // namespace

void BugReportRateState::prune(double now) {
  std::erase_if(attempts, [now](double time) { return !std::isfinite(time) || !(time > now - kAttemptWindow); });
  std::erase_if(sent, [now](double time) { return !std::isfinite(time) || !(time > now - kSentWindow); });
}

std::int64_t BugReportRateState::waitSeconds(bool beta, const std::vector<double>& attempts,
                                             const std::vector<double>& sent, double now, double blockedUntil) {
  const double blocked = std::isfinite(blockedUntil) ? blockedUntil : 0.0;
  const double attemptsEnd = limitEnd(attempts, now, kAttemptWindow, beta ? 20 : 5);
  const double sentEnd = limitEnd(sent, now, kSentWindow, beta ? 60 : 3);
  const double until = std::max({blocked, attemptsEnd, sentEnd});
  const double wait = std::ceil(std::min(until - now, kLongestWait));
  // A clock that reads NaN must not turn into an undefined conversion.
  if (!(wait > 0)) return 0;
  return static_cast<std::int64_t>(wait);
}

std::optional<platform::Data> BugReportRateState::encoded() const {
  try {
    return platform::JSONEncode({{"attempts", attempts}, {"sent", sent}, {"blockedUntil", blockedUntil}});
  } catch (const platform::EncodingError&) {
    return std::nullopt;
  }
}

std::optional<BugReportRateState> BugReportRateState::decoded(const platform::Data& data) {
  try {
    const auto record = platform::JSONDecode(data);
    if (!record.is_object()) return std::nullopt;
    BugReportRateState state;
    state.attempts = decodeTimes(record, "attempts");
    state.sent = decodeTimes(record, "sent");
    auto blocked = record.find("blockedUntil");
    if (blocked == record.end() || !blocked->is_number()) return std::nullopt;
    state.blockedUntil = blocked->get<double>();
    return state;
  } catch (const platform::DecodingError&) {
    return std::nullopt;
  }
}

std::string retryMessage(std::int64_t seconds) {
  const bool minutes = seconds >= 60;
  const std::int64_t count = minutes ? (seconds + 59) / 60 : std::max<std::int64_t>(seconds, 1);
  return "Try again in " + std::to_string(count) + (minutes ? " minute" : " second") + (count == 1 ? "" : "s") + ".";
}

}  // namespace vurle
