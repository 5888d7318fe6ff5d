#pragma once

// The I/O registry as the system's device code sees it: services of a class
// (human-interface devices here) with their registry properties, iterators
// over matching services, and matching notifications delivered through a
// notification port on a dispatch queue when a service first matches or
// terminates.
//
// Every object handed out (service, iterator) carries a reference that
// IOObjectRelease gives back; the simulated registry counts what is still
// held so tests can prove nothing leaks. A notification iterator is armed
// once it has been drained: the next match (or termination) then calls its
// callback once, on the port's queue, in a later pass, and the callback
// drains it again. Destroying the port or releasing the iterator drops
// deliveries already queued. Tests add and remove devices and make port
// creation, notification registration or the service lookup fail.
// Main thread or any thread; callbacks never run under the registry's lock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/coding/property_list.hpp"
#include "platform/dispatch/dispatch_queue.hpp"

namespace platform {

using kern_return_t = int;
inline constexpr kern_return_t KERN_SUCCESS = 0;
inline constexpr kern_return_t kIOReturnError = static_cast<kern_return_t>(0xe00002bc);
inline constexpr kern_return_t kIOReturnBadArgument = static_cast<kern_return_t>(0xe00002c2);

using mach_port_t = std::uint32_t;
inline constexpr mach_port_t kIOMainPortDefault = 0;

using io_object_t = std::uint32_t;
using io_iterator_t = io_object_t;
using io_service_t = io_object_t;
using io_registry_entry_t = io_object_t;

inline constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";
inline constexpr const char* kIOTerminatedNotification = "IOServiceTerminate";

// A matching dictionary: the services of one class.
struct IOMatchingDictionary {
  std::string providerClass;
};
std::optional<IOMatchingDictionary> IOServiceMatching(const char* className);

class IONotificationPort;
using IONotificationPortRef = IONotificationPort*;
using IOServiceMatchingCallback = void (*)(void* refCon, io_iterator_t iterator);

// Null when the simulated registry refuses the port.
IONotificationPortRef IONotificationPortCreate(mach_port_t mainPort);
void IONotificationPortSetDispatchQueue(IONotificationPortRef port, std::shared_ptr<DispatchQueue> queue);
// Ends every notification of the port; queued deliveries are dropped.
void IONotificationPortDestroy(IONotificationPortRef port);

// The iterator starts with the services that already match (first match)
// or empty (termination) and is not armed until drained.
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* notificationType,
                                               std::optional<IOMatchingDictionary> matching,
                                               IOServiceMatchingCallback callback, void* refCon,
                                               io_iterator_t* notification);
// An iterator over the registered services that match now.
kern_return_t IOServiceGetMatchingServices(mach_port_t mainPort, std::optional<IOMatchingDictionary> matching,
                                           io_iterator_t* existing);
// The next service (a new reference), or 0 at the end.
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRelease(io_object_t object);
// The service's property, of whatever type it was stored with; absent when
// the service or the key is unknown.
std::optional<PropertyListValue> IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key);

// The simulated registry.
class IORegistry {
 public:
  using DeviceID = std::uint64_t;

  static IORegistry& shared();
  // No devices, ports, objects or faults. Also run by resetProcessState().
  void reset();

  // Registers a service and notifies first-match iterators of its class.
  DeviceID addDevice(std::string className, PropertyListDictionary properties);
  // Unregisters it and notifies termination iterators; unknown ids are
  // ignored. References already held still read its properties.
  void removeDevice(DeviceID device);

  void setPortCreationFails(bool fails);
  void setNotificationFails(const std::string& notificationType, bool fails);
  void setMatchingServicesFails(bool fails);

  // Objects (services and iterators) not yet released, and ports not
  // destroyed.
  int liveObjects() const;
  int livePorts() const;

 private:
  struct State;
  friend class IONotificationPort;
  friend IONotificationPortRef IONotificationPortCreate(mach_port_t);
  friend void IONotificationPortSetDispatchQueue(IONotificationPortRef, std::shared_ptr<DispatchQueue>);
  friend void IONotificationPortDestroy(IONotificationPortRef);
  friend kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef, const char*,
                                                        std::optional<IOMatchingDictionary>, IOServiceMatchingCallback,
                                                        void*, io_iterator_t*);
  friend kern_return_t IOServiceGetMatchingServices(mach_port_t, std::optional<IOMatchingDictionary>, io_iterator_t*);
  friend io_object_t IOIteratorNext(io_iterator_t);
  friend kern_return_t IOObjectRelease(io_object_t);
  friend std::optional<PropertyListValue> IORegistryEntryCreateCFProperty(io_registry_entry_t, const std::string&);
  IORegistry();
  void notify(const std::string& type, const std::string& className, DeviceID device);
  std::shared_ptr<State> state_;
};

}  // namespace platform
