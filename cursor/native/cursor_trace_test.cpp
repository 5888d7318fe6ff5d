#include "cursor/native/cursor_trace.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/foundation/process_wide.hpp"

namespace vurle {
namespace {

using nlohmann::json;

// A trace on a clock the test sets.
struct ManualTrace {
  explicit ManualTrace(long capacity = 16) : trace(capacity, [this] { return now; }) {}
  double now = 0;
  CursorTrace trace;
};

std::vector<std::string> kinds(const std::vector<CursorTrace::Event>& events) {
  std::vector<std::string> result;
  for (const auto& event : events) result.push_back(event.kind);
  return result;
}

TEST(CursorTrace, CapacityBelowOneHasOneSlot) {
  for (long capacity : {0L, -5L}) {
    ManualTrace t(capacity);
    EXPECT_EQ(t.trace.capacity(), 1);
    t.trace.enable(1, false);
    t.trace.record("a");
    t.trace.record("b");
    EXPECT_EQ(kinds(t.trace.events()), std::vector<std::string>{"b"});
    EXPECT_EQ(t.trace.overwritten(), 1);
  }
}

TEST(CursorTrace, DisabledTraceStoresNothing) {
  ManualTrace t(4);
  t.trace.enable(3, true);
  t.trace.disable();
  for (int i = 0; i < 10; ++i) {
    t.now = i;
    t.trace.record("overlay-frame");
    t.trace.record("observed", {.seed = i, .session = 3});
    t.trace.recordMainWork(t.now - 1, "display-tick");
  }
  EXPECT_EQ(t.trace.count(), 0);
  EXPECT_EQ(t.trace.next(), 0);
  EXPECT_EQ(t.trace.overwritten(), 0);
  EXPECT_EQ(t.trace.lastFrameEvent(), -std::numeric_limits<double>::infinity());
  EXPECT_FALSE(t.trace.slot(0).has_value());
}

TEST(CursorTrace, FullRingOverwritesTheOldestInPlace) {
  ManualTrace t(3);
  t.trace.enable(1, false);
  for (int i = 1; i <= 5; ++i) {
    t.now = i;
    t.trace.record(std::to_string(i), {.generation = static_cast<uint64_t>(i)});
  }
  EXPECT_EQ(t.trace.count(), 3);
  EXPECT_EQ(t.trace.overwritten(), 2);
  EXPECT_EQ(t.trace.next(), 2);
  EXPECT_EQ(t.trace.slot(0)->kind, "4");
  EXPECT_EQ(t.trace.slot(1)->kind, "5");
  EXPECT_EQ(t.trace.slot(2)->kind, "3");
  EXPECT_EQ(kinds(t.trace.events()), (std::vector<std::string>{"3", "4", "5"}));
  // A slot reused for an event without a field no longer shows the old one.
  t.trace.record("6");
  EXPECT_FALSE(t.trace.slot(2)->generation.has_value());
}

TEST(CursorTrace, RollingThinsOnlyOverlayFramesToOnePerTenthOfASecond) {
  ManualTrace t;
  t.trace.enable(1, true);
  t.trace.record("overlay-frame");  // the first always passes
  EXPECT_EQ(t.trace.lastFrameEvent(), 0);
  t.now = 0.099;
  t.trace.record("overlay-frame");
  EXPECT_EQ(t.trace.lastFrameEvent(), 0);
  t.trace.record("observed");
  t.now = 0.1;
  t.trace.record("overlay-frame");
  EXPECT_EQ(t.trace.lastFrameEvent(), 0.1);
  EXPECT_EQ(kinds(t.trace.events()), (std::vector<std::string>{"overlay-frame", "observed", "overlay-frame"}));

  ManualTrace plain;
  plain.trace.enable(1, false);
  for (int i = 0; i < 4; ++i) plain.trace.record("overlay-frame");
  EXPECT_EQ(plain.trace.count(), 4);
}

TEST(CursorTrace, SessionFilterAndEventTime) {
  ManualTrace t;
  t.now = 50;
  t.trace.enable(7, false);
  t.now = 52.5;
  t.trace.record("other", {.session = 8});
  t.trace.record("same", {.seed = -4, .detail = "a=1;b=2", .session = 7});
  t.trace.record("unfiltered");
  const auto events = t.trace.events();
  ASSERT_EQ(kinds(events), (std::vector<std::string>{"same", "unfiltered"}));
  EXPECT_EQ(events[0].time, 2.5);
  EXPECT_EQ(events[0].seed, -4);
  EXPECT_EQ(events[0].detail, "a=1;b=2");
  EXPECT_TRUE(t.trace.status().enabled);
  EXPECT_EQ(t.trace.status().session, 7u);
}

TEST(CursorTrace, EnablingStartsAFreshSession) {
  ManualTrace t;
  t.trace.enable(1, true);
  t.now = 5;
  t.trace.record("overlay-frame");
  t.trace.enable(2, true);
  EXPECT_EQ(t.trace.count(), 0);
  // Timed from the new start, the next frame is not held back by the old one.
  t.now = 5.01;
  t.trace.record("overlay-frame");
  ASSERT_EQ(t.trace.count(), 1);
  EXPECT_NEAR(t.trace.events()[0].time, 0.01, 1e-12);
  ASSERT_TRUE(t.trace.startedAt().has_value());
  EXPECT_EQ(t.trace.startedAt()->size(), 24u);  // 2023-11-14T22:13:20.000Z
}

TEST(CursorTrace, MainWorkOverOneFrame) {
  ManualTrace t;
  t.trace.enable(1, false);
  t.now = 10;
  t.trace.recordMainWork(std::nullopt, "display-tick");
  t.now = 1.0 / 60;
  t.trace.recordMainWork(0, "display-tick");  // exactly 16.666666666666668 ms
  EXPECT_EQ(t.trace.count(), 0);
  t.now = 0.017;
  t.trace.recordMainWork(0, "maintenance");
  const auto events = t.trace.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, "cursor-main-work");
  EXPECT_DOUBLE_EQ(*events[0].value, 17);
  EXPECT_EQ(events[0].detail, "maintenance");
  EXPECT_FALSE(events[0].seed || events[0].generation || events[0].identity || events[0].seedAfter);
}

TEST(CursorTrace, RecordingNeverWaitsForABusyLock) {
  std::promise<void> inClock, release;
  auto released = release.get_future().share();
  std::atomic<bool> holdNext{false};
  CursorTrace trace(8, [&] {
    // The clock is read under the lock: parking here keeps it held.
    if (holdNext.exchange(false)) {
      inClock.set_value();
      released.wait();
    }
    return 0.0;
  });
  trace.enable(1, false);
  holdNext = true;
  std::thread holder([&] { trace.record("holder"); });
  inClock.get_future().wait();
  trace.record("dropped");
  release.set_value();
  holder.join();
  EXPECT_EQ(kinds(trace.events()), std::vector<std::string>{"holder"});
}

TEST(CursorTraceEvent, KeyedCoding) {
  CursorTrace::Event minimal{.time = 1.5, .kind = "observed"};
  EXPECT_EQ(minimal.encode(), (json{{"time", 1.5}, {"kind", "observed"}}));

  CursorTrace::Event full{.time = 0.25, .kind = "registration", .seed = -7, .generation = 18446744073709551615u,
                          .identity = -3, .value = 2.5, .detail = "k=v", .seedBefore = 1, .seedReturned = 2,
                          .seedAfter = 2147483647};
  EXPECT_EQ(full.encode().size(), 10u);
  EXPECT_EQ(CursorTrace::Event::decode(json::parse(full.encode().dump())), full);

  auto decoded = CursorTrace::Event::decode(
      json{{"time", 3}, {"kind", "x"}, {"extra", true}, {"seed", nullptr}, {"identity", 4.0}});
  EXPECT_EQ(decoded, (CursorTrace::Event{.time = 3, .kind = "x", .identity = 4}));

  CursorTrace::Event odd{.time = 0, .kind = "nan", .value = std::nan("")};
  EXPECT_EQ(odd.encode()["value"], "nan");
  EXPECT_TRUE(std::isnan(*CursorTrace::Event::decode(odd.encode()).value));
}

TEST(CursorTraceEvent, DecodingRefusesMalformedObjects) {
  const json bad[] = {
      json::array(),
      json{{"kind", "x"}},
      json{{"time", "soon"}, {"kind", "x"}},
      json{{"time", 1}, {"kind", 5}},
      json{{"time", 1}, {"kind", "x"}, {"seed", 2147483648LL}},
      json{{"time", 1}, {"kind", "x"}, {"generation", -1}},
      json{{"time", 1}, {"kind", "x"}, {"seedAfter", 1.5}},
      json{{"time", 1}, {"kind", "x"}, {"detail", 3}},
  };
  for (const auto& object : bad) {
    EXPECT_THROW(CursorTrace::Event::decode(object), std::invalid_argument) << object.dump();
  }
}

TEST(CursorTrace, ExportAndSharedInstance) {
  ManualTrace t;
  t.trace.enable(1, false);
  t.trace.record("a", {.value = 1});
  t.trace.record("b", {.detail = std::string_view("\xff")});
  const auto exported = json::parse(t.trace.exportJSON());
  ASSERT_EQ(exported.size(), 2u);
  EXPECT_EQ(exported[0], (json{{"time", 0.0}, {"kind", "a"}, {"value", 1.0}}));
  EXPECT_EQ(exported[1]["detail"], "\xEF\xBF\xBD");

  const auto& shared = CursorTrace::shared();
  EXPECT_EQ(shared->capacity(), 8192);
  shared->enable(4, true);
  shared->record("x");
  platform::resetProcessState();
  EXPECT_EQ(&shared, &CursorTrace::shared());
  EXPECT_FALSE(shared->status().enabled);
  EXPECT_EQ(shared->status().session, 0u);
  EXPECT_EQ(shared->count(), 0);
  EXPECT_FALSE(shared->startedAt().has_value());
}

}  // namespace
}  // namespace vurle
