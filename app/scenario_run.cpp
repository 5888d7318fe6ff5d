#include "app/scenario_run.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <system_error>

#include "app/app_delegate.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "cursor/engine/cursor_engine.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/appkit/layer.hpp"
#include "platform/appkit/view.hpp"
#include "platform/appkit/window.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/desktop/scenario.hpp"
#include "platform/desktop/system_wallpaper.hpp"
#include "platform/desktop/screen_recorder.hpp"
#include "platform/desktop/simulated_desktop.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/windowserver/current_cursor.hpp"
#include "platform/windowserver/cursor_state.hpp"
#include "platform/windowserver/window_server.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

constexpr double kTick = 1.0 / 120.0;
// After the last step the run goes on this long, so the last morph ends and
// the pointer is handed back before the end state is read.
constexpr double kTail = 1.0;
// The longest morph (220 ms) in ticks, with one tick to spare.
constexpr int kMorphTicks = 28;
// A contact sheet holds at most this many frames of one transition.
constexpr size_t kSheetFrames = 48;

// Why the folder cannot take the run's files; none when it can. Nothing is
// created here: the nearest existing folder must let us write.
std::optional<std::string> unwritable(const fs::path& folder) {
  std::error_code error;
  fs::path probe = fs::absolute(folder, error);
  if (error) return error.message();
  if (fs::exists(probe, error) && !fs::is_directory(probe, error)) return "it is not a folder";
  while (!fs::exists(probe, error)) {
    if (!probe.has_parent_path() || probe.parent_path() == probe) return "no part of the path exists";
    probe = probe.parent_path();
  }
  if (!fs::is_directory(probe, error)) return probe.string() + " is not a folder";
  if (::access(probe.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return std::nullopt;
}

// The image this process shows now, if any: the topmost visible layer with
// contents in one of its visible windows (the overlay panel), or its own
// cursor registered with the window server.
struct Shown {
  bool ours = false;
  uint64_t frame = 0;
};

const platform::CALayer* contentLayer(const std::shared_ptr<platform::CALayer>& layer) {
  if (!layer || layer->isHidden()) return nullptr;
  const auto& sublayers = layer->sublayers();
  for (auto it = sublayers.rbegin(); it != sublayers.rend(); ++it) {
    if (const auto* found = contentLayer(*it)) return found;
  }
  return layer->contents() ? layer.get() : nullptr;
}

Shown shownNow() {
  for (const auto& window : platform::NSApplication::shared()->windows()) {
    if (!window->isVisible() || !(window->alphaValue() > 0) || !window->contentView()) continue;
    if (const auto* layer = contentLayer(window->contentView()->layer())) {
      return {true, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(layer->contents().get()))};
    }
  }
  if (platform::CurrentCursor::shared().owner() != 0) {
    // Seeds are positive or negative 32-bit values; keep them apart from
    // image addresses with the top bit.
    const auto seed = static_cast<uint32_t>(platform::CursorState::shared().cursorSeed());
    return {true, (uint64_t{1} << 63) | seed};
  }
  return {};
}

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t index = std::min(values.size() - 1, static_cast<size_t>(std::ceil(fraction * values.size())) - 1);
  return values[index];
}

std::string fixed(double value, int digits) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(digits) << value;
  return text.str();
}

std::string frameName(int tick) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%06d.png", tick);
  return name;
}

}  // namespace

const char* const kCommandLineUsage =
    "usage: vurle [--scenario FILE --out DIR]\n"
    "With no arguments, vurle animates the pointer until it is sent SIGINT or SIGTERM.\n"
    "  --scenario FILE  play the scenario FILE on the simulated desktop and end\n"
    "  --out DIR        write that run's frames, pictures, trace and settings to DIR\n"
    "  -h, --help       print this and end\n";

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.empty()) return line;
  std::optional<std::string> scenario;
  std::optional<std::string> out;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "-h" || argument == "--help") {
      line.help = true;
      return line;
    }
    std::optional<std::string>* target = argument == "--scenario" ? &scenario : argument == "--out" ? &out : nullptr;
    if (!target) {
      line.error = "unknown argument \"" + argument + "\"";
      return line;
    }
    if (*target) {
      line.error = argument + " is given twice";
      return line;
    }
    if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
      line.error = argument + " needs a value";
      return line;
    }
    *target = arguments[++i];
  }
  if (!scenario) {
    line.error = "--scenario FILE is missing";
  } else if (!out) {
    line.error = "--out DIR is missing";
  } else {
    line.scenario = ScenarioRunArguments{*scenario, *out};
  }
  return line;
}

bool RunTally::note(int tick, const Tick& state) {
  if (state.cursorChanges > seenChanges_) {
    seenChanges_ = state.cursorChanges;
    transitions_.push_back(Transition{state.cursorName, tick, 0, 0, {}});
    sinceLastFrame_ = 0;
  }
  const bool newFrame = state.ours && state.frame != 0 && state.frame != lastFrame_ && !transitions_.empty();
  if (!transitions_.empty()) {
    auto& transition = transitions_.back();
    if (newFrame) {
      // Ticks between two frames of one morph showed nothing new; a frame
      // after the longest morph is a later redraw, not a late one.
      if (transition.frames > 0 && tick - transition.frameTicks.front() <= kMorphTicks) {
        transition.dropped += sinceLastFrame_;
      }
      ++transition.frames;
      transition.frameTicks.push_back(tick);
      sinceLastFrame_ = 0;
    } else if (state.ours && transition.frames > 0) {
      ++sinceLastFrame_;
    } else if (!state.ours) {
      sinceLastFrame_ = 0;
    }
  }
  if (wasOurs_ && !state.ours && state.cursorVisible) ++handBacks_;
  wasOurs_ = state.ours;
  lastFrame_ = state.ours ? state.frame : 0;
  return newFrame;
}

int RunTally::played() const {
  return static_cast<int>(std::count_if(transitions_.begin(), transitions_.end(),
                                        [](const Transition& t) { return t.frames > 0; }));
}

int RunTally::framesDropped() const {
  int dropped = 0;
  for (const auto& transition : transitions_) dropped += transition.dropped;
  return dropped;
}

int runScenario(const ScenarioRunArguments& arguments, const ScenarioLaunch& launch, std::ostream& out,
                std::ostream& err) {
  auto loaded = platform::loadScenario(arguments.scenarioPath);
  if (auto* error = std::get_if<platform::ScenarioError>(&loaded)) {
    err << "vurle: " << arguments.scenarioPath << ": " << error->describe() << std::endl;
    return 2;
  }
  const platform::Scenario scenario = std::get<platform::Scenario>(std::move(loaded));
  if (auto reason = unwritable(arguments.outputFolder)) {
    err << "vurle: cannot write the output folder " << arguments.outputFolder << ": " << *reason << std::endl;
    return 2;
  }
  const fs::path folder(arguments.outputFolder);
  std::error_code made;
  for (const char* sub : {"frames", "transitions", "settings", "windows"}) fs::create_directories(folder / sub, made);
  if (made) {
    err << "vurle: cannot write the output folder " << arguments.outputFolder << ": " << made.message() << std::endl;
    return 2;
  }
  // The run's settings live in its own folder, never the user's.
  ::setenv("XDG_CONFIG_HOME", fs::absolute(folder / "settings").c_str(), 1);

  platform::SimulatedSchedulerScope scope;
  platform::WindowServer::shared();
  auto defaults = platform::NSUserDefaults::standardUserDefaults();
  defaults->setObject(scenario.settings.durationMilliseconds, kTransitionMillisecondsKey);
  defaults->setBool(scenario.settings.adaptiveTiming, kAdaptiveTimingKey);
  defaults->setBool(scenario.settings.presenter == "native", kUseLegacyCursorPresenterKey);
  defaults->setBool(true, "resumeAnimationsOnLaunch");
  defaults->setBool(scenario.settings.onboardingCompleted, "onboardingCompleted");
  if (launch.acceptAgreement && scenario.settings.agreementAccepted) launch.acceptAgreement();
  // The desktop's wallpaper, under a system root of the run's own.
  std::optional<platform::WallpaperPictures> wallpaper;
  if (scenario.settings.wallpaper) {
    wallpaper = platform::WallpaperPictures{scenario.settings.wallpaper->light, scenario.settings.wallpaper->dark};
  }
  if (auto refused = platform::layOutDesktopWallpaper(fs::absolute(folder / "system"), wallpaper)) {
    err << "vurle: cannot lay out the desktop wallpaper: " << *refused << std::endl;
    return 2;
  }

  platform::SimulatedDesktop desktop(scenario);
  auto& trace = *CursorTrace::shared();
  trace.enable(1, true);

  // The renderer's preparation runs on a background queue; under the
  // virtual clock it runs here, and the scenario starts once it is done.
  auto renderer = MetalCursorRenderer::shared();
  for (int round = 0; round < 1000 && !renderer->isPrepared() && !renderer->preparationError(); ++round) {
    scope->runUntilIdle();
    scope->advance(0.01);
  }
  const std::string path = renderer->isPrepared()
                               ? "the compute device"
                               : "the CPU (" + renderer->preparationError().value_or("no compute device") + ")";

  auto delegate = launch.makeDelegate ? launch.makeDelegate() : nullptr;
  auto application = platform::NSApplication::shared();
  application->setDelegate(delegate);
  // Launched as a login item is: no window opens until the scenario opens
  // one, unless the agreement still waits to be accepted.
  platform::NSAppleEventDescriptor loginLaunch(platform::kAEOpenApplication);
  loginLaunch.setParamEnumCode(platform::keyAEPropData, platform::keyAELaunchedAsLogInItem);
  platform::NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(loginLaunch);
  application->finishLaunching();
  scope->runUntilIdle();
  auto refresh = platform::CADisplayLink::scheduleRefresh(kTick);

  platform::ScreenRecorder recorder({});
  const double recorderScale = recorder.options().scale;
  platform::ScreenRecorder::MarkedRegions marks;
  for (size_t i = 0; i < scenario.windows.size(); ++i) {
    for (const auto& region : scenario.windows[i].cursorRegions) {
      marks[desktop.windowNumbers()[i]].push_back({region.rect, region.cursor});
    }
  }
  recorder.setMarkedRegions(marks);

  std::optional<std::string> writeFault;
  int windowPictures = 0;
  const auto shell = std::dynamic_pointer_cast<AppDelegate>(delegate);
  const auto openOrPicture = [&](const platform::ScenarioStep& step) {
    if (step.kind == platform::ScenarioStep::Kind::open) {
      if (!shell) return;
      if (step.name == "settings") {
        shell->showSettings();
      } else if (step.name == "onboarding") {
        shell->showOnboarding();
      } else {
        shell->showWindow();
      }
      return;
    }
    // What is due now runs first, so the picture shows the last step's effect.
    scope->runUntilIdle();
    std::string error;
    const auto path = folder / "windows" / (step.name + ".png");
    // A window the user cannot see has no picture to take.
    const char* missing = !shell ? "the application has no main window"
                          : !shell->window()->isVisible() ? "the main window is not shown"
                                                          : nullptr;
    if (missing) {
      if (!writeFault) writeFault = "no picture \"" + platform::printableText(step.name) + "\": " + missing;
    } else if (platform::writeWindowPicture(*shell->window(), path.string(), recorderScale, &error)) {
      ++windowPictures;
    } else if (!writeFault) {
      writeFault = error;
    }
  };
  platform::ScenarioPlayer player(
      scenario, desktop,
      [&](const platform::ScenarioStep::SettingsChange& change) {
        if (change.presenter) defaults->setBool(*change.presenter == "native", kUseLegacyCursorPresenterKey);
        if (change.durationMilliseconds) defaults->setObject(*change.durationMilliseconds, kTransitionMillisecondsKey);
        if (change.adaptiveTiming) defaults->setBool(*change.adaptiveTiming, kAdaptiveTimingKey);
      },
      openOrPicture);

  // The cursor the desktop showed at its start is no change.
  const int changesAtStart = desktop.cursorChanges();
  RunTally tally;
  std::vector<double> tickMilliseconds;
  std::map<int, platform::ScreenPicture> sheetPictures;
  int framesWritten = 0;
  std::optional<size_t> announced;
  const size_t steps = scenario.timeline.size();
  const int ticks = static_cast<int>(std::ceil((scenario.totalDuration() + kTail) / kTick));
  for (int tick = 0; tick <= ticks; ++tick) {
    player.advanceTo(tick * kTick);
    if (player.currentStep() && player.currentStep() != announced) {
      announced = player.currentStep();
      const auto& step = scenario.timeline[*announced];
      out << "[" << std::setw(3) << (*announced + 1) << "/" << steps << "] " << fixed(tick * kTick, 2) << " s"
          << (step.label.empty() ? "" : "  " + platform::printableText(step.label)) << std::endl;
    }
    const double busyBefore = scope->mainQueueBusySeconds();
    scope->advance(kTick);
    tickMilliseconds.push_back((scope->mainQueueBusySeconds() - busyBefore) * 1000.0);

    const Shown shown = shownNow();
    const bool newFrame = tally.note(tick, {desktop.cursorChanges() - changesAtStart, desktop.cursorName(), shown.ours,
                                            platform::CursorState::shared().cursorIsVisible(), shown.frame});
    // The application's windows come and go (the overlay panel is rebuilt
    // on some changes), so the recorder takes the current list each tick.
    const auto windows = application->windows();
    recorder.setOwnWindows(std::vector<std::weak_ptr<platform::NSWindow>>(windows.begin(), windows.end()));
    auto picture = arguments.recordFrames ? recorder.capture(desktop.pointer()) : std::nullopt;
    if (picture && !writeFault) {
      std::string error;
      if (picture->writePNG((folder / "frames" / frameName(tick)).string(), &error)) {
        ++framesWritten;
      } else {
        writeFault = error;
      }
    }
    if (arguments.recordFrames && newFrame && tally.transitions().back().frameTicks.size() <= kSheetFrames) {
      sheetPictures.emplace(tick, picture ? std::move(*picture) : recorder.draw(desktop.pointer()));
    }
  }

  application->terminate(nullptr);
  scope->runUntilIdle();
  scope->advance(0.5);
  refresh->invalidate();
  const bool visible = platform::CursorState::shared().cursorIsVisible();
  const int hides = platform::CursorState::shared().outstandingHides();

  {
    std::ofstream file(folder / "trace.json", std::ios::binary | std::ios::trunc);
    file << trace.exportJSON();
    if (!file && !writeFault) writeFault = "cannot write " + (folder / "trace.json").string();
  }
  trace.disable();
  int sheets = 0;
  for (size_t i = 0; i < tally.transitions().size(); ++i) {
    const auto& transition = tally.transitions()[i];
    std::vector<const platform::ScreenPicture*> pictures;
    std::vector<std::string> labels;
    for (int tick : transition.frameTicks) {
      auto found = sheetPictures.find(tick);
      if (found == sheetPictures.end()) continue;
      pictures.push_back(&found->second);
      labels.push_back(fixed((tick - transition.firstTick) * kTick * 1000.0, 0) + " ms");
    }
    if (pictures.empty()) continue;
    char name[96];
    std::snprintf(name, sizeof name, "%02zu-%s.png", i + 1, transition.cursorName.c_str());
    std::string error;
    if (platform::writeContactSheet(pictures, labels, 8, (folder / "transitions" / name).string(), &error)) {
      ++sheets;
    } else if (!writeFault) {
      writeFault = error;
    }
  }

  // The file's own texts reach the terminal escaped, each on its line.
  out << "\n"
      << platform::printableText(scenario.name) << ": " << fixed(scenario.totalDuration(), 2) << " s of scenario in "
      << ticks + 1 << " ticks of " << fixed(kTick * 1000.0, 2) << " ms; frames drawn on " << path << "\n";
  out << "cursor changes: " << tally.transitions().size() << ", transitions played: " << tally.played()
      << ", frames dropped: " << tally.framesDropped() << ", hand-backs to the native cursor: " << tally.handBacks()
      << "\n";
  for (size_t i = 0; i < tally.transitions().size(); ++i) {
    const auto& transition = tally.transitions()[i];
    out << "  " << std::setw(2) << i + 1 << ". " << fixed(transition.firstTick * kTick, 2) << " s  to "
        << transition.cursorName << ": " << transition.frames << " frames"
        << (transition.dropped ? ", " + std::to_string(transition.dropped) + " dropped" : "") << "\n";
  }
  out << "main-queue time per tick: median " << fixed(percentile(tickMilliseconds, 0.5), 3) << " ms, 99th percentile "
      << fixed(percentile(tickMilliseconds, 0.99), 3) << " ms\n";
  out << "at the end the cursor is " << (visible ? "visible" : "HIDDEN") << " with a hide count of " << hides << "\n";
  out << "wrote " << framesWritten << " frames, " << sheets << " contact sheets, " << windowPictures
      << " window pictures and the trace to " << folder.string() << std::endl;
  if (writeFault) {
    err << "vurle: " << *writeFault << std::endl;
    return 1;
  }
  return 0;
}

}  // namespace vurle
