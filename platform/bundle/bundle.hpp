#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/coding/property_list.hpp"
#include "platform/foundation/url.hpp"

namespace platform {

// An application bundle on Linux: a folder holding the information
// dictionary the build generates, "Info.json" (a JSON object), and the
// resources in "Resources/".
class NSBundle {
 public:
  // The running program's bundle: the folder of its executable, unless
  // setMainBundlePath() chose another. Made on first use.
  static std::shared_ptr<NSBundle> mainBundle();
  // Points the main bundle at another folder (tests use a temporary one);
  // resetProcessState() returns it to the executable's folder.
  static void setMainBundlePath(std::filesystem::path path);
  // Null when the path is not a folder.
  static std::shared_ptr<NSBundle> bundleWithPath(const std::filesystem::path& path);

  const std::filesystem::path& bundlePath() const { return path_; }
  // The program the bundle starts: for the main bundle over its
  // executable's folder, the running executable; otherwise the file that
  // CFBundleExecutable names in the bundle's folder, when it is a plain
  // file name. Absent without one.
  std::optional<std::filesystem::path> executablePath() const;
  // CFBundleIdentifier when it is a string; absent otherwise.
  std::optional<std::string> bundleIdentifier() const;
  // Empty when "Info.json" is missing; a malformed one is reported on the
  // console and read as empty.
  const PropertyListDictionary& infoDictionary() const { return info_; }
  // Null when the key is absent.
  const PropertyListValue* objectForInfoDictionaryKey(const std::string& key) const;
  // The file "Resources/<name>.<extension>"; absent when there is no such
  // file, or when the name would leave the resources folder.
  std::optional<NSURL> URLForResource(const std::string& name, const std::string& extension) const;

 private:
  explicit NSBundle(std::filesystem::path path);
  friend std::shared_ptr<NSBundle> makeMainBundle();

  std::filesystem::path path_;
  PropertyListDictionary info_;
  std::optional<std::filesystem::path> runningExecutable_;
};

}  // namespace platform
