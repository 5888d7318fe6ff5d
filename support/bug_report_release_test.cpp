#include "support/bug_report_release.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>

#include "support/bug_report_store.hpp"

namespace vurle {
namespace {

using Kind = BugReportVersionState::Kind;

BugReportMetadata running(std::string build, std::string macOS = "14.6.1") {
  return {"1.4", std::move(build), std::move(macOS), "stable"};
}

std::optional<BugReportVersionState> stateOf(const std::string& body, const BugReportMetadata& metadata) {
  return versionStateFromReleaseList(platform::dataFromString(body), metadata);
}

std::string entry(const std::string& version, const std::string& build, const std::string& minimum = "14.0") {
  return R"({"version":")" + version + R"(","build":)" + build + R"(,"minimumSystemVersion":")" + minimum + R"("})";
}

// A JSON array of the entries, appended piece by piece: GCC 12 warns falsely
// (-Wrestrict) about "literal" + std::string at -O3.
std::string list(std::initializer_list<std::string> entries) {
  std::string text = "[";
  for (const auto& item : entries) {
    if (text.size() > 1) text += ',';
    text += item;
  }
  text += ']';
  return text;
}

const auto kUnavailable = BugReportVersionState::of(Kind::unavailable);

TEST(BugReportReleaseTest, TheListDecidesBetweenNewerCurrentUnpublishedAndUnavailable) {
  struct Case {
    const char* name;
    std::string body;
    BugReportMetadata metadata;
    std::optional<BugReportVersionState> state;  // absent: the list does not decode
  };
  const std::string three = list({entry("1.3", "40"), entry("1.4", "42"), entry("1.4.1", "42")});
  const Case cases[] = {
      {"empty", "[]", running("41"), BugReportVersionState::of(Kind::unpublished)},
      {"empty, spaced", " \n [ \t ] \n", running("41"), BugReportVersionState::of(Kind::unpublished)},
      {"first of equal builds", three, running("41"), BugReportVersionState::newer({"1.4", 42, "14.0"}, true)},
      {"same build", three, running("42"), BugReportVersionState::of(Kind::current)},
      {"later build", three, running("43"), BugReportVersionState::of(Kind::current)},
      {"signed running build", three, running("+41"), BugReportVersionState::newer({"1.4", 42, "14.0"}, true)},
      {"system too old", list({entry("2.0", "50", "15.0")}), running("41", "14.6.1"),
       BugReportVersionState::newer({"2.0", 50, "15.0"}, false)},
      {"system equal in numbers", list({entry("2.0", "50", "15.0")}), running("41", "15.0.0"),
       BugReportVersionState::newer({"2.0", 50, "15.0"}, true)},
      {"numeric, not textual", list({entry("2.0", "50", "10.9")}), running("41", "10.10.0"),
       BugReportVersionState::newer({"2.0", 50, "10.9"}, true)},
      {"other keys ignored", R"([{"version":"1.5","build":43,"minimumSystemVersion":"14.0","notes":[1,{}]}])",
       running("41"), BugReportVersionState::newer({"1.5", 43, "14.0"}, true)},
      {"build with zero fraction", list({entry("1.5", "43.0")}), running("41"),
       BugReportVersionState::newer({"1.5", 43, "14.0"}, true)},
      {"version with a suffix", list({entry("1.4 beta", "42")}), running("41"), kUnavailable},
      {"leading letter", list({entry("v1.4", "42")}), running("41"), kUnavailable},
      {"one number", list({entry("1", "42")}), running("41"), kUnavailable},
      {"four parts", list({entry("1.2.3.4", "42")}), running("41"), kUnavailable},
      {"trailing newline", list({entry("1.4\\n", "42")}), running("41"), kUnavailable},
      {"bad minimum", list({entry("1.4", "42", "15")}), running("41"), kUnavailable},
      {"build 0", list({entry("1.3", "40"), entry("1.4", "0")}), running("41"), kUnavailable},
      {"negative build", list({entry("1.4", "-3")}), running("-5"), kUnavailable},
      {"running build not a number", three, running("Unknown"), kUnavailable},
      {"running build with a space", three, running(" 41"), kUnavailable},
      {"running build past 64 bits", three, running("9223372036854775808"), kUnavailable},
      {"running build checked before the list", "garbage", running("abc"), kUnavailable},
      {"not an array", R"({"version":"1.4","build":42,"minimumSystemVersion":"14.0"})", running("41"), std::nullopt},
      {"build as text", list({entry("1.4", "\"42\"")}), running("41"), std::nullopt},
      {"build with a fraction", list({entry("1.4", "42.5")}), running("41"), std::nullopt},
      {"build as Boolean", list({entry("1.4", "true")}), running("41"), std::nullopt},
      {"missing key", R"([{"version":"1.4","build":42}])", running("41"), std::nullopt},
      {"malformed", "[{", running("41"), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(stateOf(c.body, c.metadata), c.state) << c.name;
}

TEST(BugReportReleaseTest, TheListIsRefusedAboveItsSizeLimitBeforeDecoding) {
  const std::string one = list({entry("1.5", "43")});
  std::string atLimit = one + std::string(kMaximumReleaseListBytes - one.size(), ' ');
  ASSERT_EQ(atLimit.size(), 262144u);
  EXPECT_EQ(stateOf(atLimit, running("41")), BugReportVersionState::newer({"1.5", 43, "14.0"}, true));
  EXPECT_EQ(stateOf(atLimit + " ", running("41")), kUnavailable);
  // Nesting as deep as the limit allows neither crashes nor decodes.
  const std::string deep = std::string(kMaximumReleaseListBytes / 2, '[') + std::string(kMaximumReleaseListBytes / 2, ']');
  EXPECT_EQ(stateOf(deep, running("41")), std::nullopt);
}

TEST(BugReportReleaseTest, VersionTextsCompareByTheirNumbers) {
  const std::tuple<const char*, const char*, int> cases[] = {
      {"14.6.1", "15.0", -1}, {"15.0.0", "15.0", 1}, {"15.0", "15.0", 0},  {"10.10", "10.9", 1},
      {"10.9", "10.10", -1},  {"1.01", "1.1", 0},    {"2", "10", -1},      {"1.a", "1.b", -1},
      {"", "1", -1},          {"100.0", "99.9", 1},  {"007", "7", 0},      {"1.2.3", "1.2", 1},
  };
  for (const auto& [a, b, order] : cases) EXPECT_EQ(compareNumerically(a, b), order) << a << " vs " << b;
}

}  // namespace
}  // namespace vurle
