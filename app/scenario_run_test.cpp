#include "app/scenario_run.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

TEST(ScenarioRunTest, TheCommandLineIsThePlainApplicationOrOneWholeRun) {
  struct Case {
    std::vector<std::string> arguments;
    bool run;
    std::string error;
    bool help = false;
  } cases[] = {
      {{}, false, ""},
      {{"--scenario", "a.json", "--out", "dir"}, true, ""},
      {{"--out", "dir", "--scenario", "a.json"}, true, ""},
      {{"--scenario", "a.json"}, false, "--out DIR is missing"},
      {{"--out", "dir"}, false, "--scenario FILE is missing"},
      {{"--scenario"}, false, "--scenario needs a value"},
      {{"--scenario", "", "--out", "d"}, false, "--scenario needs a value"},
      {{"--scenario", "a", "--scenario", "b"}, false, "--scenario is given twice"},
      {{"--fast"}, false, "unknown argument \"--fast\""},
      {{"--help"}, false, "", true},
      {{"-h"}, false, "", true},
      {{"--scenario", "a.json", "--out", "dir", "-h"}, false, "", true},
      {{"-help"}, false, "unknown argument \"-help\""},
  };
  for (const auto& c : cases) {
    const auto line = parseCommandLine(c.arguments);
    EXPECT_EQ(line.scenario.has_value(), c.run) << c.error;
    EXPECT_EQ(line.error.value_or(""), c.error);
    EXPECT_EQ(line.help, c.help) << c.error;
  }
  const auto line = parseCommandLine({"--scenario", "a.json", "--out", "dir"});
  EXPECT_EQ(line.scenario->scenarioPath, "a.json");
  EXPECT_EQ(line.scenario->outputFolder, "dir");
}

TEST(ScenarioRunTest, TheTallyCountsFramesDropsAndHandBacksPerCursorChange) {
  RunTally tally;
  using Tick = RunTally::Tick;
  // tick: changes, cursor, ours, visible, frame
  const Tick ticks[] = {
      {0, "arrow", false, true, 0},  // 0: nothing yet
      {1, "text", false, true, 0},   // 1: the cursor changes; the overlay is not up yet
      {1, "text", true, false, 10},  // 2: first frame
      {1, "text", true, false, 11},  // 3
      {1, "text", true, false, 11},  // 4: nothing new...
      {1, "text", true, false, 12},  // 5: ...then a frame: one dropped
      {1, "text", true, false, 12},  // 6: resting on the last frame
      {1, "text", false, true, 0},   // 7: handed back
      {2, "hand", false, true, 0},   // 8: refused: the native cursor stays
      {3, "text", true, false, 13},  // 9
      {3, "text", false, false, 0},  // 10: gone, the cursor still hidden: no hand-back yet
      {3, "text", false, true, 0},   // 11: not ours before: not a hand-back either
  };
  std::vector<bool> newFrames;
  for (int i = 0; i < static_cast<int>(std::size(ticks)); ++i) newFrames.push_back(tally.note(i, ticks[i]));
  const std::vector<bool> expected{false, false, true, true, false, true, false, false, false, true, false, false};
  EXPECT_EQ(newFrames, expected);
  ASSERT_EQ(tally.transitions().size(), 3u);
  EXPECT_EQ(tally.transitions()[0].cursorName, "text");
  EXPECT_EQ(tally.transitions()[0].firstTick, 1);
  EXPECT_EQ(tally.transitions()[0].frames, 3);
  EXPECT_EQ(tally.transitions()[0].dropped, 1);
  EXPECT_EQ(tally.transitions()[0].frameTicks, (std::vector<int>{2, 3, 5}));
  EXPECT_EQ(tally.transitions()[1].frames, 0);
  EXPECT_EQ(tally.transitions()[2].frames, 1);
  EXPECT_EQ(tally.played(), 2);
  EXPECT_EQ(tally.framesDropped(), 1);
  EXPECT_EQ(tally.handBacks(), 1);
}

TEST(ScenarioRunTest, ARefusedRunSaysWhyInOneLineAndWritesNothing) {
  const fs::path root = fs::temp_directory_path() / ("vurle-run-refused-" + std::to_string(::getpid()));
  fs::create_directories(root);
  const fs::path bad = root / "bad.json";
  std::ofstream(bad) << R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": [{"wait": -1}]})";
  const fs::path good = root / "good.json";
  std::ofstream(good) << R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": []})";
  std::ofstream(root / "a-file") << "x";
  const std::string screens = R"({"screens": [{"frame": [0, 0, 800, 600]}], "timeline": )";
  const fs::path huge = root / "huge.json";
  std::ofstream(huge) << screens << R"([{"wait": 1e400}]})";
  const fs::path split = root / "split.json";
  std::ofstream(split) << screens << R"([{"setCursor": "text\nok\u001b[2J"}]})";
  const fs::path long_ = root / "long.json";
  {
    std::ofstream file(long_);
    file << screens << "[";
    for (int i = 0; i < 10000; ++i) file << (i ? ", " : "") << R"({"wait": 600})";
    file << "]}";
  }

  struct Case {
    fs::path scenario;
    fs::path out;
    std::string says;
  } cases[] = {
      {bad, root / "out1", "timeline[0].wait: must not be negative"},
      {root / "missing.json", root / "out2", "cannot read the scenario file"},
      {huge, root / "out3", "not valid JSON"},
      {split, root / "out4", R"(timeline[0].setCursor: unknown cursor "text\nok\x1b[2J")"},
      {long_, root / "out5", "timeline[6].wait: the timeline passes 3600 seconds of scenario time here"},
      {good, root / "a-file" / "out", "cannot write the output folder"},
      {good, root / "a-file", "it is not a folder"},
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(runScenario({c.scenario.string(), c.out.string()}, {}, out, err), 2) << c.says;
    const std::string said = err.str();
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(out.str().empty());
  }
  for (const char* out : {"out1", "out2", "out3", "out4", "out5"}) EXPECT_FALSE(fs::exists(root / out)) << out;
  fs::remove_all(root);
}

TEST(ScenarioRunTest, TheFilesOwnTextsArePrintedEscaped) {
  const fs::path root = fs::temp_directory_path() / ("vurle-run-texts-" + std::to_string(::getpid()));
  fs::remove_all(root);
  fs::create_directories(root);
  const fs::path scenario = root / "texts.json";
  std::ofstream(scenario) << R"({"name": "two\nlines", "screens": [{"frame": [0, 0, 400, 300]}],
    "timeline": [{"wait": 0.05, "label": "clear\u001b[2J\u0007"}]})";
  std::ostringstream out, err;
  EXPECT_EQ(runScenario({scenario.string(), (root / "run").string()}, {}, out, err), 0) << err.str();
  const std::string said = out.str();
  EXPECT_NE(said.find("  clear\\x1b[2J\\x07\n"), std::string::npos) << said;
  EXPECT_NE(said.find("\ntwo\\nlines: 0.05 s of scenario"), std::string::npos) << said;
  EXPECT_EQ(said.find('\x1b'), std::string::npos);
  EXPECT_EQ(said.find('\x07'), std::string::npos);
  fs::remove_all(root);
  platform::resetProcessState();
}

}  // namespace
}  // namespace vurle
