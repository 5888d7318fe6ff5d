#pragma once

#include "platform/appkit/view.hpp"

namespace platform {

// A push button as far as windows use one: the standard title-bar buttons,
// which can be disabled.
class NSButton : public NSView {
 public:
  using NSView::NSView;
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

 private:
  bool enabled_ = true;
};

}  // namespace platform
