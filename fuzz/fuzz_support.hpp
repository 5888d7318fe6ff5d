#pragma once

// Shared by the fuzz targets: splitting an input in two, a failed property
// reported as a crash (so that libFuzzer keeps the input), comparisons that
// treat NaN as equal to itself, an independent reading of plain JSON as a
// property list, and a scratch folder per process.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

#include "platform/coding/json_coding.hpp"
#include "platform/coding/property_list.hpp"

namespace vurle::fuzz {

// Stops the run on a broken property; libFuzzer saves the input that did it.
[[noreturn]] inline void fail(const std::string& what) {
  std::fprintf(stderr, "property broken: %s\n", what.c_str());
  std::abort();
}
inline void require(bool holds, const std::string& what) {
  if (!holds) fail(what);
}

inline std::string_view text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The bytes before the first NUL and those after it (none without one). No
// valid JSON or URL text holds a NUL, so seeds stay readable.
inline std::pair<std::string, std::string> splitAtNul(std::string_view input) {
  const size_t nul = input.find('\0');
  if (nul == std::string_view::npos) return {std::string(input), std::string()};
  return {std::string(input.substr(0, nul)), std::string(input.substr(nul + 1))};
}

// Outside JSON as nlohmann reads it; discarded when it is not JSON.
inline platform::JSON parseJSON(std::string_view input) {
  return platform::JSON::parse(input.begin(), input.end(), nullptr, false);
}

inline bool sameReal(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Deep equality in which a NaN equals a NaN.
inline bool sameValue(const platform::PropertyListValue& a, const platform::PropertyListValue& b) {
  using Type = platform::PropertyListValue::Type;
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Type::real:
      return sameReal(*a.real(), *b.real());
    case Type::date:
      return sameReal(a.date()->timeIntervalSinceReferenceDate(), b.date()->timeIntervalSinceReferenceDate());
    case Type::array: {
      const auto& x = *a.array();
      const auto& y = *b.array();
      if (x.size() != y.size()) return false;
      for (size_t i = 0; i < x.size(); ++i) {
        if (!sameValue(x[i], y[i])) return false;
      }
      return true;
    }
    case Type::dictionary: {
      const auto& x = *a.dictionary();
      const auto& y = *b.dictionary();
      if (x.size() != y.size()) return false;
      for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
        if (i->first != j->first || !sameValue(i->second, j->second)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

// Containers nested in a property list (a scalar has 0).
inline int containerDepth(const platform::PropertyListValue& value) {
  int deepest = 0;
  if (const auto* items = value.array()) {
    for (const auto& item : *items) deepest = std::max(deepest, containerDepth(item));
    return 1 + deepest;
  }
  if (const auto* entries = value.dictionary()) {
    for (const auto& entry : *entries) deepest = std::max(deepest, containerDepth(entry.second));
    return 1 + deepest;
  }
  return 0;
}

// Containers nested in the JSON (a scalar has 0), counted no further than
// `limit`, which it returns for anything deeper.
inline int nesting(const platform::JSON& json, int limit) {
  if (!json.is_structured()) return 0;
  if (limit <= 1) return 1;
  int deepest = 0;
  for (const auto& item : json) deepest = std::max(deepest, nesting(item, limit - 1));
  return 1 + deepest;
}

inline bool holdsNull(const platform::JSON& json) {
  if (json.is_null()) return true;
  if (!json.is_structured()) return false;
  for (const auto& item : json) {
    if (holdsNull(item)) return true;
  }
  return false;
}

// Whether the property list is what nlohmann's own reading says, by the
// documented mapping: Booleans, whole numbers as integers (past the 64-bit
// signed range, reals), other numbers as reals, strings, arrays, objects.
inline bool agreesWithJSON(const platform::JSON& json, const platform::PropertyListValue& value) {
  if (json.is_boolean()) return value.boolean() && *value.boolean() == json.get<bool>();
  if (json.is_number_unsigned() && json.get<uint64_t>() > uint64_t(INT64_MAX)) {
    return value.real() && *value.real() == static_cast<double>(json.get<uint64_t>());
  }
  if (json.is_number_integer()) return value.integer() && *value.integer() == json.get<int64_t>();
  if (json.is_number_float()) return value.real() && sameReal(*value.real(), json.get<double>());
  if (json.is_string()) return value.string() && *value.string() == json.get<std::string>();
  if (json.is_array()) {
    if (!value.array() || value.array()->size() != json.size()) return false;
    for (size_t i = 0; i < json.size(); ++i) {
      if (!agreesWithJSON(json[i], (*value.array())[i])) return false;
    }
    return true;
  }
  if (json.is_object()) {
    if (!value.dictionary() || value.dictionary()->size() != json.size()) return false;
    for (const auto& [key, item] : json.items()) {
      auto found = value.dictionary()->find(key);
      if (found == value.dictionary()->end() || !agreesWithJSON(item, found->second)) return false;
    }
    return true;
  }
  return false;
}

// Whether the plain reader must accept the JSON: no null anywhere, and no
// more containers nested than the readers' limit.
inline bool plainReadable(const platform::JSON& json) {
  // Depth first, so that the search for null recurses only so far.
  return nesting(json, platform::maximumPropertyListDepth + 1) <= platform::maximumPropertyListDepth &&
         !holdsNull(json);
}

// A folder of this process's own, emptied for each input and removed when
// the process exits (the tests replay the seeds on every run); in memory
// where the machine has /dev/shm, since the settings store syncs every write.
inline const std::filesystem::path& scratchFolder() {
  static const std::filesystem::path folder = [] {
    std::error_code error;
    const auto base = std::filesystem::is_directory("/dev/shm", error) ? std::filesystem::path("/dev/shm")
                                                                        : std::filesystem::temp_directory_path();
    std::string pattern = (base / "vurle-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a scratch folder");
    return std::filesystem::path(pattern);
  }();
  // Registered once the folder is made, so it runs before the path is destroyed.
  [[maybe_unused]] static const bool removedAtExit = std::atexit([] {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
  }) == 0;
  return folder;
}
inline const std::filesystem::path& freshScratchFolder() {
  const auto& folder = scratchFolder();
  for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry.path());
  return folder;
}

inline std::string readFile(const std::filesystem::path& path) {
  std::string bytes;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[16384];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    std::fclose(file);
  }
  return bytes;
}
inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) fail("cannot write " + path.string());
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace vurle::fuzz
