#include "platform/appkit/layer.hpp"

#include <algorithm>
#include <mutex>

#include "platform/foundation/process_wide.hpp"

namespace platform {
namespace {

struct TransactionState {
  std::mutex mutex;
  std::vector<bool> stack;  // disabled-actions flag of each open transaction
  int flushes = 0;
};

TransactionState& transactions() {
  static TransactionState* state = [] {
    auto* made = new TransactionState();
    addResetHook(made, [made] {
      std::lock_guard<std::mutex> guard(made->mutex);
      made->stack.clear();
      made->flushes = 0;
    });
    return made;
  }();
  return *state;
}

template <class T>
T read(const std::map<std::string, CALayer::Value>& values, const std::string& key, T fallback) {
  auto it = values.find(key);
  if (it == values.end()) return fallback;
  const T* value = std::get_if<T>(&it->second);
  return value ? *value : fallback;
}

}  // namespace

std::shared_ptr<CALayer> CALayer::make() { return std::shared_ptr<CALayer>(new CALayer()); }

void CALayer::setValue(const std::string& key, Value value) {
  changes_.push_back({key, value, CATransaction::inTransaction(), CATransaction::disableActions()});
  if (key == "frame") {
    // The frame is not stored: it becomes the bounds' size and a position.
    if (const CGRect* frame = std::get_if<CGRect>(&value)) {
      const CGRect old = bounds();
      const CGPoint anchor = anchorPoint();
      values_.insert_or_assign("bounds", CGRectMake(old.origin.x, old.origin.y, frame->size.width, frame->size.height));
      values_.insert_or_assign("position", CGPointMake(frame->origin.x + anchor.x * frame->size.width,
                                                       frame->origin.y + anchor.y * frame->size.height));
    }
    return;
  }
  values_.insert_or_assign(key, std::move(value));
}

std::optional<CALayer::Value> CALayer::valueForKey(const std::string& key) const {
  if (key == "frame") return Value(frame());
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool CALayer::isHidden() const { return read(values_, "hidden", false); }
CGImageRef CALayer::contents() const { return read<CGImageRef>(values_, "contents", nullptr); }
CGFloat CALayer::contentsScale() const { return read(values_, "contentsScale", 1.0); }
std::string CALayer::contentsGravity() const { return read(values_, "contentsGravity", kCAGravityResize); }
std::string CALayer::minificationFilter() const { return read(values_, "minificationFilter", kCAFilterLinear); }
std::string CALayer::magnificationFilter() const { return read(values_, "magnificationFilter", kCAFilterLinear); }
CGRect CALayer::bounds() const { return read(values_, "bounds", CGRectZero); }
CGPoint CALayer::position() const { return read(values_, "position", CGPointZero); }
CGPoint CALayer::anchorPoint() const { return read(values_, "anchorPoint", CGPointMake(0.5, 0.5)); }

CGRect CALayer::frame() const {
  const CGRect box = bounds();
  const CGPoint at = position();
  const CGPoint anchor = anchorPoint();
  return CGRectMake(at.x - anchor.x * box.size.width, at.y - anchor.y * box.size.height, box.size.width,
                    box.size.height);
}

void CALayer::addSublayer(const std::shared_ptr<CALayer>& layer) {
  if (!layer) return;
  for (auto node = shared_from_this(); node; node = node->superlayer()) {
    if (node == layer) return;
  }
  layer->removeFromSuperlayer();
  layer->superlayer_ = weak_from_this();
  sublayers_.push_back(layer);
}

void CALayer::removeFromSuperlayer() {
  auto parent = superlayer_.lock();
  superlayer_.reset();
  if (!parent) return;
  std::erase_if(parent->sublayers_, [this](const std::shared_ptr<CALayer>& layer) { return layer.get() == this; });
}

void CATransaction::begin() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.stack.push_back(!state.stack.empty() && state.stack.back());
}

void CATransaction::commit() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.stack.empty()) state.stack.pop_back();
}

void CATransaction::setDisableActions(bool flag) {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  if (!state.stack.empty()) state.stack.back() = flag;
}

bool CATransaction::disableActions() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  return !state.stack.empty() && state.stack.back();
}

bool CATransaction::inTransaction() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  return !state.stack.empty();
}

void CATransaction::flush() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  ++state.flushes;
}

int CATransaction::flushCount() {
  auto& state = transactions();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.flushes;
}

}  // namespace platform
