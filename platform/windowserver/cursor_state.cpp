#include "platform/windowserver/cursor_state.hpp"

#include <functional>

#include "platform/dispatch/clock.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace platform {

CursorState& CursorState::shared() {
  static CursorState* state = new CursorState();
  return *state;
}

CursorState::CursorState() { reset(); }

void CursorState::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    seed_ = 1;
    hides_.clear();
    showLag_ = 0;
    visibleFrom_ = 0;
    hideLag_ = 0;
    hiddenFrom_ = 0;
    location_ = CGPointMake(756, 491);
    seedReadHooks_.clear();
  }
  registerFunctions();
}

void CursorState::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  registry.add<CGSCurrentCursorSeedFn>("CGSCurrentCursorSeed", [this] {
    runSeedReadHooks();
    return cursorSeed();
  });
  registry.add<CGCursorIsVisibleFn>("CGCursorIsVisible",
                                    [this] { return cursorIsVisible() ? int32_t{1} : int32_t{0}; });
}

int32_t CursorState::cursorSeed() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return seed_;
}

void CursorState::beforeSeedRead(int nth, std::function<void()> change) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (nth >= 1 && change) seedReadHooks_.emplace_back(nth, std::move(change));
}

void CursorState::runSeedReadHooks() {
  std::vector<std::function<void()>> due;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto it = seedReadHooks_.begin(); it != seedReadHooks_.end();) {
      if (--it->first == 0) {
        due.push_back(std::move(it->second));
        it = seedReadHooks_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Outside the lock: a change moves the seed on itself.
  for (auto& change : due) change();
}

int32_t CursorState::bumpCursorSeed() {
  std::lock_guard<std::mutex> guard(mutex_);
  // Unsigned arithmetic wraps without overflow.
  seed_ = static_cast<int32_t>(static_cast<uint32_t>(seed_) + 1u);
  return seed_;
}

void CursorState::setCursorSeed(int32_t seed) {
  std::lock_guard<std::mutex> guard(mutex_);
  seed_ = seed;
}

void CursorState::hideCursor(CGSConnectionID connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (hides_.empty()) hiddenFrom_ = systemUptime() + hideLag_;
  ++hides_[connection];
}

void CursorState::showCursor(CGSConnectionID connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = hides_.find(connection);
  if (it == hides_.end()) return;
  if (--it->second == 0) hides_.erase(it);
  if (hides_.empty()) visibleFrom_ = systemUptime() + showLag_;
}

void CursorState::dropHides(CGSConnectionID connection) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (hides_.erase(connection) != 0 && hides_.empty()) visibleFrom_ = systemUptime() + showLag_;
}

void CursorState::setShowLag(double seconds) {
  std::lock_guard<std::mutex> guard(mutex_);
  showLag_ = seconds;
}

void CursorState::setHideLag(double seconds) {
  std::lock_guard<std::mutex> guard(mutex_);
  hideLag_ = seconds;
}

int CursorState::hideCount(CGSConnectionID connection) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = hides_.find(connection);
  return it == hides_.end() ? 0 : it->second;
}

int CursorState::outstandingHides() const {
  std::lock_guard<std::mutex> guard(mutex_);
  int total = 0;
  for (const auto& entry : hides_) total += entry.second;
  return total;
}

bool CursorState::cursorIsVisible() const {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!hides_.empty()) return systemUptime() < hiddenFrom_;
  return systemUptime() >= visibleFrom_;
}

CGPoint CursorState::cursorLocation() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return location_;
}

void CursorState::setCursorLocation(CGPoint location) {
  std::lock_guard<std::mutex> guard(mutex_);
  location_ = location;
}

}  // namespace platform
