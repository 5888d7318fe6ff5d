#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "cursor/art/native_cursor_art.hpp"

namespace vurle {

inline constexpr char kCustomOrUnclassified[] = "custom-or-unclassified";

// Knows the catalogue of named system cursors: labels an art for the trace
// and says whether it is a known static system cursor. Reflects the render
// scale at which it was built. Main thread.
class StaticCursorRecognition {
 public:
  struct Reference {
    CGSize size;
    CGPoint hotspot;
    std::vector<uint8_t> thumbnail;
  };

  StaticCursorRecognition();

  // The catalogue name of the art's identity (the first in catalogue order
  // when several share it), else "custom-or-unclassified".
  std::string label(const NativeCursorArt& art) const;
  // A catalogue identity, or an image nearly equal to a catalogue cursor's
  // of the same size and hot spot.
  bool recognises(const NativeCursorArt& art) const;

  const std::vector<Reference>& references() const { return references_; }

 private:
  std::unordered_set<int64_t> knownIdentities_;
  std::unordered_map<int64_t, std::string> labels_;
  std::vector<Reference> references_;
};

}  // namespace vurle
