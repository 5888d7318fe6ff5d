#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_set>

#include "cursor/art/cursor_image.hpp"
#include "cursor/art/native_cursor_library.hpp"
#include "cursor/art/pointer_animation.hpp"
#include "cursor/engine/experimental_dock_regions.hpp"
#include "cursor/native/cursor_access.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "cursor/native/native_cursor_sampler.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/screen.hpp"

namespace vurle {

// Animates the pointer over the Dock, where the overlay may not draw: while
// the pointer stands on a Dock item the system verifies, it morphs between
// the sampled system cursor and the arrow through a native presenter of its
// own, writing every frame as the real system cursor, and the presenter's
// time-limited Dock permit lets the Dock show that cursor.
//
// A run: the engine's step starts it on a verified item (the sampler is
// enabled, the display link drives the frames), and it ends on the first
// refusal (the pointer leaves the verified items, a button is pressed, the
// application hides, the Space check fails, the presenter handed back on
// its own, a morph or a submission is refused) or when a morph back to the
// arrow completes. Every end goes through stop(), which gives the pointer
// back to the native cursor; the presenter's watchdog independently revokes
// the Dock override when the permit lapses.
//
// Main thread only (engine, display link, sampler announcements); the
// presenter's state is touched under its own lock. Lives in a shared_ptr:
// the display link and the sampler hold it weakly.
class ExperimentalDockCursor : public std::enable_shared_from_this<ExperimentalDockCursor> {
 public:
  using Permission = std::function<std::optional<ExperimentalDockRegions::Context>()>;
  using Safe = std::function<bool()>;

  static constexpr double kArrowWindow = 2.0;  // s after a run's first morph

  static std::shared_ptr<ExperimentalDockCursor> make();
  // Stops without restoring.
  ~ExperimentalDockCursor();
  ExperimentalDockCursor(const ExperimentalDockCursor&) = delete;
  ExperimentalDockCursor& operator=(const ExperimentalDockCursor&) = delete;

  // One engine tick with the pointer over the Dock band: the screen under
  // the pointer, the morph's length, the Space-transition check, the Dock
  // regions, and the pointer and screen frame in window-server coordinates.
  // True when the experiment took the tick (a run goes on or started).
  bool step(const std::shared_ptr<platform::NSScreen>& screen, double duration, Safe safe,
            const std::shared_ptr<ExperimentalDockRegions>& regions, CGPoint pointer, CGRect screenFrame);
  // The display link's selector: the same decision as step, then a frame.
  void tick(platform::CADisplayLink& link);
  // The sampler published a new native sample.
  void morph(const NativeCursorSample& sample);
  // Ends the run, giving the pointer back (with the target registered
  // again when `restore`).
  void stop(bool restore);

  // The pointer in window-server coordinates (y down from the top of the
  // first screen).
  static CGPoint pointerLocation();

  // State, for the engine and tests.
  bool observing() const { return observing_; }
  const std::shared_ptr<NativeCursorPresenter>& native() const { return native_; }
  // The sampler, made on first use.
  const std::shared_ptr<NativeCursorSampler>& sampler();
  const PointerAnimation& animation() const { return animation_; }
  std::optional<int32_t> inputSeed() const { return inputSeed_; }
  double expires() const { return expires_; }
  double duration() const { return duration_; }
  const std::shared_ptr<platform::CADisplayLink>& link() const { return link_; }

 private:
  ExperimentalDockCursor();
  // The run's checks and its morphs for one context (steps shared by the
  // engine's tick and the display link's); false when it declines.
  bool decide(const std::optional<ExperimentalDockRegions::Context>& context, const Safe& safe, CGPoint pointer);
  bool continueRun(const ExperimentalDockRegions::Context& context, const ExperimentalDockRegions::Item& item,
                   const Safe& safe);
  bool startRun();
  void frame();
  void startDisplayLink();
  bool targets(const ArtRef& art) const;
  const std::unordered_set<int64_t>& resizeIdentities();

  const std::shared_ptr<NativeCursorPresenter> native_;
  std::shared_ptr<NativeCursorSampler> sampler_;
  const CursorAccess access_;
  PointerAnimation animation_{std::nullopt, std::nullopt, false, false};
  std::optional<int32_t> inputSeed_;
  std::optional<CursorFrame> lastFrame_;
  std::optional<double> lastTime_;
  std::shared_ptr<platform::CADisplayLink> link_;
  std::shared_ptr<platform::NSScreen> screen_;
  Permission permission_;
  Safe safe_;
  double expires_ = 0;
  uint64_t recovery_ = 0;
  double duration_ = 0.14;
  std::optional<std::unordered_set<int64_t>> resizeIdentities_;
  bool observing_ = false;
};

}  // namespace vurle
