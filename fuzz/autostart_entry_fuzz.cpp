// Autostart entries read through GLib's key-file reader. The input is an
// executable's path, then a NUL, then the bytes of an entry file (which may
// hold NULs of its own).
// Properties: any entry, and any Exec value, reads as no program or a
// non-empty one; a path the entry writer accepts is exactly the program its
// written entry reads back as, switched on and not hidden, and it refuses
// exactly the paths that are not absolute UTF-8 or hold a control character
// or "=".
#include "fuzz/fuzz_support.hpp"
#include "platform/foundation/unicode_text.hpp"
#include "platform/servicemanagement/app_service.hpp"

using platform::SMAppService;
using vurle::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [path, bytes] = vurle::fuzz::splitAtNul(vurle::fuzz::text(data, size));
  const auto reading = SMAppService::readEntry(bytes);
  require(!reading || !reading->program || !reading->program->name.empty(), "an entry read as an empty program");
  const auto program = SMAppService::programOfExec(bytes);
  require(!program || !program->name.empty(), "an Exec value read as an empty program");

  const bool writable = !path.empty() && path[0] == '/' && platform::isValidUTF8(path) &&
                        !platform::containsControlCharacters(path) && path.find('=') == std::string::npos;
  const auto entry = SMAppService::entryText(path, "vurle");
  require(entry.has_value() == writable, "the writer's refusal differs from its rule");
  if (!entry) return 0;
  const auto written = SMAppService::readEntry(*entry);
  require(written.has_value(), "a written entry does not read");
  require(!written->hidden && !written->switchedOff, "a written entry reads as hidden or switched off");
  require(written->program && written->program->name == path, "the written entry starts another program");
  return 0;
}
