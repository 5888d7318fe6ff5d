#include "platform/dispatch/dispatch_source_event.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

namespace platform {

std::shared_ptr<DispatchSourceRead> DispatchSourceRead::make(int descriptor, std::shared_ptr<DispatchQueue> queue) {
  if (descriptor < 0) throw std::invalid_argument("DispatchSourceRead::make: negative descriptor");
  if (!queue) throw std::invalid_argument("DispatchSourceRead::make: null queue");
  return std::shared_ptr<DispatchSourceRead>(new DispatchSourceRead(descriptor, std::move(queue)));
}

DispatchSourceRead::DispatchSourceRead(int descriptor, std::shared_ptr<DispatchQueue> queue)
    : descriptor_(descriptor), queue_(std::move(queue)) {}

DispatchSourceRead::~DispatchSourceRead() { cancel(); }

void DispatchSourceRead::setEventHandler(Block handler) {
  std::shared_ptr<const Block> next = handler ? std::make_shared<const Block>(std::move(handler)) : nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  std::swap(handler_, next);
}

void DispatchSourceRead::resume() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (cancelled_) return;
  if (resumed_) throw std::logic_error("DispatchSourceRead::resume: the source is not suspended");
  ticket_ = queue_->watch(descriptor_, [weak = weak_from_this()] {
    if (auto self = weak.lock()) self->fire();
  });
  resumed_ = true;
}

void DispatchSourceRead::cancel() {
  std::shared_ptr<const Block> released;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    std::swap(released, handler_);
    ticket = std::exchange(ticket_, 0);
  }
  if (ticket != 0) queue_->unwatch(ticket);
}

bool DispatchSourceRead::isCancelled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancelled_;
}

void DispatchSourceRead::fire() {
  std::shared_ptr<const Block> handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return;
    handler = handler_;
  }
  if (handler && *handler) (*handler)();
  // The watch rested while the handler ran, so it never runs twice at once.
  std::lock_guard<std::mutex> lock(mutex_);
  if (!cancelled_ && ticket_ != 0) queue_->rearm(ticket_);
}

namespace {

std::atomic<int> refusedWith{0};

}  // namespace

void DispatchSourceSignal::blockSignals(std::initializer_list<int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : signals) sigaddset(&set, signal);
  if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr)) {
    throw std::system_error(error, std::generic_category(), "cannot block signals");
  }
}

std::shared_ptr<DispatchSourceSignal> DispatchSourceSignal::make(int signal, std::shared_ptr<DispatchQueue> queue) {
  if (!queue) throw std::invalid_argument("DispatchSourceSignal::make: null queue");
  sigset_t blocked;
  if (::pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, signal) != 1) {
    throw std::logic_error("DispatchSourceSignal::make: signal " + std::to_string(signal) +
                           " is not blocked, so it would act instead of reaching the source");
  }
  if (const int refused = refusedWith.load()) {
    throw std::system_error(refused, std::generic_category(), "cannot make a descriptor for signal " +
                                                                  std::to_string(signal));
  }
  // An ignored signal is dropped before it could wait for the descriptor,
  // so the source takes it back from whoever ignored it (a shell starting a
  // background job ignores SIGINT); blocked, the default action never acts.
  struct sigaction current {};
  if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
  }
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  const int descriptor = ::signalfd(-1, &one, SFD_NONBLOCK | SFD_CLOEXEC);
  if (descriptor < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot make a descriptor for signal " +
                                                                std::to_string(signal));
  }
  return std::shared_ptr<DispatchSourceSignal>(new DispatchSourceSignal(signal, descriptor, std::move(queue)));
}

DispatchSourceSignal::DispatchSourceSignal(int signal, int descriptor, std::shared_ptr<DispatchQueue> queue)
    : signal_(signal), descriptor_(descriptor), read_(DispatchSourceRead::make(descriptor, std::move(queue))) {}

DispatchSourceSignal::~DispatchSourceSignal() {
  read_->cancel();
  ::close(descriptor_);
}

void DispatchSourceSignal::setEventHandler(Block handler) {
  if (!handler) {
    read_->setEventHandler(nullptr);
    return;
  }
  read_->setEventHandler([descriptor = descriptor_, handler = std::move(handler)] {
    signalfd_siginfo info;
    bool came = false;
    while (::read(descriptor, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) came = true;
    if (came) handler();
  });
}

void DispatchSourceSignal::resume() { read_->resume(); }

void DispatchSourceSignal::cancel() { read_->cancel(); }

bool DispatchSourceSignal::isCancelled() const { return read_->isCancelled(); }

void DispatchSourceSignal::endProcessBy(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  // Aimed at this thread, which now takes it with its default action.
  ::pthread_kill(::pthread_self(), signal);
  ::_exit(128 + signal);
}

void DispatchSourceSignal::refuseDescriptors(std::optional<int> error) { refusedWith.store(error.value_or(0)); }

}  // namespace platform
