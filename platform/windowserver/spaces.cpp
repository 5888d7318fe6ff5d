#include "platform/windowserver/spaces.hpp"

#include <cstdio>
#include <functional>

#include "platform/dyld/symbol_registry.hpp"
#include "platform/windowserver/connections.hpp"

namespace platform {
namespace {

// Private Spaces are numbered apart from the displays' own Spaces.
constexpr CGSSpaceID kFirstPrivateSpace = 500;

std::string defaultUUID(CGDirectDisplayID display) {
  char text[40];
  std::snprintf(text, sizeof text, "37D8832A-2D66-02CA-B9F7-%012X", static_cast<unsigned>(display));
  return text;
}

std::vector<uint64_t> numbersIn(const CFArray& array) {
  std::vector<uint64_t> numbers;
  for (const auto& value : array) {
    // A Boolean is not an identifier, though it reads as 0 or 1.
    if (value.isBoolean()) continue;
    if (auto number = value.asInteger(); number && *number >= 0) numbers.push_back(static_cast<uint64_t>(*number));
  }
  return numbers;
}

}  // namespace

CFUUIDRef CGDisplayCreateUUIDFromDisplayID(CGDirectDisplayID display) {
  if (display == 0) return nullptr;
  auto& spaces = Spaces::shared();
  std::lock_guard<std::mutex> guard(spaces.mutex_);
  const auto& uuid = spaces.displayLocked(display).uuid;
  return uuid ? std::make_shared<const CFUUID>(CFUUID{*uuid}) : nullptr;
}

std::optional<std::string> CFUUIDCreateString(const CFUUIDRef& uuid) {
  if (!uuid) return std::nullopt;
  return uuid->text;
}

Spaces& Spaces::shared() {
  static Spaces* spaces = new Spaces();
  return *spaces;
}

Spaces::Spaces() { reset(); }

void Spaces::reset() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    displays_.clear();
    spaces_.clear();
    nextSpace_ = kFirstPrivateSpace;
    faults_.reset();
  }
  registerFunctions();
}

void Spaces::registerFunctions() {
  auto& registry = SymbolRegistry::shared();
  const std::string& image = kSkyLightFrameworkPath;
  registry.add<SLSMainConnectionIDFn>(
      "SLSMainConnectionID", [] { return WindowServer::shared().mainConnectionID(); }, image);

  registry.add<SLSManagedDisplayIsAnimatingFn>(
      "SLSManagedDisplayIsAnimating",
      [this](CGSConnectionID c, const std::string& uuid) {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (enter("SLSManagedDisplayIsAnimating") || !valid) return false;
        const Display* display = displayNamed(uuid);
        return display != nullptr && display->animating;
      },
      image);

  registry.add<SLSManagedDisplayGetCurrentSpaceFn>(
      "SLSManagedDisplayGetCurrentSpace",
      [this](CGSConnectionID c, const std::string& uuid) -> CGSSpaceID {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (enter("SLSManagedDisplayGetCurrentSpace") || !valid) return 0;
        const Display* display = displayNamed(uuid);
        return display ? display->space : 0;
      },
      image);

  registry.add<SLSSpaceCreateFn>(
      "SLSSpaceCreate",
      [this](CGSConnectionID c, int32_t, int32_t) -> CGSSpaceID {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (enter("SLSSpaceCreate") || !valid) return 0;
        const CGSSpaceID made = nextSpace_++;
        spaces_[made];
        return made;
      },
      image);

  registry.add<SLSSpaceSetAbsoluteLevelFn>(
      "SLSSpaceSetAbsoluteLevel",
      [this](CGSConnectionID c, CGSSpaceID space, int32_t level) {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (const CGError error = enter("SLSSpaceSetAbsoluteLevel")) return error;
        if (!valid) return kCGErrorInvalidConnection;
        auto it = spaces_.find(space);
        if (it == spaces_.end()) return kCGErrorIllegalArgument;
        it->second.level = level;
        return kCGErrorSuccess;
      },
      image);

  // Showing and hiding differ only in the flag they set.
  auto showing = [this](const char* name, bool shown) {
    return [this, name, shown](CGSConnectionID c, const CFArray& spaces) {
      const bool valid = Connections::shared().isValid(c);
      std::lock_guard<std::mutex> guard(mutex_);
      if (const CGError error = enter(name)) return error;
      if (!valid) return kCGErrorInvalidConnection;
      for (uint64_t space : numbersIn(spaces)) {
        if (auto it = spaces_.find(space); it != spaces_.end()) it->second.shown = shown;
      }
      return kCGErrorSuccess;
    };
  };
  registry.add<SLSShowSpacesFn>("SLSShowSpaces", showing("SLSShowSpaces", true), image);
  registry.add<SLSHideSpacesFn>("SLSHideSpaces", showing("SLSHideSpaces", false), image);

  registry.add<SLSSpaceAddWindowsAndRemoveFromSpacesFn>(
      "SLSSpaceAddWindowsAndRemoveFromSpaces",
      [this](CGSConnectionID c, CGSSpaceID space, const CFArray& windows, int32_t) {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (const CGError error = enter("SLSSpaceAddWindowsAndRemoveFromSpaces")) return error;
        if (!valid) return kCGErrorInvalidConnection;
        auto target = spaces_.find(space);
        if (target == spaces_.end()) return kCGErrorIllegalArgument;
        for (uint64_t window : numbersIn(windows)) {
          // A window lives in one private Space at a time.
          for (auto& entry : spaces_) entry.second.windows.erase(static_cast<CGWindowID>(window));
          target->second.windows.insert(static_cast<CGWindowID>(window));
        }
        return kCGErrorSuccess;
      },
      image);

  registry.add<SLSRemoveWindowsFromSpacesFn>(
      "SLSRemoveWindowsFromSpaces",
      [this](CGSConnectionID c, const CFArray& windows, const CFArray& spaces) {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (const CGError error = enter("SLSRemoveWindowsFromSpaces")) return error;
        if (!valid) return kCGErrorInvalidConnection;
        for (uint64_t space : numbersIn(spaces)) {
          auto it = spaces_.find(space);
          if (it == spaces_.end()) continue;
          for (uint64_t window : numbersIn(windows)) it->second.windows.erase(static_cast<CGWindowID>(window));
        }
        return kCGErrorSuccess;
      },
      image);

  registry.add<SLSSpaceDestroyFn>(
      "SLSSpaceDestroy",
      [this](CGSConnectionID c, CGSSpaceID space) {
        const bool valid = Connections::shared().isValid(c);
        std::lock_guard<std::mutex> guard(mutex_);
        if (const CGError error = enter("SLSSpaceDestroy")) return error;
        if (!valid) return kCGErrorInvalidConnection;
        // Its windows fall back to the ordinary Spaces.
        return spaces_.erase(space) != 0 ? kCGErrorSuccess : kCGErrorIllegalArgument;
      },
      image);
}

CGError Spaces::enter(const std::string& function) { return faults_.enter(function); }

Spaces::Display& Spaces::displayLocked(CGDirectDisplayID display) {
  auto [it, made] = displays_.try_emplace(display);
  if (made) it->second = Display{defaultUUID(display), false, display};
  return it->second;
}

const Spaces::Display* Spaces::displayNamed(const std::string& uuid) const {
  for (const auto& entry : displays_) {
    if (entry.second.uuid == uuid) return &entry.second;
  }
  return nullptr;
}

void Spaces::setDisplayUUID(CGDirectDisplayID display, std::optional<std::string> uuid) {
  std::lock_guard<std::mutex> guard(mutex_);
  displayLocked(display).uuid = std::move(uuid);
}

void Spaces::setDisplayAnimating(CGDirectDisplayID display, bool animating) {
  std::lock_guard<std::mutex> guard(mutex_);
  displayLocked(display).animating = animating;
}

void Spaces::setCurrentSpace(CGDirectDisplayID display, CGSSpaceID space) {
  std::lock_guard<std::mutex> guard(mutex_);
  displayLocked(display).space = space;
}

void Spaces::failNext(const std::string& function, CGError error, int count) {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.failNext(function, error, count);
}

void Spaces::clearFailures() {
  std::lock_guard<std::mutex> guard(mutex_);
  faults_.clear();
}

int Spaces::calls(const std::string& function) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return faults_.calls(function);
}

std::set<CGSSpaceID> Spaces::privateSpaces() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::set<CGSSpaceID> ids;
  for (const auto& entry : spaces_) ids.insert(entry.first);
  return ids;
}

std::optional<int32_t> Spaces::spaceLevel(CGSSpaceID space) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = spaces_.find(space);
  return it == spaces_.end() ? std::nullopt : it->second.level;
}

bool Spaces::spaceShown(CGSSpaceID space) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = spaces_.find(space);
  return it != spaces_.end() && it->second.shown;
}

std::set<CGWindowID> Spaces::spaceWindows(CGSSpaceID space) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = spaces_.find(space);
  return it == spaces_.end() ? std::set<CGWindowID>{} : it->second.windows;
}

bool Spaces::showsWindow(CGWindowID window) const {
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& entry : spaces_) {
    if (entry.second.windows.count(window) != 0) return entry.second.shown;
  }
  return true;
}

void Spaces::forgetWindow(CGWindowID window) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto& entry : spaces_) entry.second.windows.erase(window);
}

}  // namespace platform
