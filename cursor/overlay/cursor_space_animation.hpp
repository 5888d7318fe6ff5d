#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/appkit/screen.hpp"
#include "platform/foundation/lock.hpp"
#include "platform/windowserver/spaces.hpp"

namespace vurle {

// Whether one display's Space is settled: it remembers the Space last seen
// there and holds the display unsettled until `notBefore`, which only ever
// moves forward. Safe from any thread.
class CursorSpaceVisibilityGate {
 public:
  CursorSpaceVisibilityGate();

  // True when the display is settled (the gate is open). A Space of 0 (no
  // reading) holds the gate 0.2 s, an animating display 0.2 s past the
  // reading, and a change of the display's Space 0.5 s.
  bool check(bool animating, uint64_t space, double now);
  // Raises notBefore to at least `until`.
  void holdUntil(double until);

  double notBefore() const;
  std::optional<uint64_t> lastSpace() const;

 private:
  mutable platform::NSLock lock_;
  double notBefore_;
  std::optional<uint64_t> lastSpace_;
};

// Per-display probes of Space transitions for the overlay: a display is
// unsettled while the window server reports it animating and just after,
// after its Space changed, after the workspace announced a Space change,
// and whenever its Space cannot be read. The probes it hands out may run on
// any thread (the lease's watchdog calls them); everything else is main
// thread only.
class CursorSpaceAnimation {
 public:
  using Probe = std::function<bool()>;

  // Looks up CGSMainConnectionID, SLSManagedDisplayIsAnimating and
  // SLSManagedDisplayGetCurrentSpace once; each may be missing.
  CursorSpaceAnimation();

  // True while the display is unsettled. Empty when it cannot be built (a
  // function missing, no display number or UUID, no main connection).
  Probe transitionProbe(const std::shared_ptr<platform::NSScreen>& screen);
  // The probe's answer now; none without a probe.
  std::optional<bool> isTransitioning(const std::shared_ptr<platform::NSScreen>& screen);
  // The negated probe, true while settled: the lease's spaceSettled check.
  // Empty without a probe.
  Probe transitionCheck(const std::shared_ptr<platform::NSScreen>& screen);
  // The workspace announced that the active Space changed.
  void noteSpaceChange();

 private:
  // The probe's body: true while the display is unsettled.
  static bool checkTransition(const std::function<platform::SLSManagedDisplayIsAnimatingFn>& read,
                              int32_t connection, const std::string& uuid,
                              const std::function<platform::SLSManagedDisplayGetCurrentSpaceFn>& readSpace,
                              CursorSpaceVisibilityGate& gate);

  std::optional<std::function<platform::CGSMainConnectionIDFn>> main_;
  std::optional<std::function<platform::SLSManagedDisplayIsAnimatingFn>> read_;
  std::optional<std::function<platform::SLSManagedDisplayGetCurrentSpaceFn>> readSpace_;
  std::map<uint32_t, std::string> identifiers_;
  std::map<uint32_t, std::shared_ptr<CursorSpaceVisibilityGate>> visibilityGates_;
  double lastTransitionAt_;
};

}  // namespace vurle
