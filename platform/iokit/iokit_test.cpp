#include "platform/iokit/iokit.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "platform/dispatch/simulated_scheduler.hpp"
#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

struct Calls {
  std::vector<io_iterator_t> iterators;
};

void record(void* refCon, io_iterator_t iterator) { static_cast<Calls*>(refCon)->iterators.push_back(iterator); }

// Releases every service the iterator holds and says how many there were.
int drain(io_iterator_t iterator) {
  int count = 0;
  while (io_object_t service = IOIteratorNext(iterator)) {
    ++count;
    IOObjectRelease(service);
  }
  return count;
}

class IOKitTest : public ::testing::Test {
 protected:
  void SetUp() override { resetProcessState(); }
  void TearDown() override { resetProcessState(); }

  IORegistry& registry = IORegistry::shared();
  SimulatedSchedulerScope scope;
  Calls calls;
};

TEST_F(IOKitTest, NotificationsFollowDevicesOnceArmedAndServicesReadTheirProperties) {
  const auto early = registry.addDevice("IOHIDDevice", {{"Product", "Early"}});
  registry.addDevice("IOUSBDevice", {});
  auto* port = IONotificationPortCreate(kIOMainPortDefault);
  ASSERT_NE(port, nullptr);
  IONotificationPortSetDispatchQueue(port, DispatchQueue::main());
  io_iterator_t added = 0, removed = 0;
  ASSERT_EQ(IOServiceAddMatchingNotification(port, kIOFirstMatchNotification, IOServiceMatching("IOHIDDevice"),
                                             record, &calls, &added),
            KERN_SUCCESS);
  ASSERT_EQ(IOServiceAddMatchingNotification(port, kIOTerminatedNotification, IOServiceMatching("IOHIDDevice"),
                                             record, &calls, &removed),
            KERN_SUCCESS);

  // Before arming, a match is only queued in the iterator.
  const auto late = registry.addDevice("IOHIDDevice", {{"Built-In", true}, {"Transport", 5}});
  scope->runUntilIdle();
  EXPECT_TRUE(calls.iterators.empty());
  EXPECT_EQ(drain(added), 2);  // the one present at registration and the new one
  EXPECT_EQ(drain(removed), 0);

  // Armed: one call per burst, in a later pass, until drained again.
  registry.addDevice("IOHIDDevice", {});
  registry.addDevice("IOHIDDevice", {});
  EXPECT_TRUE(calls.iterators.empty());
  scope->runUntilIdle();
  EXPECT_EQ(calls.iterators, std::vector<io_iterator_t>{added});
  EXPECT_EQ(drain(added), 2);
  registry.removeDevice(early);
  registry.removeDevice(early);  // already gone: nothing more
  scope->runUntilIdle();
  EXPECT_EQ(calls.iterators, (std::vector<io_iterator_t>{added, removed}));
  EXPECT_EQ(drain(removed), 1);

  // The lookup lists registered services only, with their stored types.
  io_iterator_t existing = 0;
  ASSERT_EQ(IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching("IOHIDDevice"), &existing),
            KERN_SUCCESS);
  int found = 0;
  bool sawLate = false;
  while (io_object_t service = IOIteratorNext(existing)) {
    ++found;
    if (auto builtIn = IORegistryEntryCreateCFProperty(service, "Built-In")) {
      sawLate = true;
      EXPECT_EQ(*builtIn, PropertyListValue(true));
      EXPECT_EQ(IORegistryEntryCreateCFProperty(service, "Transport"), PropertyListValue(5));
      EXPECT_FALSE(IORegistryEntryCreateCFProperty(service, "Product").has_value());
    }
    IOObjectRelease(service);
  }
  EXPECT_EQ(found, 3);
  EXPECT_TRUE(sawLate);
  (void)late;

  IOObjectRelease(existing);
  IOObjectRelease(added);
  IOObjectRelease(removed);
  IONotificationPortDestroy(port);
  EXPECT_EQ(registry.liveObjects(), 0);
  EXPECT_EQ(registry.livePorts(), 0);
}

TEST_F(IOKitTest, DestroyingThePortDropsQueuedDeliveries) {
  auto* port = IONotificationPortCreate(kIOMainPortDefault);
  IONotificationPortSetDispatchQueue(port, DispatchQueue::main());
  io_iterator_t added = 0;
  ASSERT_EQ(IOServiceAddMatchingNotification(port, kIOFirstMatchNotification, IOServiceMatching("IOHIDDevice"),
                                             record, &calls, &added),
            KERN_SUCCESS);
  drain(added);
  registry.addDevice("IOHIDDevice", {});
  IONotificationPortDestroy(port);
  scope->runUntilIdle();
  EXPECT_TRUE(calls.iterators.empty());
  IOObjectRelease(added);
  EXPECT_EQ(registry.liveObjects(), 0);
}

TEST_F(IOKitTest, EveryRefusalHasItsSeam) {
  registry.setPortCreationFails(true);
  EXPECT_EQ(IONotificationPortCreate(kIOMainPortDefault), nullptr);
  registry.setPortCreationFails(false);
  auto* port = IONotificationPortCreate(kIOMainPortDefault);
  ASSERT_NE(port, nullptr);

  registry.setNotificationFails(kIOTerminatedNotification, true);
  io_iterator_t iterator = 0;
  EXPECT_NE(IOServiceAddMatchingNotification(port, kIOTerminatedNotification, IOServiceMatching("IOHIDDevice"),
                                             record, &calls, &iterator),
            KERN_SUCCESS);
  EXPECT_NE(IOServiceAddMatchingNotification(port, "IOServiceSomething", IOServiceMatching("IOHIDDevice"), record,
                                             &calls, &iterator),
            KERN_SUCCESS);
  EXPECT_EQ(iterator, 0u);

  registry.setMatchingServicesFails(true);
  EXPECT_NE(IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching("IOHIDDevice"), &iterator),
            KERN_SUCCESS);
  EXPECT_NE(IOServiceGetMatchingServices(kIOMainPortDefault, IOServiceMatching(""), &iterator), KERN_SUCCESS);
  EXPECT_EQ(iterator, 0u);
  EXPECT_NE(IOObjectRelease(12345), KERN_SUCCESS);
  IONotificationPortDestroy(port);
  EXPECT_EQ(registry.liveObjects(), 0);
}

}  // namespace
}  // namespace platform
