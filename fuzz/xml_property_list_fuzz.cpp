// The XML property-list reader (bundles' Info.plist files).
// Property: a value read from any bytes writes back as XML that reads again
// as the same value (NaN included) and writes to the same bytes; writing a
// value read never fails; no value nests deeper than the readers' limit;
// refusal is a DecodingError and nothing else.
#include "fuzz/fuzz_support.hpp"
#include "platform/coding/xml_property_list.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const platform::Data bytes(data, data + size);
  std::optional<platform::PropertyListValue> value;
  try {
    value = platform::propertyListFromXML(bytes);
  } catch (const platform::DecodingError&) {
    return 0;
  }
  require(size <= platform::maximumXMLPropertyListLength, "a document over the size limit was read");
  require(containerDepth(*value) <= platform::maximumPropertyListDepth, "a value nested too deep was read");
  platform::Data written;
  try {
    written = platform::propertyListXMLData(*value);
  } catch (const platform::EncodingError& error) {
    fail(std::string("a value read cannot be written: ") + error.what());
  }
  const auto again = platform::propertyListFromXML(written);
  require(sameValue(*value, again), "a written value does not read back as itself");
  require(platform::propertyListXMLData(again) == written, "writing is not stable");
  return 0;
}
