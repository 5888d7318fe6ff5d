#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cursor/engine/experimental_cursor_hit_test.hpp"
#include "platform/dispatch/dispatch_queue.hpp"

namespace vurle {

// Which Dock items lie where, as the system itself verifies them: the
// window server names the Dock's window under the pointer, and the Dock's
// Accessibility list gives each item's frame. Read on its own serial queue
// at most every 0.08 s; an answer is trusted for 0.2 s.
//
// All state is main-thread only; the queue sees a copy of the hit test,
// the screen frame and the point. Lives in a shared_ptr: reads hold it
// weakly. Without the hit test's functions no item is ever verified.
class ExperimentalDockRegions : public std::enable_shared_from_this<ExperimentalDockRegions> {
 public:
  struct Item {
    CGRect bounds{};  // window-server coordinates
    bool separator = false;
    bool operator==(const Item&) const = default;
  };
  struct Context {
    std::vector<Item> items;
    double until = 0;  // uptime after which the items are stale
    bool operator==(const Context&) const = default;
  };

  static std::shared_ptr<ExperimentalDockRegions> make();
  ExperimentalDockRegions(const ExperimentalDockRegions&) = delete;
  ExperimentalDockRegions& operator=(const ExperimentalDockRegions&) = delete;

  // Starts a throttled read, then answers the fresh items when one of them
  // holds the point (both in window-server coordinates); else none.
  std::optional<Context> requestRefresh(CGRect screenFrame, CGPoint point);
  // The Dock items around the point, in Dock order, each clipped to the
  // screen frame; empty unless the window at the point is the Dock's, at
  // the Dock level, with a list of fewer than 129 children. Every
  // Accessibility message waits at most 0.015 s. Runs on the queue.
  static std::vector<Item> readDock(const std::optional<ExperimentalCursorHitTest>& hitTest, CGRect screenFrame,
                                    CGPoint point);
  // A read's answer, on the main thread: stored only in its own generation;
  // traced when the result changes; onRefresh after a read with items and
  // after any read of an older generation.
  void apply(int generation, std::vector<Item> items, double startedAt);
  // Forgets the snapshot and lets the next request read at once; a read in
  // flight will not be stored.
  void invalidate();

  void setOnRefresh(std::function<void()> onRefresh) { onRefresh_ = std::move(onRefresh); }
  bool pending() const { return pending_; }
  double requestedAt() const { return requestedAt_; }
  const std::optional<Context>& snapshot() const { return snapshot_; }
  int generation() const { return generation_; }
  const std::optional<std::string>& lastReadResult() const { return lastReadResult_; }
  bool hasHitTest() const { return hitTest_.has_value(); }
  const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

 private:
  ExperimentalDockRegions();

  const std::shared_ptr<platform::DispatchQueue> queue_;
  const std::optional<ExperimentalCursorHitTest> hitTest_;
  bool pending_ = false;
  double requestedAt_;
  std::optional<Context> snapshot_;
  int generation_ = 0;
  std::function<void()> onRefresh_;
  std::optional<std::string> lastReadResult_;
};

}  // namespace vurle
