#pragma once

// The platform's link detector, as far as the system's texts need it: it
// finds http and https URLs, "www." addresses (linked as http) and e-mail
// addresses (linked as mailto:, with or without that prefix written), and
// leaves trailing punctuation out of a match (".", ",", ";", ":", "!",
// "?", quotes, and a closing bracket that opens nowhere in the match). A
// match whose text does not make a URL is dropped. Locations count UTF-16
// code units. Making a detector can fail, as on the platform; the fault
// seam setCreationFails says so until resetProcessState().

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/regular_expression.hpp"
#include "platform/foundation/url.hpp"

namespace platform {

class NSDataDetector {
 public:
  struct Match {
    NSRange range;
    NSURL URL;
  };

  // None when the detector cannot be made.
  static std::optional<NSDataDetector> linkDetector();
  // Left to right, none overlapping; none found when matching fails.
  std::vector<Match> matchesInString(const std::u16string& text) const;

  static void setCreationFails(bool fails);

 private:
  explicit NSDataDetector(NSRegularExpression expression) : expression_(std::move(expression)) {}
  NSRegularExpression expression_;
};

}  // namespace platform
