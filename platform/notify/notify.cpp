#include "platform/notify/notify.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/foundation/process_wide.hpp"

namespace platform {

struct NotifyCenter::State {
  struct Registration {
    std::string name;
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<const notify_handler_t> handler;
    std::shared_ptr<std::atomic<bool>> live;
  };
  mutable std::mutex mutex;
  std::map<std::string, std::uint64_t> states;
  std::map<int, Registration> registrations;
  std::set<std::string> failingNames;
  bool stateReadsFail = false;
  int stateReads = 0;
  int nextToken = 0;
};

NotifyCenter& NotifyCenter::shared() {
  // Never destroyed: queued handlers may outlive static destruction.
  static NotifyCenter* center = new NotifyCenter();
  return *center;
}

NotifyCenter::NotifyCenter() : state_(std::make_shared<State>()) {
  addResetHook(this, [this] { reset(); });
}

void NotifyCenter::reset() {
  std::lock_guard<std::mutex> guard(state_->mutex);
  for (auto& [token, registration] : state_->registrations) *registration.live = false;
  state_->registrations.clear();
  state_->states.clear();
  state_->failingNames.clear();
  state_->stateReadsFail = false;
  state_->stateReads = 0;
}

void NotifyCenter::setState(const std::string& name, std::uint64_t state, bool post) {
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->states[name] = state;
  }
  if (post) notify_post(name.c_str());
}

void NotifyCenter::setRegistrationFails(const std::string& name, bool fails) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  if (fails) {
    state_->failingNames.insert(name);
  } else {
    state_->failingNames.erase(name);
  }
}

void NotifyCenter::setStateReadsFail(bool fail) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->stateReadsFail = fail;
}

int NotifyCenter::liveRegistrations(const std::string& name) const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  int count = 0;
  for (const auto& [token, registration] : state_->registrations) count += registration.name == name ? 1 : 0;
  return count;
}

int NotifyCenter::liveRegistrations() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return static_cast<int>(state_->registrations.size());
}

int NotifyCenter::stateReads() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->stateReads;
}

std::uint32_t notify_register_dispatch(const char* name, int* outToken, std::shared_ptr<DispatchQueue> queue,
                                       notify_handler_t handler) {
  if (name == nullptr || *name == '\0') return NOTIFY_STATUS_INVALID_NAME;
  if (outToken == nullptr || !queue || !handler) return NOTIFY_STATUS_FAILED;
  auto& state = *NotifyCenter::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  if (state.failingNames.contains(name)) return NOTIFY_STATUS_FAILED;
  const int token = state.nextToken++;
  state.registrations.emplace(
      token, NotifyCenter::State::Registration{name, std::move(queue),
                                               std::make_shared<const notify_handler_t>(std::move(handler)),
                                               std::make_shared<std::atomic<bool>>(true)});
  *outToken = token;
  return NOTIFY_STATUS_OK;
}

std::uint32_t notify_get_state(int token, std::uint64_t* value) {
  auto& state = *NotifyCenter::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  const auto found = state.registrations.find(token);
  if (found == state.registrations.end()) return NOTIFY_STATUS_INVALID_TOKEN;
  if (state.stateReadsFail || value == nullptr) return NOTIFY_STATUS_FAILED;
  const auto stored = state.states.find(found->second.name);
  *value = stored == state.states.end() ? 0 : stored->second;
  ++state.stateReads;
  return NOTIFY_STATUS_OK;
}

std::uint32_t notify_set_state(int token, std::uint64_t value) {
  auto& state = *NotifyCenter::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  const auto found = state.registrations.find(token);
  if (found == state.registrations.end()) return NOTIFY_STATUS_INVALID_TOKEN;
  state.states[found->second.name] = value;
  return NOTIFY_STATUS_OK;
}

std::uint32_t notify_post(const char* name) {
  if (name == nullptr || *name == '\0') return NOTIFY_STATUS_INVALID_NAME;
  std::vector<std::pair<int, NotifyCenter::State::Registration>> matching;
  {
    auto& state = *NotifyCenter::shared().state_;
    std::lock_guard<std::mutex> guard(state.mutex);
    for (const auto& [token, registration] : state.registrations) {
      if (registration.name == name) matching.emplace_back(token, registration);
    }
  }
  for (auto& [token, registration] : matching) {
    // Copied by name: clang 15 cannot capture a structured binding itself.
    registration.queue->async([token = token, handler = registration.handler, live = registration.live] {
      if (*live) (*handler)(token);
    });
  }
  return NOTIFY_STATUS_OK;
}

std::uint32_t notify_cancel(int token) {
  auto& state = *NotifyCenter::shared().state_;
  std::lock_guard<std::mutex> guard(state.mutex);
  const auto found = state.registrations.find(token);
  if (found == state.registrations.end()) return NOTIFY_STATUS_INVALID_TOKEN;
  *found->second.live = false;
  state.registrations.erase(found);
  return NOTIFY_STATUS_OK;
}

}  // namespace platform
