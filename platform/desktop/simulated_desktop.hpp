#pragma once
// The desktop around the application: screens, the windows of other
// applications and the cursors they set, and a user who moves the pointer,
// clicks, types and switches Spaces. It drives the same stand-ins the
// application reads (screens, the window table, the window server's cursor
// and cursor state, the event system, Spaces, the workspace, Accessibility:
// each application's windows answer hit tests), so the application sees a
// desktop exactly as it would see the real one.
//
// The window server shows whatever cursor the application under the
// pointer sets: after every pointer move the desktop looks up the frontmost
// scenario window under the pointer and its first cursor region holding the
// pointer (the arrow elsewhere), and when that differs from the cursor it
// set last, it sets the new one (a new cursor seed). A setCursor step sets
// a cursor while the pointer rests, as an application does when its
// content changes under a still pointer; the next move decides afresh.
//
// Main thread only. ScenarioPlayer turns a timeline into these calls as
// time passes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop/scenario.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {

class SimulatedDesktop {
 public:
  // Connects the scenario's screens (the first is the primary one), puts its
  // windows in the window table front to back, each under a fresh window
  // number, and places the pointer at the scenario's start, showing the
  // cursor under it.
  explicit SimulatedDesktop(const Scenario& scenario);

  CGPoint pointer() const { return pointer_; }
  // The catalogue name of the cursor the applications set last.
  const std::string& cursorName() const { return cursorName_; }
  // Cursor changes the desktop made, the first one included.
  int cursorChanges() const { return cursorChanges_; }
  // The window numbers the scenario's windows got, in the scenario's order.
  const std::vector<CGWindowID>& windowNumbers() const { return numbers_; }

  // The pointer moves: the event system sees a move (a drag while the left
  // button is down), then the cursor under the pointer is set.
  void movePointer(CGPoint location);
  void pressButton(CGMouseButton button);
  void releaseButton(CGMouseButton button);
  // A key typed with these modifiers on the session's US layout: the event
  // carries the text the layout gives it.
  void pressKey(CGKeyCode key, CGEventFlags flags);
  void releaseKey(CGKeyCode key, CGEventFlags flags);
  // The application under the pointer sets this cursor now (a catalogue
  // name; an unknown one is ignored).
  void setCursor(const std::string& name);
  // The display shows another Space; the workspace announces it.
  void switchSpace(uint32_t display, uint64_t space);
  // The user allows (or has not allowed) this application in the
  // Accessibility settings.
  void setAccessibilityTrusted(bool trusted);

  // The catalogue name of the cursor the scenario's windows show at a
  // point: the frontmost window holding it decides; "arrow" elsewhere, and
  // over this process's own windows unless they let the pointer through.
  std::string cursorAt(CGPoint location) const;

 private:
  void showCursor(const std::string& name);
  void postMouse(CGEventType type, CGMouseButton button);

  Scenario scenario_;
  std::vector<CGWindowID> numbers_;
  CGPoint pointer_{};
  std::string cursorName_;
  int cursorChanges_ = 0;
  bool leftDown_ = false;
  bool rightDown_ = false;
};

// Plays a scenario's timeline on a desktop. advanceTo(t) carries out every
// step, or part of a step, due by `t` seconds from the start: a move places
// the pointer where an eased path puts it at `t` (no event when it has not
// moved), a click presses at its start and releases 0.08 s later, a key is
// held for 0.05 s. A settings step is handed to `onSettings`, and an open
// or picture step to `onApplication`, since those are the application's
// and not the desktop's. Time only goes forward: an earlier `t` does
// nothing.
class ScenarioPlayer {
 public:
  static constexpr double kClickHold = 0.08;
  static constexpr double kKeyHold = 0.05;
  using SettingsHandler = std::function<void(const ScenarioStep::SettingsChange&)>;
  using ApplicationHandler = std::function<void(const ScenarioStep&)>;

  ScenarioPlayer(const Scenario& scenario, SimulatedDesktop& desktop, SettingsHandler onSettings = {},
                 ApplicationHandler onApplication = {});

  void advanceTo(double seconds);
  bool finished() const { return next_ >= steps_.size() && !pendingRelease_; }
  double totalDuration() const { return total_; }
  // The step running at the last advance (the last one once finished);
  // none before the first.
  std::optional<size_t> currentStep() const { return current_; }

 private:
  void begin(size_t index);

  std::vector<ScenarioStep> steps_;
  std::vector<double> starts_;
  double total_ = 0.0;
  SimulatedDesktop& desktop_;
  SettingsHandler onSettings_;
  ApplicationHandler onApplication_;
  size_t next_ = 0;
  std::optional<size_t> current_;
  double now_ = -1.0;
  // The move under way: its start point and times.
  std::optional<size_t> moving_;
  CGPoint moveFrom_{};
  // A click or key waiting for its release.
  bool pendingRelease_ = false;
  double releaseAt_ = 0.0;
  size_t releaseStep_ = 0;
};

}  // namespace platform
