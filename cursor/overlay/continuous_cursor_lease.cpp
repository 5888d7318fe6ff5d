#include "cursor/overlay/continuous_cursor_lease.hpp"

#include <mutex>
#include <set>
#include <string>

#include "cursor/native/cursor_trace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dyld/symbol_registry.hpp"
#include "platform/foundation/process_wide.hpp"
#include "platform/windowserver/connections.hpp"
#include "platform/windowserver/cursor_state.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr double kLeaseLength = 0.35;
constexpr double kWatchdogInterval = 0.025;
constexpr double kReleaseInterval = 0.1;
constexpr double kBackgroundGrace = 0.25;
const std::string kBackgroundProperty = "SetsCursorInBackground";

void trace(std::string_view kind, const CursorTrace::Fields& fields = {}) {
  CursorTrace::shared()->record(kind, fields);
}

std::shared_ptr<DispatchSourceTimer> makeWatchdogTimer() {
  return DispatchSourceTimer::make(DispatchQueue::global(QoS::userInteractive));
}

// A show that was still failing when its lease went away. It keeps trying
// on the watchdog queue, holding itself in a process-wide set until the
// show succeeds; then it clears the property once, as a teardown does.
class PendingShow : public std::enable_shared_from_this<PendingShow> {
 public:
  static void start(std::function<bool()> show, std::function<bool(bool)> setBackground) {
    auto pending = std::shared_ptr<PendingShow>(new PendingShow(std::move(show), std::move(setBackground)));
    pending->timer_->schedule(DispatchTime::now() + kWatchdogInterval, kWatchdogInterval, 0);
    pending->timer_->setEventHandler([weak = std::weak_ptr<PendingShow>(pending)] {
      if (auto strong = weak.lock()) strong->tick();
    });
    registry().insert(pending);
    pending->timer_->resume();
  }

 private:
  struct Registry {
    std::mutex mutex;
    std::set<std::shared_ptr<PendingShow>> pending;

    void insert(std::shared_ptr<PendingShow> show) {
      std::lock_guard<std::mutex> guard(mutex);
      pending.insert(std::move(show));
    }
    void erase(const std::shared_ptr<PendingShow>& show) {
      std::lock_guard<std::mutex> guard(mutex);
      pending.erase(show);
    }
  };

  // resetProcessState() drops what a finished test left behind.
  static Registry& registry() {
    static Registry* made = [] {
      auto* registry = new Registry();
      addResetHook(registry, [registry] {
        std::set<std::shared_ptr<PendingShow>> dropped;
        {
          std::lock_guard<std::mutex> guard(registry->mutex);
          dropped.swap(registry->pending);
        }
        for (const auto& show : dropped) show->timer_->cancel();
      });
      return registry;
    }();
    return *made;
  }

  PendingShow(std::function<bool()> show, std::function<bool(bool)> setBackground)
      : show_(std::move(show)), setBackground_(std::move(setBackground)), timer_(makeWatchdogTimer()) {}

  void tick() {
    std::lock_guard<NSLock> guard(lock_);
    if (done_ || !show_()) return;
    done_ = true;
    setBackground_(false);
    timer_->cancel();
    registry().erase(shared_from_this());
  }

  const std::function<bool()> show_;
  const std::function<bool(bool)> setBackground_;
  const std::shared_ptr<DispatchSourceTimer> timer_;
  NSLock lock_;
  bool done_ = false;
};

}  // namespace

bool CursorHideConnection::setBackground(bool enable) {
  if (enable) {
    if (connection_) return false;
    const int32_t c = functions_.main();
    if (c == 0 || !functions_.writeBackground(c, true)) return false;
    connection_ = c;
    return true;
  }
  if (!connection_) return true;
  if (!functions_.writeBackground(*connection_, false)) return false;
  if (functions_.readBackground(*connection_) != false) return false;
  connection_.reset();
  return true;
}

bool CursorHideConnection::hide() {
  if (!connection_ || functions_.main() != *connection_) return false;
  if (functions_.readBackground(*connection_) != true) return false;
  return functions_.hideCursor(*connection_);
}

bool CursorHideConnection::show() { return connection_ && functions_.showCursor(*connection_); }

ContinuousCursorLease::ContinuousCursorLease(std::function<bool(bool)> setBackground, std::function<bool()> hideCursor,
                                             std::function<bool()> showCursor,
                                             std::function<std::optional<bool>()> isVisible, bool available)
    : setBackground_(std::move(setBackground)),
      hideCursor_(std::move(hideCursor)),
      showCursor_(std::move(showCursor)),
      isVisible_(std::move(isVisible)),
      available_(available) {}

ContinuousCursorLease::~ContinuousCursorLease() {
  std::lock_guard<NSLock> guard(lock_);
  revoked_ = true;
  release();
  if (timer_) {
    timer_->cancel();
    timer_.reset();
  }
  if (hidden_) {
    // The show failed: dropping the watchdog now would leave the cursor
    // hidden for good, so the retry outlives the lease.
    PendingShow::start(showCursor_, setBackground_);
    return;
  }
  if (backgroundEnabled_) setBackground_(false);
}

bool ContinuousCursorLease::acquire(SpaceSettled spaceSettled, IndependentRelease onIndependentRelease) {
  std::lock_guard<NSLock> guard(lock_);
  // Without a Space check there is no telling whether the overlay is on
  // screen: refuse rather than hide blindly.
  if (hidden_ || !available_ || !spaceSettled || !spaceSettled()) return false;
  // A lease outside a shared_ptr could not be reached by its watchdog, and
  // a hide without a watchdog might never be undone.
  if (weak_from_this().expired()) return false;
  if (backgroundEnabled_) {
    finishRelease();
    if (backgroundEnabled_) return false;
  }
  if (!setBackground_(true)) return false;
  backgroundEnabled_ = true;
  expired_ = false;
  revoked_ = false;
  backgroundReleaseAfter_.reset();
  const double now = systemUptime();
  deadline_ = now + kLeaseLength;

  if (timer_) timer_->cancel();
  timer_ = makeWatchdogTimer();
  timer_->schedule(DispatchTime{now + kWatchdogInterval}, kWatchdogInterval, 0);
  timer_->setEventHandler([weak = weak_from_this(), spaceSettled, onIndependentRelease] {
    if (auto lease = weak.lock()) lease->watchdogTick(spaceSettled, onIndependentRelease);
  });
  timer_->resume();

  if (!spaceSettled() || !hideCursor_()) {
    backgroundReleaseAfter_ = systemUptime();
    finishRelease();
    return false;
  }
  hidden_ = true;
  if (spaceSettled()) return true;
  expired_ = true;
  revoked_ = true;
  trace("lease-acquisition-revoked", {.detail = "post-hide-space-state"});
  release();
  return false;
}

void ContinuousCursorLease::extend() {
  std::lock_guard<NSLock> guard(lock_);
  if (!revoked_) deadline_ = systemUptime() + kLeaseLength;
}

void ContinuousCursorLease::revoke() {
  std::lock_guard<NSLock> guard(lock_);
  revoked_ = true;
  release();
}

bool ContinuousCursorLease::takeExpired() {
  std::lock_guard<NSLock> guard(lock_);
  const bool expired = expired_;
  expired_ = false;
  return expired;
}

bool ContinuousCursorLease::hidden() const {
  std::lock_guard<NSLock> guard(lock_);
  return hidden_;
}

bool ContinuousCursorLease::backgroundEnabled() const {
  std::lock_guard<NSLock> guard(lock_);
  return backgroundEnabled_;
}

bool ContinuousCursorLease::revoked() const {
  std::lock_guard<NSLock> guard(lock_);
  return revoked_;
}

double ContinuousCursorLease::deadline() const {
  std::lock_guard<NSLock> guard(lock_);
  return deadline_;
}

void ContinuousCursorLease::watchdogTick(const SpaceSettled& spaceSettled,
                                         const IndependentRelease& onIndependentRelease) {
  std::lock_guard<NSLock> guard(lock_);
  if (!hidden_) {
    finishRelease();
    return;
  }
  if (!revoked_) {
    // The Space is asked only while the deadline has not passed.
    if (systemUptime() < deadline_ && spaceSettled()) return;
    trace("lease-independent-release", {.detail = deadline_ <= systemUptime() ? "deadline" : "space-transition"});
    if (onIndependentRelease) onIndependentRelease();
  }
  expired_ = true;
  revoked_ = true;
  release();
}

void ContinuousCursorLease::release() {
  if (!hidden_) {
    finishRelease();
    return;
  }
  // A failed show leaves the lease hidden; the watchdog retries.
  if (!showCursor_()) return;
  hidden_ = false;
  const double now = systemUptime();
  backgroundReleaseAfter_ = now + kBackgroundGrace;
  if (timer_) timer_->schedule(DispatchTime{now + kWatchdogInterval}, kReleaseInterval, 0);
  finishRelease();
  if (backgroundEnabled_) trace("lease-background-retained", {.detail = "awaiting-native-visible"});
}

void ContinuousCursorLease::finishRelease() {
  if (hidden_) return;
  if (backgroundEnabled_) {
    const bool visible = isVisible_() == true;
    if (!backgroundReleaseAfter_) {
      if (!visible) return;
    } else if (!visible && systemUptime() < *backgroundReleaseAfter_) {
      return;
    }
    if (!setBackground_(false)) return;
    backgroundEnabled_ = false;
    backgroundReleaseAfter_.reset();
    trace("lease-background-cleared", {.detail = visible ? "native-visible" : "balanced-restore-grace-expired"});
  }
  if (timer_) {
    timer_->cancel();
    timer_.reset();
  }
}

std::shared_ptr<ContinuousCursorLease> makeCursorLease() {
  // Looked up in this order; the first missing name ends the lookup.
  std::optional<std::function<CGSMainConnectionIDFn>> main;
  std::optional<std::function<CGSSetConnectionPropertyFn>> setProperty;
  std::optional<std::function<CGSCopyConnectionPropertyFn>> copyProperty;
  std::optional<std::function<CGSHideCursorFn>> hide;
  std::optional<std::function<CGSShowCursorFn>> show;
  std::optional<std::function<CGCursorIsVisibleFn>> visible;
  const bool found = (main = dlsym<CGSMainConnectionIDFn>(RTLD_DEFAULT, "CGSMainConnectionID")) &&
                     (setProperty = dlsym<CGSSetConnectionPropertyFn>(RTLD_DEFAULT, "CGSSetConnectionProperty")) &&
                     (copyProperty = dlsym<CGSCopyConnectionPropertyFn>(RTLD_DEFAULT, "CGSCopyConnectionProperty")) &&
                     (hide = dlsym<CGSHideCursorFn>(RTLD_DEFAULT, "CGSHideCursor")) &&
                     (show = dlsym<CGSShowCursorFn>(RTLD_DEFAULT, "CGSShowCursor")) &&
                     (visible = dlsym<CGCursorIsVisibleFn>(RTLD_DEFAULT, "CGCursorIsVisible"));

  std::shared_ptr<CursorHideConnection> connection;
  if (found) {
    CursorHideConnection::Functions functions;
    functions.main = *main;
    functions.writeBackground = [set = *setProperty](int32_t c, bool enable) {
      const CGError status = set(c, c, kBackgroundProperty, CFValue(enable));
      trace("lease-background-result", {.seed = c, .value = status, .detail = enable ? "enable" : "disable"});
      return status == kCGErrorSuccess;
    };
    functions.readBackground = [copy = *copyProperty](int32_t c) -> std::optional<bool> {
      std::optional<CFValue> value;
      const CGError status = copy(c, c, kBackgroundProperty, &value);
      std::optional<bool> result;
      if (status == kCGErrorSuccess && value && value->isBoolean()) result = value->asBool();
      trace("lease-background-readback",
            {.seed = c,
             .value = result ? std::optional<double>(*result ? 1 : 0) : std::nullopt,
             .detail = "result=" + std::to_string(status)});
      return result;
    };
    auto call = [](std::function<CGError(CGSConnectionID)> function, const char* kind) {
      return [function = std::move(function), kind](int32_t c) {
        const CGError status = function(c);
        trace(kind, {.seed = c, .value = status, .detail = "connection-api"});
        return status == kCGErrorSuccess;
      };
    };
    functions.hideCursor = call(*hide, "lease-hide-result");
    functions.showCursor = call(*show, "lease-show-result");
    functions.isVisible = [read = *visible]() -> std::optional<bool> { return read() != 0; };
    connection = std::make_shared<CursorHideConnection>(std::move(functions));
  }

  return std::make_shared<ContinuousCursorLease>(
      [connection](bool enable) { return connection && connection->setBackground(enable); },
      [connection] { return connection && connection->hide(); },
      [connection] { return connection && connection->show(); },
      [connection]() -> std::optional<bool> {
        if (!connection) return std::nullopt;
        return connection->isVisible();
      },
      found);
}

}  // namespace vurle
