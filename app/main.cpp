#include <signal.h>

#include <csignal>

#include "app/app_delegate.hpp"
#include "cursor/art/metal_cursor_renderer.hpp"
#include "platform/appkit/application.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/run_loop.hpp"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

}  // namespace

int main() {
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
  vurle::AppDelegate::main();
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
