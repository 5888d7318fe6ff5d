#pragma once

#include <memory>
#include <utility>

namespace platform {

// A block or timer body that holds its owner weakly: while the owner lives
// it calls f(owner, args...), afterwards it does nothing. It converts to
// Block and to NSTimer::TimerBlock alike.
template <class T, class F>
auto weakBlock(const std::shared_ptr<T>& owner, F f) {
  return [weak = std::weak_ptr<T>(owner), f = std::move(f)](auto&&... args) mutable {
    if (auto strong = weak.lock()) f(*strong, std::forward<decltype(args)>(args)...);
  };
}

}  // namespace platform
