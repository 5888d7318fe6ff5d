#pragma once
// A scripted session on the simulated desktop: the screens, the windows of
// other applications with the rectangles in which they set a cursor, what
// the user does over time, and the settings the application runs with.
//
// Scenarios are JSON files written by people, so reading one is strict:
// every field is checked for its type and range, an unknown key is refused
// (a misspelt "duraton" would otherwise pass silently), and the first fault
// is reported with the path of the field that holds it
// ("timeline[3].move.duration"). Sizes and counts are bounded before
// anything is built from them, and so is the scenario time the timeline adds
// up to. A refusal is one line: text taken from the file (an unknown key,
// a cursor name) is shown with its control characters escaped and cut to
// kScenarioMaxQuotedCharacters.
//
// Coordinates are points in one system throughout, the window server's:
// origin at the top-left corner of the first screen, y growing downwards.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/events/event.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

struct ScenarioScreen {
  CGRect frame{};
  double backingFactor = 2.0;
  // The height of a camera housing at the top of the screen; 0 for none.
  double safeAreaTop = 0.0;
  // The menu bar's reserve along the top (0 to 100 points); the desktop's
  // default when absent.
  std::optional<double> menuBarHeight;
};

// A rectangle of a window in which its application shows a cursor from the
// catalogue (simulated_desktop.hpp lists the names).
struct ScenarioCursorRegion {
  CGRect rect{};
  std::string cursor;
};

struct ScenarioWindow {
  std::string title;
  CGRect frame{};
  int32_t level = 0;
  int32_t ownerPID = 0;
  std::string ownerName;
  // The owner's bundle identifier; empty when the file gives none.
  std::string ownerBundleIdentifier;
  // Looked up front to back: the first region holding the pointer wins;
  // elsewhere in the window the arrow shows.
  std::vector<ScenarioCursorRegion> cursorRegions;
};

// One thing the user (or an application) does. Steps run one after the
// other; each takes `duration()` seconds.
struct ScenarioStep {
  enum class Kind {
    move,       // the pointer travels from `from` (the current place when absent) to `to`
    click,      // a press and release of `button` where the pointer stands
    key,        // a key press (`keyCode`, `flags`)
    wait,       // nothing happens for `seconds`
    setCursor,  // the application under the pointer sets `cursor` while the pointer rests
    space,      // `display` switches to Space `space`
    settings,   // the application's settings change (`settingsChange`)
    open,       // the application opens one of its windows: `name` is "window", "settings" or "onboarding"
    picture,    // the application's main window (and any sheet on it) is drawn to windows/`name`.png
    grantAccessibility,  // the user allows this application in the Accessibility settings
  };
  Kind kind = Kind::wait;
  std::optional<CGPoint> from;
  CGPoint to{};
  double seconds = 0.0;
  CGMouseButton button = kCGMouseButtonLeft;
  CGKeyCode keyCode = 0;
  CGEventFlags flags = 0;
  std::string cursor;
  // What an open step opens, or a picture's file name (without ".png").
  std::string name;
  uint32_t display = 1;
  uint64_t space = 0;
  // For a settings step: only the settings the file names change.
  struct SettingsChange {
    std::optional<std::string> presenter;
    std::optional<double> durationMilliseconds;
    std::optional<bool> adaptiveTiming;
  } settingsChange;
  // Shown in progress lines and contact sheets; empty when the file gives none.
  std::string label;

  // How long the step lasts: a move's or wait's own seconds; a click or a
  // key press the time the button or key is held plus a short release;
  // the other steps take no time.
  double duration() const;
};

// The settings the application runs with when the scenario starts.
struct ScenarioSettings {
  // "overlay" (the default presenter) or "native".
  std::string presenter = "overlay";
  double durationMilliseconds = 150.0;
  bool adaptiveTiming = true;
  // Whether the end-user agreement is accepted in the run's settings.
  bool agreementAccepted = true;
  // Whether the onboarding was completed before (false: a first run).
  bool onboardingCompleted = true;
  // Whether the system trusts the application with Accessibility.
  bool accessibilityTrusted = true;
  // The desktop's look and options: "light" or "dark", Reduce Motion,
  // Reduce Transparency, the system's major version, a locale and a time
  // zone ICU knows; absent keeps the desktop's defaults.
  std::string appearance = "light";
  bool reduceMotion = false;
  bool reduceTransparency = false;
  std::optional<int> systemVersion;
  std::optional<std::string> locale;
  std::optional<std::string> timeZone;
  // The desktop wallpaper's two PNG pictures (absolute, or relative to the
  // scenario file's folder); the bundled pair when absent.
  struct Wallpaper {
    std::string light, dark;
  };
  std::optional<Wallpaper> wallpaper;
};

struct Scenario {
  std::string name;
  std::vector<ScenarioScreen> screens;
  std::vector<ScenarioWindow> windows;  // front to back
  CGPoint pointerStart{};
  std::vector<ScenarioStep> timeline;
  ScenarioSettings settings;

  // When each step starts, in seconds from the start of the run.
  std::vector<double> stepStarts() const;
  double totalDuration() const;
};

struct ScenarioError {
  // The path of the offending field ("timeline[3].move.duration"); empty
  // when the fault is the file itself.
  std::string field;
  std::string message;
  // One line: "<field>: <message>", or the message alone.
  std::string describe() const;
};

// Limits that keep a hostile file from making us build anything large.
inline constexpr size_t kScenarioMaxBytes = 4 * 1024 * 1024;
inline constexpr size_t kScenarioMaxScreens = 8;
inline constexpr size_t kScenarioMaxWindows = 256;
inline constexpr size_t kScenarioMaxRegions = 256;
inline constexpr size_t kScenarioMaxSteps = 10000;
inline constexpr double kScenarioMaxStepSeconds = 600.0;
inline constexpr double kScenarioMaxCoordinate = 100000.0;
// One hour of scenario time: 432,000 ticks at 120 a second, whose per-tick
// timings still fit a few megabytes.
inline constexpr double kScenarioMaxTotalSeconds = 3600.0;
inline constexpr size_t kScenarioMaxQuotedCharacters = 80;
// A picture's name becomes a file name: 1 to 64 characters, no "/", no
// control character.
inline constexpr size_t kScenarioMaxPictureName = 64;

// Outside text made fit for one line of a terminal: control characters
// (C0, DEL, C1) and bytes that are not UTF-8 escaped ("\n", "\x1b",
// "\u{9b}"), as are backslash and double quote, so that a quoted text
// cannot seem to end early; the result cut to at most `limit` characters,
// a cut marked with "…" (counted in the limit).
std::string printableText(std::string_view text, size_t limit = kScenarioMaxQuotedCharacters);

// Relative wallpaper paths are taken from `folder`.
std::variant<Scenario, ScenarioError> parseScenario(std::string_view json, const std::string& folder = ".");
// Reads the file first; a missing or unreadable file is an error on no field.
std::variant<Scenario, ScenarioError> loadScenario(const std::string& path);

}  // namespace platform
