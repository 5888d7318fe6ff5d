#include "platform/appkit/pasteboard.hpp"

#include "platform/foundation/process_wide.hpp"

namespace platform {

NSPasteboard& NSPasteboard::generalPasteboard() {
  static NSPasteboard* pasteboard = [] {
    auto* made = new NSPasteboard();
    addResetHook(made, [made] { made->reset(); });
    return made;
  }();
  return *pasteboard;
}

void NSPasteboard::reset() {
  std::lock_guard<std::mutex> guard(mutex_);
  contents_.clear();
  changeCount_ = 0;
  refusesWrites_ = false;
}

long NSPasteboard::clearContents() {
  std::lock_guard<std::mutex> guard(mutex_);
  contents_.clear();
  return ++changeCount_;
}

bool NSPasteboard::setString(const std::string& string, const std::string& type) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (refusesWrites_) return false;
  contents_[type] = string;
  return true;
}

std::optional<std::string> NSPasteboard::stringForType(const std::string& type) const {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = contents_.find(type);
  if (it == contents_.end()) return std::nullopt;
  return it->second;
}

long NSPasteboard::changeCount() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return changeCount_;
}

void NSPasteboard::setRefusesWrites(bool refuses) {
  std::lock_guard<std::mutex> guard(mutex_);
  refusesWrites_ = refuses;
}

}  // namespace platform
