#include "cursor/art/fatal_error.hpp"

#include <cstdio>
#include <cstdlib>

namespace vurle {

void fatalError(std::string_view message) {
  std::fprintf(stderr, "vurle fatal error: %.*s\n", static_cast<int>(message.size()), message.data());
  std::fflush(stderr);
  std::abort();
}

}  // namespace vurle
