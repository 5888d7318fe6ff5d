#include "platform/dyld/symbol_registry.hpp"

namespace platform {

SymbolRegistry& SymbolRegistry::shared() {
  static SymbolRegistry registry;
  return registry;
}

void SymbolRegistry::remove(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  symbols_.erase(name);
}

bool SymbolRegistry::contains(const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return symbols_.count(name) != 0;
}

void SymbolRegistry::addImage(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  images_.insert(path);
}

void SymbolRegistry::removeImage(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  images_.erase(path);
  for (auto it = symbols_.begin(); it != symbols_.end();) {
    it = it->second.image == path ? symbols_.erase(it) : std::next(it);
  }
}

DLHandle SymbolRegistry::open(const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (images_.count(path) == 0) return nullptr;
  // Handles stay valid for the life of the process, as a framework that
  // was opened is never closed.
  auto& handle = handles_[path];
  if (!handle) handle = std::make_unique<LibraryHandle>(LibraryHandle{path});
  return handle.get();
}

int SymbolRegistry::lookupCount(const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = lookups_.find(name);
  return it == lookups_.end() ? 0 : it->second;
}

void SymbolRegistry::noteLookup(const std::string& name) {
  std::lock_guard<std::mutex> guard(mutex_);
  ++lookups_[name];
}

}  // namespace platform
