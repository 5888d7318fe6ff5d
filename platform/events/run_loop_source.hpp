#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace platform {

// Core Foundation run-loop sources, for the event taps and Accessibility
// observers whose callbacks run on the main run loop. Only the main run
// loop exists here (CFRunLoopGetMain). A source's work is handed to
// RunLoop::main() by whoever signals it and runs there only while the
// source is still valid and added to the main run loop; removing or
// invalidating a source drops work not yet run. The modes a source was
// added in are recorded and can be checked; delivery does not depend on
// them (the system's sources all use the common modes).
struct CFRunLoop;
using CFRunLoopRef = CFRunLoop*;
CFRunLoopRef CFRunLoopGetMain();

using CFRunLoopMode = std::string;
inline const CFRunLoopMode kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";
inline const CFRunLoopMode kCFRunLoopCommonModes = "kCFRunLoopCommonModes";

using CFIndex = long;
struct CFAllocator;
using CFAllocatorRef = const CFAllocator*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

class CFRunLoopSource {
 public:
  // `served` is the object the source runs for; the source keeps it alive.
  static std::shared_ptr<CFRunLoopSource> make(CFIndex order = 0, std::shared_ptr<const void> served = nullptr);
  CFRunLoopSource(const CFRunLoopSource&) = delete;
  CFRunLoopSource& operator=(const CFRunLoopSource&) = delete;

  bool isValid() const;
  // Added to the main run loop in at least one mode, and valid.
  bool isScheduled() const;
  bool isScheduledIn(const CFRunLoopMode& mode) const;
  CFIndex order() const { return order_; }

 private:
  friend void CFRunLoopAddSource(CFRunLoopRef, const std::shared_ptr<CFRunLoopSource>&, const CFRunLoopMode&);
  friend void CFRunLoopRemoveSource(CFRunLoopRef, const std::shared_ptr<CFRunLoopSource>&,
                                    const CFRunLoopMode&);
  friend void CFRunLoopSourceInvalidate(const std::shared_ptr<CFRunLoopSource>&);
  CFRunLoopSource(CFIndex order, std::shared_ptr<const void> served)
      : order_(order), served_(std::move(served)) {}

  const CFIndex order_;
  const std::shared_ptr<const void> served_;
  mutable std::mutex mutex_;
  bool valid_ = true;
  std::set<CFRunLoopMode> modes_;
};
using CFRunLoopSourceRef = std::shared_ptr<CFRunLoopSource>;

// The run loop retains a source while it is added in any mode. Adding an
// invalid source, or to no run loop, does nothing.
void CFRunLoopAddSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode);
void CFRunLoopRemoveSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode);
bool CFRunLoopContainsSource(CFRunLoopRef loop, const CFRunLoopSourceRef& source, const CFRunLoopMode& mode);
// For good: the source leaves every mode and never runs again.
void CFRunLoopSourceInvalidate(const CFRunLoopSourceRef& source);
bool CFRunLoopSourceIsValid(const CFRunLoopSourceRef& source);

// Sources added to the main run loop right now (reset by
// resetProcessState()).
size_t mainRunLoopSourceCount();

}  // namespace platform
