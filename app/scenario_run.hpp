#pragma once
// The program's scripted run on the simulated desktop:
//
//   vurle --scenario FILE --out DIR
//
// plays a scenario (platform/desktop/scenario.hpp) against the real
// application (its delegate, engine, presenters and sampler) under the
// virtual clock, so a run is deterministic and faster than real time, and
// records what the screen shows around the pointer:
//   DIR/frames/frame-NNNNNN.png   every displayed picture that changed (N: the tick)
//   DIR/transitions/NN-<cursor>.png  one contact sheet per cursor change
//   DIR/trace.json                the event trace
//   DIR/settings/                 the run's own settings folder (never the user's)
//   DIR/windows/NAME.png          the main window (with any sheet) at each picture step
// and prints a summary. The program is launched as a login item is, so its
// window opens when the scenario opens it (at once while the agreement is
// not accepted). A scenario that cannot be read, or an output folder
// that cannot be written, is refused with one line naming the field or the
// folder and exit status 2, having written nothing. A file that cannot be
// written, or a picture step while the main window is not shown, is said on
// one line at the end and gives exit status 1.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/appkit/application.hpp"

namespace vurle {

struct ScenarioRunArguments {
  std::string scenarioPath;
  std::string outputFolder;
  // The pictures around the pointer, tick by tick (frames/ and the contact
  // sheets): most of a run's time. A caller that reads only the window
  // pictures, the settings and the summary may go without them; the run is
  // otherwise the same.
  bool recordFrames = true;
};

// The command line: no arguments is the plain application; otherwise a
// scenario run, a request for the usage (-h or --help), or a usage error.
struct CommandLine {
  std::optional<ScenarioRunArguments> scenario;
  std::optional<std::string> error;
  bool help = false;
};
CommandLine parseCommandLine(const std::vector<std::string>& arguments);
// What --help prints; its first line follows a usage error too.
extern const char* const kCommandLineUsage;

// What the run needs from the program that links the whole application:
// the agreement is accepted in the run's own settings, and the application
// delegate is made, as the program makes them for a user's launch.
struct ScenarioLaunch {
  std::function<void()> acceptAgreement;
  std::function<std::shared_ptr<platform::NSApplicationDelegate>()> makeDelegate;
};

// Counts, tick by tick, what a person watching would count: the cursor
// changes the desktop made, the frames this process showed for each (a new
// image in the overlay panel, or a new registration of its own cursor),
// frames dropped (ticks within a morph's length from its first frame that
// showed nothing new before a later frame did) and hand-backs (the pointer given back to the visible system
// cursor).
class RunTally {
 public:
  struct Tick {
    int cursorChanges = 0;      // the desktop's count so far
    std::string cursorName;     // the cursor the applications set last
    bool ours = false;          // our overlay or our registered cursor shows
    bool cursorVisible = true;  // the window server shows a cursor
    // Identifies the image this process shows (0: none); a new value is a
    // new frame.
    uint64_t frame = 0;
  };
  struct Transition {
    std::string cursorName;
    int firstTick = 0;
    int frames = 0;
    int dropped = 0;
    // Ticks of frames shown, for the contact sheet.
    std::vector<int> frameTicks;
  };

  // Answers whether the tick showed a new frame of the current transition.
  bool note(int tick, const Tick& state);

  const std::vector<Transition>& transitions() const { return transitions_; }
  int handBacks() const { return handBacks_; }
  // Transitions in which this process showed at least one frame.
  int played() const;
  int framesDropped() const;

 private:
  std::vector<Transition> transitions_;
  int seenChanges_ = 0;
  bool wasOurs_ = false;
  uint64_t lastFrame_ = 0;
  // Ticks since the transition's last new frame, while still ours.
  int sinceLastFrame_ = 0;
  int handBacks_ = 0;
};

int runScenario(const ScenarioRunArguments& arguments, const ScenarioLaunch& launch, std::ostream& out,
                std::ostream& err);

}  // namespace vurle
