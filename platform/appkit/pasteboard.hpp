#pragma once

// The general pasteboard, in memory: one set of contents by type, replaced
// whole by clearContents, and a change count that grows with every
// clearing. Text fields cut, copy and paste through it. The simulated
// desktop can make it refuse writes (setRefusesWrites), as a pasteboard
// whose server is gone does; setString answers false then and nothing is
// stored. Reset to empty by resetProcessState(). Any thread.

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

inline const std::string NSPasteboardTypeString = "public.utf8-plain-text";

class NSPasteboard {
 public:
  static NSPasteboard& generalPasteboard();

  // Empties the pasteboard; answers the new change count.
  long clearContents();
  // Stores the text under the type; false when the pasteboard refuses it.
  bool setString(const std::string& string, const std::string& type);
  std::optional<std::string> stringForType(const std::string& type) const;
  long changeCount() const;

  // Fault seam: while set, every write is refused.
  void setRefusesWrites(bool refuses);

 private:
  NSPasteboard() = default;
  void reset();

  mutable std::mutex mutex_;
  std::map<std::string, std::string> contents_;
  long changeCount_ = 0;
  bool refusesWrites_ = false;
};

}  // namespace platform
