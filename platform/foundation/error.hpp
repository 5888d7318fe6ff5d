#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A failure a platform call reports: its domain, code and the sentence a
// user may be shown (the localized description).
struct NSError {
  std::string domain;
  int64_t code = 0;
  std::string description;
};

}  // namespace platform
