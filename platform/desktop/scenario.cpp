#include "platform/desktop/scenario.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <utility>

#include "platform/desktop/cursor_catalogue.hpp"
#include "platform/foundation/date_formatter.hpp"

namespace platform {
namespace {

using nlohmann::json;

// Scenario files are shallow; anything deeper is not one of ours.
constexpr int kMaxDepth = 16;

// Thrown inside the reader only; parseScenario turns it into a value.
struct Fault {
  ScenarioError error;
};
struct TooDeep {};

// The library's own sentence about a file it cannot read quotes the file
// (its "last read" part), so it is cut like any text of the file, a little
// longer for the library's words around it.
constexpr size_t kMaxLibraryMessage = 2 * kScenarioMaxQuotedCharacters + 80;

// The length of the UTF-8 sequence starting at `at` and its scalar, or 0
// when the bytes there are not one (overlong, surrogate, past U+10FFFF,
// cut short).
std::pair<size_t, char32_t> utf8Scalar(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return {1, lead};
  size_t length = 0;
  char32_t scalar = 0;
  char32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, scalar = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, scalar = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, scalar = lead & 0x07, lowest = 0x10000;
  } else {
    return {0, 0};
  }
  if (at + length > text.size()) return {0, 0};
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
    scalar = (scalar << 6) | (byte(at + i) & 0x3F);
  }
  if (scalar < lowest || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) return {0, 0};
  return {length, scalar};
}

std::string hexEscape(const char* prefix, unsigned value, const char* suffix) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%02x%s", prefix, value, suffix);
  return text;
}

// File text inside double quotes, for a message.
std::string quotedText(std::string_view text) { return "\"" + printableText(text) + "\""; }

[[noreturn]] void fail(std::string field, std::string message) {
  throw Fault{ScenarioError{std::move(field), std::move(message)}};
}

std::string member(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string element(const std::string& path, size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

const char* typeName(const json& value) {
  switch (value.type()) {
    case json::value_t::null: return "null";
    case json::value_t::object: return "an object";
    case json::value_t::array: return "an array";
    case json::value_t::string: return "text";
    case json::value_t::boolean: return "true or false";
    case json::value_t::number_integer:
    case json::value_t::number_unsigned:
    case json::value_t::number_float: return "a number";
    default: return "something else";
  }
}

void expectObject(const json& value, const std::string& path, std::initializer_list<const char*> allowed) {
  if (!value.is_object()) fail(path, std::string("expected an object, found ") + typeName(value));
  std::set<std::string> known(allowed.begin(), allowed.end());
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (!known.count(it.key())) fail(member(path, printableText(it.key())), "unknown key");
  }
}

const json* optionalMember(const json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const json& requiredMember(const json& object, const std::string& path, const char* key) {
  const json* value = optionalMember(object, key);
  if (!value) fail(member(path, key), "missing");
  return *value;
}

double number(const json& value, const std::string& path, double low, double high) {
  if (!value.is_number()) fail(path, std::string("expected a number, found ") + typeName(value));
  const double result = value.get<double>();
  if (!std::isfinite(result) || result < low || result > high) {
    std::ostringstream text;
    text << "must be a number from " << low << " to " << high;
    fail(path, text.str());
  }
  return result;
}

double seconds(const json& value, const std::string& path) {
  if (value.is_number() && value.get<double>() < 0) fail(path, "must not be negative");
  return number(value, path, 0.0, kScenarioMaxStepSeconds);
}

std::string text(const json& value, const std::string& path) {
  if (!value.is_string()) fail(path, std::string("expected text, found ") + typeName(value));
  return value.get<std::string>();
}

bool boolean(const json& value, const std::string& path) {
  if (!value.is_boolean()) fail(path, std::string("expected true or false, found ") + typeName(value));
  return value.get<bool>();
}

const json& array(const json& value, const std::string& path, size_t maxCount) {
  if (!value.is_array()) fail(path, std::string("expected an array, found ") + typeName(value));
  if (value.size() > maxCount) fail(path, "more than " + std::to_string(maxCount) + " entries");
  return value;
}

CGPoint point(const json& value, const std::string& path) {
  array(value, path, 2);
  if (value.size() != 2) fail(path, "expected [x, y]");
  return CGPoint{number(value[0], element(path, 0), -kScenarioMaxCoordinate, kScenarioMaxCoordinate),
                 number(value[1], element(path, 1), -kScenarioMaxCoordinate, kScenarioMaxCoordinate)};
}

CGRect rect(const json& value, const std::string& path) {
  array(value, path, 4);
  if (value.size() != 4) fail(path, "expected [x, y, width, height]");
  const double limit = kScenarioMaxCoordinate;
  return CGRectMake(number(value[0], element(path, 0), -limit, limit),
                    number(value[1], element(path, 1), -limit, limit),
                    number(value[2], element(path, 2), 1.0, limit),
                    number(value[3], element(path, 3), 1.0, limit));
}

std::string cursorName(const json& value, const std::string& path) {
  std::string name = text(value, path);
  if (!isKnownCursorName(name)) fail(path, "unknown cursor " + quotedText(name));
  return name;
}

ScenarioScreen readScreen(const json& value, const std::string& path) {
  expectObject(value, path, {"frame", "backingFactor", "safeAreaTop", "menuBarHeight"});
  ScenarioScreen screen;
  screen.frame = rect(requiredMember(value, path, "frame"), member(path, "frame"));
  if (const json* factor = optionalMember(value, "backingFactor")) {
    screen.backingFactor = number(*factor, member(path, "backingFactor"), 1.0, 4.0);
  }
  if (const json* top = optionalMember(value, "safeAreaTop")) {
    screen.safeAreaTop = number(*top, member(path, "safeAreaTop"), 0.0, 200.0);
  }
  if (const json* bar = optionalMember(value, "menuBarHeight")) {
    screen.menuBarHeight = number(*bar, member(path, "menuBarHeight"), 0.0, 100.0);
  }
  return screen;
}

ScenarioWindow readWindow(const json& value, const std::string& path, size_t index) {
  expectObject(value, path, {"title", "frame", "level", "owner", "cursors"});
  ScenarioWindow window;
  window.title = optionalMember(value, "title") ? text(value["title"], member(path, "title"))
                                                : "Window " + std::to_string(index + 1);
  window.frame = rect(requiredMember(value, path, "frame"), member(path, "frame"));
  if (const json* level = optionalMember(value, "level")) {
    window.level = static_cast<int32_t>(number(*level, member(path, "level"), -100000, 100000));
  }
  const std::string ownerPath = member(path, "owner");
  const json& owner = requiredMember(value, path, "owner");
  expectObject(owner, ownerPath, {"pid", "name", "bundle"});
  window.ownerPID = static_cast<int32_t>(number(requiredMember(owner, ownerPath, "pid"), member(ownerPath, "pid"), 1, 99999));
  window.ownerName = text(requiredMember(owner, ownerPath, "name"), member(ownerPath, "name"));
  if (const json* bundle = optionalMember(owner, "bundle")) {
    window.ownerBundleIdentifier = text(*bundle, member(ownerPath, "bundle"));
  }
  if (const json* regions = optionalMember(value, "cursors")) {
    const std::string regionsPath = member(path, "cursors");
    array(*regions, regionsPath, kScenarioMaxRegions);
    for (size_t i = 0; i < regions->size(); ++i) {
      const std::string regionPath = element(regionsPath, i);
      const json& region = (*regions)[i];
      expectObject(region, regionPath, {"rect", "cursor"});
      window.cursorRegions.push_back(
          {rect(requiredMember(region, regionPath, "rect"), member(regionPath, "rect")),
           cursorName(requiredMember(region, regionPath, "cursor"), member(regionPath, "cursor"))});
    }
  }
  return window;
}

CGMouseButton mouseButton(const json& value, const std::string& path) {
  const std::string name = text(value, path);
  if (name == "left") return kCGMouseButtonLeft;
  if (name == "right") return kCGMouseButtonRight;
  if (name == "center") return kCGMouseButtonCenter;
  fail(path, "expected \"left\", \"right\" or \"center\"");
}

CGEventFlags modifierFlags(const json& value, const std::string& path) {
  array(value, path, 5);
  CGEventFlags flags = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const std::string name = text(value[i], element(path, i));
    if (name == "shift") flags |= kCGEventFlagMaskShift;
    else if (name == "control") flags |= kCGEventFlagMaskControl;
    else if (name == "option") flags |= kCGEventFlagMaskAlternate;
    else if (name == "command") flags |= kCGEventFlagMaskCommand;
    else if (name == "capsLock") flags |= kCGEventFlagMaskAlphaShift;
    else fail(element(path, i), "unknown modifier " + quotedText(name));
  }
  return flags;
}

ScenarioStep::SettingsChange readSettingsChange(const json& value, const std::string& path);

// The number of characters (UTF-8 scalars) of a text the JSON reader has
// already checked.
size_t characterCount(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string pictureName(const json& value, const std::string& path) {
  std::string name = text(value, path);
  if (name.empty()) fail(path, "must not be empty");
  if (characterCount(name) > kScenarioMaxPictureName) {
    fail(path, "must be at most " + std::to_string(kScenarioMaxPictureName) + " characters");
  }
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    fail(path, "must not hold a path separator");
  }
  // A control character (NUL among them) would cut or garble the file name.
  if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    fail(path, "must not hold a control character");
  }
  if (name == "." || name == "..") fail(path, "must name a file");
  return name;
}

ScenarioStep readStep(const json& value, const std::string& path) {
  expectObject(value, path,
               {"move", "click", "key", "wait", "setCursor", "space", "settings", "open", "picture", "grantAccessibility",
                "label"});
  ScenarioStep step;
  if (const json* label = optionalMember(value, "label")) step.label = text(*label, member(path, "label"));
  int actions = 0;
  for (const char* key :
       {"move", "click", "key", "wait", "setCursor", "space", "settings", "open", "picture", "grantAccessibility"}) {
    actions += value.contains(key) ? 1 : 0;
  }
  if (actions != 1) {
    fail(path, "expected exactly one of move, click, key, wait, setCursor, space, settings, open, picture or "
               "grantAccessibility");
  }

  if (const json* move = optionalMember(value, "move")) {
    const std::string p = member(path, "move");
    expectObject(*move, p, {"from", "to", "duration"});
    step.kind = ScenarioStep::Kind::move;
    if (const json* from = optionalMember(*move, "from")) step.from = point(*from, member(p, "from"));
    step.to = point(requiredMember(*move, p, "to"), member(p, "to"));
    step.seconds = seconds(requiredMember(*move, p, "duration"), member(p, "duration"));
  } else if (const json* click = optionalMember(value, "click")) {
    const std::string p = member(path, "click");
    expectObject(*click, p, {"button"});
    step.kind = ScenarioStep::Kind::click;
    if (const json* button = optionalMember(*click, "button")) step.button = mouseButton(*button, member(p, "button"));
  } else if (const json* key = optionalMember(value, "key")) {
    const std::string p = member(path, "key");
    expectObject(*key, p, {"code", "modifiers"});
    step.kind = ScenarioStep::Kind::key;
    step.keyCode = static_cast<CGKeyCode>(number(requiredMember(*key, p, "code"), member(p, "code"), 0, 127));
    if (const json* modifiers = optionalMember(*key, "modifiers")) step.flags = modifierFlags(*modifiers, member(p, "modifiers"));
  } else if (const json* wait = optionalMember(value, "wait")) {
    step.kind = ScenarioStep::Kind::wait;
    step.seconds = seconds(*wait, member(path, "wait"));
  } else if (const json* set = optionalMember(value, "setCursor")) {
    step.kind = ScenarioStep::Kind::setCursor;
    step.cursor = cursorName(*set, member(path, "setCursor"));
  } else if (const json* settings = optionalMember(value, "settings")) {
    step.kind = ScenarioStep::Kind::settings;
    step.settingsChange = readSettingsChange(*settings, member(path, "settings"));
  } else if (const json* open = optionalMember(value, "open")) {
    step.kind = ScenarioStep::Kind::open;
    step.name = text(*open, member(path, "open"));
    if (step.name != "window" && step.name != "settings" && step.name != "onboarding") {
      fail(member(path, "open"), "expected \"window\", \"settings\" or \"onboarding\"");
    }
  } else if (const json* picture = optionalMember(value, "picture")) {
    step.kind = ScenarioStep::Kind::picture;
    step.name = pictureName(*picture, member(path, "picture"));
  } else if (const json* grant = optionalMember(value, "grantAccessibility")) {
    step.kind = ScenarioStep::Kind::grantAccessibility;
    if (!boolean(*grant, member(path, "grantAccessibility"))) fail(member(path, "grantAccessibility"), "expected true");
  } else {
    const std::string p = member(path, "space");
    const json& space = value["space"];
    expectObject(space, p, {"display", "space"});
    step.kind = ScenarioStep::Kind::space;
    if (const json* display = optionalMember(space, "display")) {
      step.display = static_cast<uint32_t>(number(*display, member(p, "display"), 1, 64));
    }
    step.space = static_cast<uint64_t>(number(requiredMember(space, p, "space"), member(p, "space"), 1, 1e9));
  }
  return step;
}

ScenarioStep::SettingsChange readSettingsChange(const json& value, const std::string& path) {
  expectObject(value, path, {"presenter", "durationMilliseconds", "adaptiveTiming"});
  ScenarioStep::SettingsChange change;
  if (const json* presenter = optionalMember(value, "presenter")) {
    change.presenter = text(*presenter, member(path, "presenter"));
    if (*change.presenter != "overlay" && *change.presenter != "native") {
      fail(member(path, "presenter"), "expected \"overlay\" or \"native\"");
    }
  }
  if (const json* duration = optionalMember(value, "durationMilliseconds")) {
    change.durationMilliseconds = number(*duration, member(path, "durationMilliseconds"), 60, 220);
  }
  if (const json* adaptive = optionalMember(value, "adaptiveTiming")) {
    change.adaptiveTiming = boolean(*adaptive, member(path, "adaptiveTiming"));
  }
  return change;
}

// A picture the desktop can show: present, a regular file, PNG by its
// signature (the desktop reads images by content).
std::string pngPath(const json& value, const std::string& path, const std::string& folder) {
  const std::string given = text(value, path);
  if (given.empty()) fail(path, "expected a path to a PNG file");
  std::filesystem::path file(given);
  if (file.is_relative()) file = std::filesystem::path(folder) / file;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) fail(path, "no file " + quotedText(given));
  std::ifstream in(file, std::ios::binary);
  char signature[8] = {};
  in.read(signature, sizeof signature);
  static constexpr unsigned char kPNG[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (in.gcount() != 8 || std::memcmp(signature, kPNG, 8) != 0) fail(path, quotedText(given) + " is not a PNG file");
  return file.string();
}

ScenarioSettings readSettings(const json& value, const std::string& path, const std::string& folder) {
  ScenarioSettings settings;
  // These are the run's starting state only; the rest can also change
  // along the timeline.
  json rest = value;
  auto take = [&](const char* key) -> const json* {
    if (!value.is_object() || !value.contains(key)) return nullptr;
    rest.erase(key);
    return &value[key];
  };
  if (const json* v = take("agreementAccepted")) settings.agreementAccepted = boolean(*v, member(path, "agreementAccepted"));
  if (const json* v = take("onboardingCompleted")) {
    settings.onboardingCompleted = boolean(*v, member(path, "onboardingCompleted"));
  }
  if (const json* v = take("accessibilityTrusted")) {
    settings.accessibilityTrusted = boolean(*v, member(path, "accessibilityTrusted"));
  }
  if (const json* v = take("appearance")) {
    settings.appearance = text(*v, member(path, "appearance"));
    if (settings.appearance != "light" && settings.appearance != "dark") {
      fail(member(path, "appearance"), "expected \"light\" or \"dark\", found " + quotedText(settings.appearance));
    }
  }
  if (const json* v = take("reduceMotion")) settings.reduceMotion = boolean(*v, member(path, "reduceMotion"));
  if (const json* v = take("reduceTransparency")) {
    settings.reduceTransparency = boolean(*v, member(path, "reduceTransparency"));
  }
  if (const json* v = take("systemVersion")) {
    const double major = number(*v, member(path, "systemVersion"), 11, 99);
    if (major != std::floor(major)) fail(member(path, "systemVersion"), "expected a whole major version");
    settings.systemVersion = static_cast<int>(major);
  }
  if (const json* v = take("locale")) {
    settings.locale = text(*v, member(path, "locale"));
    if (!NSLocale::localeWithLocaleIdentifier(*settings.locale)) {
      fail(member(path, "locale"), "unknown locale " + quotedText(*settings.locale));
    }
  }
  if (const json* v = take("timeZone")) {
    settings.timeZone = text(*v, member(path, "timeZone"));
    if (!NSTimeZone::timeZoneWithName(*settings.timeZone)) {
      fail(member(path, "timeZone"), "unknown time zone " + quotedText(*settings.timeZone));
    }
  }
  if (const json* v = take("wallpaper")) {
    const std::string p = member(path, "wallpaper");
    expectObject(*v, p, {"light", "dark"});
    settings.wallpaper = ScenarioSettings::Wallpaper{pngPath(requiredMember(*v, p, "light"), member(p, "light"), folder),
                                                     pngPath(requiredMember(*v, p, "dark"), member(p, "dark"), folder)};
  }
  const auto change = readSettingsChange(rest, path);
  settings.presenter = change.presenter.value_or(settings.presenter);
  settings.durationMilliseconds = change.durationMilliseconds.value_or(settings.durationMilliseconds);
  settings.adaptiveTiming = change.adaptiveTiming.value_or(settings.adaptiveTiming);
  return settings;
}

Scenario readScenario(const json& root, const std::string& folder) {
  expectObject(root, "", {"name", "settings", "screens", "windows", "pointer", "timeline"});
  Scenario scenario;
  scenario.name = optionalMember(root, "name") ? text(root["name"], "name") : "scenario";
  if (const json* settings = optionalMember(root, "settings")) scenario.settings = readSettings(*settings, "settings", folder);

  const json& screens = array(requiredMember(root, "", "screens"), "screens", kScenarioMaxScreens);
  if (screens.empty()) fail("screens", "at least one screen is needed");
  for (size_t i = 0; i < screens.size(); ++i) scenario.screens.push_back(readScreen(screens[i], element("screens", i)));

  if (const json* windows = optionalMember(root, "windows")) {
    array(*windows, "windows", kScenarioMaxWindows);
    for (size_t i = 0; i < windows->size(); ++i) {
      scenario.windows.push_back(readWindow((*windows)[i], element("windows", i), i));
    }
  }
  const CGRect first = scenario.screens.front().frame;
  scenario.pointerStart = optionalMember(root, "pointer")
                              ? point(root["pointer"], "pointer")
                              : CGPoint{first.origin.x + first.size.width / 2, first.origin.y + first.size.height / 2};
  const json& timeline = array(requiredMember(root, "", "timeline"), "timeline", kScenarioMaxSteps);
  double total = 0.0;
  // A second picture of one name would overwrite the first.
  std::map<std::string, size_t> pictures;
  for (size_t i = 0; i < timeline.size(); ++i) {
    const std::string path = element("timeline", i);
    scenario.timeline.push_back(readStep(timeline[i], path));
    const ScenarioStep& step = scenario.timeline.back();
    if (step.kind == ScenarioStep::Kind::picture) {
      const auto [earlier, fresh] = pictures.emplace(step.name, i);
      if (!fresh) fail(member(path, "picture"), "is the name of " + element("timeline", earlier->second) + " already");
    }
    total += step.duration();
    if (total > kScenarioMaxTotalSeconds) {
      const std::string field = step.kind == ScenarioStep::Kind::move   ? member(path, "move.duration")
                                : step.kind == ScenarioStep::Kind::wait ? member(path, "wait")
                                                                        : path;
      std::ostringstream message;
      message << "the timeline passes " << kScenarioMaxTotalSeconds << " seconds of scenario time here";
      fail(field, message.str());
    }
  }
  return scenario;
}

}  // namespace

double ScenarioStep::duration() const {
  switch (kind) {
    case Kind::move:
    case Kind::wait: return seconds;
    case Kind::click:
    case Kind::key: return 0.1;
    case Kind::setCursor:
    case Kind::space:
    case Kind::settings:
    case Kind::open:
    case Kind::picture:
    case Kind::grantAccessibility: return 0.0;
  }
  return 0.0;
}

std::vector<double> Scenario::stepStarts() const {
  std::vector<double> starts;
  starts.reserve(timeline.size());
  double at = 0.0;
  for (const auto& step : timeline) {
    starts.push_back(at);
    at += step.duration();
  }
  return starts;
}

double Scenario::totalDuration() const {
  double total = 0.0;
  for (const auto& step : timeline) total += step.duration();
  return total;
}

std::string printableText(std::string_view text, size_t limit) {
  std::string result;
  size_t characters = 0;
  // The result's length before the first piece that leaves no room for "…".
  size_t cut = std::string::npos;
  for (size_t at = 0; at < text.size();) {
    const auto [length, scalar] = utf8Scalar(text, at);
    std::string piece;  // an ASCII escape, or one character as it stands
    if (length == 0) {
      piece = hexEscape("\\x", static_cast<unsigned char>(text[at]), "");
    } else if (scalar == '\n') {
      piece = "\\n";
    } else if (scalar == '\r') {
      piece = "\\r";
    } else if (scalar == '\t') {
      piece = "\\t";
    } else if (scalar == '\\' || scalar == '"') {
      piece = std::string("\\") + static_cast<char>(scalar);
    } else if (scalar < 0x20 || scalar == 0x7F) {
      piece = hexEscape("\\x", scalar, "");
    } else if (scalar >= 0x80 && scalar <= 0x9F) {
      piece = hexEscape("\\u{", scalar, "}");
    }
    const size_t pieceCharacters = piece.empty() ? 1 : piece.size();
    if (piece.empty()) piece.assign(text.substr(at, length));
    at += length == 0 ? 1 : length;
    if (cut == std::string::npos && characters + pieceCharacters + 1 > limit) cut = result.size();
    characters += pieceCharacters;
    if (characters > limit) {
      result.resize(cut);
      return limit == 0 ? result : result + "…";
    }
    result += piece;
  }
  return result;
}

std::string ScenarioError::describe() const { return field.empty() ? message : field + ": " + message; }

std::variant<Scenario, ScenarioError> parseScenario(std::string_view text, const std::string& folder) {
  if (text.size() > kScenarioMaxBytes) {
    return ScenarioError{"", "the file is larger than " + std::to_string(kScenarioMaxBytes) + " bytes"};
  }
  json root;
  try {
    // The callback sees each value's depth before it is kept, so a deeply
    // nested file stops here instead of building a deep tree.
    root = json::parse(text, [](int depth, json::parse_event_t, json&) {
      if (depth > kMaxDepth) throw TooDeep{};
      return true;
    });
  } catch (const TooDeep&) {
    return ScenarioError{"", "not valid JSON (nested more than " + std::to_string(kMaxDepth) + " levels)"};
  } catch (const json::exception& error) {
    // Every fault of the library, a number too large for a double included
    // (its out_of_range is not the standard one).
    return ScenarioError{"", "not valid JSON (" + printableText(error.what(), kMaxLibraryMessage) + ")"};
  }
  try {
    return readScenario(root, folder);
  } catch (const Fault& fault) {
    return fault.error;
  } catch (const json::exception& error) {
    return ScenarioError{"", "cannot read the scenario (" + printableText(error.what(), kMaxLibraryMessage) + ")"};
  }
}

std::variant<Scenario, ScenarioError> loadScenario(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return ScenarioError{"", "cannot read the scenario file " + path};
  std::string text;
  char buffer[65536];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(file.gcount()));
    if (text.size() > kScenarioMaxBytes) return ScenarioError{"", "the scenario file " + path + " is too large"};
  }
  if (file.bad()) return ScenarioError{"", "cannot read the scenario file " + path};
  return parseScenario(text, std::filesystem::path(path).parent_path().string());
}

}  // namespace platform
