// A bundle's information dictionary, Info.json.
// Property: the dictionary a bundle reads is nlohmann's own reading of the
// file under the documented mapping when the file is a JSON object the plain
// reader accepts, and otherwise empty and reported once (the documented
// fallback); the identifier is CFBundleIdentifier exactly when that is a
// string.
#include "fuzz/fuzz_support.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/foundation/log.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const auto& folder = freshScratchFolder();
  writeFile(folder / "Info.json", text(data, size));
  platform::LogCapture log;  // a malformed file is reported there
  const auto bundle = platform::NSBundle::bundleWithPath(folder);
  require(bundle != nullptr, "no bundle for a folder");

  const platform::JSON json = parseJSON(text(data, size));
  const bool readable = !json.is_discarded() && json.is_object() && plainReadable(json);
  const auto& info = bundle->infoDictionary();
  if (readable) {
    require(agreesWithJSON(json, platform::PropertyListValue(info)), "the dictionary differs from the file");
    require(log.lines().empty(), "a readable file was reported");
  } else {
    require(info.empty(), "an unreadable file gave a dictionary");
    require(log.lines().size() == 1, "an unreadable file was not reported once");
  }
  const auto* identifier = bundle->objectForInfoDictionaryKey("CFBundleIdentifier");
  const bool identified = identifier && identifier->string();
  require(bundle->bundleIdentifier().has_value() == identified, "the identifier is not CFBundleIdentifier");
  if (identified) require(*bundle->bundleIdentifier() == *identifier->string(), "the identifier differs");
  return 0;
}
