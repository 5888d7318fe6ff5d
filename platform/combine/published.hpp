#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dispatch/run_loop.hpp"

namespace platform {

// Ends a subscription when cancelled or destroyed. Cancelling also drops
// values already queued for a later delivery.
class AnyCancellable {
 public:
  AnyCancellable() = default;
  explicit AnyCancellable(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  AnyCancellable(AnyCancellable&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  AnyCancellable& operator=(AnyCancellable&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  ~AnyCancellable() { cancel(); }

  void cancel() {
    if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
  }

 private:
  std::function<void()> cancel_;
};

// A stream of values a subscriber receives through sink(). Main thread only,
// as the application's observers are.
template <class T>
class Publisher {
 public:
  using Receiver = std::function<void(const T&)>;
  using Subscribe = std::function<AnyCancellable(Receiver)>;

  explicit Publisher(Subscribe subscribe) : subscribe_(std::move(subscribe)) {}

  AnyCancellable sink(Receiver receive) const { return subscribe_(std::move(receive)); }

  // Delivers every value in a later pass of the given run loop instead of
  // at once; values still queued when the subscription ends are dropped.
  Publisher<T> receive(RunLoop& loop) const {
    return Publisher<T>([upstream = subscribe_, weakLoop = loop.weak_from_this()](Receiver receive) {
      auto live = std::make_shared<bool>(true);
      auto downstream = std::make_shared<Receiver>(std::move(receive));
      AnyCancellable inner = upstream([live, downstream, weakLoop](const T& value) {
        auto loop = weakLoop.lock();
        if (!loop) return;
        loop->perform([live, downstream, value] {
          if (*live) (*downstream)(value);
        });
      });
      auto held = std::make_shared<AnyCancellable>(std::move(inner));
      return AnyCancellable([live, held] {
        *live = false;
        held->cancel();
      });
    });
  }

 private:
  Subscribe subscribe_;
};

// Emits the pair of both latest values each time either side emits, once
// both have emitted.
template <class A, class B>
Publisher<std::pair<A, B>> combineLatest(const Publisher<A>& first, const Publisher<B>& second) {
  return Publisher<std::pair<A, B>>([first, second](std::function<void(const std::pair<A, B>&)> receive) {
    struct Latest {
      std::optional<A> a;
      std::optional<B> b;
      std::function<void(const std::pair<A, B>&)> receive;
      void emit() {
        if (a && b) receive(std::pair<A, B>(*a, *b));
      }
    };
    auto latest = std::make_shared<Latest>();
    latest->receive = std::move(receive);
    std::weak_ptr<Latest> weak = latest;
    auto one = std::make_shared<AnyCancellable>(first.sink([weak](const A& value) {
      if (auto state = weak.lock()) state->a = value, state->emit();
    }));
    auto two = std::make_shared<AnyCancellable>(second.sink([weak](const B& value) {
      if (auto state = weak.lock()) state->b = value, state->emit();
    }));
    return AnyCancellable([latest, one, two]() mutable {
      one->cancel();
      two->cancel();
      latest.reset();
    });
  });
}

// A published property: setting it first announces the new value to every
// subscriber, then stores it (so a subscriber that is called at once still
// reads the old value, one receiving on the run loop reads the new one). A
// new subscriber receives the current value at once.
template <class T>
class Published {
 public:
  explicit Published(T initial) : state_(std::make_shared<State>(std::move(initial))) {}
  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  const T& value() const { return state_->value; }

  void set(T value) {
    // Subscribers may subscribe, cancel or even destroy this property while
    // being called; the state outlives the call.
    const auto state = state_;
    const auto subscribers = state->subscribers;
    for (const auto& subscriber : subscribers) {
      if (*subscriber.live) subscriber.receive(value);
    }
    state->value = std::move(value);
  }

  Publisher<T> publisher() const {
    return Publisher<T>([weak = std::weak_ptr<State>(state_)](std::function<void(const T&)> receive) {
      auto state = weak.lock();
      if (!state) return AnyCancellable();
      auto live = std::make_shared<bool>(true);
      const auto id = state->nextID++;
      state->subscribers.push_back({id, live, receive});
      receive(state->value);
      return AnyCancellable([weak, id, live] {
        *live = false;
        if (auto state = weak.lock()) {
          std::erase_if(state->subscribers, [id](const Subscriber& s) { return s.id == id; });
        }
      });
    });
  }

 private:
  struct Subscriber {
    std::uint64_t id;
    std::shared_ptr<bool> live;
    std::function<void(const T&)> receive;
  };
  struct State {
    explicit State(T initial) : value(std::move(initial)) {}
    T value;
    std::uint64_t nextID = 0;
    std::vector<Subscriber> subscribers;
  };
  std::shared_ptr<State> state_;
};

}  // namespace platform
