#pragma once

// Sources that wake on something outside the process: a descriptor that
// became readable, a signal that came. Like the timer source they start
// suspended, run their handler on their queue, never twice at once, and
// stop for good once cancelled or destroyed (a handler already running
// finishes, one not yet started does not run). Nothing polls on a clock:
// a quiet source costs no wake-up. Every operation may be called from any
// thread, the handler included. Under a simulated scheduler the descriptor
// is real and read as it stands whenever the scheduler looks for work.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/dispatch_queue.hpp"

namespace platform {

class DispatchSourceRead : public std::enable_shared_from_this<DispatchSourceRead> {
 public:
  // Watches `descriptor`, which stays the caller's: it is never closed
  // here and must stay open until cancel() returned. A negative descriptor
  // or a null queue throws std::invalid_argument.
  static std::shared_ptr<DispatchSourceRead> make(int descriptor, std::shared_ptr<DispatchQueue> queue);
  ~DispatchSourceRead();
  DispatchSourceRead(const DispatchSourceRead&) = delete;
  DispatchSourceRead& operator=(const DispatchSourceRead&) = delete;

  // Runs once the descriptor reads as readable, at its end or in error.
  // It must read until the descriptor would block: while it still reads
  // as readable the handler runs again.
  void setEventHandler(Block handler);
  // Starts watching. A second resume throws std::logic_error, a resume
  // after cancel does nothing; std::system_error when the system refuses
  // what the watching needs.
  void resume();
  // Once it returns the descriptor is polled no more and may be closed.
  void cancel();
  bool isCancelled() const;

 private:
  DispatchSourceRead(int descriptor, std::shared_ptr<DispatchQueue> queue);
  void fire();

  const int descriptor_;
  const std::shared_ptr<DispatchQueue> queue_;
  mutable std::mutex mutex_;
  std::shared_ptr<const Block> handler_;
  std::uint64_t ticket_ = 0;
  bool resumed_ = false;
  bool cancelled_ = false;
};

// A signal turned into a handler on a queue instead of its action, heard
// even when it was ignored before (the source sets it back to its default,
// which never acts while it is blocked). The signal must be blocked in
// every thread, or a thread that has it unblocked takes it with its default
// action: block it with blockSignals() first in main, before any thread
// starts, since a thread starts with the mask of the thread that made it.
class DispatchSourceSignal {
 public:
  // Blocks the signals in the calling thread and so in every thread it
  // starts from now on.
  static void blockSignals(std::initializer_list<int> signals);
  // A signal not blocked in the calling thread throws std::logic_error; a
  // refused signal descriptor std::system_error (see refuseDescriptors).
  static std::shared_ptr<DispatchSourceSignal> make(int signal, std::shared_ptr<DispatchQueue> queue);
  ~DispatchSourceSignal();
  DispatchSourceSignal(const DispatchSourceSignal&) = delete;
  DispatchSourceSignal& operator=(const DispatchSourceSignal&) = delete;

  // Runs once for one or more signals that came since it last ran.
  void setEventHandler(Block handler);
  void resume();
  void cancel();
  bool isCancelled() const;
  int signal() const { return signal_; }

  // Ends the process from any thread as the signal's default action does
  // (its parent sees it ended by the signal); for a signal that comes
  // before the program can act on it. A signal whose default action is to
  // go unnoticed ends it with status 128 + the signal.
  [[noreturn]] static void endProcessBy(int signal);

  // Fault seam: while set, make() is refused with this errno, as the
  // system refuses a signal descriptor when the process has none left.
  static void refuseDescriptors(std::optional<int> error);

 private:
  DispatchSourceSignal(int signal, int descriptor, std::shared_ptr<DispatchQueue> queue);

  const int signal_;
  const int descriptor_;
  const std::shared_ptr<DispatchSourceRead> read_;
};

}  // namespace platform
