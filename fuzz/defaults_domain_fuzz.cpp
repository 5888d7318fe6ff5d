// A settings domain file, loaded and saved again.
// Properties: nothing of the user's is lost: the file is either left as it
// is, or set aside byte for byte; the values that read are saved with a new
// key, and a second store over the same folder reads exactly those values
// and that key back, from a file it finds clean.
#include "fuzz/fuzz_support.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/foundation/log.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vurle::fuzz;
  const auto& folder = freshScratchFolder();
  const auto file = folder / "app.json";
  const auto aside = folder / "app.json.unreadable";
  const std::string bytes(text(data, size));
  writeFile(file, bytes);

  platform::LogCapture log;  // the console reports are expected here
  const auto store = platform::NSUserDefaults::make("app", folder);
  const auto loaded = store->persistentDomainForName("app");
  if (std::filesystem::exists(aside)) {
    require(readFile(aside) == bytes, "the file set aside differs from the user's");
  } else {
    require(readFile(file) == bytes, "a readable file was changed by reading it");
  }

  store->setObject(std::string("fuzz"), "fuzz.marker");
  platform::PropertyListDictionary expected = loaded.value_or(platform::PropertyListDictionary{});
  expected.insert_or_assign("fuzz.marker", std::string("fuzz"));
  require(store->persistentDomainForName("app").has_value(), "the domain vanished after a change");
  require(sameValue(*store->persistentDomainForName("app"), expected), "the store lost or changed a value");

  const auto lines = log.lines().size();
  const auto second = platform::NSUserDefaults::make("app", folder);
  const auto reread = second->persistentDomainForName("app");
  require(reread.has_value() && sameValue(*reread, expected), "the saved settings do not read back as they were");
  if (log.lines().size() != lines) fail("the saved file was not clean: " + log.lines().back());
  return 0;
}
