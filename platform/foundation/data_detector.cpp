#include "platform/foundation/data_detector.hpp"

#include <algorithm>
#include <atomic>

#include "platform/foundation/process_wide.hpp"
#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

std::atomic<bool>& creationFails() {
  static std::atomic<bool>* fails = [] {
    auto* flag = new std::atomic<bool>(false);
    addResetHook(flag, [flag] { flag->store(false); });
    return flag;
  }();
  return *fails;
}

// Group 1: a web address; group 2: an e-mail address, its "mailto:" outside.
constexpr const char* kLinkPattern =
    "(\\b(?:https?://|www\\.)[^\\s<>\"\\u201C\\u201D\\u2018\\u2019]+)"
    "|(?:\\bmailto:)?(\\b[A-Z0-9._%+-]+@[A-Z0-9-]+(?:\\.[A-Z0-9-]+)*\\.[A-Z]{2,}\\b)";

bool isTrailingPunctuation(char16_t c) {
  return c == u'.' || c == u',' || c == u';' || c == u':' || c == u'!' || c == u'?' || c == u'\'' || c == u'"' ||
         c == u'\u2019' || c == u'\u201D';
}

char16_t opening(char16_t closing) { return closing == u')' ? u'(' : closing == u']' ? u'[' : u'{'; }

// The match without what a sentence puts after a link.
NSRange trimmed(const std::u16string& text, NSRange range) {
  while (range.length > 0) {
    const char16_t last = text[NSMaxRange(range) - 1];
    if (isTrailingPunctuation(last)) {
      --range.length;
      continue;
    }
    if (last == u')' || last == u']' || last == u'}') {
      const auto begin = text.begin() + static_cast<std::ptrdiff_t>(range.location);
      const auto end = begin + static_cast<std::ptrdiff_t>(range.length);
      if (std::count(begin, end, opening(last)) < std::count(begin, end, last)) {
        --range.length;
        continue;
      }
    }
    break;
  }
  return range;
}

}  // namespace

void NSDataDetector::setCreationFails(bool fails) { creationFails().store(fails); }

std::optional<NSDataDetector> NSDataDetector::linkDetector() {
  if (creationFails().load()) return std::nullopt;
  auto expression = NSRegularExpression::make(kLinkPattern, NSRegularExpression::caseInsensitive);
  if (!expression) return std::nullopt;
  return NSDataDetector(std::move(*expression));
}

std::vector<NSDataDetector::Match> NSDataDetector::matchesInString(const std::u16string& text) const {
  std::vector<Match> links;
  const auto matches = expression_.matchesInString(text);
  if (!matches) return links;
  for (const auto& match : *matches) {
    const bool web = match.ranges[1].location != NSNotFound;
    NSRange range = trimmed(text, web ? match.ranges[1] : match.range());
    const NSRange address = web ? range : match.ranges[2];
    if (range.length == 0) continue;
    std::string written = utf8String(text.substr(address.location, address.length));
    std::string link = written;
    if (!web) {
      link = "mailto:" + written;
    } else if (written.size() >= 4 && (written[0] == 'w' || written[0] == 'W') && written.find("://") == std::string::npos) {
      link = "http://" + written;
    }
    if (auto url = NSURL::URLWithString(link)) links.push_back({range, *url});
  }
  return links;
}

}  // namespace platform
