// vurle_views FOLDER [SCALE]
//
// Writes a PNG of each settings and onboarding view built so far into
// FOLDER (made when missing), at SCALE pixels per point (2 by default), on
// a simulated clock so the pictures are the same on every run:
//   pointer_test_strip.png, speed_examples.png,
//   transition_duration_control.png, animation_error_help.png,
//   success_mark_first.png, success_mark_last.png (the mark at 56 points
//   as it appears and once revealed), notice_success.png,
//   notice_warning.png, notice_error.png, notice_progress.png (the four
//   kinds of feedback notice)
// Exits 1 with a message when a picture cannot be written, 2 on bad usage.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/appkit/screen.hpp"
#include "platform/defaults/user_defaults.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/ui/drawing.hpp"
#include "ui/onboarding/pointer_test_strip.hpp"
#include "ui/settings/feedback_notice.hpp"
#include "ui/settings/morph_speed_examples.hpp"
#include "ui/settings/success_mark.hpp"
#include "ui/settings/transition_duration_control.hpp"

using namespace platform;
using namespace platform::ui;
using namespace vurle;

namespace {

bool write(ViewGraph& graph, const std::filesystem::path& folder, const char* name, double scale) {
  const auto path = folder / name;
  if (writePNG(graph, path.string(), scale)) {
    std::printf("%s\n", path.c_str());
    return true;
  }
  std::fprintf(stderr, "vurle_views: cannot write %s\n", path.c_str());
  return false;
}

std::shared_ptr<ViewGraph> graphOf(View view, CGSize size) {
  auto graph = ViewGraph::make(std::move(view));
  graph->setSize(size);
  graph->render();
  return graph;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: vurle_views FOLDER [SCALE]\n");
    return 2;
  }
  const double scale = argc == 3 ? std::atof(argv[2]) : 2.0;
  if (!(scale > 0 && scale <= 8)) {
    std::fprintf(stderr, "vurle_views: SCALE must be a number above 0 and at most 8\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code made;
  std::filesystem::create_directories(folder, made);
  if (made) {
    std::fprintf(stderr, "vurle_views: cannot make %s: %s\n", folder.c_str(), made.message().c_str());
    return 1;
  }

  SimulatedSchedulerScope scope;
  NSScreen::setScreens({NSScreen::make(CGRectMake(0, 0, 1440, 900), 2)});
  bool ok = true;

  {
    auto host = NSHostingView::make(PointerTestStrip(std::nullopt, nullptr).padding(16), CGRectMake(0, 0, 452, 78));
    host->graph()->render();
    if (auto strip = std::dynamic_pointer_cast<PointerTestStripView>(
            host->graph()->findKind("PointerTestStrip")->hostedView())) {
      const CGRect f = strip->frame();
      strip->mouseEntered(NSEvent(NSEventTypeMouseEntered, {f.origin.x + 175, 78 - (f.origin.y + 23)}, 0, 1));
    }
    ok &= write(*host->graph(), folder, "pointer_test_strip.png", scale);
  }
  {
    auto examples = MorphSpeedExamples::make({150, 60, 220}, true);
    auto graph = graphOf(HStack(VerticalAlignment::center, 0,
                                {SpeedExampleCanvas(examples, 0), SpeedExampleCanvas(examples, 1),
                                 SpeedExampleCanvas(examples, 2)}),
                         {480, 160});
    // Partway through the first morph: each slot at its own progress.
    examples->reset();
    examples->step(0);
    examples->step(0.07);
    ok &= write(*graph, folder, "speed_examples.png", scale);
  }
  auto engine = CursorEngine::make(nullptr, NSUserDefaults::makeInMemory("vurle-views"));
  {
    auto graph = graphOf(TransitionDurationControl(engine).padding(16), {360, 110});
    ok &= write(*graph, folder, "transition_duration_control.png", scale);
  }
  {
    auto graph = graphOf(
        HStack(VerticalAlignment::top, 8,
               {Text("Animate the pointer").font(Font::system(13, FontWeight::semibold)),
                AnimationErrorHelp("system-wide cursor access is unavailable on this macOS version.", true, [] {})})
            .padding(16)
            .frame(0.0, std::numeric_limits<double>::infinity(), 0.0, std::numeric_limits<double>::infinity(),
                   Alignment::topLeading()),
        {360, 200});
    graph->findLabel("Animation error details")->tap();
    graph->render();
    ok &= write(*graph, folder, "animation_error_help.png", scale);
  }
  {
    auto graph = ViewGraph::make(SuccessMark().frame(56, 56).padding(12));
    graph->setSize({80, 80});
    bool first = true;
    graph->setFrameObserver([&](ViewGraph& g) {
      if (!first) return;
      first = false;
      ok &= write(g, folder, "success_mark_first.png", scale);
    });
    graph->render();
    graph->setFrameObserver(nullptr);
    scope->runUntilIdle();
    ok &= !first && write(*graph, folder, "success_mark_last.png", scale);
  }
  {
    const struct {
      FeedbackNotice notice;
      const char* file;
    } notices[] = {
        {{FeedbackNotice::Kind::success, "Report sent", "Thanks for helping make vurle better."}, "notice_success.png"},
        {{FeedbackNotice::Kind::warning, "A newer version is available",
          "Version 0.2.0 requires macOS 15.0. You can still report problems with this version."},
         "notice_warning.png"},
        {{FeedbackNotice::Kind::error, "Report needs attention", "Try again in 42 seconds."}, "notice_error.png"},
        {{FeedbackNotice::Kind::progress, "Sending", "Your report is on its way."}, "notice_progress.png"},
    };
    for (const auto& n : notices) {
      auto graph = graphOf(n.notice.body().padding(12), {420, 90});
      scope->runUntilIdle();
      ok &= write(*graph, folder, n.file, scale);
    }
  }
  engine->stop();
  return ok ? 0 : 1;
}
