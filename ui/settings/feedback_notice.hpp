#pragma once

// FeedbackNotice: the card that tells the user about an outcome (a failed
// send, a sent report, a newer release). A plain value of a kind, a title
// and a detail; the kind chooses the tint and the icon. It keeps no state
// and reads nothing else. The detail wraps to its full height inside the
// width the container gives and can be selected; the card is one
// accessibility element, "title. detail". Main thread only.

#include <string>

#include "platform/ui/graph.hpp"

namespace vurle {

struct FeedbackNotice {
  enum class Kind { success, warning, error, progress };

  Kind kind = Kind::success;
  std::string title;
  std::string detail;

  // System green, orange, red, and the secondary colour.
  static platform::ui::Color tint(Kind kind);
  // What assistive technology reads.
  std::string accessibilityText() const { return title + ". " + detail; }
  platform::ui::View body() const;
};

}  // namespace vurle
