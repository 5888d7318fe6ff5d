#include "platform/foundation/regular_expression.hpp"

#include <unicode/uregex.h>

#include "platform/foundation/unicode_text.hpp"

namespace platform {
namespace {

// Steps of ICU's match engine, roughly milliseconds: far beyond what any
// of the system's patterns takes on its own texts.
constexpr int32_t kTimeLimit = 2000;

struct RegexDeleter {
  void operator()(URegularExpression* re) const { uregex_close(re); }
};
using Regex = std::unique_ptr<URegularExpression, RegexDeleter>;

}  // namespace

struct NSRegularExpression::Compiled {
  Regex regex;
};

std::optional<NSRegularExpression> NSRegularExpression::make(const std::string& pattern, unsigned options,
                                                             std::string* error) {
  const std::u16string text = utf16String(pattern);
  if (text.empty()) {
    if (error) *error = "empty pattern";
    return std::nullopt;
  }
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  const uint32_t flags = (options & caseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
  Regex regex(uregex_open(text.data(), static_cast<int32_t>(text.size()), flags, &where, &status));
  if (U_FAILURE(status) || !regex) {
    if (error) *error = std::string(u_errorName(status)) + " at offset " + std::to_string(where.offset);
    return std::nullopt;
  }
  auto compiled = std::make_shared<Compiled>();
  compiled->regex = std::move(regex);
  return NSRegularExpression(pattern, std::move(compiled));
}

namespace {

// A copy of the compiled pattern on the text, or null.
Regex searcher(URegularExpression* pattern, const std::u16string& text) {
  if (text.size() > NSRegularExpression::kMaxTextLength) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  Regex re(uregex_clone(pattern, &status));
  if (U_FAILURE(status) || !re) return nullptr;
  uregex_setTimeLimit(re.get(), kTimeLimit, &status);
  // The engine keeps a pointer to the text; the caller's string outlives it.
  uregex_setText(re.get(), text.data(), static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return nullptr;
  return re;
}

}  // namespace

std::optional<std::vector<NSRegularExpression::Match>> NSRegularExpression::matchesInString(
    const std::u16string& text) const {
  Regex re = searcher(compiled_->regex.get(), text);
  if (!re) return std::nullopt;
  std::vector<Match> matches;
  UErrorCode status = U_ZERO_ERROR;
  const int32_t groups = uregex_groupCount(re.get(), &status);
  while (uregex_findNext(re.get(), &status)) {
    Match match;
    for (int32_t g = 0; g <= groups && U_SUCCESS(status); ++g) {
      const int32_t start = uregex_start(re.get(), g, &status);
      const int32_t end = uregex_end(re.get(), g, &status);
      match.ranges.push_back(start < 0 ? NSRange{}
                                       : NSMakeRange(static_cast<size_t>(start), static_cast<size_t>(end - start)));
    }
    if (U_FAILURE(status)) break;
    matches.push_back(std::move(match));
  }
  if (U_FAILURE(status)) return std::nullopt;
  return matches;
}

std::optional<std::u16string> NSRegularExpression::stringByReplacingMatches(
    const std::u16string& text, const std::u16string& replacement) const {
  Regex re = searcher(compiled_->regex.get(), text);
  if (!re) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  // Asked for the length first, then written.
  const int32_t length = uregex_replaceAll(re.get(), replacement.data(), static_cast<int32_t>(replacement.size()),
                                           nullptr, 0, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  std::u16string out(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  uregex_reset(re.get(), 0, &status);
  uregex_replaceAll(re.get(), replacement.data(), static_cast<int32_t>(replacement.size()), out.data(),
                    static_cast<int32_t>(out.size()), &status);
  // ICU reports a missing terminator as a warning: the units are all there.
  if (U_FAILURE(status)) return std::nullopt;
  return out;
}

}  // namespace platform
