#pragma once

#include <map>
#include <string>
#include <utility>

#include "platform/windowserver/window_server.hpp"

namespace platform {

// Scripted failures and call counts of a stand-in's functions, keyed by the
// names they are registered under. Not locked itself: its owner calls it
// under the owner's own lock.
class FunctionFaults {
 public:
  // The next `count` calls of the function answer `error`; a negative count
  // makes every call fail until clear().
  void failNext(const std::string& function, CGError error, int count) {
    failures_[function] = {error, count};
  }
  void clear() { failures_.clear(); }
  void reset() {
    failures_.clear();
    calls_.clear();
  }
  int calls(const std::string& function) const {
    auto it = calls_.find(function);
    return it == calls_.end() ? 0 : it->second;
  }
  // Counts the call; answers the scripted error, if any, else success.
  CGError enter(const std::string& function) {
    ++calls_[function];
    auto it = failures_.find(function);
    if (it == failures_.end()) return kCGErrorSuccess;
    const CGError error = it->second.first;
    if (it->second.second > 0 && --it->second.second == 0) failures_.erase(it);
    return error;
  }

 private:
  std::map<std::string, std::pair<CGError, int>> failures_;
  std::map<std::string, int> calls_;
};

}  // namespace platform
