#include "cursor/engine/cursor_test_strip.hpp"

#include "platform/foundation/process_wide.hpp"

namespace vurle {

namespace {

std::weak_ptr<CursorTestStrip>& activeSlot() {
  static std::weak_ptr<CursorTestStrip> slot;
  static const bool hooked = [] {
    platform::addResetHook(&slot, [] { slot.reset(); });
    return true;
  }();
  (void)hooked;
  return slot;
}

}  // namespace

std::shared_ptr<CursorTestStrip> CursorTestStrip::activeStrip() { return activeSlot().lock(); }

void CursorTestStrip::setActiveStrip(const std::shared_ptr<CursorTestStrip>& strip) { activeSlot() = strip; }

}  // namespace vurle
