#include "platform/foundation/process_wide.hpp"

#include <map>
#include <vector>

namespace platform {
namespace {

std::mutex& registryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<const void*, std::function<void()>>& registry() {
  static std::map<const void*, std::function<void()>> hooks;
  return hooks;
}

}  // namespace

void addResetHook(const void* key, std::function<void()> reset) {
  std::lock_guard<std::mutex> guard(registryMutex());
  registry()[key] = std::move(reset);
}

void removeResetHook(const void* key) {
  std::lock_guard<std::mutex> guard(registryMutex());
  registry().erase(key);
}

void resetProcessState() {
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard<std::mutex> guard(registryMutex());
    for (auto& entry : registry()) hooks.push_back(entry.second);
  }
  for (auto& hook : hooks) hook();
}

}  // namespace platform
