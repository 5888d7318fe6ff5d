#include "platform/iokit/iokit.hpp"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/foundation/process_wide.hpp"

namespace platform {

class IONotificationPort {
 public:
  std::shared_ptr<DispatchQueue> queue;
  // Cleared when the port is destroyed; queued deliveries check it.
  std::shared_ptr<std::atomic<bool>> live = std::make_shared<std::atomic<bool>>(true);
};

struct IORegistry::State {
  struct Device {
    std::string className;
    PropertyListDictionary properties;
    bool registered = true;
  };
  struct Object {
    int references = 1;
    // A service: its device.
    std::optional<DeviceID> device;
    // An iterator: what it still holds, and for a notification its source.
    std::deque<DeviceID> pending;
    IONotificationPort* port = nullptr;
    std::string type;
    std::string className;
    IOServiceMatchingCallback callback = nullptr;
    void* refCon = nullptr;
    bool armed = false;
  };

  mutable std::mutex mutex;
  std::map<DeviceID, Device> devices;
  DeviceID nextDevice = 1;
  std::map<io_object_t, Object> objects;
  io_object_t nextObject = 0x1000;
  std::set<IONotificationPort*> ports;
  bool portCreationFails = false;
  std::set<std::string> failingNotifications;
  bool matchingServicesFails = false;

  io_object_t insert(Object object) {
    const io_object_t handle = nextObject++;
    objects.emplace(handle, std::move(object));
    return handle;
  }
};

IORegistry& IORegistry::shared() {
  // Never destroyed: ports and queued deliveries may outlive static
  // destruction.
  static IORegistry* instance = new IORegistry();
  return *instance;
}

IORegistry::IORegistry() : state_(std::make_shared<State>()) {
  addResetHook(this, [this] { reset(); });
}

void IORegistry::reset() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  for (auto* port : state_->ports) {
    *port->live = false;
    delete port;
  }
  state_->ports.clear();
  state_->devices.clear();
  state_->objects.clear();
  state_->portCreationFails = false;
  state_->failingNotifications.clear();
  state_->matchingServicesFails = false;
}

IORegistry::DeviceID IORegistry::addDevice(std::string className, PropertyListDictionary properties) {
  DeviceID id;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    id = state_->nextDevice++;
    state_->devices.emplace(id, State::Device{className, std::move(properties), true});
  }
  notify(kIOFirstMatchNotification, className, id);
  return id;
}

void IORegistry::removeDevice(DeviceID device) {
  std::string className;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    auto found = state_->devices.find(device);
    if (found == state_->devices.end() || !found->second.registered) return;
    found->second.registered = false;
    className = found->second.className;
  }
  notify(kIOTerminatedNotification, className, device);
}

void IORegistry::notify(const std::string& type, const std::string& className, DeviceID device) {
  std::vector<std::pair<std::shared_ptr<DispatchQueue>, Block>> deliveries;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    for (auto& [handle, object] : state_->objects) {
      if (object.port == nullptr || object.type != type || object.className != className) continue;
      object.pending.push_back(device);
      if (!object.armed || !object.port->queue) continue;
      object.armed = false;
      deliveries.emplace_back(object.port->queue, [live = object.port->live, iterator = handle] {
        IOServiceMatchingCallback callback = nullptr;
        void* refCon = nullptr;
        {
          auto& state = *IORegistry::shared().state_;
          std::lock_guard<std::mutex> guard(state.mutex);
          if (!*live) return;
          const auto found = state.objects.find(iterator);
          if (found == state.objects.end()) return;
          callback = found->second.callback;
          refCon = found->second.refCon;
        }
        callback(refCon, iterator);
      });
    }
  }
  for (auto& [queue, block] : deliveries) queue->async(std::move(block));
}

void IORegistry::setPortCreationFails(bool fails) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->portCreationFails = fails;
}

void IORegistry::setNotificationFails(const std::string& notificationType, bool fails) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  if (fails) {
    state_->failingNotifications.insert(notificationType);
  } else {
    state_->failingNotifications.erase(notificationType);
  }
}

void IORegistry::setMatchingServicesFails(bool fails) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->matchingServicesFails = fails;
}

int IORegistry::liveObjects() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return static_cast<int>(state_->objects.size());
}

int IORegistry::livePorts() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return static_cast<int>(state_->ports.size());
}

std::optional<IOMatchingDictionary> IOServiceMatching(const char* className) {
  if (className == nullptr || *className == '\0') return std::nullopt;
  return IOMatchingDictionary{className};
}

IONotificationPortRef IONotificationPortCreate(mach_port_t) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.portCreationFails) return nullptr;
  auto* port = new IONotificationPort();
  state.ports.insert(port);
  return port;
}

void IONotificationPortSetDispatchQueue(IONotificationPortRef port, std::shared_ptr<DispatchQueue> queue) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.ports.contains(port)) port->queue = std::move(queue);
}

void IONotificationPortDestroy(IONotificationPortRef port) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.ports.erase(port)) return;
  *port->live = false;
  // Iterators of the port stay until released, but never notify again.
  for (auto& [handle, object] : state.objects) {
    if (object.port == port) object.port = nullptr, object.callback = nullptr;
  }
  delete port;
}

kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* notificationType,
                                               std::optional<IOMatchingDictionary> matching,
                                               IOServiceMatchingCallback callback, void* refCon,
                                               io_iterator_t* notification) {
  if (notificationType == nullptr || !matching || callback == nullptr || notification == nullptr) {
    return kIOReturnBadArgument;
  }
  const std::string type = notificationType;
  if (type != kIOFirstMatchNotification && type != kIOTerminatedNotification) return kIOReturnBadArgument;
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.ports.contains(port)) return kIOReturnBadArgument;
  if (state.failingNotifications.contains(type)) return kIOReturnError;
  IORegistry::State::Object iterator;
  iterator.port = port;
  iterator.type = type;
  iterator.className = matching->providerClass;
  iterator.callback = callback;
  iterator.refCon = refCon;
  if (type == kIOFirstMatchNotification) {
    for (const auto& [id, device] : state.devices) {
      if (device.registered && device.className == matching->providerClass) iterator.pending.push_back(id);
    }
  }
  *notification = state.insert(std::move(iterator));
  return KERN_SUCCESS;
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, std::optional<IOMatchingDictionary> matching,
                                           io_iterator_t* existing) {
  if (!matching || existing == nullptr) return kIOReturnBadArgument;
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.matchingServicesFails) return kIOReturnError;
  IORegistry::State::Object iterator;
  for (const auto& [id, device] : state.devices) {
    if (device.registered && device.className == matching->providerClass) iterator.pending.push_back(id);
  }
  *existing = state.insert(std::move(iterator));
  return KERN_SUCCESS;
}

io_object_t IOIteratorNext(io_iterator_t handle) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  auto found = state.objects.find(handle);
  if (found == state.objects.end() || found->second.device) return 0;
  auto& iterator = found->second;
  if (iterator.pending.empty()) {
    iterator.armed = true;
    return 0;
  }
  const auto device = iterator.pending.front();
  iterator.pending.pop_front();
  IORegistry::State::Object service;
  service.device = device;
  return state.insert(std::move(service));
}

kern_return_t IOObjectRelease(io_object_t object) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  auto found = state.objects.find(object);
  if (found == state.objects.end()) return kIOReturnBadArgument;
  if (--found->second.references == 0) state.objects.erase(found);
  return KERN_SUCCESS;
}

std::optional<PropertyListValue> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key) {
  auto& state = *IORegistry::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  const auto found = state.objects.find(entry);
  if (found == state.objects.end() || !found->second.device) return std::nullopt;
  const auto device = state.devices.find(*found->second.device);
  if (device == state.devices.end()) return std::nullopt;
  const auto value = device->second.properties.find(key);
  if (value == device->second.properties.end()) return std::nullopt;
  return value->second;
}

}  // namespace platform
