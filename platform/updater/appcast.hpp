#pragma once

// The update feed: an RSS 2.0 document whose items describe releases, with
// the fields of the updater's own in the namespace SUAppcastNamespace
// (any prefix may be bound to it):
//
//   <rss version="2.0" xmlns:vu="https://example.com/xmlns/vurle-updates">
//     <channel>
//       <item>
//         <title>vurle 1.3</title>
//         <vu:version>130</vu:version>                     the build, dotted decimal
//         <vu:shortVersionString>1.3</vu:shortVersionString>  shown to the user
//         <vu:minimumSystemVersion>14.0</vu:minimumSystemVersion>  optional
//         <enclosure url="https://…" length="123" vu:edSignature="…"/>
//       </item>
//     </channel>
//   </rss>
//
// Reading is strict about what may be offered and lenient about the rest:
// an item without an https enclosure, a 64-byte Base64 Ed25519 signature
// and a dotted-decimal version, or with a length or minimum system that
// does not read, is skipped; unknown elements are ignored. The feed's text
// reaches the user's windows, so an item whose shown version or title is
// not short, plain text (platform::isShowableText, at
// SUAppcastMaximumShownTextLength) is skipped too. A document over
// SUAppcastMaximumBytes, one that is not XML, or whose root is not an RSS
// element with a channel, is refused whole.
// Nothing here recurses: the reader looks only at the channel's items and
// their children, and its time is linear in the document's size.
//
// Pure functions, safe on any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/coding/data.hpp"
#include "platform/foundation/process_info.hpp"

namespace platform {

inline constexpr const char* SUAppcastNamespace = "https://example.com/xmlns/vurle-updates";
inline constexpr std::size_t SUAppcastMaximumBytes = 1u << 20;
// The longest feed text shown (a version, a title), in UTF-16 units.
inline constexpr std::size_t SUAppcastMaximumShownTextLength = 300;

struct SUAppcastItem {
  // The texts a window may show (title, displayVersionString) are empty or
  // short, plain text.
  std::string title;
  // The build this item installs, dotted decimal; compared with the running
  // CFBundleVersion.
  std::string versionString;
  // Shown to the user; the build when the feed gives none.
  std::string displayVersionString;
  std::optional<std::string> minimumSystemVersion;
  // The archive: an https URL, its declared length when given, and its
  // Ed25519 signature (64 bytes).
  std::string fileURL;
  std::optional<std::uint64_t> contentLength;
  Data edSignature;

  bool operator==(const SUAppcastItem&) const = default;
};

struct SUAppcast {
  // The items that may be offered, in document order.
  std::vector<SUAppcastItem> items;
  // Items left out for their form.
  std::size_t skippedItems = 0;
};

// The feed, or why it is refused (`error`, a sentence).
struct SUAppcastReading {
  std::optional<SUAppcast> appcast;
  std::string error;
};
SUAppcastReading SUAppcastRead(const Data& document);

// Runs of ASCII digits joined by single dots ("14", "1.10.2").
bool SUIsDottedDecimal(const std::string& text);
// Compares two dotted-decimal versions run by run, by value, a missing run
// counting as 0 ("1.10" > "1.9", "1.2" = "1.2.0"): -1, 0 or 1. Absent when
// either is not dotted decimal.
std::optional<int> SUCompareVersions(const std::string& a, const std::string& b);
// "major.minor.patch".
std::string SUVersionText(NSOperatingSystemVersion version);

// What the feed offers a running build on a system.
struct SUAppcastChoice {
  // The newest item above the running build that this system can run.
  std::optional<SUAppcastItem> update;
  // Without one: the newest item above the running build that needs a
  // newer system, if any.
  std::optional<SUAppcastItem> needsNewerSystem;
};
// The running build must be dotted decimal (the caller refuses others).
// An item whose build is `skippedVersion` or older is not offered.
SUAppcastChoice SUAppcastChoose(const SUAppcast& appcast, const std::string& runningBuild,
                                NSOperatingSystemVersion system,
                                const std::optional<std::string>& skippedVersion = std::nullopt);

}  // namespace platform
