#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

#include "cursor/native/native_cursor_image_reader.hpp"
#include "cursor/native/native_cursor_presenter.hpp"
#include "platform/appkit/cursor.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/dispatch/dispatch_source_timer.hpp"
#include "platform/foundation/lock.hpp"

namespace vurle {

// One published reading of the system cursor.
struct NativeCursorSample {
  // A private copy of the new cursor; none when only the seed is published
  // (animated cursor, unfit image, presenter frame, presenter busy).
  std::shared_ptr<platform::NSCursor> cursor;
  int32_t seed = 0;
  bool isAnimated = false;
  // The native presenter captured this cursor and holds it.
  bool wasHeld = false;
  // The interception deadline (uptime) that applied to this seed.
  std::optional<double> interceptBefore;
};

// Watches the system cursor on its own serial queue: polls the cursor seed
// every 4 ms (every 1 ms for 0.15 s after it is enabled or prompted),
// reads a new cursor's image once, tells animated cursors and the native
// presenter's own frames from new foreign cursors, lets the presenter
// capture a new cursor within a short interception window, and publishes
// at most one pending sample per seed, announced on the main queue.
//
// setEnabled, quicken, takePending, clearPublishedSeed, setPixelScale and
// setOnChange are for the owner's thread; polls run on the queue.
class NativeCursorSampler : public std::enable_shared_from_this<NativeCursorSampler> {
 public:
  // What the owner already knows when it enables the sampler.
  struct Baseline {
    int32_t seed = 0;
    double time = 0;
    CGFloat scale = 1;
  };
  using Visibility = std::function<int32_t()>;

  // Without a visibility function, CGCursorIsVisible is used. A null
  // presenter is std::invalid_argument.
  static std::shared_ptr<NativeCursorSampler> make(std::shared_ptr<NativeCursorPresenter> presenter,
                                                   Visibility visible, CGFloat pixelScale);
  ~NativeCursorSampler();
  NativeCursorSampler(const NativeCursorSampler&) = delete;
  NativeCursorSampler& operator=(const NativeCursorSampler&) = delete;

  // Stays off without a seed reader or a visibility function.
  void setEnabled(bool enabled, std::optional<Baseline> baseline = std::nullopt);
  void quicken();
  std::optional<NativeCursorSample> takePending();
  // Lets the owner accept the last published seed again.
  void clearPublishedSeed();
  // Runs on the sampler's queue (at once when called there), so a running
  // poll never sees its maps change under it. Waits for a running poll, so
  // it must not be called with the presenter's lock held.
  void setPixelScale(CGFloat scale);
  // Called on the main queue when a sample is pending.
  void setOnChange(std::function<void()> onChange);

  bool isEnabled();
  // A poll is running or a publication awaits the main queue (read under
  // the lock): the stationary handoff does not arm meanwhile.
  bool isBusy();
  bool hasSeedReader() const { return readSeed_.has_value(); }
  bool hasVisibilityReader() const { return static_cast<bool>(visible_); }
  const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }
  std::optional<platform::DispatchSourceTimer::Schedule> pollSchedule() const;
  // Images cached by seed, read on the queue.
  size_t cachedImageCount();

  // One poll; the timer runs it on the queue.
  void poll();

 private:
  struct Cached {
    std::shared_ptr<platform::NSCursor> cursor;
    bool hidden = false;
  };

  NativeCursorSampler(std::shared_ptr<NativeCursorPresenter> presenter, Visibility visible, CGFloat pixelScale);
  void onQueue(const std::function<void()>& work);
  void publish(int32_t seed, std::shared_ptr<platform::NSCursor> cursor, bool isAnimated, bool wasHeld,
               std::optional<double> interceptBefore, double start);
  void publishSample(int32_t seed, bool animated, double start);
  std::optional<int32_t> currentSeed() const;

  const std::shared_ptr<platform::DispatchQueue> queue_;
  mutable platform::NSLock lock_;
  const std::shared_ptr<NativeCursorPresenter> presenter_;
  const std::shared_ptr<NativeCursorImageReader> imageReader_;
  CGFloat pixelScale_;
  std::optional<std::function<platform::CGSCurrentCursorSeedFn>> readSeed_;
  Visibility visible_;
  std::shared_ptr<platform::DispatchSourceTimer> timer_;

  // Guarded by lock_.
  bool enabled_ = false;
  bool pollInFlight_ = false;
  double quickUntil_ = 0;
  bool quick_ = false;
  std::optional<std::pair<int32_t, double>> activityObservation_;
  std::optional<Baseline> startingBaseline_;
  std::optional<NativeCursorSample> pending_;
  double pendingSince_ = 0;
  bool queued_ = false;
  std::optional<int32_t> lastPublished_;
  std::function<void()> onChange_;

  // Owned by the queue.
  std::unordered_map<int32_t, Cached> cache_;
  std::unordered_map<int32_t, bool> nativeOnlySeeds_;
  std::optional<double> lastObservedAt_;
  std::optional<int32_t> lastObservedSeed_;
  std::optional<double> interceptionDeadline_;
};

// Whether a cursor of that size and hot spot may be morphed at the scale:
// its canvas grown by 3 points on every side must fit.
bool nativeCursorFits(CGSize size, CGPoint hotSpot, CGFloat scale);
// True when no pixel of the cursor's image is visible (or it has none).
bool nativeCursorIsHidden(const platform::NSCursor& cursor);
// The cursor on screen now: the window server's images where they can be
// read, AppKit's current cursor otherwise.
NativeCursorImageReader::Result readCurrentNativeCursor();

}  // namespace vurle
