#include "cursor/native/cursor_access.hpp"

#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {

CursorAccess::CursorAccess()
    : readSeed_(platform::dlsym<platform::CGSCurrentCursorSeedFn>(platform::RTLD_DEFAULT, "CGSCurrentCursorSeed")),
      readVisible_(platform::dlsym<platform::CGCursorIsVisibleFn>(platform::RTLD_DEFAULT, "CGCursorIsVisible")) {}

std::optional<int32_t> CursorAccess::currentSeed() const {
  if (!readSeed_) return std::nullopt;
  return (*readSeed_)();
}

std::optional<bool> CursorAccess::cursorIsVisible() const {
  if (!readVisible_) return std::nullopt;
  return (*readVisible_)() != 0;
}

}  // namespace vurle
