#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "app/app_delegate.hpp"
#include "app/program.hpp"
#include "app/scenario_run.hpp"
#include "app/single_instance.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/appkit/apple_event.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/display_link.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/desktop/screen_recorder.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/log.hpp"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

// Said once at start, so whoever started vurle from a terminal knows it runs.
std::string startLine(const std::optional<std::filesystem::path>& folder) {
  const std::string process = std::to_string(::getpid());
  const std::string settings = folder ? "with its settings in " + folder->string()
                                      : "with its settings in memory only (neither XDG_CONFIG_HOME nor HOME is set)";
  return "vurle is running as process " + process + " " + settings + "; stop it with Control-C or `kill " +
         process + "`";
}

}  // namespace

int main(int argc, char** argv) {
  platform::NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(vurle::AppDelegate::launchEventFromEnvironment());
  // A scripted run on the simulated desktop keeps its own settings folder,
  // so it is decided before anything touches the user's.
  const auto line = vurle::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (line.error) {
    std::cerr << "vurle: " << *line.error << "\nusage: vurle [--scenario FILE --out DIR]" << std::endl;
    return 2;
  }
  if (line.scenario) {
    const int status = vurle::runScenario(*line.scenario, vurle::programScenarioLaunch(), std::cout, std::cerr);
    platform::releaseDrawingCaches();
    return status;
  }

  // One vurle per settings folder, decided before the migration or anything
  // else writes there: a second launch reopens the first and leaves.
  const auto folder = platform::NSUserDefaults::defaultsDirectory();
  std::shared_ptr<vurle::SingleInstance> instance;
  if (folder) {
    try {
      instance = vurle::SingleInstance::acquire(*folder);
      if (!instance) {
        std::cout << vurle::SingleInstance::describe(vurle::SingleInstance::requestReopen(*folder), *folder)
                  << std::endl;
        return 0;
      }
      instance->listen();
    } catch (const std::system_error& error) {
      platform::NSLog(std::string("vurle: cannot tell whether another vurle uses these settings (") + error.what() +
                      "); starting anyway");
    }
  }
  std::cout << startLine(folder) << std::endl;

  // A signal handler may only set a flag; the main run loop turns it into
  // the application's own termination, so the delegate still hears of it.
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  auto watch = platform::NSTimer::scheduledTimer(0.1, true, [](platform::NSTimer&) {
    if (stopRequested) platform::NSApplication::shared()->terminate(nullptr);
  });
  // There is no display here to pace the display links; a timer on the main
  // run loop gives them frames at the screens' 120 Hz.
  auto refresh = platform::CADisplayLink::scheduleRefresh(1.0 / 120.0);
  vurle::AppDelegate::main(vurle::programSeams());
  refresh->invalidate();
  watch->invalidate();

  // The renderer compiles its pipeline on a background queue. Ending the
  // process while the driver is still compiling would tear the driver down
  // under that compile, so a quit right after launch waits for it, bounded.
  auto renderer = vurle::MetalCursorRenderer::shared();
  const double giveUp = platform::systemUptime() + 20.0;
  while (!renderer->isPrepared() && !renderer->preparationError() && platform::systemUptime() < giveUp) {
    platform::RunLoop::main().runUntil(platform::systemUptime() + 0.05);
  }
  return 0;
}
