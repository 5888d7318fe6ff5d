// The tagged JSON reader (settings domains and stored values).
// Property: a value read from any JSON text writes back as tagged JSON that
// reads again as the same value (NaN included), so what is stored reads back
// exactly; no value nests deeper than the readers' limit; refusal is a
// DecodingError and nothing else.
#include "fuzz/fuzz_support.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const platform::JSON json = parseJSON(text(data, size));
  if (json.is_discarded()) return 0;
  std::optional<platform::PropertyListValue> value;
  try {
    value = platform::propertyListFromTaggedJSON(json);
  } catch (const platform::DecodingError&) {
    return 0;
  }
  require(containerDepth(*value) <= platform::maximumPropertyListDepth, "a value nested too deep was read");
  // Strings come from parsed JSON, so they are UTF-8 and every value has a
  // text form.
  const platform::Data written = platform::JSONEncode(platform::taggedJSON(*value));
  const auto again = platform::propertyListFromTaggedJSON(platform::JSONDecode(written));
  require(sameValue(*value, again), "a tagged value does not read back as itself");
  return 0;
}
