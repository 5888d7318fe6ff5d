#pragma once

// Compares a view graph's picture with the one stored beside the test.
// Stored pictures change only on purpose: run the test with
// VURLE_UPDATE_PICTURES=1 to write them, then look at them before
// committing. Without a stored picture the test fails.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/ui/drawing.hpp"

namespace platform::ui {

inline void expectMatchesStoredPicture(ViewGraph& graph, const std::string& folder, const std::string& name) {
  const std::string stored = folder + "/" + name + ".png";
  const char* update = std::getenv("VURLE_UPDATE_PICTURES");
  if (update && std::string(update) == "1") {
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(writePNG(graph, stored, 1)) << stored;
    return;
  }
  const auto actual = std::filesystem::temp_directory_path() /
                      ("vurle-" + name + "-" + std::to_string(::getpid()) + ".png");
  ASSERT_TRUE(writePNG(graph, actual.string(), 1));
  const auto result = comparePNG(stored, actual.string(), 24);
  ASSERT_TRUE(result.loaded) << "no stored picture " << stored << " (VURLE_UPDATE_PICTURES=1 writes it)";
  EXPECT_TRUE(result.sameSize) << stored;
  // Antialiasing may move a little; anything beyond a few edge pixels is a change.
  EXPECT_LT(result.differingFraction, 0.005) << "differs from " << stored << "; see " << actual.string();
  if (result.sameSize && result.differingFraction < 0.005) std::filesystem::remove(actual);
}

}  // namespace platform::ui
