#include "platform/desktop/scenario.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace platform {
namespace {

const char* kTour = R"({
  "name": "tour",
  "settings": {"presenter": "native", "durationMilliseconds": 180, "adaptiveTiming": false},
  "screens": [{"frame": [0, 0, 1440, 900], "backingFactor": 2, "safeAreaTop": 32}],
  "windows": [{"title": "Notes", "frame": [100, 100, 600, 400], "level": 0,
               "owner": {"pid": 501, "name": "Notes", "bundle": "com.example.notes"},
               "cursors": [{"rect": [120, 150, 400, 40], "cursor": "text"}]}],
  "pointer": [50, 60],
  "timeline": [
    {"move": {"to": [300, 170], "duration": 0.4}, "label": "to the field"},
    {"click": {"button": "right"}},
    {"key": {"code": 3, "modifiers": ["command", "shift"]}},
    {"setCursor": "pointingHand"},
    {"space": {"display": 1, "space": 2}},
    {"wait": 0.25},
    {"settings": {"presenter": "overlay", "durationMilliseconds": 60}}
  ]
})";

ScenarioError errorOf(const std::string& json) {
  auto result = parseScenario(json);
  EXPECT_TRUE(std::holds_alternative<ScenarioError>(result)) << json;
  return std::holds_alternative<ScenarioError>(result) ? std::get<ScenarioError>(result) : ScenarioError{};
}

TEST(ScenarioTest, AWholeFileReadsWithItsStepTimes) {
  auto result = parseScenario(kTour);
  ASSERT_TRUE(std::holds_alternative<Scenario>(result)) << std::get<ScenarioError>(result).describe();
  const auto& scenario = std::get<Scenario>(result);
  EXPECT_EQ(scenario.name, "tour");
  EXPECT_EQ(scenario.settings.presenter, "native");
  EXPECT_EQ(scenario.settings.durationMilliseconds, 180);
  EXPECT_FALSE(scenario.settings.adaptiveTiming);
  ASSERT_EQ(scenario.screens.size(), 1u);
  EXPECT_EQ(scenario.screens[0].safeAreaTop, 32);
  ASSERT_EQ(scenario.windows.size(), 1u);
  EXPECT_EQ(scenario.windows[0].ownerBundleIdentifier, "com.example.notes");
  EXPECT_EQ(scenario.windows[0].cursorRegions.at(0).cursor, "text");
  EXPECT_EQ(scenario.pointerStart.x, 50);
  ASSERT_EQ(scenario.timeline.size(), 7u);
  EXPECT_EQ(scenario.timeline[6].settingsChange.presenter, std::optional<std::string>("overlay"));
  EXPECT_EQ(scenario.timeline[6].settingsChange.durationMilliseconds, std::optional<double>(60));
  EXPECT_FALSE(scenario.timeline[6].settingsChange.adaptiveTiming.has_value());
  EXPECT_FALSE(scenario.timeline[0].from.has_value());
  EXPECT_EQ(scenario.timeline[0].label, "to the field");
  EXPECT_EQ(scenario.timeline[1].button, kCGMouseButtonRight);
  EXPECT_EQ(scenario.timeline[2].flags, kCGEventFlagMaskCommand | kCGEventFlagMaskShift);
  EXPECT_EQ(scenario.timeline[4].space, 2u);
  // A move takes its duration, a click and a key 0.1 s, cursor and Space changes none.
  const std::vector<double> starts{0.0, 0.4, 0.5, 0.6, 0.6, 0.6, 0.85};
  ASSERT_EQ(scenario.stepStarts().size(), starts.size());
  for (size_t i = 0; i < starts.size(); ++i) EXPECT_NEAR(scenario.stepStarts()[i], starts[i], 1e-12) << i;
  EXPECT_NEAR(scenario.totalDuration(), 0.85, 1e-12);
}

TEST(ScenarioTest, EveryFaultNamesItsField) {
  const std::string screens = R"("screens": [{"frame": [0, 0, 800, 600]}])";
  struct Case {
    std::string json;
    std::string field;
    std::string message;
  } cases[] = {
      {"{", "", "not valid JSON"},
      {"[]", "", "expected an object"},
      {"{" + screens + "}", "timeline", "missing"},
      {R"({"screens": [], "timeline": []})", "screens", "at least one screen"},
      {"{" + screens + R"(, "timeline": [], "colour": 1})", "colour", "unknown key"},
      {"{" + screens + R"(, "timeline": [{"move": {"to": [1, 2], "duration": -0.5}}]})", "timeline[0].move.duration",
       "must not be negative"},
      {"{" + screens + R"(, "timeline": [{"move": {"to": [1, 2], "duraton": 1}}]})", "timeline[0].move.duraton",
       "unknown key"},
      {"{" + screens + R"(, "timeline": [{"setCursor": "sparkles"}]})", "timeline[0].setCursor",
       "unknown cursor \"sparkles\""},
      {"{" + screens + R"(, "timeline": [{"wait": 1, "click": {}}]})", "timeline[0]", "exactly one of"},
      {"{" + screens + R"(, "timeline": [{"wait": "long"}]})", "timeline[0].wait", "expected a number"},
      {"{" + screens + R"(, "timeline": [], "windows": [{"frame": [0, 0, 10, 10], "owner": {"pid": 7, "name": "A"},
        "cursors": [{"rect": [0, 0, 5, 5], "cursor": "lasso"}]}]})",
       "windows[0].cursors[0].cursor", "unknown cursor"},
      {"{" + screens + R"(, "timeline": [], "settings": {"presenter": "metal"}})", "settings.presenter",
       "\"overlay\" or \"native\""},
      {"{" + screens + R"(, "timeline": [{"settings": {"presenter": "both"}}]})", "timeline[0].settings.presenter",
       "\"overlay\" or \"native\""},
      {"{" + screens + R"(, "timeline": [], "settings": {"durationMilliseconds": 59}})",
       "settings.durationMilliseconds", "from 60 to 220"},
      {R"({"screens": [{"frame": [0, 0, 0, 600]}], "timeline": []})", "screens[0].frame[2]", "must be a number"},
      {"{" + screens + R"(, "timeline": [{"key": {"code": 3, "modifiers": ["hyper"]}}]})",
       "timeline[0].key.modifiers[0]", "unknown modifier"},
  };
  for (const auto& c : cases) {
    const ScenarioError error = errorOf(c.json);
    EXPECT_EQ(error.field, c.field) << c.json;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.describe();
  }
}

TEST(ScenarioTest, HostileFilesAreRefusedBeforeAnythingIsBuilt) {
  EXPECT_NE(errorOf(std::string(100000, '[') + std::string(100000, ']')).message.find("nested"), std::string::npos);
  EXPECT_NE(errorOf(std::string(kScenarioMaxBytes + 1, ' ')).message.find("larger than"), std::string::npos);

  const auto missing = loadScenario("/nonexistent/scenario.json");
  ASSERT_TRUE(std::holds_alternative<ScenarioError>(missing));
  EXPECT_EQ(std::get<ScenarioError>(missing).describe(), "cannot read the scenario file /nonexistent/scenario.json");
}

TEST(ScenarioTest, TheBundledTourReads) {
  auto result = loadScenario(VURLE_SOURCE_DIR "/resources/scenarios/tour.json");
  ASSERT_TRUE(std::holds_alternative<Scenario>(result)) << std::get<ScenarioError>(result).describe();
  const auto& tour = std::get<Scenario>(result);
  bool switchesPresenter = false;
  for (const auto& step : tour.timeline) {
    switchesPresenter |= step.settingsChange.presenter == std::optional<std::string>("native");
  }
  EXPECT_EQ(tour.settings.presenter, "overlay");
  EXPECT_TRUE(switchesPresenter);
}

}  // namespace
}  // namespace platform
