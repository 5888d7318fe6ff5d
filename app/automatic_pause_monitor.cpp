#include "app/automatic_pause_monitor.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "app/workspace_observation.hpp"
#include "cursor/native/cursor_trace.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/dispatch_queue.hpp"
#include "platform/notify/notify.hpp"

namespace vurle {
namespace {

constexpr const char* kHIDDeviceClass = "IOHIDDevice";



// A registry number as the platform bridges it: Booleans, integers and
// reals all read as numbers.
std::optional<double> number(const platform::PropertyListValue* value) {
  if (value == nullptr) return std::nullopt;
  if (const bool* flag = value->boolean()) return *flag ? 1.0 : 0.0;
  if (const std::int64_t* integer = value->integer()) return static_cast<double>(*integer);
  if (const double* real = value->real()) return *real;
  return std::nullopt;
}

const platform::PropertyListValue* property(const platform::PropertyListDictionary& map, const char* key) {
  const auto found = map.find(key);
  return found == map.end() ? nullptr : &found->second;
}

bool numberIsTrue(const platform::PropertyListDictionary& map, const char* key) {
  const auto value = number(property(map, key));
  return value && *value != 0;
}

std::string stringProperty(const platform::PropertyListDictionary& map, const char* key) {
  const auto* value = property(map, key);
  const std::string* text = value ? value->string() : nullptr;
  return text ? *text : std::string();
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

bool hasUsage(const platform::PropertyListDictionary& pair, double page, double usage) {
  const auto pageValue = number(property(pair, "DeviceUsagePage"));
  const auto usageValue = number(property(pair, "DeviceUsage"));
  return pageValue && usageValue && *pageValue == page && *usageValue == usage;
}

}  // namespace

std::shared_ptr<AutomaticPauseMonitor> AutomaticPauseMonitor::make(std::shared_ptr<AppPreferences> preferences,
                                                                   bool monitoring) {
  auto monitor = std::make_shared<AutomaticPauseMonitor>(Passkey{}, std::move(preferences), monitoring);
  monitor->start();
  return monitor;
}

AutomaticPauseMonitor::AutomaticPauseMonitor(Passkey, std::shared_ptr<AppPreferences> preferences, bool monitoring)
    : preferences_(std::move(preferences)), monitoring_(monitoring) {}

void AutomaticPauseMonitor::start() {
  std::weak_ptr<AutomaticPauseMonitor> weak = weak_from_this();
  if (monitoring_) {
    for (const char* name : gameModeNotificationNames) {
      int token = -1;
      const auto status = platform::notify_register_dispatch(name, &token, platform::DispatchQueue::main(),
                                                             [weak](int) {
                                                               if (auto monitor = weak.lock()) monitor->gameModeNotified();
                                                             });
      gameModeTokens_.push_back(status == platform::NOTIFY_STATUS_OK ? token : -1);
    }
    readGameModeState();
    observeDevices();
    externalMouse_ = scanDevices();
    evaluate();
  }
  observations_.push_back(
      platform::combineLatest(preferences_->pauseInGameModePublisher(), preferences_->pauseWithExternalMousePublisher())
          .receive(platform::RunLoop::main())
          .sink([weak](const std::pair<bool, bool>&) {
            if (auto monitor = weak.lock()) monitor->preferencesChanged();
          }));
  if (monitoring_) {
    for (const auto& name : {platform::NSWorkspaceDidWakeNotification,
                             platform::NSWorkspaceSessionDidBecomeActiveNotification,
                             platform::NSWorkspaceDidActivateApplicationNotification,
                             platform::NSWorkspaceActiveSpaceDidChangeNotification}) {
      observations_.push_back(observeWorkspaceNotification(name, [weak] {
        if (auto monitor = weak.lock()) monitor->recheck();
      }));
    }
  }
}

AutomaticPauseMonitor::~AutomaticPauseMonitor() {
  if (gameModeTimer_) gameModeTimer_->invalidate();
  for (const int token : gameModeTokens_) {
    if (token >= 0) platform::notify_cancel(token);
  }
  if (added_ != 0) platform::IOObjectRelease(added_);
  if (removed_ != 0) platform::IOObjectRelease(removed_);
  if (port_ != nullptr) platform::IONotificationPortDestroy(port_);
}

void AutomaticPauseMonitor::gameModeNotified() { readGameModeState(); }

void AutomaticPauseMonitor::readGameModeState() {
  // Every Game Mode name fires for the same change; the console-mode state
  // is the one that says whether Game Mode is on.
  if (gameModeTokens_.empty() || gameModeTokens_.front() < 0) return;
  std::uint64_t state = 0;
  if (platform::notify_get_state(gameModeTokens_.front(), &state) != platform::NOTIFY_STATUS_OK) return;
  applyGameModeState(state);
}

void AutomaticPauseMonitor::applyGameModeState(std::uint64_t state) {
  // Values above 1 do not say on or off; they leave the last reading alone.
  if (state >= 2) return;
  gameMode_ = state == 1;
  const std::string text = std::to_string(state);
  if (lastGameState_ != text) {
    lastGameState_ = text;
    CursorTrace::shared()->record("game-mode-state", {.value = static_cast<double>(state)});
  }
  evaluate();
}

void AutomaticPauseMonitor::preferencesChanged() {
  if (gameModeTimer_) {
    gameModeTimer_->invalidate();
    gameModeTimer_.reset();
  }
  if (monitoring_ && preferences_->pauseInGameMode()) {
    std::weak_ptr<AutomaticPauseMonitor> weak = weak_from_this();
    gameModeTimer_ = platform::NSTimer::make(gameModePollInterval, true, [weak](platform::NSTimer&) {
      if (auto monitor = weak.lock()) monitor->readGameModeState();
    });
    // Common modes, so the poll also runs while a menu is tracked.
    platform::RunLoop::main().add(gameModeTimer_, platform::RunLoopMode::common);
    readGameModeState();
  }
  evaluate();
}

void AutomaticPauseMonitor::evaluate() {
  std::optional<AutomaticPauseReason> next;
  if (preferences_->pauseInGameMode() && gameMode_) {
    next = AutomaticPauseReason::gameMode;
  } else if (preferences_->pauseWithExternalMouse() && externalMouse_) {
    next = AutomaticPauseReason::externalMouse;
  }
  if (next != reason_.value()) reason_.set(next);
}

void AutomaticPauseMonitor::recheck() {
  readGameModeState();
  externalMouse_ = scanDevices();
  evaluate();
}

void AutomaticPauseMonitor::observeDevices() {
  port_ = platform::IONotificationPortCreate(platform::kIOMainPortDefault);
  if (port_ == nullptr) return;
  platform::IONotificationPortSetDispatchQueue(port_, platform::DispatchQueue::main());
  const auto arm = [this](const char* type, platform::io_iterator_t& iterator) {
    if (platform::IOServiceAddMatchingNotification(port_, type, platform::IOServiceMatching(kHIDDeviceClass),
                                                   devicesChanged, this, &iterator) != platform::KERN_SUCCESS) {
      iterator = 0;
      return;
    }
    // Draining arms the notification for the next change.
    while (platform::io_object_t service = platform::IOIteratorNext(iterator)) platform::IOObjectRelease(service);
  };
  arm(platform::kIOFirstMatchNotification, added_);
  arm(platform::kIOTerminatedNotification, removed_);
}

void AutomaticPauseMonitor::devicesChanged(void* context, platform::io_iterator_t iterator) {
  while (platform::io_object_t service = platform::IOIteratorNext(iterator)) platform::IOObjectRelease(service);
  if (context == nullptr) return;
  // Any change rescans every device: the one notified may not be the one
  // that decides.
  auto* monitor = static_cast<AutomaticPauseMonitor*>(context);
  monitor->externalMouse_ = scanDevices();
  monitor->evaluate();
}

bool AutomaticPauseMonitor::scanDevices() {
  platform::io_iterator_t services = 0;
  if (platform::IOServiceGetMatchingServices(platform::kIOMainPortDefault, platform::IOServiceMatching(kHIDDeviceClass),
                                             &services) != platform::KERN_SUCCESS) {
    return false;
  }
  bool found = false;
  while (platform::io_object_t service = platform::IOIteratorNext(services)) {
    platform::PropertyListDictionary properties;
    for (const char* key : {"Built-In", "VirtualHIDDevice", "Transport", "Product", "DeviceUsagePairs"}) {
      if (auto value = platform::IORegistryEntryCreateCFProperty(service, key)) properties.insert_or_assign(key, *value);
    }
    found = isExternalMouse(properties) || found;
    platform::IOObjectRelease(service);
  }
  platform::IOObjectRelease(services);
  return found;
}

bool AutomaticPauseMonitor::isExternalMouse(const platform::PropertyListDictionary& properties) {
  if (numberIsTrue(properties, "Built-In")) return false;
  if (numberIsTrue(properties, "VirtualHIDDevice")) return false;
  const std::string transport = lowercased(stringProperty(properties, "Transport"));
  if (transport != "usb" && transport.find("bluetooth") == std::string::npos) return false;
  if (lowercased(stringProperty(properties, "Product")).find("trackpad") != std::string::npos) return false;

  // A list holding anything but maps reads as no list at all.
  std::vector<const platform::PropertyListDictionary*> pairs;
  const auto* list = property(properties, "DeviceUsagePairs");
  if (const auto* array = list ? list->array() : nullptr) {
    for (const auto& element : *array) {
      const auto* pair = element.dictionary();
      if (pair == nullptr) {
        pairs.clear();
        break;
      }
      pairs.push_back(pair);
    }
  }
  const bool mouse = std::any_of(pairs.begin(), pairs.end(), [](const auto* pair) { return hasUsage(*pair, 1, 2); });
  const bool touchPad =
      std::any_of(pairs.begin(), pairs.end(), [](const auto* pair) { return hasUsage(*pair, 13, 5); });
  return mouse && !touchPad;
}

}  // namespace vurle
