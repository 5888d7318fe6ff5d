// A scenario file, read by the scenario parser.
// Properties: the parser answers with a scenario or a refusal and never
// throws; a refusal is one printable line (well-formed UTF-8, no control
// character, a bounded length), and one on no field when the text is not
// JSON at all; a scenario that reads keeps every documented bound (counts,
// step times, the hour of scenario time, coordinates, sizes, known cursor
// names, settings) and was valid JSON; reading the same bytes again gives the
// same answer.
#include <cmath>

#include "fuzz/fuzz_support.hpp"
#include "platform/desktop/cursor_catalogue.hpp"
#include "platform/desktop/scenario.hpp"

namespace {

using vurle::fuzz::require;

// Characters of well-formed UTF-8 that is free of control characters (C0,
// DEL, C1); none when it is not such text.
std::optional<size_t> printableCharacters(const std::string& text) {
  size_t characters = 0;
  for (size_t at = 0; at < text.size(); ++characters) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x20 || lead == 0x7F) return std::nullopt;
    const size_t length = lead < 0x80 ? 1 : lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return std::nullopt;
    char32_t scalar = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      scalar = (scalar << 6) | (next & 0x3F);
    }
    const char32_t lowest = length == 1 ? 0 : length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (scalar < lowest || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) return std::nullopt;
    if (scalar >= 0x80 && scalar <= 0x9F) return std::nullopt;
    at += length;
  }
  return characters;
}

bool within(double value, double low, double high) { return std::isfinite(value) && value >= low && value <= high; }

bool pointWithin(const platform::CGPoint& point) {
  return within(point.x, -platform::kScenarioMaxCoordinate, platform::kScenarioMaxCoordinate) &&
         within(point.y, -platform::kScenarioMaxCoordinate, platform::kScenarioMaxCoordinate);
}

bool rectWithin(const platform::CGRect& rect) {
  return pointWithin(rect.origin) && within(rect.size.width, 1, platform::kScenarioMaxCoordinate) &&
         within(rect.size.height, 1, platform::kScenarioMaxCoordinate);
}

void checkBounds(const platform::Scenario& scenario) {
  using Kind = platform::ScenarioStep::Kind;
  require(!scenario.screens.empty() && scenario.screens.size() <= platform::kScenarioMaxScreens, "screen count");
  for (const auto& screen : scenario.screens) {
    require(rectWithin(screen.frame), "a screen's frame is out of bounds");
    require(within(screen.backingFactor, 1, 4) && within(screen.safeAreaTop, 0, 200), "a screen's factor or top");
    require(!screen.menuBarHeight || within(*screen.menuBarHeight, 0, 100), "a screen's menu bar");
  }
  require(scenario.windows.size() <= platform::kScenarioMaxWindows, "window count");
  for (const auto& window : scenario.windows) {
    require(rectWithin(window.frame), "a window's frame is out of bounds");
    require(window.ownerPID >= 1 && window.ownerPID <= 99999, "a window's owner pid");
    require(window.cursorRegions.size() <= platform::kScenarioMaxRegions, "region count");
    for (const auto& region : window.cursorRegions) {
      require(rectWithin(region.rect), "a region is out of bounds");
      require(platform::isKnownCursorName(region.cursor), "a region names an unknown cursor");
    }
  }
  require(pointWithin(scenario.pointerStart), "the pointer starts out of bounds");
  const auto& settings = scenario.settings;
  require(settings.presenter == "overlay" || settings.presenter == "native", "the presenter");
  require(within(settings.durationMilliseconds, 60, 220), "the duration");
  require(settings.appearance == "light" || settings.appearance == "dark", "the appearance");
  require(!settings.systemVersion || (*settings.systemVersion >= 11 && *settings.systemVersion <= 99),
          "the system version");

  require(scenario.timeline.size() <= platform::kScenarioMaxSteps, "step count");
  double total = 0;
  const auto starts = scenario.stepStarts();
  for (size_t i = 0; i < scenario.timeline.size(); ++i) {
    const auto& step = scenario.timeline[i];
    require(within(step.duration(), 0, platform::kScenarioMaxStepSeconds), "a step's time");
    require(starts[i] == total, "a step starts elsewhere than where the one before ended");
    total += step.duration();
    if (step.kind == Kind::move) {
      require(pointWithin(step.to) && (!step.from || pointWithin(*step.from)), "a move leaves the bounds");
    }
    if (step.kind == Kind::setCursor) require(platform::isKnownCursorName(step.cursor), "an unknown cursor is set");
    if (step.kind == Kind::key) require(step.keyCode <= 127, "a key code");
    if (step.kind == Kind::space) require(step.display >= 1 && step.display <= 64 && step.space >= 1, "a Space");
    if (const auto& change = step.settingsChange.durationMilliseconds) require(within(*change, 60, 220), "a duration");
  }
  require(total <= platform::kScenarioMaxTotalSeconds, "the timeline passes its hour");
  require(scenario.totalDuration() == total, "the total differs from the steps' sum");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto input = vurle::fuzz::text(data, size);
  const auto first = platform::parseScenario(input);
  const auto again = platform::parseScenario(input);
  require(first.index() == again.index(), "the same bytes read once as a scenario and once refused");
  // Without building a tree: a deep input must not recurse here either.
  const bool json = platform::JSON::accept(input.begin(), input.end());
  if (const auto* error = std::get_if<platform::ScenarioError>(&first)) {
    const std::string line = error->describe();
    require(line == std::get<platform::ScenarioError>(again).describe(), "the same bytes refused differently");
    const auto characters = printableCharacters(line);
    require(characters.has_value(), "a refusal holds a control character or broken UTF-8: " + line);
    require(*characters <= 400, "a refusal is too long");
    require(!line.empty(), "a refusal says nothing");
    if (!json) require(error->field.empty(), "a text that is not JSON is refused on a field");
  } else {
    const auto& scenario = std::get<platform::Scenario>(first);
    require(json, "a text that is not JSON was read");
    checkBounds(scenario);
    require(std::get<platform::Scenario>(again).totalDuration() == scenario.totalDuration() &&
                std::get<platform::Scenario>(again).timeline.size() == scenario.timeline.size(),
            "the same bytes read differently");
  }
  return 0;
}
