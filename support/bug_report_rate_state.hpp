#pragma once

// How often bug reports may be sent: the start times of recent attempts, the
// times of recent accepted reports and a block the service may impose with a
// 429 answer. The bug-report store keeps one record in memory and persists
// it in the user defaults as JSON with exactly the keys "attempts", "sent"
// and "blockedUntil" (seconds since 1970), under "bugReportRateState.v1".
//
//   channel   attempts in the last 60 s   accepted reports in the last 3600 s
//   beta      20                          60
//   other     5                           3
//
// A limit is reached when its window holds at least that many times. Times
// that are not finite never count.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/coding/data.hpp"

namespace vurle {

struct BugReportRateState {
  std::vector<double> attempts;
  std::vector<double> sent;
  double blockedUntil = 0.0;

  // Keeps only finite attempts later than now − 60 and finite sent times
  // later than now − 3600 (a time exactly that old is dropped).
  void prune(double now);

  // Whole seconds until the next report may go (0: now). Never more than a
  // day, whatever blockedUntil holds; a non-finite blockedUntil counts as 0.
  static std::int64_t waitSeconds(bool beta, const std::vector<double>& attempts, const std::vector<double>& sent,
                                  double now, double blockedUntil);

  // The persisted form. Encoding fails (absent) when a time is not finite;
  // decoding fails (absent) for anything but an object with the three keys
  // holding numbers.
  std::optional<platform::Data> encoded() const;
  static std::optional<BugReportRateState> decoded(const platform::Data& data);

  bool operator==(const BugReportRateState&) const = default;
};

// "Try again in N seconds." below a minute (N at least 1), else in whole
// minutes rounded up; "second" and "minute" without the "s" when N is 1.
std::string retryMessage(std::int64_t seconds);

}  // namespace vurle
