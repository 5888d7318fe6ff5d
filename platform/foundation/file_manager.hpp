#pragma once

// Files as the system's readers see them. The operating system's own files
// (the wallpaper extensions, the desktop pictures) live under "/System/",
// which Linux does not have: every path equal to "/System" or beginning
// with "/System/" resolves under the system root, a folder the simulated
// desktop lays out (tests set one of their own). Without a root such paths
// name nothing. Other paths are the host's own. The file manager, the data
// and property-list readers and the image readers all resolve through
// resolveFilePath, so system code writes the platform's paths verbatim.
//
// The system root is process-wide and thread-safe; resetProcessState()
// clears it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/url.hpp"

namespace platform {

void setSystemRoot(std::optional<std::filesystem::path> root);
std::optional<std::filesystem::path> systemRoot();

// Where a path is on this host: a system path under the system root (one
// that leaves the root through ".." names nothing), any other path as it is.
// Empty when the path names nothing.
std::filesystem::path resolveFilePath(const std::string& path);

// Listing failures the platform can report, for tests: the next `count`
// listings fail as an unreadable folder does.
struct FileManagerFaults {
  static void failNextListing(unsigned count = 1);
  static void reset();
};

// A file of this host read whole (its path taken as it is), at most `cap`
// bytes of it. The open follows links and never blocks, so a FIFO or a
// device in the file's place is refused rather than waited on; the size
// measured is only a hint, since the file may grow while it is read, so the
// reading itself stops one byte past the cap.
struct CappedFileReading {
  // The file's bytes; absent when it could not be read.
  std::optional<std::vector<std::uint8_t>> bytes;
  // errno of the open when it failed (ENOENT: nothing there), else 0.
  int openError = 0;
  // What was opened is not a regular file.
  bool notRegular = false;
  // Why it could not be read, as "it is a folder, not a regular file".
  std::string problem;
};
// `ignoreMeasuredSize` is a test seam: the file measures as empty, as one
// that grows after it is measured does.
CappedFileReading readCappedFile(const std::filesystem::path& file, long long cap, bool ignoreMeasuredSize = false);

class NSFileManager {
 public:
  static NSFileManager& defaultManager();

  // A file or folder at the path (symbolic links followed).
  bool fileExistsAtPath(const std::string& path) const;
  // The folder's entries as file URLs under the folder's own URL (so a
  // system folder lists system paths), in the order the host gives them,
  // "." and ".." left out; none when the URL is not a file URL or the folder
  // cannot be read.
  std::optional<std::vector<NSURL>> contentsOfDirectoryAtURL(const NSURL& url) const;
};

}  // namespace platform
