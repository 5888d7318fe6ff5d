#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
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
#include "platform/appkit/window.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/desktop/screen_recorder.hpp"
#include "platform/dispatch/dispatch_source_event.hpp"
#include "platform/dispatch/run_loop.hpp"
#include "platform/foundation/log.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Set by the main run loop's first pass, once the delegate has finished
// launching: from then on a stop goes through the application, so the
// delegate hears of it.
std::atomic<bool> launched{false};
std::atomic<int> stopsAsked{0};

// SIGINT and SIGTERM reach a queue of their own instead of acting, so
// they are heard at any point: during the start, before the main run loop
// turns, nothing is left to save and the process ends at once (its locks
// go with it); afterwards the first asks the application to terminate on
// the main run loop and a second, while it still winds down, ends it.
std::vector<std::shared_ptr<platform::DispatchSourceSignal>> watchStopSignals() {
  std::vector<std::shared_ptr<platform::DispatchSourceSignal>> sources;
  try {
    const auto queue = platform::DispatchQueue::make("mirt.vurle.signals", platform::QoS::userInteractive);
    for (const int signal : {SIGINT, SIGTERM}) {
      auto source = platform::DispatchSourceSignal::make(signal, queue);
      source->setEventHandler([signal] {
        if (!launched.load() || stopsAsked.fetch_add(1) > 0) platform::DispatchSourceSignal::endProcessBy(signal);
        platform::RunLoop::main().perform([] { platform::NSApplication::shared()->terminate(nullptr); });
      });
      source->resume();
      sources.push_back(std::move(source));
    }
  } catch (const std::system_error& error) {
    // Unheard, the signals must at least act: they end the process.
    sources.clear();
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    platform::NSLog(std::string("vurle: cannot watch for Control-C and kill (") + error.what() +
                    "); they end it without saving");
  }
  return sources;
}

// Said once it has started, so whoever started vurle from a terminal knows
// it runs.
std::string startLine(const std::optional<std::filesystem::path>& folder) {
  const std::string process = std::to_string(::getpid());
  const std::string settings = folder ? "with its settings in " + folder->string()
                                      : "with its settings in memory only (neither XDG_CONFIG_HOME nor HOME is set)";
  return "vurle is running as process " + process + " " + settings + "; stop it with Control-C or `kill " +
         process + "`";
}

// Ends the process at once, with status 0, while the renderer's background
// compile may still run: static destructors would tear the driver down under
// that compile, so they are skipped, and only here. Nothing of ours waits in
// them (every change is saved as it is made, the locks go with the process),
// so once the driver is idle a quit returns as usual and keeps the exit-time
// clean-up and checks.
[[noreturn]] void endWhileTheDriverCompiles() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
  // _Exit skips the leak checker's exit-time check, so it runs here.
  __lsan_do_leak_check();
#endif
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  platform::NSAppleEventManager::sharedAppleEventManager().setLaunchEvent(vurle::AppDelegate::launchEventFromEnvironment());
  // A scripted run on the simulated desktop keeps its own settings folder,
  // so it is decided before anything touches the user's.
  const auto line = vurle::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (line.help) {
    std::cout << vurle::kCommandLineUsage << std::flush;
    return 0;
  }
  if (line.error) {
    const std::string usage = vurle::kCommandLineUsage;
    std::cerr << "vurle: " << *line.error << "\n" << usage.substr(0, usage.find('\n')) << std::endl;
    return 2;
  }
  if (line.scenario) {
    const int status = vurle::runScenario(*line.scenario, vurle::programScenarioLaunch(), std::cout, std::cerr);
    platform::releaseDrawingCaches();
    return status;
  }
  // Nothing shows the simulated desktop on a plain run (a scenario's
  // recorder is what shows it): its windows are occluded, as behind a
  // display that is off, so the examples on them rest instead of playing
  // for nobody.
  platform::NSWindow::setScreensShown(false);

  // Blocked before any thread starts, so that every thread inherits it and
  // the signals wait for their sources instead of acting.
  platform::DispatchSourceSignal::blockSignals({SIGINT, SIGTERM});
  const auto stopSignals = watchStopSignals();

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

  // There is no display here to pace the display links; a timer on the main
  // run loop gives them frames at the screens' 120 Hz while any runs.
  auto refresh = platform::CADisplayLink::scheduleRefresh(1.0 / 120.0);
  // Said once the start is over, when a stop is a clean one.
  platform::RunLoop::main().perform([line = startLine(folder)] {
    launched = true;
    std::cout << line << std::endl;
  });
  vurle::AppDelegate::main(vurle::programSeams());
  refresh->invalidate();

  // The application has terminated and everything is saved. A quit never
  // waits for the renderer's compile; see endWhileTheDriverCompiles.
  if (vurle::MetalCursorRenderer::shared()->isPreparing()) endWhileTheDriverCompiles();
  return 0;
}
