#include "support/bug_report_rate_state.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/coding/json_coding.hpp"

namespace vurle {
namespace {

constexpr double kNow = 1'700'000'000.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::vector<double> times(std::initializer_list<double> ages) {
  std::vector<double> result;
  for (double age : ages) result.push_back(std::isfinite(age) ? kNow - age : age);
  return result;
}

std::vector<double> repeated(std::size_t count, double age) { return std::vector<double>(count, kNow - age); }

TEST(BugReportRateStateTest, TheWaitEndsWhenTheOldestCountedTimeLeavesItsWindow) {
  struct Case {
    const char* name;
    bool beta;
    std::vector<double> attempts;
    std::vector<double> sent;
    double blockedUntil;
    std::int64_t wait;
  };
  const Case cases[] = {
      {"four attempts", false, times({50, 40, 30, 20}), {}, 0, 0},
      {"five attempts", false, times({50, 40, 30, 20, 10}), {}, 0, 10},
      {"five, oldest 59.5 s old", false, times({59.5, 40, 30, 20, 10}), {}, 0, 1},
      {"five, oldest exactly 60 s old", false, times({60, 40, 30, 20, 10}), {}, 0, 0},
      {"five, one not finite", false, times({kNaN, 40, 30, 20, 10}), {}, 0, 0},
      {"six, the oldest exactly 60 s old", false, times({60, 50, 40, 30, 20, 10}), {}, 0, 10},
      {"beta, 19 attempts", true, repeated(19, 1), {}, 0, 0},
      {"beta, 20 attempts", true, repeated(20, 1), {}, 0, 59},
      {"two sent", false, {}, times({3, 2}), 0, 0},
      {"three sent", false, {}, times({3, 2, 1}), 0, 3597},
      {"three sent, the third now", false, {}, times({0, 0, 0}), 0, 3600},
      {"three sent, oldest exactly an hour old", false, {}, times({3600, 2, 1}), 0, 0},
      {"beta, 59 sent", true, {}, repeated(59, 10), 0, 0},
      {"beta, 60 sent", true, {}, repeated(60, 10), 0, 3590},
      {"blocked a fifth of a second", false, {}, {}, kNow + 0.2, 1},
      {"blocked for a week", false, {}, {}, kNow + 7 * 86400, 86400},
      {"blocked in the past", false, {}, {}, kNow - 5, 0},
      {"blocked until infinity", false, {}, {}, kInfinity, 0},
      {"blocked until NaN", false, {}, {}, kNaN, 0},
      {"the latest limit wins", false, times({50, 40, 30, 20, 10}), times({3, 2, 1}), kNow + 30, 3597},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BugReportRateState::waitSeconds(c.beta, c.attempts, c.sent, kNow, c.blockedUntil), c.wait) << c.name;
  }
  EXPECT_EQ(BugReportRateState::waitSeconds(false, {}, {}, kNaN, kNow + 10), 0) << "a clock that reads NaN";
}

TEST(BugReportRateStateTest, PruningDropsTimesAtTheEdgeOfTheirWindowAndKeepsTheBlock) {
  BugReportRateState state{times({60, 59.999, kNaN, -kInfinity, 0}), times({3600, 3599.5, kInfinity}), kNow + 42};
  state.prune(kNow);
  EXPECT_EQ(state.attempts, times({59.999, 0}));
  EXPECT_EQ(state.sent, times({3599.5}));
  EXPECT_EQ(state.blockedUntil, kNow + 42);
}

TEST(BugReportRateStateTest, TheSentenceCountsSecondsBelowAMinuteAndMinutesAbove) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "Try again in 1 second."},      {1, "Try again in 1 second."},    {2, "Try again in 2 seconds."},
      {59, "Try again in 59 seconds."},   {60, "Try again in 1 minute."},   {61, "Try again in 2 minutes."},
      {119, "Try again in 2 minutes."},   {120, "Try again in 2 minutes."}, {121, "Try again in 3 minutes."},
      {3600, "Try again in 60 minutes."}, {86400, "Try again in 1440 minutes."},
  };
  for (const auto& [seconds, sentence] : cases) EXPECT_EQ(retryMessage(seconds), sentence) << seconds;
}

TEST(BugReportRateStateTest, TheRecordReadsBackAsWrittenAndAnythingElseIsNoRecord) {
  const BugReportRateState state{{kNow - 1, kNow - 0.5}, {kNow - 100}, kNow + 60};
  const auto data = state.encoded();
  ASSERT_TRUE(data.has_value());
  const auto json = platform::JSONDecode(*data);
  EXPECT_EQ(json.size(), 3u);
  EXPECT_TRUE(json.at("attempts").is_array() && json.at("sent").is_array() && json.at("blockedUntil").is_number());
  EXPECT_EQ(BugReportRateState::decoded(*data), state);
  EXPECT_EQ(BugReportRateState::decoded(platform::dataFromString(
                R"({"blockedUntil":0,"sent":[],"attempts":[1700000000],"note":"kept apart"})")),
            (BugReportRateState{{kNow}, {}, 0}));

  EXPECT_FALSE((BugReportRateState{{kNaN}, {}, 0}.encoded().has_value()));
  EXPECT_FALSE((BugReportRateState{{}, {}, kInfinity}.encoded().has_value()));

  const char* garbled[] = {
      "",
      "not json",
      "[]",
      "{}",
      R"({"attempts":[],"sent":[]})",
      R"({"attempts":[],"sent":[],"blockedUntil":"0"})",
      R"({"attempts":[true],"sent":[],"blockedUntil":0})",
      R"({"attempts":[null],"sent":[],"blockedUntil":0})",
      R"({"attempts":{},"sent":[],"blockedUntil":0})",
      R"({"attempts":[],"sent":"","blockedUntil":0})",
  };
  for (const char* text : garbled) {
    EXPECT_FALSE(BugReportRateState::decoded(platform::dataFromString(text)).has_value()) << text;
  }
}

}  // namespace
}  // namespace vurle
