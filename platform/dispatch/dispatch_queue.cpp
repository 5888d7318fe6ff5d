#include "platform/dispatch/dispatch_queue.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "platform/dispatch/scheduler.hpp"

namespace platform {
namespace {

void requireBlock(const Block& block, const char* operation) {
  if (!block) throw std::invalid_argument(std::string(operation) + ": empty block");
}

}  // namespace

DispatchQueue::DispatchQueue(std::string label, QoS qos, Kind kind)
    : label_(std::move(label)), qos_(qos), kind_(kind) {}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
  return detail::currentScheduler().mainQueue();
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(QoS qos) {
  if (qos < QoS::userInteractive || qos > QoS::background) {
    throw std::invalid_argument("DispatchQueue::global: unknown quality of service");
  }
  return detail::currentScheduler().globalQueue(qos);
}

std::shared_ptr<DispatchQueue> DispatchQueue::make(std::string label, QoS qos) {
  if (qos < QoS::userInteractive || qos > QoS::background) {
    throw std::invalid_argument("DispatchQueue::make: unknown quality of service");
  }
  return detail::currentScheduler().makeQueue(std::move(label), qos);
}

void DispatchQueue::async(Block block) {
  requireBlock(block, "DispatchQueue::async");
  submit(-std::numeric_limits<double>::infinity(), std::move(block));
}

void DispatchQueue::asyncAfter(DispatchTime deadline, Block block) {
  requireBlock(block, "DispatchQueue::asyncAfter");
  if (std::isnan(deadline.uptime)) {
    throw std::invalid_argument("DispatchQueue::asyncAfter: deadline is not a number");
  }
  if (deadline.isDistantFuture()) return;
  submit(deadline.uptime, std::move(block));
}

void DispatchQueue::sync(const Block& block) {
  requireBlock(block, "DispatchQueue::sync");
  if (kind_ == Kind::main && isMainThread()) {
    throw std::logic_error("DispatchQueue::sync onto the main queue from the main thread would deadlock");
  }
  if (kind_ == Kind::serial && detail::runningOn(this)) {
    throw std::logic_error("DispatchQueue::sync onto '" + label_ +
                           "' from a block running on it would deadlock");
  }
  runSync(block);
}

bool DispatchQueue::isCurrent() const {
  if (kind_ == Kind::main) return isMainThread();
  return detail::runningOn(this);
}

}  // namespace platform
