#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/coding/property_list.hpp"
#include "platform/notifications/notification_center.hpp"

namespace platform {

// Posted through the default notification center, with the store as its
// object, after every change made through a store.
inline const NSNotificationName NSUserDefaultsDidChangeNotification = "NSUserDefaultsDidChangeNotification";

// The user's settings: named persistent domains of property-list values.
// A store reads and writes the keys of its own domain and can reach any
// other domain whole. With a folder, each domain is the file
// "<folder>/<domain>.json"; when that is a symbolic link to a regular file
// (or to nothing yet), the file it leads to is read and written and the link
// stays.
//
// Several processes may share a domain. A store reads a file on first use
// and again whenever one stat shows that it changed, so reads come from
// memory. Every change is saved at once under an advisory lock file beside
// the file (".<file>.lock"): the file is read again, only the keys this
// store set or removed since it last read are applied (a whole-domain write
// sets each of its keys and removes the others), and the result replaces the
// file atomically, so a crash mid-write keeps the old settings and no
// process drops another's keys. A link at the lock file's name is never
// followed: saves then fail and are reported. The temporary files a killed
// save leaves (".<file>.XXXXXX") are removed, under the lock, when a store
// first opens the domain and they are more than staleTemporaryAge from the
// file system's clock, older or newer.
//
// Nothing of the user's is overwritten. Only a regular file of at most
// maximumFileSize is read, and opening it never blocks. A file that cannot be
// read or parsed as a whole (a FIFO, a device or a folder in its place, or
// one too large) is moved aside to "<file>.unreadable" (numbered when that
// exists) and the domain starts empty; a link to anything but a regular file
// is itself moved aside, and what it leads to is left alone. A file holding
// some values that cannot be read keeps the keys that read: they are written
// to a new file first, and only once that is on disk is the file moved aside
// as it is and the new one put in its place; when the new file cannot be
// written (a full disk), the file is kept unchanged, and the next save tries
// again. The console names each key that did not read and why. When the file
// cannot be moved aside, it is left as it is and changes are kept in memory
// for this run. A write that fails is reported too and the change is kept,
// in memory and for the next save.
class NSUserDefaults {
 public:
  // The application's store: the main bundle's identifier (else the
  // executable's name) as its domain, kept in defaultsDirectory(), or in
  // memory when there is no such folder. Made on first use.
  static std::shared_ptr<NSUserDefaults> standardUserDefaults();
  // "$XDG_CONFIG_HOME/vurle" when that variable holds an absolute path,
  // else "$HOME/.config/vurle"; absent with neither.
  static std::optional<std::filesystem::path> defaultsDirectory();

  // A store over `domain` whose domains are files in `folder` (made when
  // first written). A domain name must be a valid file name: not empty, not
  // "." or "..", without "/" or NUL (std::invalid_argument).
  static std::shared_ptr<NSUserDefaults> make(std::string domain, std::filesystem::path folder);
  // The same, keeping every domain in memory only.
  static std::shared_ptr<NSUserDefaults> makeInMemory(std::string domain);

  // Far above any real settings file; a larger one is unreadable.
  static constexpr long long maximumFileSize = 16LL * 1024 * 1024;
  // Seconds from its last write, either way on the file system's clock,
  // past which a leftover temporary file is removed.
  static constexpr double staleTemporaryAge = 5.0;

  // Test seam: while on, every opened settings file measures as empty, as
  // one that grows after it is measured does, so only the cap on reading
  // holds it. resetProcessState() turns it off.
  static void setFilesMeasureEmpty(bool on);

  const std::string& domainName() const { return domain_; }

  // Absent when the domain does not exist (or the name is not valid).
  std::optional<PropertyListDictionary> persistentDomainForName(const std::string& name) const;
  // Replaces the domain whole. Throws std::invalid_argument for an invalid
  // name, or a key or string that is not UTF-8; nothing is changed then.
  void setPersistentDomain(PropertyListDictionary domain, const std::string& name);

  std::optional<PropertyListValue> objectForKey(const std::string& key) const;
  // The platform's coercion: a missing key is false; a number is true when
  // not zero; a string is true for "YES" or "true" (any case) or when it
  // starts with a non-zero integer; data, dates and containers are false.
  bool boolForKey(const std::string& key) const;
  // A string, or a number's text; absent for anything else.
  std::optional<std::string> stringForKey(const std::string& key) const;
  // Data only.
  std::optional<Data> dataForKey(const std::string& key) const;

  // Throws std::invalid_argument for a key or string that is not UTF-8.
  void setObject(PropertyListValue value, const std::string& key);
  void setBool(bool value, const std::string& key);

 private:
  // What a domain file was when last read or written: a change of any of
  // these means another process (or the user) has changed it.
  struct FileStamp {
    bool exists = false;
    unsigned long long device = 0, inode = 0;
    long long size = 0, modified = 0, changed = 0;  // nanoseconds
    bool operator==(const FileStamp&) const = default;
  };
  struct Domain {
    // The file as last read with this store's unsaved changes applied;
    // absent while the domain does not exist.
    std::optional<PropertyListDictionary> values;
    // Keys set (a value) or removed (none) since the file was last read
    // that are not in it yet.
    std::map<std::string, std::optional<PropertyListValue>> unsaved;
    FileStamp stamp;
    bool read = false;
    // False once the file could be neither read nor moved aside: writing
    // would destroy it, so changes stay in memory.
    bool writable = true;
  };

  // What a read found of the domain's file (in the .cpp).
  struct Reading;

  NSUserDefaults(std::string domain, std::optional<std::filesystem::path> folder);

  // Follows links; a file that cannot be stat'ed counts as missing.
  static FileStamp stampOf(const std::filesystem::path& path);
  // Notes a change for the next save (a folder's writable domains only).
  void record(Domain& domain, const std::string& key, std::optional<PropertyListValue> value);
  Domain& load(const std::string& name) const;  // under mutex_
  // Reads the domain's file into `domain`. Without `locked` (the caller
  // holds the domain's lock file) an unusable file is also set aside; with
  // it, that is left to the caller's save.
  Reading read(const std::string& name, Domain& domain, bool locked) const;  // under mutex_
  // Sets the file read aside. The keys that read, or with `saving` the
  // domain's values, are written first, and nothing moves unless that write
  // succeeds. False (and reported) when the file is still in its place.
  bool replaceUnreadable(const Reading& reading, Domain& domain, bool saving) const;  // under mutex_
  void save(const std::string& name, Domain& domain);                                  // under mutex_
  void changed();

  const std::string domain_;
  const std::optional<std::filesystem::path> folder_;
  mutable std::mutex mutex_;
  mutable std::map<std::string, Domain> domains_;
};

}  // namespace platform
