#include "cursor/engine/experimental_dock_regions.hpp"

#include <algorithm>
#include <limits>

#include "cursor/native/cursor_trace.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/windowserver/window_list.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr double kReadInterval = 0.08;
constexpr double kTrustedFor = 0.2;
constexpr float kMessagingTimeout = 0.015f;
// A longer list is not the Dock's item list as we know it.
constexpr size_t kMaximumChildren = 128;
const char kDockBundleIdentifier[] = "com.apple.dock";

bool isDockItemSubrole(const std::string& subrole) {
  for (const auto* known : {&kAXSeparatorDockItemSubrole, &kAXApplicationDockItemSubrole, &kAXFolderDockItemSubrole,
                            &kAXTrashDockItemSubrole, &kAXDocumentDockItemSubrole}) {
    if (subrole == *known) return true;
  }
  return false;
}

// One attribute of an element, read within the messaging time-out.
AXAttributeValue read(const AXUIElementRef& element, const std::string& attribute) {
  AXUIElementSetMessagingTimeout(element, kMessagingTimeout);
  AXAttributeValue value;
  if (AXUIElementCopyAttributeValue(element, attribute, &value) != kAXErrorSuccess) return std::monostate{};
  return value;
}

std::optional<std::string> readText(const AXUIElementRef& element, const std::string& attribute) {
  auto value = read(element, attribute);
  if (auto* text = std::get_if<std::string>(&value)) return *text;
  return std::nullopt;
}

std::vector<AXUIElementRef> readChildren(const AXUIElementRef& element) {
  auto value = read(element, kAXChildrenAttribute);
  if (auto* children = std::get_if<std::vector<AXUIElementRef>>(&value)) return *children;
  return {};
}

template <class T>
std::optional<T> readGeometry(const AXUIElementRef& element, const std::string& attribute, AXValueType type) {
  auto value = read(element, attribute);
  auto* boxed = std::get_if<AXValueRef>(&value);
  T result{};
  if (!boxed || !AXValueGetValue(*boxed, type, &result)) return std::nullopt;
  return result;
}

}  // namespace

std::shared_ptr<ExperimentalDockRegions> ExperimentalDockRegions::make() {
  return std::shared_ptr<ExperimentalDockRegions>(new ExperimentalDockRegions());
}

ExperimentalDockRegions::ExperimentalDockRegions()
    : queue_(DispatchQueue::make("vurle.experimental-dock-regions", QoS::userInitiated)),
      hitTest_(ExperimentalCursorHitTest::make()),
      requestedAt_(-std::numeric_limits<double>::infinity()) {}

std::optional<ExperimentalDockRegions::Context> ExperimentalDockRegions::requestRefresh(CGRect screenFrame,
                                                                                       CGPoint point) {
  const double now = systemUptime();
  if (!pending_ && now - requestedAt_ >= kReadInterval) {
    pending_ = true;
    requestedAt_ = now;
    queue_->async([weak = weak_from_this(), hitTest = hitTest_, screenFrame, point, generation = generation_, now] {
      auto items = readDock(hitTest, screenFrame, point);
      DispatchQueue::main()->async([weak, generation, items = std::move(items), now]() mutable {
        if (auto self = weak.lock()) self->apply(generation, std::move(items), now);
      });
    });
  }
  if (!snapshot_ || !(now < snapshot_->until)) return std::nullopt;
  const bool inside = std::any_of(snapshot_->items.begin(), snapshot_->items.end(),
                                  [&](const Item& item) { return CGRectContainsPoint(item.bounds, point); });
  if (!inside) return std::nullopt;
  return snapshot_;
}

std::vector<ExperimentalDockRegions::Item> ExperimentalDockRegions::readDock(
    const std::optional<ExperimentalCursorHitTest>& hitTest, CGRect screenFrame, CGPoint point) {
  if (!hitTest) return {};
  const auto hit = hitTest->hit(point);
  if (!hit || hit->level != CGWindowLevelForKey(kCGDockWindowLevelKey)) return {};
  const auto owner = NSRunningApplication::runningApplicationWithProcessIdentifier(hit->pid);
  if (!owner || owner->bundleIdentifier() != kDockBundleIdentifier) return {};

  const auto application = AXUIElementCreateApplication(hit->pid);
  AXUIElementRef list;
  for (const auto& child : readChildren(application)) {
    if (readText(child, kAXRoleAttribute) == kAXListRole) {
      list = child;
      break;
    }
  }
  if (!list) return {};
  const auto children = readChildren(list);
  if (children.empty() || children.size() > kMaximumChildren) return {};

  std::vector<Item> items;
  for (const auto& child : children) {
    const auto subrole = readText(child, kAXSubroleAttribute);
    if (!subrole || !isDockItemSubrole(*subrole)) continue;
    const auto position = readGeometry<CGPoint>(child, kAXPositionAttribute, kAXValueCGPointType);
    const auto size = readGeometry<CGSize>(child, kAXSizeAttribute, kAXValueCGSizeType);
    if (!position || !size) continue;
    const CGRect bounds = CGRectIntersection(CGRectMake(position->x, position->y, size->width, size->height),
                                             screenFrame);
    if (CGRectIsNull(bounds) || CGRectIsEmpty(bounds)) continue;
    items.push_back({bounds, *subrole == kAXSeparatorDockItemSubrole});
  }
  return items;
}

void ExperimentalDockRegions::apply(int generation, std::vector<Item> items, double startedAt) {
  pending_ = false;
  if (generation != generation_) {
    if (onRefresh_) onRefresh_();
    return;
  }
  const bool verified = !items.empty();
  const size_t count = items.size();
  snapshot_ = verified ? std::optional<Context>(Context{std::move(items), startedAt + kTrustedFor}) : std::nullopt;
  const std::string result = verified ? "verified-items" : "no-verified-items";
  if (result != lastReadResult_) {
    lastReadResult_ = result;
    CursorTrace::shared()->record(
        "dock-region-read",
        {.value = verified ? std::optional<double>(static_cast<double>(count)) : std::nullopt, .detail = result});
  }
  if (verified && onRefresh_) onRefresh_();
}

void ExperimentalDockRegions::invalidate() {
  snapshot_.reset();
  requestedAt_ = -std::numeric_limits<double>::infinity();
  ++generation_;
}

}  // namespace vurle
