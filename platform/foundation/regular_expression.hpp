#pragma once

// Regular expressions in the platform's syntax (ICU's), matched over UTF-16
// text, so that locations and lengths count UTF-16 code units exactly as
// the platform's ranges do. A pattern is compiled once; each search works
// on its own copy, so one expression may be used again and again (main
// thread or not, one search at a time per copy).
//
// Matching runs under a step limit: a pattern that backtracks without end
// on hostile text fails (none) instead of hanging, and text beyond
// kMaxTextLength units is refused the same way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

inline constexpr std::size_t NSNotFound = static_cast<std::size_t>(INTPTR_MAX);

struct NSRange {
  std::size_t location = NSNotFound;
  std::size_t length = 0;
  bool operator==(const NSRange&) const = default;
};
inline NSRange NSMakeRange(std::size_t location, std::size_t length) { return {location, length}; }
inline std::size_t NSMaxRange(NSRange range) { return range.location + range.length; }

class NSRegularExpression {
 public:
  static constexpr std::size_t kMaxTextLength = std::size_t(1) << 26;
  enum Options : unsigned { caseInsensitive = 1u << 0 };

  struct Match {
    // [0] the whole match, [n] capture group n ({NSNotFound, 0} when it took
    // no part).
    std::vector<NSRange> ranges;
    NSRange range() const { return ranges.front(); }
  };

  // None when the pattern is not valid; the reason goes to `error`.
  static std::optional<NSRegularExpression> make(const std::string& pattern, unsigned options = 0,
                                                 std::string* error = nullptr);

  // Every match, left to right, none overlapping. None when matching
  // failed (the step limit, text too long).
  std::optional<std::vector<Match>> matchesInString(const std::u16string& text) const;
  // Every match replaced by the template, where "$n" is group n and "\"
  // escapes the next character. None when matching failed.
  std::optional<std::u16string> stringByReplacingMatches(const std::u16string& text,
                                                         const std::u16string& replacement) const;

  const std::string& pattern() const { return pattern_; }

 private:
  struct Compiled;
  NSRegularExpression(std::string pattern, std::shared_ptr<Compiled> compiled)
      : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}
  std::string pattern_;
  std::shared_ptr<Compiled> compiled_;
};

}  // namespace platform
