#include "platform/events/run_loop_source.hpp"

#include <utility>

#include "platform/foundation/process_wide.hpp"

namespace platform {

struct CFRunLoop {};

namespace {

// The main run loop's retained sources.
struct MainLoopSources {
  std::mutex mutex;
  std::set<CFRunLoopSourceRef> sources;
};

MainLoopSources& mainLoopSources() {
  static MainLoopSources* made = [] {
    auto* list = new MainLoopSources();
    addResetHook(list, [list] {
      std::set<CFRunLoopSourceRef> dropped;
      {
        std::lock_guard<std::mutex> guard(list->mutex);
        dropped.swap(list->sources);
      }
      for (const auto& source : dropped) CFRunLoopSourceInvalidate(source);
    });
    return list;
  }();
  return *made;
}

void retain(const CFRunLoopSourceRef& source, bool retained) {
  auto& list = mainLoopSources();
  std::lock_guard<std::mutex> guard(list.mutex);
  if (retained) {
    list.sources.insert(source);
  } else {
    list.sources.erase(source);
  }
}

}  // namespace

CFRunLoopRef CFRunLoopGetMain() {
  static CFRunLoop main;
  return &main;
}

std::shared_ptr<CFRunLoopSource> CFRunLoopSource::make(CFIndex order, std::shared_ptr<const void> served) {
  return std::shared_ptr<CFRunLoopSource>(new CFRunLoopSource(order, std::move(served)));
}

bool CFRunLoopSource::isValid() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return valid_;
}

bool CFRunLoopSource::isScheduled() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return valid_ && !modes_.empty();
}

bool CFRunLoopSource::isScheduledIn(const CFRunLoopMode& mode) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return valid_ && modes_.count(mode) != 0;
}

void CFRunLoopAddSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode) {
  if (loop != CFRunLoopGetMain() || !source) return;
  {
    std::lock_guard<std::mutex> guard(source->mutex_);
    if (!source->valid_) return;
    source->modes_.insert(mode);
  }
  retain(source, true);
}

void CFRunLoopRemoveSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode) {
  if (loop != CFRunLoopGetMain() || !source) return;
  bool empty;
  {
    std::lock_guard<std::mutex> guard(source->mutex_);
    source->modes_.erase(mode);
    empty = source->modes_.empty();
  }
  if (empty) retain(source, false);
}

bool CFRunLoopContainsSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode) {
  return loop == CFRunLoopGetMain() && source && source->isScheduledIn(mode);
}

void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source) {
  if (!source) return;
  {
    std::lock_guard<std::mutex> guard(source->mutex_);
    source->valid_ = false;
    source->modes_.clear();
  }
  retain(source, false);
}

bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source) { return source && source->isValid(); }

size_t mainRunLoopSourceCount() {
  auto& list = mainLoopSources();
  std::lock_guard<std::mutex> guard(list.mutex);
  return list.sources.size();
}

}  // namespace platform
