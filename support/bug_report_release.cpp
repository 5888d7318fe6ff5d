#include "support/bug_report_release.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/coding/json_coding.hpp"
#include "support/bug_report_store.hpp"

namespace vurle {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// "1.4" or "1.4.2": two or three runs of ASCII digits, nothing else.
bool isVersionText(const std::string& text) {
  int runs = 0;
  std::size_t i = 0;
  for (;;) {
    const std::size_t start = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i == start) return false;
    ++runs;
    if (i == text.size()) return runs == 2 || runs == 3;
    if (text[i] != '.' || runs == 3) return false;
    ++i;
  }
}

// A decimal integer with an optional sign and nothing else, in 64 bits.
std::optional<std::int64_t> integerFromText(const std::string& text) {
  std::size_t start = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) start = 1;
  if (start == text.size()) return std::nullopt;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (!isDigit(text[i])) return std::nullopt;
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  constexpr std::uint64_t largest = std::numeric_limits<std::int64_t>::max();
  if (magnitude > largest + (negative ? 1 : 0)) return std::nullopt;
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == largest + 1 ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(magnitude);
}

// An integer as the platform's JSON decoder reads one: a whole number within
// 64 bits, written with or without a zero fraction; never a Boolean.
std::int64_t decodeBuild(const platform::JSON& record) {
  auto found = record.find("build");
  if (found == record.end()) throw platform::DecodingError("the key \"build\" is missing");
  if (found->is_number_integer() && !found->is_number_unsigned()) return found->get<std::int64_t>();
  if (found->is_number_unsigned()) {
    const auto value = found->get<std::uint64_t>();
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
  } else if (found->is_number_float()) {
    const double value = found->get<double>();
    // 2^63 itself does not fit; every double below it that is whole does.
    if (std::trunc(value) == value && value >= -9223372036854775808.0 && value < 9223372036854775808.0) {
      return static_cast<std::int64_t>(value);
    }
  }
  throw platform::DecodingError("\"build\": expected a whole number within 64 bits");
}

std::vector<BugReportRelease> decodeReleases(const platform::Data& data) {
  const auto json = platform::JSONDecode(data);
  if (!json.is_array()) throw platform::DecodingError("expected an array of releases");
  std::vector<BugReportRelease> releases;
  releases.reserve(json.size());
  for (const auto& entry : json) {
    releases.push_back({platform::decodeString(entry, "version"), decodeBuild(entry),
                        platform::decodeString(entry, "minimumSystemVersion")});
  }
  return releases;
}

}  // namespace

int compareNumerically(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Compare the runs by value: without leading zeros, the longer run is
      // larger, equal lengths compare digit by digit.
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      const std::size_t startA = i;
      const std::size_t startB = j;
      while (i < a.size() && isDigit(a[i])) ++i;
      while (j < b.size() && isDigit(b[j])) ++j;
      const std::size_t lengthA = i - startA;
      const std::size_t lengthB = j - startB;
      if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
      const int order = a.compare(startA, lengthA, b, startB, lengthB);
      if (order != 0) return order < 0 ? -1 : 1;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
    ++i, ++j;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

std::optional<BugReportVersionState> versionStateFromReleaseList(const platform::Data& data,
                                                                 const BugReportMetadata& metadata) {
  using Kind = BugReportVersionState::Kind;
  if (data.size() > kMaximumReleaseListBytes) return BugReportVersionState::of(Kind::unavailable);
  const auto running = integerFromText(metadata.build);
  if (!running) return BugReportVersionState::of(Kind::unavailable);

  std::vector<BugReportRelease> releases;
  try {
    releases = decodeReleases(data);
  } catch (const platform::DecodingError&) {
    return std::nullopt;
  }
  if (releases.empty()) return BugReportVersionState::of(Kind::unpublished);
  for (const auto& release : releases) {
    if (release.build < 1 || !isVersionText(release.version) || !isVersionText(release.minimumSystemVersion)) {
      return BugReportVersionState::of(Kind::unavailable);
    }
  }
  const BugReportRelease* latest = &releases.front();
  for (const auto& release : releases) {
    if (release.build > latest->build) latest = &release;
  }
  if (*running >= latest->build) return BugReportVersionState::of(Kind::current);
  return BugReportVersionState::newer(*latest, compareNumerically(metadata.macOS, latest->minimumSystemVersion) >= 0);
}

}  // namespace vurle
