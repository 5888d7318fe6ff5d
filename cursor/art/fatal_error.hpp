#pragma once

#include <string_view>

namespace vurle {

// A programming error the callers' limits keep out of reach: report it and
// stop the process rather than run on with a corrupt picture.
[[noreturn]] void fatalError(std::string_view message);

}  // namespace vurle
