#include "platform/desktop/scenario.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

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

// A PNG's signature and a file that lacks it, for the wallpaper fields.
struct PictureFiles {
  PictureFiles() {
    const auto folder = std::filesystem::temp_directory_path();
    png = (folder / ("scenario-test-" + std::to_string(::getpid()) + ".png")).string();
    notPNG = (folder / ("scenario-test-" + std::to_string(::getpid()) + ".heic")).string();
    std::ofstream(png, std::ios::binary) << "\x89PNG\r\n\x1a\n";
    std::ofstream(notPNG, std::ios::binary) << "....ftypheic";
  }
  ~PictureFiles() {
    std::filesystem::remove(png);
    std::filesystem::remove(notPNG);
  }
  std::string png, notPNG;
};

TEST(ScenarioTest, EveryFaultNamesItsField) {
  const std::string screens = R"("screens": [{"frame": [0, 0, 800, 600]}])";
  const PictureFiles files;
  const std::string& png = files.png;
  const std::string& notPNG = files.notPNG;
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
      // Numbers beyond a double are the library's own range fault.
      {"{" + screens + R"(, "timeline": [{"wait": 1e400}]})", "", "not valid JSON"},
      {"{" + screens + R"(, "pointer": [-1e400, 0], "timeline": []})", "", "not valid JSON"},
      {"{" + screens + R"(, "timeline": [{"wait": 1e308}]})", "timeline[0].wait", "from 0 to 600"},
      // The application's own steps and its starting agreement.
      {"{" + screens + R"(, "timeline": [{"open": "about"}]})", "timeline[0].open",
       "\"window\", \"settings\" or \"onboarding\""},
      {"{" + screens + R"(, "timeline": [{"grantAccessibility": false}]})", "timeline[0].grantAccessibility",
       "expected true"},
      {"{" + screens + R"(, "timeline": [{"grantAccessibility": 1}]})", "timeline[0].grantAccessibility",
       "expected true or false"},
      // The desktop's look and options.
      {R"({"screens": [{"frame": [0, 0, 800, 600], "menuBarHeight": 100.5}], "timeline": []})",
       "screens[0].menuBarHeight", "from 0 to 100"},
      {R"({"screens": [{"frame": [0, 0, 800, 600], "menuBarHeight": -1}], "timeline": []})",
       "screens[0].menuBarHeight", "from 0 to 100"},
      {"{" + screens + R"(, "timeline": [], "settings": {"appearance": "sepia"}})", "settings.appearance",
       "expected \"light\" or \"dark\", found \"sepia\""},
      {"{" + screens + R"(, "timeline": [], "settings": {"locale": "zz_ZZ_NOWHERE"}})", "settings.locale",
       "unknown locale \"zz_ZZ_NOWHERE\""},
      {"{" + screens + R"(, "timeline": [], "settings": {"timeZone": "Mars/Olympus"}})", "settings.timeZone",
       "unknown time zone \"Mars/Olympus\""},
      {"{" + screens + R"(, "timeline": [], "settings": {"systemVersion": 26.5}})", "settings.systemVersion",
       "whole major version"},
      {"{" + screens + R"(, "timeline": [], "settings": {"systemVersion": 100}})", "settings.systemVersion",
       "from 11 to 99"},
      {"{" + screens + R"(, "timeline": [], "settings": {"reduceMotion": "on"}})", "settings.reduceMotion",
       "expected true or false"},
      {"{" + screens + R"(, "timeline": [], "settings": {"wallpaper": {"light": "/no/such/light.png", "dark": "/no/such/dark.png"}}})",
       "settings.wallpaper.light", "no file \"/no/such/light.png\""},
      {"{" + screens + R"(, "timeline": [], "settings": {"wallpaper": {"light": ")" + png + R"("}}})",
       "settings.wallpaper.dark", "missing"},
      {"{" + screens + R"(, "timeline": [], "settings": {"wallpaper": {"light": ")" + png + R"(", "dark": ")" + notPNG +
           R"("}}})",
       "settings.wallpaper.dark", "is not a PNG file"},
      {"{" + screens + R"(, "timeline": [], "settings": {"wallpaper": {"light": ")" + png + R"(", "dark": ")" + png +
           R"(", "tint": 1}}})",
       "settings.wallpaper.tint", "unknown key"},
      {"{" + screens + R"(, "timeline": [{"settings": {"appearance": "dark"}}]})", "timeline[0].settings.appearance",
       "unknown key"},
      {"{" + screens + R"(, "timeline": [{"open": 1}]})", "timeline[0].open", "expected text"},
      {"{" + screens + R"(, "timeline": [{"picture": ""}]})", "timeline[0].picture", "must not be empty"},
      {"{" + screens + R"(, "timeline": [{"picture": ")" + std::string(65, 'a') + R"("}]})", "timeline[0].picture",
       "at most 64 characters"},
      {"{" + screens + R"(, "timeline": [{"picture": "tabs/general"}]})", "timeline[0].picture", "path separator"},
      {"{" + screens + R"(, "timeline": [{"picture": "tabs\\general"}]})", "timeline[0].picture", "path separator"},
      {"{" + screens + R"(, "timeline": [{"picture": "a\u0000b"}]})", "timeline[0].picture", "control character"},
      {"{" + screens + R"(, "timeline": [{"picture": ".."}]})", "timeline[0].picture", "must name a file"},
      {"{" + screens + R"(, "timeline": [{"picture": "a"}, {"wait": 1}, {"picture": "a"}]})", "timeline[2].picture",
       "is the name of timeline[0] already"},
      {"{" + screens + R"(, "timeline": [], "settings": {"agreementAccepted": "yes"}})", "settings.agreementAccepted",
       "expected true or false"},
      {"{" + screens + R"(, "timeline": [{"settings": {"agreementAccepted": false}}]})",
       "timeline[0].settings.agreementAccepted", "unknown key"},
  };
  for (const auto& c : cases) {
    const ScenarioError error = errorOf(c.json);
    EXPECT_EQ(error.field, c.field) << c.json;
    EXPECT_NE(error.message.find(c.message), std::string::npos) << error.describe();
  }
}

TEST(ScenarioTest, TheDesktopsLookAndOptionsAreReadWithTheirDefaults) {
  const PictureFiles files;
  auto bare = parseScenario(R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": []})");
  ASSERT_TRUE(std::holds_alternative<Scenario>(bare));
  const auto& defaults = std::get<Scenario>(bare);
  EXPECT_TRUE(defaults.settings.onboardingCompleted);
  EXPECT_TRUE(defaults.settings.accessibilityTrusted);
  EXPECT_EQ(defaults.settings.appearance, "light");
  EXPECT_FALSE(defaults.settings.reduceMotion || defaults.settings.reduceTransparency);
  EXPECT_FALSE(defaults.settings.systemVersion || defaults.settings.locale || defaults.settings.timeZone ||
               defaults.settings.wallpaper || defaults.screens[0].menuBarHeight);

  const std::filesystem::path png(files.png);
  auto full = parseScenario(R"({"screens": [{"frame": [0, 0, 800, 600], "menuBarHeight": 37}],
    "settings": {"onboardingCompleted": false, "accessibilityTrusted": false, "appearance": "dark",
      "reduceMotion": true, "reduceTransparency": true, "systemVersion": 27, "locale": "en_GB",
      "timeZone": "Europe/London", "wallpaper": {"light": ")" + png.filename().string() + R"(", "dark": ")" +
                                files.png + R"("}},
    "timeline": [{"open": "onboarding"}, {"grantAccessibility": true}]})",
                            png.parent_path().string());
  ASSERT_TRUE(std::holds_alternative<Scenario>(full)) << std::get<ScenarioError>(full).describe();
  const auto& s = std::get<Scenario>(full);
  EXPECT_EQ(s.screens[0].menuBarHeight, 37.0);
  EXPECT_FALSE(s.settings.onboardingCompleted);
  EXPECT_FALSE(s.settings.accessibilityTrusted);
  EXPECT_EQ(s.settings.appearance, "dark");
  EXPECT_TRUE(s.settings.reduceMotion && s.settings.reduceTransparency);
  EXPECT_EQ(s.settings.systemVersion, 27);
  EXPECT_EQ(s.settings.locale, "en_GB");
  EXPECT_EQ(s.settings.timeZone, "Europe/London");
  ASSERT_TRUE(s.settings.wallpaper);
  EXPECT_EQ(s.settings.wallpaper->light, files.png) << "a relative path is taken from the scenario's folder";
  EXPECT_EQ(s.settings.wallpaper->dark, files.png);
  EXPECT_EQ(s.timeline[0].name, "onboarding");
  EXPECT_EQ(s.timeline[1].kind, ScenarioStep::Kind::grantAccessibility);
  EXPECT_EQ(s.totalDuration(), 0.0);
}

TEST(ScenarioTest, TheApplicationsStepsTakeNoTimeAndAPictureNameCountsCharacters) {
  std::string sixtyFour;
  for (int i = 0; i < 64; ++i) sixtyFour += "\u00e9";  // two bytes each
  auto result = parseScenario(R"({"screens": [{"frame": [0, 0, 800, 600]}], "settings": {"agreementAccepted": false},
    "timeline": [{"open": "settings"}, {"wait": 0.5}, {"picture": ")" + sixtyFour + R"("}, {"open": "window"}]})");
  ASSERT_TRUE(std::holds_alternative<Scenario>(result)) << std::get<ScenarioError>(result).describe();
  const auto& scenario = std::get<Scenario>(result);
  EXPECT_FALSE(scenario.settings.agreementAccepted);
  ASSERT_EQ(scenario.timeline.size(), 4u);
  EXPECT_EQ(scenario.timeline[0].kind, ScenarioStep::Kind::open);
  EXPECT_EQ(scenario.timeline[0].name, "settings");
  EXPECT_EQ(scenario.timeline[2].kind, ScenarioStep::Kind::picture);
  EXPECT_EQ(scenario.timeline[2].name.size(), 128u);
  EXPECT_EQ(scenario.timeline[3].name, "window");
  EXPECT_NEAR(scenario.totalDuration(), 0.5, 1e-12);
  auto defaults = parseScenario(R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": []})");
  EXPECT_TRUE(std::get<Scenario>(defaults).settings.agreementAccepted);
}

TEST(ScenarioTest, FileTextInARefusalStaysOnOneEscapedAndShortLine) {
  const std::string screens = R"({"screens": [{"frame": [0, 0, 800, 600]}], )";
  struct Case {
    std::string json;
    std::string describe;
  } cases[] = {
      {screens + R"("timeline": [{"setCursor": "text\nrm -rf"}]})",
       R"(timeline[0].setCursor: unknown cursor "text\nrm -rf")"},
      {screens + R"("timeline": [], "col\u001b[31mour\u0000": 1})", R"(col\x1b[31mour\x00: unknown key)"},
      {screens + R"("timeline": [{"key": {"code": 1, "modifiers": ["\u009b2J\"\\"]}}]})",
       R"(timeline[0].key.modifiers[0]: unknown modifier "\u{9b}2J\"\\")"},
      {screens + R"("timeline": [{"setCursor": ")" + std::string(200, 'x') + R"("}]})",
       "timeline[0].setCursor: unknown cursor \"" + std::string(79, 'x') + "…\""},
      {screens + R"("timeline": [{"setCursor": "\u2028\u00e9"}]})",
       "timeline[0].setCursor: unknown cursor \"\u2028\u00e9\""},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.json).describe(), c.describe) << c.json;

  // The library's sentence about a file it cannot read quotes the file too.
  const std::string broken = "{\"a\": \"" + std::string(5000, 'y') + "\x01\n\x1b\"}";
  const std::string said = errorOf(broken).describe();
  EXPECT_NE(said.find("not valid JSON"), std::string::npos) << said;
  EXPECT_LE(said.size(), 300u) << said;
  for (char c : said) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << said;
}

TEST(ScenarioTest, PrintableTextEscapesControlsAndBrokenBytesAndCutsAtItsLimit) {
  struct Case {
    std::string text;
    size_t limit;
    std::string printed;
  } cases[] = {
      {"plain", 80, "plain"},
      {"a\tb\rc\nd", 80, "a\\tb\\rc\\nd"},
      {std::string("nul\0del\x7f", 8), 80, "nul\\x00del\\x7f"},
      {"\xc2\x85 and \xc2\xa0", 80, "\\u{85} and \u00a0"},  // C1 next line escaped, no-break space kept
      {"\xff\xc0\x80\xed\xa0\x80", 80, "\\xff\\xc0\\x80\\xed\\xa0\\x80"},  // not UTF-8
      {"\xe2\x82", 80, "\\xe2\\x82"},                                    // cut short
      {"\xf0\x9f\x98\x80", 80, "\xf0\x9f\x98\x80"},                      // one character
      {"abcde", 5, "abcde"},
      {"abcdef", 5, "abcd…"},
      {"abc\n", 5, "abc\\n"},
      {"abcd\n", 5, "abcd…"},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80", 3, "\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80"},
      {"\xf0\x9f\x98\x80\xf0\x9f\x98\x80\xf0\x9f\x98\x80", 2, "\xf0\x9f\x98\x80…"},
  };
  for (const auto& c : cases) EXPECT_EQ(printableText(c.text, c.limit), c.printed) << c.text;
}

TEST(ScenarioTest, TheTimelineAddsUpToAnHourAtMost) {
  const std::string head = R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": [)";
  std::string hour;
  for (int i = 0; i < 6; ++i) hour += R"({"wait": 600}, )";
  struct Case {
    std::string steps;
    std::string field;  // empty: accepted
  } cases[] = {
      {hour + R"({"setCursor": "text"})", ""},
      {hour + R"({"wait": 0.001})", "timeline[6].wait"},
      {hour + R"({"click": {}})", "timeline[6]"},
      {hour + R"({"move": {"to": [1, 1], "duration": 0.5}})", "timeline[6].move.duration"},
  };
  for (const auto& c : cases) {
    auto result = parseScenario(head + c.steps + "]}");
    if (c.field.empty()) {
      ASSERT_TRUE(std::holds_alternative<Scenario>(result)) << std::get<ScenarioError>(result).describe();
      EXPECT_EQ(std::get<Scenario>(result).totalDuration(), kScenarioMaxTotalSeconds);
    } else {
      ASSERT_TRUE(std::holds_alternative<ScenarioError>(result)) << c.steps;
      EXPECT_EQ(std::get<ScenarioError>(result).field, c.field);
      EXPECT_NE(std::get<ScenarioError>(result).message.find("passes 3600 seconds"), std::string::npos);
    }
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
