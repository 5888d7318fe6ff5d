#include "platform/foundation/cache.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

// A key whose equality is by value, as cache keys are.
class NameKey : public NSObject {
 public:
  explicit NameKey(std::string name) : name_(std::move(name)) {}
  size_t hash() const override { return std::hash<std::string>{}(name_); }
  bool isEqual(const NSObject* other) const override {
    auto* key = dynamic_cast<const NameKey*>(other);
    return key != nullptr && key->name_ == name_;
  }

 private:
  std::string name_;
};

using Cache = NSCache<NameKey, int>;

TEST(NSCacheTest, AnEqualKeyFindsTheObjectAndReplacingUpdatesTheCost) {
  Cache cache;
  auto one = std::make_shared<int>(1);
  cache.setObject(one, NameKey("a"), 10);
  EXPECT_EQ(cache.objectForKey(NameKey("a")), one);
  EXPECT_EQ(cache.objectForKey(NameKey("b")), nullptr);

  cache.setObject(std::make_shared<int>(2), NameKey("a"), 4);
  EXPECT_EQ(*cache.objectForKey(NameKey("a")), 2);
  EXPECT_EQ(cache.count(), 1u);
  EXPECT_EQ(cache.totalCost(), 4u);

  cache.removeObjectForKey(NameKey("a"));
  EXPECT_EQ(cache.objectForKey(NameKey("a")), nullptr);
  EXPECT_EQ(cache.totalCost(), 0u);
}

TEST(NSCacheTest, NeitherLimitIsEverExceeded) {
  struct Case {
    size_t countLimit, costLimit, cost;
    size_t maxCount;
  } cases[] = {
      {3, 0, 100, 3},    // count decides
      {0, 250, 100, 2},  // cost decides
      {5, 250, 100, 2},  // the tighter of the two
      {0, 0, 100, 20},   // no limits
  };
  for (const auto& c : cases) {
    Cache cache;
    cache.setCountLimit(c.countLimit);
    cache.setTotalCostLimit(c.costLimit);
    for (int i = 0; i < 20; ++i) {
      cache.setObject(std::make_shared<int>(i), NameKey(std::to_string(i)), c.cost);
      EXPECT_LE(cache.count(), c.maxCount);
      if (c.costLimit != 0) {
        EXPECT_LE(cache.totalCost(), c.costLimit);
      }
    }
    EXPECT_EQ(cache.count(), c.maxCount);
    // The newest object is always kept when it fits on its own.
    EXPECT_NE(cache.objectForKey(NameKey("19")), nullptr);
  }
}

TEST(NSCacheTest, LoweringALimitEvictsAndAnOversizeObjectIsNotKept) {
  Cache cache;
  for (int i = 0; i < 6; ++i)
    cache.setObject(std::make_shared<int>(i), NameKey(std::to_string(i)), 1);
  cache.setCountLimit(2);
  EXPECT_EQ(cache.count(), 2u);

  cache.setTotalCostLimit(10);
  cache.setObject(std::make_shared<int>(9), NameKey("big"), 11);
  EXPECT_EQ(cache.objectForKey(NameKey("big")), nullptr);
  EXPECT_LE(cache.totalCost(), 10u);

  cache.removeAllObjects();
  EXPECT_EQ(cache.count(), 0u);
  EXPECT_EQ(cache.totalCost(), 0u);
}

TEST(NSCacheTest, ConcurrentUseKeepsTheLimits) {
  Cache cache;
  cache.setCountLimit(16);
  cache.setTotalCostLimit(64);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 500; ++i) {
        const NameKey key(std::to_string((t * 7 + i) % 40));
        if (auto found = cache.objectForKey(key)) {
          EXPECT_GE(*found, 0);
        } else {
          cache.setObject(std::make_shared<int>(i), key, size_t(i % 8));
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(cache.count(), 16u);
  EXPECT_LE(cache.totalCost(), 64u);
}

}  // namespace
}  // namespace platform
