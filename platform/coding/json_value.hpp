#pragma once

// The JSON value type by name alone, for headers that only pass values
// along: the whole of nlohmann-json is long to compile, and most files that
// include such a header never look inside a value. platform/coding/
// json_coding.hpp has the type's definition and the coder.

#include <nlohmann/json_fwd.hpp>

namespace platform {

using JSON = nlohmann::json;

}  // namespace platform
