#include "support/update_settings_card.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/ui/picture_test_support.hpp"
#include "platform/updater/updater_test_support.hpp"
#include "ui/onboarding/about_window.hpp"

namespace vurle {
namespace {

using namespace platform;
using namespace platform::ui;

class UpdateSettingsCardTest : public platform::testing::UpdaterFixture {
 protected:
  std::shared_ptr<ViewGraph> show(const std::shared_ptr<VurleUpdates>& updates) {
    auto graph = ViewGraph::make(UpdateSettingsCard(updates).padding(16));
    graph->setSize({420, 260});
    scope->runUntilIdle();
    return graph;
  }
  // The two rows' switches, in order.
  static std::vector<ViewRef> switches(ViewGraph& graph) {
    return graph.findAll([](const Node& n) { return n.kind() == "Toggle"; });
  }
  static bool on(const ViewRef& toggle) { return toggle.node().view.desc().isOn->get(); }
  // Writes through the switch's binding, as the switch does when flipped.
  static void write(const ViewRef& toggle, bool value) { toggle.node().view.desc().isOn->set(value); }
  static std::optional<std::string> message(ViewGraph& graph) {
    for (const char* sentence : {VurleUpdates::unconfiguredMessage, VurleUpdates::notStartedMessage,
                                 VurleUpdates::startFailedMessage})
      if (graph.findText(sentence)) return std::string(sentence);
    return std::nullopt;
  }

  SimulatedSchedulerScope scope;
};

TEST_F(UpdateSettingsCardTest, RowsSwitchesAndTheSentenceFollowTheControllersState) {
  struct Case {
    const char* name;
    JSON info;
    int failedStarts;  // -1: never started
    bool row1, row2, button;
    std::optional<std::string> sentence;
  };
  const std::vector<Case> cases = {
      {"no updater", {{"VurleUpdatesEnabled", "NO"}}, 0, false, false, false, VurleUpdates::unconfiguredMessage},
      {"not started", JSON::object(), -1, false, false, false, VurleUpdates::notStartedMessage},
      {"a failed start", JSON::object(), 1, false, false, false, VurleUpdates::startFailedMessage},
      {"started", JSON::object(), 0, true, true, true, std::nullopt},
      {"started, automatic updates not allowed", {{"SUAllowsAutomaticUpdates", false}}, 0, true, false, true,
       std::nullopt},
  };
  for (const auto& c : cases) {
    resetProcessState();
    writeInfo(c.info);
    auto updates = VurleUpdates::make();
    if (c.failedStarts >= 0) {
      SPUUpdater::failNextStartsForTesting(c.failedStarts);
      updates->start();
    }
    auto graph = show(updates);
    const auto rows = switches(*graph);
    ASSERT_EQ(rows.size(), 2u) << c.name << ": both rows stay visible";
    EXPECT_EQ(rows[0].isEnabled(), c.row1) << c.name;
    EXPECT_EQ(rows[1].isEnabled(), c.row2) << c.name;
    EXPECT_EQ(graph->findLabel("Check for updates")->isEnabled(), c.button) << c.name;
    EXPECT_EQ(message(*graph), c.sentence) << c.name;
    EXPECT_TRUE(graph->findText("Check automatically") && graph->findText("Look for new versions in the background") &&
                graph->findText("Install automatically") && graph->findText("Download updates and install on quit"))
        << c.name;
    EXPECT_TRUE(graph->findText("Updates")->accessibility().traits.count("isHeader")) << c.name;
    if (!updates->updater()) {
      EXPECT_FALSE(on(rows[0]) || on(rows[1])) << c.name << ": off without an updater";
      write(rows[0], true);  // nothing to write to, and nothing breaks
    }
  }
}

TEST_F(UpdateSettingsCardTest, ASwitchWritesTheUpdatersSettingOnlyOnceTheControllerHasStarted) {
  auto updates = VurleUpdates::make();
  auto graph = show(updates);
  auto rows = switches(*graph);
  write(rows[0], true);
  write(rows[1], true);
  EXPECT_FALSE(updates->updater()->automaticallyChecksForUpdates()) << "not started: nothing is written";
  EXPECT_FALSE(updates->updater()->automaticallyDownloadsUpdates());

  updates->start();
  scope->runUntilIdle();
  rows = switches(*graph);
  write(rows[0], true);
  EXPECT_TRUE(updates->updater()->automaticallyChecksForUpdates());
  EXPECT_FALSE(updates->updater()->automaticallyDownloadsUpdates());
  scope->runUntilIdle();
  EXPECT_TRUE(on(switches(*graph)[0])) << "the card shows the updater's setting";
  EXPECT_FALSE(on(switches(*graph)[1]));
  // A change made elsewhere shows too.
  updates->updater()->setAutomaticallyDownloadsUpdates(true);
  scope->runUntilIdle();
  EXPECT_TRUE(on(switches(*graph)[1]));
}

TEST_F(UpdateSettingsCardTest, TwoQuickPressesStartOneCheckAndTheButtonShowsItsProgress) {
  auto updates = VurleUpdates::make();
  updates->start();
  scope->runUntilIdle();
  auto graph = show(updates);
  auto button = graph->findLabel("Check for updates");
  ASSERT_TRUE(button);
  EXPECT_TRUE(graph->findText("Check for updates…"));
  EXPECT_TRUE(button->tap());
  button->tap();  // before the card redraws
  ASSERT_TRUE(updates->isCheckingForUpdates());
  graph->render();  // the answer may come on the next pass already
  auto checking = graph->findLabel("Checking for updates");
  ASSERT_TRUE(checking);
  EXPECT_TRUE(graph->findText("Checking…"));
  EXPECT_FALSE(checking->isEnabled());
  EXPECT_TRUE(graph->findKind("ProgressView")) << "the progress shows inside the button";
  EXPECT_FALSE(checking->tap()) << "a disabled button takes no press";
  EXPECT_FALSE(updates->userDriver()->checkingWindow()) << "no checking window opens for the button";

  ASSERT_TRUE(platform::testing::pumpSimulatedUntil(scope, [&] { return !updates->isCheckingForUpdates(); }));
  scope->runUntilIdle();
  EXPECT_EQ(feedRequests().size(), 1u) << "one GET of the feed";
  EXPECT_TRUE(graph->findLabel("Check for updates"));
  EXPECT_TRUE(graph->findText("Check for updates…"));
  EXPECT_FALSE(graph->findKind("ProgressView"));
}

TEST_F(UpdateSettingsCardTest, ThePanelIsOpaqueUnderReduceTransparency) {
  auto updates = VurleUpdates::make();
  for (bool reduce : {false, true}) {
    NSWorkspace::sharedWorkspace().setReduceTransparency(reduce);
    auto graph = show(updates);
    const auto panel = graph->findAll([](const Node& n) {
      const Modifier* fill = n.modifier("fill");
      return n.kind() == "RoundedRectangle" && fill && fill->string("color") == "controlBackground";
    });
    ASSERT_EQ(panel.size(), 1u);
    EXPECT_DOUBLE_EQ(panel.front().modifier("fill")->number("opacity"), reduce ? 1.0 : 0.74);
  }
}

// The About window as the program builds it, drawn as the user sees it.
TEST_F(UpdateSettingsCardTest, TheAboutWindowShowsTheCardOfAnUnconfiguredBuildAndOfAStartedUpdater) {
  std::filesystem::create_directories(root / "bundle" / "Resources");
  std::filesystem::copy_file(std::filesystem::path(VURLE_RESOURCES_DIR) / "vurle-logo.svg",
                             root / "bundle" / "Resources" / "vurle-logo.svg");
  struct Case {
    const char* picture;
    JSON info;
    bool start;
  };
  const Case cases[] = {
      {"about_window_unconfigured", {{"VurleUpdatesEnabled", "NO"}}, false},
      {"about_window_started", JSON::object(), true},
  };
  for (const auto& c : cases) {
    writeInfo(c.info);
    auto updates = VurleUpdates::make();
    if (c.start) updates->start();
    scope->runUntilIdle();
    auto controller = VurleAboutWindowController::make(UpdateSettingsCard(updates));
    expectWindowMatchesStoredPicture(*controller->window(), VURLE_PICTURES_DIR, c.picture);
  }
}

}  // namespace
}  // namespace vurle
