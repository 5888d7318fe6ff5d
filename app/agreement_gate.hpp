#pragma once

#include <memory>

#include "platform/appkit/window.hpp"
#include "platform/combine/published.hpp"

namespace vurle {

// What the shell needs of the end-user agreement: whether it is accepted
// (which gates the animation) and its sheet. The agreement store lives with
// the onboarding, above the shell, so the program hands the shell the
// shared store through this interface. Main thread only.
class AgreementGate {
 public:
  virtual ~AgreementGate() = default;
  virtual bool accepted() const = 0;
  // Delivers the current value at once, then every change.
  virtual platform::Publisher<bool> acceptedPublisher() const = 0;
  // Shows the agreement sheet on the window.
  virtual void presentSheet(const std::shared_ptr<platform::NSWindow>& window) = 0;
};

}  // namespace vurle
