#pragma once

// The public release list "releases.json" and what it says about the running
// build. The list is a JSON array of objects with "version" and
// "minimumSystemVersion" (two or three dot-separated runs of decimal digits)
// and "build" (an integer of at least 1); other keys are ignored, and one bad
// entry rejects the whole list. The latest release is the one with the
// greatest build, the first of equal builds. Only builds are compared.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/coding/data.hpp"

namespace vurle {

struct BugReportMetadata;

struct BugReportRelease {
  std::string version;
  std::int64_t build = 0;
  std::string minimumSystemVersion;

  bool operator==(const BugReportRelease&) const = default;
};

struct BugReportVersionState {
  enum class Kind {
    newer,        // a release with a higher build exists (release, runsHere)
    checking,     // a check runs or has not finished; the initial state
    current,      // the running build is the latest published one, or newer
    unpublished,  // the list is valid and empty
    unavailable,  // the check failed or the list was rejected
  };

  Kind kind = Kind::checking;
  std::optional<BugReportRelease> release;  // newer only
  bool runsHere = false;                    // newer only: this system meets its minimum

  static BugReportVersionState newer(BugReportRelease release, bool runsHere) {
    return {Kind::newer, std::move(release), runsHere};
  }
  static BugReportVersionState of(Kind kind) { return {kind, std::nullopt, false}; }

  bool operator==(const BugReportVersionState&) const = default;
};

// The largest list read; a longer one is refused before it is decoded.
inline constexpr std::size_t kMaximumReleaseListBytes = 262144;

// The state the list gives for the running build (metadata.build, a decimal
// integer with an optional sign), or absent when the body is not a JSON
// array of release objects. An oversized body, an unreadable running build
// or an invalid entry give `unavailable`.
std::optional<BugReportVersionState> versionStateFromReleaseList(const platform::Data& data,
                                                                 const BugReportMetadata& metadata);

// Compares version texts as the platform's numeric string comparison does:
// runs of digits by their value, other characters one by one; when one text
// is a prefix of the other, the shorter is smaller. Answers -1, 0 or 1.
int compareNumerically(const std::string& a, const std::string& b);

}  // namespace vurle
