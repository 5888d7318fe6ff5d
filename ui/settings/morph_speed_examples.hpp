#pragma once

// Looping example morphs of the pointer side by side, one per duration
// (150, 60 and 220 ms), so the user can feel a transition's speed before
// choosing one. Every registered drawing view morphs from the previous
// cursor of the test strip's catalog to the next every 0.9 s of example
// time, and all of them retarget at once to a cursor the user hovers on
// the strip.
//
// One display link, on the screen of the slot-0 view, runs while that
// window is visible and Reduce Motion is off; the example clock advances by
// the frame gap clamped to 0...0.1 s, so it never jumps after a pause.
// Rasters are rebuilt only when a slot's render scale changes or the
// artwork is invalidated. Main thread only; the link, the observers and
// the views' callbacks hold the object weakly, and views are held weakly.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/art/pointer_animation.hpp"
#include "cursor/art/pointer_drawing_view.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/combine/published.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/ui/graph.hpp"

namespace vurle {

class SpeedExampleDrawingView;

class MorphSpeedExamples : public platform::ui::ObservableObject,
                           public std::enable_shared_from_this<MorphSpeedExamples> {
 public:
  struct HoveredCursor {
    std::shared_ptr<platform::NSCursor> cursor;
    ArtRef art;
    std::string name;
  };
  static constexpr double kChangeInterval = 0.9;
  static constexpr double kLargestStep = 0.1;

  // Exactly three durations in milliseconds (std::invalid_argument
  // otherwise); slot 0 follows currentMilliseconds when usesCurrentSetting.
  static std::shared_ptr<MorphSpeedExamples> make(std::vector<double> durations, bool usesCurrentSetting);
  ~MorphSpeedExamples() override;
  MorphSpeedExamples(const MorphSpeedExamples&) = delete;
  MorphSpeedExamples& operator=(const MorphSpeedExamples&) = delete;

  std::vector<double> effectiveDurations() const;
  double currentMilliseconds() const { return currentMilliseconds_.value(); }
  void setCurrentMilliseconds(double milliseconds);
  bool isPlaying() const { return isPlaying_.value(); }
  bool animationsEnabled() const { return animationsEnabled_.value(); }
  bool usesCurrentSetting() const { return usesCurrentSetting_; }
  platform::Publisher<double> currentMillisecondsPublisher() const { return currentMilliseconds_.publisher(); }

  void start();
  void stop();
  void reset();
  // An absent cursor ends the hover; an absent name is "cursor".
  void hover(const std::shared_ptr<platform::NSCursor>& cursor, std::optional<std::string> name, bool animated);
  void setAnimationsEnabled(bool enabled);
  // Registers a drawing view for a slot (0, 1 or 2; others are ignored).
  void attachView(const std::shared_ptr<PointerDrawingView>& view, int slot);
  // The display link's action.
  void tick(platform::CADisplayLink& link);
  // One step of the example clock at the uptime `now`.
  void step(double now);

  // State, read by tests and by the pages.
  const std::string& targetName() const { return targetName_; }
  const ArtRef& targetArt() const { return targetArt_; }
  double clock() const { return clock_; }
  double nextChange() const { return nextChange_; }
  int index() const { return index_; }
  const std::optional<HoveredCursor>& hoveredCursor() const { return hoveredCursor_; }
  const std::shared_ptr<platform::CADisplayLink>& link() const { return link_; }
  const PointerAnimation& animation(int slot) const { return animations_.at(size_t(slot)); }
  std::optional<double> renderScale(int slot) const;
  // How often each slot's animation was prepared at a new scale.
  int preparations(int slot) const;

 private:
  MorphSpeedExamples(std::vector<double> durations, bool usesCurrentSetting);
  std::vector<int> liveViews() const;
  std::shared_ptr<PointerDrawingView> view(int slot) const;
  void prepareView(int slot);
  void emptyAnimation(int slot);
  void occlusionDidChange();
  void refreshTargetArt();
  static PointerAnimation preparedAnimation(double scale);

  std::vector<double> durations_;
  platform::Published<double> currentMilliseconds_{150};
  bool usesCurrentSetting_;
  platform::Published<bool> isPlaying_{false};
  platform::Published<bool> animationsEnabled_{true};
  std::map<int, std::weak_ptr<PointerDrawingView>> views_;
  std::map<int, double> renderScales_;
  std::map<int, int> preparations_;
  std::vector<PointerAnimation> animations_;
  ArtRef targetArt_;
  std::shared_ptr<platform::CADisplayLink> link_;
  std::weak_ptr<platform::NSScreen> linkedScreen_;
  platform::NotificationToken occlusionObserver_;
  platform::NotificationToken artworkObserver_;
  std::optional<double> previousTime_;
  double clock_ = 0;
  double nextChange_ = 0;
  int index_ = 0;
  std::optional<HoveredCursor> hoveredCursor_;
  std::string targetName_;
};

// A drawing view of one example slot: slot 0 starts playback when it
// enters a window; with fitsCursorCatalog it scales so every catalog cursor
// fits its bounds.
class SpeedExampleDrawingView : public PointerDrawingView {
 public:
  explicit SpeedExampleDrawingView(CGRect frame);
  std::function<void()> onWindowAttached;
  CGFloat requestedPointerScale = 1.0;
  bool fitsCursorCatalog = false;
  void viewDidMoveToWindow() override;
  void layout() override;
};

struct CatalogFit {
  double scale = 1, x = 0, y = 0;
};
// The scale and hot spot that fit the whole catalog inside the bounds less
// 16 points a side, at most maximumScale.
CatalogFit fitCatalog(CGRect bounds, double maximumScale);
// The union of the catalog cursors' rects around their hot spots, 3 points
// larger, snapped outward to the render scale; computed once per process.
CGRect speedExampleCatalogBounds();

// The canvas of one slot in a page: makes a 160 × 160 drawing view and
// registers it; every update renews its accessibility label.
platform::ui::View SpeedExampleCanvas(std::shared_ptr<MorphSpeedExamples> examples, int index,
                                      std::optional<double> pointerScale = std::nullopt,
                                      bool fitsCursorCatalog = false);

}  // namespace vurle
