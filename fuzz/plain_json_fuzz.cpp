// The plain JSON reader (generated information dictionaries).
// Property: on any JSON text, the reader agrees with nlohmann's own reading:
// when the JSON holds no null and nests no deeper than the limit, the value
// read is that JSON under the documented mapping; otherwise the reader
// refuses with a DecodingError, and never with anything else.
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const platform::JSON json = parseJSON(text(data, size));
  if (json.is_discarded()) return 0;
  const bool readable = plainReadable(json);
  try {
    const auto value = platform::propertyListFromJSON(json);
    require(readable, "a JSON value with null or nested too deep was read");
    require(agreesWithJSON(json, value), "the value read differs from the JSON");
  } catch (const platform::DecodingError&) {
    require(!readable, "readable JSON was refused");
  }
  return 0;
}
