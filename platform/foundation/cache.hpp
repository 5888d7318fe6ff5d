#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/foundation/object.hpp"

namespace platform {

// A thread-safe, size-bounded store of objects under keys. KeyType is a
// copyable NSObject subclass: the cache hashes and compares keys through
// its hash() and isEqual(). Objects are shared, never copied.
//
// Limits: a total cost limit and a count limit, 0 meaning none. After every
// insertion the cache evicts until neither limit is exceeded (an object
// whose own cost is over the total limit is thus not kept). Which objects
// go is the cache's business: callers may rely on the limits only. This
// stand-in evicts the least recently stored or read first.
template <class KeyType, class ObjectType>
class NSCache {
 public:
  using ObjectRef = std::shared_ptr<ObjectType>;

  ObjectRef objectForKey(const KeyType& key) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    order_.splice(order_.end(), order_, it->second);
    return it->second->object;
  }

  void setObject(ObjectRef object, const KeyType& key, size_t cost = 0) {
    if (!object) {
      removeObjectForKey(key);
      return;
    }
    std::vector<ObjectRef> evicted;  // released outside the lock
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = index_.find(key);
    if (it != index_.end()) {
      totalCost_ -= it->second->cost;
      evicted.push_back(std::move(it->second->object));
      order_.erase(it->second);
      index_.erase(it);
    }
    order_.push_back(Item{key, std::move(object), cost});
    index_.emplace(key, std::prev(order_.end()));
    totalCost_ += cost;
    evictOverLimits(evicted);
  }

  void removeObjectForKey(const KeyType& key) {
    ObjectRef removed;
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = index_.find(key);
    if (it == index_.end()) return;
    totalCost_ -= it->second->cost;
    removed = std::move(it->second->object);
    order_.erase(it->second);
    index_.erase(it);
  }

  void removeAllObjects() {
    std::list<Item> removed;
    std::lock_guard<std::mutex> guard(mutex_);
    index_.clear();
    removed.swap(order_);
    totalCost_ = 0;
  }

  size_t totalCostLimit() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return totalCostLimit_;
  }
  void setTotalCostLimit(size_t limit) {
    std::vector<ObjectRef> evicted;
    std::lock_guard<std::mutex> guard(mutex_);
    totalCostLimit_ = limit;
    evictOverLimits(evicted);
  }
  size_t countLimit() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return countLimit_;
  }
  void setCountLimit(size_t limit) {
    std::vector<ObjectRef> evicted;
    std::lock_guard<std::mutex> guard(mutex_);
    countLimit_ = limit;
    evictOverLimits(evicted);
  }

  // Not on the platform's class; lets tests check the limits hold.
  size_t count() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return order_.size();
  }
  size_t totalCost() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return totalCost_;
  }

 private:
  struct Item {
    KeyType key;
    ObjectRef object;
    size_t cost;
  };
  struct Hash {
    size_t operator()(const KeyType& key) const { return key.hash(); }
  };
  struct Equal {
    bool operator()(const KeyType& a, const KeyType& b) const { return a.isEqual(&b); }
  };

  void evictOverLimits(std::vector<ObjectRef>& evicted) {
    while (!order_.empty() && ((totalCostLimit_ != 0 && totalCost_ > totalCostLimit_) ||
                               (countLimit_ != 0 && order_.size() > countLimit_))) {
      auto& oldest = order_.front();
      totalCost_ -= oldest.cost;
      evicted.push_back(std::move(oldest.object));
      index_.erase(oldest.key);
      order_.pop_front();
    }
  }

  mutable std::mutex mutex_;
  std::list<Item> order_;  // oldest first
  std::unordered_map<KeyType, typename std::list<Item>::iterator, Hash, Equal> index_;
  size_t totalCost_ = 0;
  size_t totalCostLimit_ = 0;
  size_t countLimit_ = 0;
};

}  // namespace platform
