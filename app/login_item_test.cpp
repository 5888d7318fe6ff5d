#include "app/login_item.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/appkit/workspace.hpp"
#include "platform/bundle/bundle.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/servicemanagement/app_service.hpp"

namespace vurle {
namespace {

namespace fs = std::filesystem;

// A service that answers as scripted and records what it was asked.
struct Service {
  int status = LoginItem::notRegistered;
  int afterRegister = LoginItem::enabledStatus;
  int afterUnregister = LoginItem::notRegistered;
  std::optional<std::string> failure;  // the next change fails with it
  std::vector<std::string> calls;
  int statusReads = 0;

  LoginItem::Operations operations() {
    auto change = [this](const char* name, int after) -> std::optional<platform::NSError> {
      calls.push_back(name);
      if (failure) return platform::NSError{"test", 1, *failure};
      status = after;
      return std::nullopt;
    };
    return {[this] { return ++statusReads, status; },
            [this, change] { return change("register", afterRegister); },
            [this, change] { return change("unregister", afterUnregister); },
            [this] { calls.push_back("settings"); }};
  }
};

TEST(LoginItemTest, TheFlagsMirrorTheStatusWhenRefreshed) {
  struct Case {
    int status;
    bool enabled, requiresApproval;
  };
  const Case cases[] = {{0, false, false}, {1, true, false}, {2, true, true}, {3, false, false}, {7, false, false}};
  Service service;
  auto item = LoginItem::make(service.operations());
  EXPECT_EQ(service.statusReads, 1);  // read once at creation
  for (const auto& c : cases) {
    service.status = c.status;
    item->refreshStatus();
    EXPECT_EQ(item->enabled(), c.enabled) << c.status;
    EXPECT_EQ(item->requiresApproval(), c.requiresApproval) << c.status;
  }
}

// A change is asked of the service only when its status differs from the
// wish; a failure becomes the sentence, and the flags follow the service.
TEST(LoginItemTest, ChangesCallTheServiceOnlyWhenNeededAndReportFailures) {
  struct Case {
    int status;
    bool wanted;
    std::optional<std::string> failure;
    int after;  // the status the change leaves
    std::vector<std::string> calls;
    bool enabled, requiresApproval;
    std::string message;
  };
  const Case cases[] = {
      {0, true, {}, 1, {"register"}, true, false, ""},
      {0, true, {}, 2, {"register"}, true, true, ""},
      {1, true, {}, 1, {}, true, false, ""},  // already on: no second register
      {2, true, {}, 2, {}, true, true, ""},
      {3, true, {}, 1, {"register"}, true, false, ""},
      {0, true, "Operation not permitted.", 1, {"register"}, false, false,
       "Couldn’t change launch at login. Operation not permitted."},
      {0, false, {}, 0, {}, false, false, ""},
      {1, false, {}, 0, {"unregister"}, false, false, ""},
      {2, false, {}, 0, {"unregister"}, false, false, ""},
      {3, false, {}, 0, {"unregister"}, false, false, ""},  // not found still unregisters
      {3, false, "The entry is gone.", 0, {"unregister"}, false, false,
       "Couldn’t change launch at login. The entry is gone."},
      {1, false, "Busy.", 0, {"unregister"}, true, false, "Couldn’t change launch at login. Busy."},
  };
  for (const auto& c : cases) {
    Service service;
    service.status = c.status;
    service.afterRegister = service.afterUnregister = c.after;
    auto item = LoginItem::make(service.operations());
    service.failure = c.failure;
    item->setEnabled(c.wanted);
    const std::string what = std::to_string(c.status) + (c.wanted ? " on" : " off");
    EXPECT_EQ(service.calls, c.calls) << what;
    EXPECT_EQ(item->enabled(), c.enabled) << what;
    EXPECT_EQ(item->requiresApproval(), c.requiresApproval) << what;
    EXPECT_EQ(item->message(), c.message) << what;
    // The next change starts with no sentence.
    service.failure.reset();
    item->setEnabled(c.wanted);
    EXPECT_EQ(item->message(), "") << what;
  }
}

TEST(LoginItemTest, SettingsAreOpenedThroughTheService) {
  Service service;
  auto item = LoginItem::make(service.operations());
  item->openSettings();
  EXPECT_EQ(service.calls, std::vector<std::string>{"settings"});
}

// The shared item over the real service: switching it writes and removes
// the autostart entry of the main bundle, in a temporary configuration.
TEST(LoginItemTest, TheSharedItemSwitchesTheAutostartEntry) {
  platform::resetProcessState();
  const fs::path root = fs::temp_directory_path() / ("vurle login item " + std::to_string(::getpid()));
  std::optional<std::string> saved;
  if (const char* value = std::getenv("XDG_CONFIG_HOME")) saved = value;
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  fs::create_directories(root / "bundle");
  std::ofstream(root / "bundle" / "Info.json") << R"({"CFBundleIdentifier": "test.login.item", "CFBundleExecutable": "vurle"})";
  std::ofstream(root / "bundle" / "vurle") << "#!/bin/sh\n";
  fs::permissions(root / "bundle" / "vurle", fs::perms::owner_all);
  platform::NSBundle::setMainBundlePath(root / "bundle");
  const fs::path entry = root / "config" / "autostart" / "test.login.item.desktop";

  auto item = LoginItem::shared();
  EXPECT_EQ(LoginItem::shared(), item);
  EXPECT_FALSE(item->enabled());
  item->setEnabled(true);
  EXPECT_TRUE(item->enabled());
  EXPECT_EQ(item->message(), "");
  EXPECT_TRUE(fs::is_regular_file(entry));

  // The user switches it off in the desktop's settings: approval needed.
  {
    std::ifstream in(entry);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.replace(text.find("enabled=true"), 12, "enabled=false");
    std::ofstream(entry) << text;
  }
  item->refreshStatus();
  EXPECT_TRUE(item->requiresApproval());
  item->openSettings();
  EXPECT_EQ(platform::NSWorkspace::sharedWorkspace().openedURLs().back(),
            platform::NSURL::fileURLWithPath((root / "config" / "autostart").string()).absoluteString());

  item->setEnabled(false);
  EXPECT_FALSE(item->enabled());
  EXPECT_FALSE(fs::exists(entry));

  // A folder that cannot be made: the sentence names it and its reason.
  fs::remove_all(root / "config" / "autostart");
  std::ofstream(root / "config" / "autostart") << "in the way";
  item->setEnabled(true);
  EXPECT_FALSE(item->enabled());
  EXPECT_EQ(item->message(), "Couldn’t change launch at login. The folder “" + (root / "config" / "autostart").string() +
                                 "” couldn’t be made: Not a directory.");

  saved ? ::setenv("XDG_CONFIG_HOME", saved->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  platform::resetProcessState();
  fs::remove_all(root);
}

}  // namespace
}  // namespace vurle
