// The application's current cursor.

#include <mutex>

#include "platform/appkit/cursor.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {

namespace {
struct Current {
  std::mutex mutex;
  std::shared_ptr<NSCursor> cursor;
  long sets = 0;
};

Current& current() {
  static Current* shared = [] {
    auto* made = new Current();
    addResetHook(made, [made] {
      std::lock_guard<std::mutex> guard(made->mutex);
      made->cursor.reset();
      made->sets = 0;
    });
    return made;
  }();
  return *shared;
}
}  // namespace

void NSCursor::set() {
  auto self = weak_from_this().lock();
  // A cursor made outside a shared pointer is kept as a copy.
  if (!self) self = std::make_shared<NSCursor>(image_, hotSpot_);
  auto& c = current();
  std::lock_guard<std::mutex> guard(c.mutex);
  c.cursor = std::move(self);
  ++c.sets;
}

std::shared_ptr<NSCursor> NSCursor::currentCursor() {
  auto& c = current();
  std::lock_guard<std::mutex> guard(c.mutex);
  return c.cursor;
}

long NSCursor::setCount() {
  auto& c = current();
  std::lock_guard<std::mutex> guard(c.mutex);
  return c.sets;
}

}  // namespace platform
