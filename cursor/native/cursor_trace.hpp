#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/lock.hpp"

namespace vurle {

// The process-wide diagnostic record of the cursor pipeline: a fixed ring
// of events that any thread appends to without ever waiting. It is built
// disabled, and recording into a disabled trace stores nothing.
class CursorTrace {
 public:
  struct Event {
    double time = 0;  // seconds on the trace clock since `started`
    std::string kind{};
    std::optional<int32_t> seed = std::nullopt;
    std::optional<uint64_t> generation = std::nullopt;
    std::optional<int64_t> identity = std::nullopt;
    std::optional<double> value = std::nullopt;
    std::optional<std::string> detail = std::nullopt;
    std::optional<int32_t> seedBefore = std::nullopt;
    std::optional<int32_t> seedReturned = std::nullopt;
    std::optional<int32_t> seedAfter = std::nullopt;

    // Keyed form: "time" and "kind" always, each optional field only when
    // present. Numbers JSON cannot hold (NaN, infinities) are written as the
    // strings "nan", "inf" and "-inf".
    nlohmann::json encode() const;
    // Requires "time" (number) and "kind" (string); reads the optional keys
    // when present and not null and ignores unknown ones. A value of the
    // wrong type or out of range is std::invalid_argument naming the key.
    static Event decode(const nlohmann::json& object);

    bool operator==(const Event&) const = default;
  };

  // The optional fields of a record call, in the event's order; `session`
  // is a filter, not stored. Text is copied only when the event is stored.
  struct Fields {
    std::optional<int32_t> seed = std::nullopt;
    std::optional<uint64_t> generation = std::nullopt;
    std::optional<int64_t> identity = std::nullopt;
    std::optional<double> value = std::nullopt;
    std::optional<std::string_view> detail = std::nullopt;
    std::optional<int32_t> seedBefore = std::nullopt;
    std::optional<int32_t> seedReturned = std::nullopt;
    std::optional<int32_t> seedAfter = std::nullopt;
    std::optional<uint64_t> session = std::nullopt;
  };

  // What readers that may wait (the read-back recorder) take under the lock.
  struct Status {
    bool enabled = false;
    uint64_t session = 0;
  };

  using Clock = std::function<double()>;

  // The shared trace: 8192 slots on the uptime clock. resetProcessState()
  // returns it to its state at construction.
  static const std::shared_ptr<CursorTrace>& shared();

  // A disabled trace; a capacity below 1 becomes 1.
  CursorTrace(long capacity, Clock now);
  CursorTrace(const CursorTrace&) = delete;
  CursorTrace& operator=(const CursorTrace&) = delete;

  // Never waits: a busy lock drops the event.
  void record(std::string_view kind, const Fields& fields);
  void record(std::string_view kind) { record(kind, Fields{}); }
  // Records "cursor-main-work" when the work begun at `since` took longer
  // than one 60 Hz frame; nothing without a start.
  void recordMainWork(std::optional<double> since, std::string_view label);

  // Starts a session: the ring emptied, times measured from now, the
  // "overlay-frame" throttle on when rolling. For diagnostics and tests;
  // the pipeline itself never turns the trace on.
  void enable(uint64_t session, bool rolling);
  void disable();

  // Taken blocking.
  Status status() const;
  // The stored events, oldest first.
  std::vector<Event> events() const;
  // The stored events as a JSON array, oldest first.
  std::string exportJSON() const;

  // Ring bookkeeping, for tests.
  long capacity() const { return capacity_; }
  long count() const;
  long next() const;
  long overwritten() const;
  double lastFrameEvent() const;
  std::optional<std::string> startedAt() const;
  // Slot i of the ring as stored.
  std::optional<Event> slot(long index) const;

 private:
  void clear();  // caller holds lock_

  mutable platform::NSLock lock_;
  const long capacity_;
  const Clock now_;
  std::vector<std::optional<Event>> buffer_;
  long next_ = 0;
  long count_ = 0;
  long overwritten_ = 0;
  double started_ = 0;
  std::optional<std::string> startedAt_;
  bool enabled_ = false;
  uint64_t session_ = 0;
  bool rolling_ = false;
  double lastFrameEvent_;
};

}  // namespace vurle
