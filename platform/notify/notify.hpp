#pragma once

// Darwin named notifications: a process registers for a name and is called
// on a queue when anyone posts it; every name also carries a 64-bit state
// that any process may set and read. The simulated system behind them keeps
// one state per name and lets tests post, set states and refuse
// registrations or state reads.
//
// The functions may be called from any thread; handlers run on the queue
// given at registration, never inside the post.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/dispatch_queue.hpp"

namespace platform {

inline constexpr std::uint32_t NOTIFY_STATUS_OK = 0;
inline constexpr std::uint32_t NOTIFY_STATUS_INVALID_NAME = 1;
inline constexpr std::uint32_t NOTIFY_STATUS_INVALID_TOKEN = 2;
inline constexpr std::uint32_t NOTIFY_STATUS_FAILED = 1000000;

using notify_handler_t = std::function<void(int token)>;

// Registers the handler for the name; on success stores a new token (never
// negative) and answers NOTIFY_STATUS_OK. An empty name, a missing token
// slot, queue or handler, or a refusal the simulated system was told to
// make leave the token slot untouched and answer an error.
std::uint32_t notify_register_dispatch(const char* name, int* outToken, std::shared_ptr<DispatchQueue> queue,
                                       notify_handler_t handler);
// The state of the token's name.
std::uint32_t notify_get_state(int token, std::uint64_t* state);
std::uint32_t notify_set_state(int token, std::uint64_t state);
// Calls every live registration of the name on its queue.
std::uint32_t notify_post(const char* name);
// Ends the registration; queued calls for it are dropped.
std::uint32_t notify_cancel(int token);

// The simulated system's side.
class NotifyCenter {
 public:
  static NotifyCenter& shared();
  // No registrations, no states, no faults. Also run by resetProcessState().
  void reset();

  // Sets the name's state (without posting) and posts when asked.
  void setState(const std::string& name, std::uint64_t state, bool post = true);
  // Registrations for the name are refused while set.
  void setRegistrationFails(const std::string& name, bool fails);
  // Every state read is refused while set.
  void setStateReadsFail(bool fail);

  // Registrations not cancelled, for one name or for all.
  int liveRegistrations(const std::string& name) const;
  int liveRegistrations() const;
  // Successful state reads since the last reset.
  int stateReads() const;

 private:
  friend std::uint32_t notify_register_dispatch(const char*, int*, std::shared_ptr<DispatchQueue>, notify_handler_t);
  friend std::uint32_t notify_get_state(int, std::uint64_t*);
  friend std::uint32_t notify_set_state(int, std::uint64_t);
  friend std::uint32_t notify_post(const char*);
  friend std::uint32_t notify_cancel(int);
  struct State;
  NotifyCenter();
  std::shared_ptr<State> state_;
};

}  // namespace platform
