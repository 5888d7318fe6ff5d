#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace platform {

// The dynamic loader's stand-in. The window server's private functions are
// found by name at run time; the simulated window server registers each
// function it offers under its name, in the image (framework path) that
// holds it, and tests remove single names to exercise the paths where a
// function is missing.
//
// Lookup rules, as the loader's:
// - dlsym(RTLD_DEFAULT, name) searches every image of the process;
// - dlopen(path, mode) answers a handle only for an image that exists
//   (a framework with at least one registered function, or one added with
//   addImage), and nullptr otherwise;
// - dlsym(handle, name) searches that image alone.
// A name registered with another signature than the caller expects is
// treated as absent, never called through the wrong type.

struct LibraryHandle {
  std::string path;
};
using DLHandle = const LibraryHandle*;

// The default search scope: every image already in the process.
inline constexpr DLHandle RTLD_DEFAULT = nullptr;
inline constexpr int RTLD_LAZY = 1;
inline constexpr int RTLD_NOW = 2;

// The image that holds the process's own public and private functions.
inline const std::string kDefaultImage = "";

class SymbolRegistry {
 public:
  static SymbolRegistry& shared();

  template <class F>
  void add(const std::string& name, std::function<F> function,
           const std::string& image = kDefaultImage) {
    std::lock_guard<std::mutex> guard(mutex_);
    images_.insert(image);
    symbols_[name] = Entry{image, std::any(std::move(function))};
  }

  void remove(const std::string& name);
  bool contains(const std::string& name) const;
  void addImage(const std::string& path);
  // Removing an image makes dlopen fail for it and drops its functions.
  void removeImage(const std::string& path);

  DLHandle open(const std::string& path);

  template <class F>
  std::optional<std::function<F>> find(DLHandle handle, const std::string& name) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = symbols_.find(name);
    if (it == symbols_.end()) return std::nullopt;
    if (handle != RTLD_DEFAULT && handle->path != it->second.image) return std::nullopt;
    if (auto* function = std::any_cast<std::function<F>>(&it->second.function)) {
      if (*function) return *function;
    }
    return std::nullopt;
  }

  // Lookups made so far, by name; lets tests check that a component
  // resolves each name once rather than on every call.
  int lookupCount(const std::string& name) const;
  void noteLookup(const std::string& name);

 private:
  struct Entry {
    std::string image;
    std::any function;
  };
  mutable std::mutex mutex_;
  std::map<std::string, Entry> symbols_;
  std::set<std::string> images_;
  std::map<std::string, std::unique_ptr<LibraryHandle>> handles_;
  std::map<std::string, int> lookups_;
};

inline DLHandle dlopen(const std::string& path, int /*mode*/) {
  return SymbolRegistry::shared().open(path);
}

template <class F>
std::optional<std::function<F>> dlsym(DLHandle handle, const std::string& name) {
  auto& registry = SymbolRegistry::shared();
  registry.noteLookup(name);
  return registry.find<F>(handle, name);
}

}  // namespace platform
