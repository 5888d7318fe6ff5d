#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/dispatch_time.hpp"

namespace platform {

using Block = std::function<void()>;

enum class QoS { userInteractive, userInitiated, default_, utility, background };

// True on the main thread: the thread that runs the main run loop (before
// any run, the process's initial thread). Under a simulated scheduler: the
// test body and main-queue work, not another queue's block.
bool isMainThread();

// A queue of blocks. Serial queues and the main queue run one block at a
// time in the order they were submitted; global queues are concurrent.
// Every operation may be called from any thread.
class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
 public:
  enum class Kind { main, global, serial };

  // Served by the main run loop on the main thread.
  static std::shared_ptr<DispatchQueue> main();
  static std::shared_ptr<DispatchQueue> global(QoS qos = QoS::default_);
  // A new serial queue; the label is a reverse-DNS name for diagnostics.
  static std::shared_ptr<DispatchQueue> make(std::string label, QoS qos = QoS::default_);

  virtual ~DispatchQueue() = default;
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  // A block given to async() or asyncAfter() must not throw: as on the
  // platform, an exception escaping it ends the process (under a simulated
  // scheduler it reaches the test instead).
  void async(Block block);
  // Runs the block once the deadline has passed; a deadline already past
  // queues it at once, behind what is queued. A block for the distant future
  // never runs and is released at once.
  void asyncAfter(DispatchTime deadline, Block block);
  // Runs the block on this queue and returns when it has finished; its
  // exception, if any, reaches the caller. Waiting on the queue one is
  // already running on (a serial queue from its own block, the main queue
  // from the main thread) would never end, so it throws std::logic_error.
  void sync(const Block& block);
  // True while the calling code runs on this queue (for the main queue: on
  // the main thread).
  bool isCurrent() const;

  const std::string& label() const { return label_; }
  QoS qos() const { return qos_; }
  Kind kind() const { return kind_; }

 protected:
  DispatchQueue(std::string label, QoS qos, Kind kind);

 private:
  friend class DispatchSourceTimer;
  friend class DispatchSourceRead;
  // Queues the block to run once the uptime `due` has passed. Returns a
  // ticket (0 for none) with which a firing not yet handed to the queue can
  // be withdrawn.
  virtual std::uint64_t submit(double due, Block block) = 0;
  virtual void withdraw(std::uint64_t ticket) = 0;
  // Watches a descriptor for the read sources: once it reads as readable
  // (or at its end, or in error) `ready` is queued here and the watch rests
  // until rearmed. Once unwatch() returns the descriptor is polled no more
  // and may be closed. watch() throws std::system_error when the system
  // refuses what the watching needs.
  virtual std::uint64_t watch(int descriptor, Block ready) = 0;
  virtual void rearm(std::uint64_t ticket) = 0;
  virtual void unwatch(std::uint64_t ticket) = 0;
  virtual void runSync(const Block& block) = 0;

  const std::string label_;
  const QoS qos_;
  const Kind kind_;
};

}  // namespace platform
