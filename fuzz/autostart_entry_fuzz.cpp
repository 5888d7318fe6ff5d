// The Exec lines of autostart entries. The input is an Exec value, then a
// NUL, then an executable's path.
// Properties: any Exec value, however quoted, reads as no program or a
// non-empty one; a path the entry writer accepts is exactly the program its
// written Exec line reads back as, and it refuses exactly the paths that
// are not absolute UTF-8 or hold a control character or "=".
#include "fuzz/fuzz_support.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "platform/servicemanagement/app_service.hpp"

using platform::SMAppService;
using vurle::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [value, path] = vurle::fuzz::splitAtNul(vurle::fuzz::text(data, size));
  const auto program = SMAppService::programOfExec(value);
  require(!program || !program->empty(), "an Exec value read as an empty program");

  const bool writable = !path.empty() && path[0] == '/' && platform::isValidUTF8(path) && !platform::containsControlCharacters(path) &&
                        path.find('=') == std::string::npos;
  const auto entry = SMAppService::entryText(path, "vurle");
  require(entry.has_value() == writable, "the writer's refusal differs from its rule");
  if (!entry) return 0;
  const std::string prefix = "\nExec=";
  const auto at = entry->find(prefix);
  require(at != std::string::npos, "a written entry has no Exec line");
  const auto end = entry->find('\n', at + 1);
  require(end != std::string::npos, "a written Exec line does not end");
  require(SMAppService::programOfExec(entry->substr(at + prefix.size(), end - at - prefix.size())) == path,
          "the written Exec line starts another program");
  return 0;
}
