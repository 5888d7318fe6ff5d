#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "platform/foundation/four_char_code.hpp"

namespace platform {

using AEEventID = FourCharCode;
using AEKeyword = FourCharCode;

inline constexpr AEEventID kAEOpenApplication = fourCharCode("oapp");
inline constexpr AEKeyword keyAEPropData = fourCharCode("prdt");
inline constexpr FourCharCode keyAELaunchedAsLogInItem = fourCharCode("lgit");

// An Apple event as the launch sees it: its event identifier and its
// parameters, each an enumeration code here.
class NSAppleEventDescriptor {
 public:
  explicit NSAppleEventDescriptor(AEEventID eventID) : eventID_(eventID) {}

  AEEventID eventID() const { return eventID_; }
  // Absent when the event has no such parameter.
  std::optional<FourCharCode> paramEnumCodeForKeyword(AEKeyword keyword) const;
  void setParamEnumCode(AEKeyword keyword, FourCharCode code) { params_[keyword] = code; }

 private:
  AEEventID eventID_;
  std::map<AEKeyword, FourCharCode> params_;
};

// The event being handled now. The application makes its launch event
// current while its delegate finishes launching; outside that there is
// none.
class NSAppleEventManager {
 public:
  static NSAppleEventManager& sharedAppleEventManager();

  const std::optional<NSAppleEventDescriptor>& currentAppleEvent() const { return current_; }
  void setCurrentAppleEvent(std::optional<NSAppleEventDescriptor> event) { current_ = std::move(event); }

  // The event that launched this process: an open-application event, which
  // a login item's launch marks as such. The program's entry sets it; none
  // until then. Reset by resetProcessState().
  const std::optional<NSAppleEventDescriptor>& launchEvent() const { return launch_; }
  void setLaunchEvent(std::optional<NSAppleEventDescriptor> event) { launch_ = std::move(event); }

 private:
  NSAppleEventManager();
  std::optional<NSAppleEventDescriptor> current_;
  std::optional<NSAppleEventDescriptor> launch_;
};

}  // namespace platform
