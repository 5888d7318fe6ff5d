#include "cursor/engine/native_surface_policy.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cursor/native/cursor_trace.hpp"
#include "platform/accessibility/accessibility.hpp"
#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/workspace.hpp"
#include "platform/dispatch/clock.hpp"
#include "platform/dispatch/weak_block.hpp"
#include "platform/dyld/symbol_registry.hpp"

namespace vurle {

using namespace platform;

namespace {

constexpr CGFloat kMinimumMenuBarBand = 28;
constexpr CGFloat kCameraHousingMargin = 4;
constexpr CGFloat kEdgeInset = 2;
constexpr double kRefreshAge = 0.08;
constexpr double kUsableAge = 0.16;
constexpr CGFloat kScreenshotMinimumWidth = 300;
constexpr CGFloat kScreenshotMinimumHeight = 40;
constexpr int64_t kModalPanelLevel = 8;
constexpr int64_t kPopUpMenuLevel = 101;
constexpr int64_t kHighestMenuLevel = 999;
constexpr int64_t kApplicationLevelLimit = 4;  // below it: ordinary application windows
constexpr CGFloat kMenuReach = 80;
constexpr double kHitRepeatAge = 0.025;
constexpr CGFloat kHitRepeatDistance = 8;
constexpr double kHitTrustedAge = 0.07;
constexpr CGFloat kHitTrustedDistance = 24;
constexpr float kMessagingTimeout = 0.015f;
constexpr size_t kOwnerCacheLimit = 127;
// On-screen windows only, without the desktop.
constexpr CGWindowListOption kWindowListOptions = kCGWindowListOptionOnScreenOnly | kCGWindowListExcludeDesktopElements;

const char* const kSystemOwners[] = {"SecurityAgent",       "UserNotificationCenter", "CoreServicesUIAgent",
                                     "Control Center",      "Notification Center",    "SystemUIServer",
                                     "loginwindow"};
const char* const kScreenshotOwners[] = {"Screenshot", "screencaptureui", "ScreenCaptureUI"};

bool isSystemOwner(const std::string& owner) {
  return std::any_of(std::begin(kSystemOwners), std::end(kSystemOwners), [&](const char* o) { return owner == o; });
}

bool isScreenshotOwner(const std::string& owner) {
  return std::any_of(std::begin(kScreenshotOwners), std::end(kScreenshotOwners),
                     [&](const char* o) { return owner == o; });
}

bool isMenuLevel(int64_t layer) { return layer >= kPopUpMenuLevel && layer <= kHighestMenuLevel; }

CGFloat menuBarBand(const NativeSurfacePolicy::Screen& screen) {
  return std::max(screen.safeTop + kCameraHousingMargin, kMinimumMenuBarBand);
}

bool inMenuBarBand(const NativeSurfacePolicy::Screen& screen, CGPoint p) {
  return p.y >= CGRectGetMaxY(screen.frame) - menuBarBand(screen);
}

bool outsideEdgeInset(const NativeSurfacePolicy::Screen& screen, CGPoint p) {
  return !CGRectContainsPoint(CGRectInset(screen.frame, kEdgeInset, kEdgeInset), p);
}

bool isMenuSurface(const std::optional<ExperimentalCursorSurface>& surface) {
  return surface && surface->kind == ExperimentalCursorSurface::Kind::menu;
}

bool isAppSurface(const std::optional<ExperimentalCursorSurface>& surface) {
  return surface && surface->kind == ExperimentalCursorSurface::Kind::app;
}

int32_t thisProcess() { return static_cast<int32_t>(::getpid()); }

// The Dock's rectangle from the window server, when it gives a usable one.
NativeSurfacePolicy::DockBoundsReader makeDockBoundsReader() {
  auto main = dlsym<CGSMainConnectionIDFn>(RTLD_DEFAULT, "CGSMainConnectionID");
  auto dockRect = dlsym<SLSGetDockRectWithReasonFn>(RTLD_DEFAULT, "SLSGetDockRectWithReason");
  if (!main || !dockRect) return [] { return std::optional<CGRect>(); };
  return [main = *main, dockRect = *dockRect]() -> std::optional<CGRect> {
    CGRect rect{};
    int32_t reason = 0;
    if (dockRect(main(), &rect, &reason) != kCGErrorSuccess) return std::nullopt;
    const bool finite = std::isfinite(rect.origin.x) && std::isfinite(rect.origin.y) &&
                        std::isfinite(rect.size.width) && std::isfinite(rect.size.height);
    if (!finite || !(rect.size.width > 0) || !(rect.size.height > 0)) return std::nullopt;
    return rect;
  };
}

}  // namespace

std::shared_ptr<NativeSurfacePolicy> NativeSurfacePolicy::make(std::optional<int32_t> foregroundPID,
                                                               DialogReader readAccessibilityDialog,
                                                               WindowNumberReader hitWindowNumber) {
  if (!readAccessibilityDialog) readAccessibilityDialog = &NativeSurfacePolicy::readFocusedDialog;
  if (!hitWindowNumber) {
    hitWindowNumber = [](CGPoint point) { return NSWindow::windowNumberAtPoint(point, 0); };
  }
  std::shared_ptr<NativeSurfacePolicy> policy(
      new NativeSurfacePolicy(foregroundPID, std::move(readAccessibilityDialog), std::move(hitWindowNumber)));
  policy->screenObserver_ = NSNotificationCenter::defaultCenter().addObserverForName(
      NSApplicationDidChangeScreenParametersNotification, nullptr, DispatchQueue::main(),
      weakBlock(policy, [](NativeSurfacePolicy& self, const NSNotification&) {
        self.refreshScreens();
        self.invalidate();
      }));
  return policy;
}

NativeSurfacePolicy::NativeSurfacePolicy(std::optional<int32_t> foregroundPID, DialogReader readAccessibilityDialog,
                                         WindowNumberReader hitWindowNumber)
    : windowQueue_(DispatchQueue::make("mirt.vurle.window-policy", QoS::userInitiated)),
      ownerIdentities_(std::make_shared<OwnerIdentities>()),
      foregroundPID_(foregroundPID),
      readAccessibilityDialog_(std::move(readAccessibilityDialog)),
      hitWindowNumber_(std::move(hitWindowNumber)),
      readDockBounds_(makeDockBoundsReader()) {
  refreshScreens();
}

void NativeSurfacePolicy::refreshScreens() {
  screens_.clear();
  for (const auto& screen : NSScreen::screens()) {
    screens_.push_back({screen->frame(), screen->safeAreaInsets().top});
  }
}

CGFloat NativeSurfacePolicy::flipY() const {
  return screens_.empty() ? 0 : CGRectGetMaxY(screens_.front().frame);
}

const NativeSurfacePolicy::Screen* NativeSurfacePolicy::screenAt(CGPoint point) const {
  for (const auto& screen : screens_) {
    if (CGRectContainsPoint(screen.frame, point)) return &screen;
  }
  return nullptr;
}

std::optional<std::string> NativeSurfacePolicy::screenEdgeReason(CGPoint point) const {
  const Screen* screen = screenAt(point);
  if (!screen) return kScreenEdge;
  if (inMenuBarBand(*screen, point)) return kMenuBar;
  if (outsideEdgeInset(*screen, point)) return kScreenEdge;
  return std::nullopt;
}

std::optional<std::string> NativeSurfacePolicy::evaluate(CGPoint pointer, const std::shared_ptr<NSWindow>& host,
                                                         bool menuEntry,
                                                         const std::optional<ExperimentalCursorSurface>& surface,
                                                         bool bottomEdgeOnly) {
  const Screen* screen = screenAt(pointer);
  if (!screen) return kScreenEdge;
  if (inMenuBarBand(*screen, pointer)) return kMenuBar;
  if (outsideEdgeInset(*screen, pointer)) {
    if (!bottomEdgeOnly || pointer.y < CGRectGetMinY(screen->frame) + kEdgeInset) return kScreenEdge;
  }
  if (menuTracking_ && !(menuEntry && foregroundPID_ == thisProcess()) && !isMenuSurface(surface)) return kMenu;
  if (auto app = NSApplication::shared(); app->modalWindow() || (host && host->attachedSheet())) return kDialog;

  const double age = systemUptime() - inspectedAt_;
  if (age > kRefreshAge) refresh();
  if (inspectedAt_ == 0 || age > kUsableAge) return kPending;
  if (focusedDialog_) return kDialog;

  const CGPoint serverPoint = toWindowServer(pointer);
  if (dockBounds_ && CGRectContainsPoint(*dockBounds_, serverPoint) && !isAppSurface(surface)) return kDock;
  return blockingWindow(pointer, serverPoint, menuEntry, surface);
}

std::optional<std::string> NativeSurfacePolicy::blockingWindow(CGPoint pointer, CGPoint serverPoint, bool menuEntry,
                                                               const std::optional<ExperimentalCursorSurface>& surface) {
  const int64_t dragging = CGWindowLevelForKey(kCGDraggingWindowLevelKey);
  std::optional<long> windowAtPointer;  // asked at most once per evaluation
  for (const auto& w : cachedWindows_) {
    // A visible screenshot interface keeps the native cursor wherever it is.
    if (!animateDuringCapture_ && isScreenshotOwner(w.owner) && w.layer >= 1 &&
        CGRectGetWidth(w.bounds) > kScreenshotMinimumWidth && CGRectGetHeight(w.bounds) > kScreenshotMinimumHeight) {
      return kScreenshot;
    }
    const bool under = CGRectContainsPoint(w.bounds, serverPoint);
    if (!under) continue;
    const bool candidate =
        w.systemOwner || (w.layer != dragging && ((w.layer > kHighestMenuLevel && w.elevatedUtility) ||
                                                  w.layer == kModalPanelLevel || isMenuLevel(w.layer)));
    if (!candidate) continue;
    if (w.elevatedUtility) {
      // The utility's window may be transparent where the pointer is: trust
      // it only when nothing else is named at the pointer.
      if (!windowAtPointer) windowAtPointer = hitWindowNumber_(pointer);
      if (*windowAtPointer >= 1 && w.id != 0 && static_cast<long>(w.id) != *windowAtPointer) continue;
    }
    if (isMenuSurface(surface) && !w.systemOwner && w.id == surface->windowID) continue;
    if (menuEntry && w.pid >= 1 && foregroundPID_ == w.pid && w.layer == kPopUpMenuLevel && !w.systemOwner &&
        !w.elevatedUtility) {
      continue;
    }
    const char* detail = w.elevatedUtility ? "verified-notch-utility"
                         : w.systemOwner   ? "system-surface"
                                           : "menu-or-dialog";
    CursorTrace::shared()->record("surface-policy-block",
                                  {.value = static_cast<double>(w.layer), .detail = detail});
    return w.layer < kPopUpMenuLevel ? kDialog : kMenu;
  }
  return std::nullopt;
}

void NativeSurfacePolicy::refresh() {
  if (windowLookupInFlight_) return;
  windowLookupInFlight_ = true;
  const uint64_t generation = generation_;
  const double startedAt = systemUptime();
  readDialog();
  windowQueue_->async([weak = weak_from_this(), owners = ownerIdentities_, readDock = readDockBounds_, generation,
                       startedAt] {
    std::optional<std::vector<Window>> list;
    if (auto info = CGWindowListCopyWindowInfo(kWindowListOptions, kCGNullWindowID)) {
      list = parseWindowList(info, *owners);
    }
    std::optional<CGRect> dock = readDock ? readDock() : std::nullopt;
    DispatchQueue::main()->async([weak, generation, list = std::move(list), dock, startedAt] {
      if (auto self = weak.lock()) self->windowListRead(generation, list, dock, startedAt);
    });
  });
}

void NativeSurfacePolicy::windowListRead(uint64_t generation, std::optional<std::vector<Window>> list,
                                         std::optional<CGRect> dock, double startedAt) {
  windowLookupInFlight_ = false;
  if (generation != generation_) {
    refresh();
    return;
  }
  if (!list) return;
  cachedWindows_ = std::move(*list);
  dockBounds_ = dock;
  inspectedAt_ = startedAt;
  if (onRefresh_) onRefresh_();
}

void NativeSurfacePolicy::readDialog() {
  if (dialogLookupInFlight_) return;
  dialogLookupInFlight_ = true;
  const uint64_t generation = generation_;
  const std::optional<int32_t> pid = foregroundPID_;
  DispatchQueue::global(QoS::utility)->async([weak = weak_from_this(), read = readAccessibilityDialog_, generation,
                                               pid] {
    const bool dialog = pid ? read(*pid) : false;
    DispatchQueue::main()->async([weak, generation, pid, dialog] {
      auto self = weak.lock();
      if (!self) return;
      self->dialogLookupInFlight_ = false;
      if (generation == self->generation_ && pid == self->foregroundPID_) self->focusedDialog_ = dialog;
    });
  });
}

void NativeSurfacePolicy::invalidate() {
  ++generation_;
  inspectedAt_ = 0;
  focusedDialog_ = false;
  experimentalHit_.reset();
  refresh();
}

size_t NativeSurfacePolicy::knownOwnerCount() const {
  size_t count = 0;
  windowQueue_->sync([&] { count = ownerIdentities_->size(); });
  return count;
}

void NativeSurfacePolicy::forgetOwners() {
  windowQueue_->async([owners = ownerIdentities_] { owners->clear(); });
}

std::vector<NativeSurfacePolicy::Window> NativeSurfacePolicy::parseWindowList(const CFArrayRef& list,
                                                                             OwnerIdentities& owners) {
  std::vector<Window> windows;
  if (!list) return windows;
  const int32_t self = thisProcess();
  const int64_t dragging = CGWindowLevelForKey(kCGDraggingWindowLevelKey);
  for (const auto& entry : *list) {
    const int32_t pid = entryInteger<int32_t>(entry, kCGWindowOwnerPID).value_or(0);
    if (pid == self) continue;
    if (auto alpha = entry.find(kCGWindowAlpha); alpha != entry.end() && alpha->second.asDouble() == 0.0) continue;
    const int64_t layer = entryInteger<int64_t>(entry, kCGWindowLayer).value_or(0);
    std::string owner;
    if (auto name = entry.find(kCGWindowOwnerName); name != entry.end() && name->second.asString()) {
      owner = *name->second.asString();
    }
    const bool systemOwner = isSystemOwner(owner);
    auto identity = owners.find(pid);
    if (identity == owners.end()) {
      if (auto app = NSRunningApplication::runningApplicationWithProcessIdentifier(pid)) {
        if (owners.size() > kOwnerCacheLimit) owners.clear();
        identity = owners.emplace(pid, app->bundleIdentifier().value_or("")).first;
      }
    }
    const bool elevatedUtility = identity != owners.end() && identity->second == kElevatedUtilityBundleIdentifier;
    const bool keep = systemOwner ||
                      (layer != dragging && ((elevatedUtility && layer > kHighestMenuLevel) ||
                                             layer == kModalPanelLevel || isMenuLevel(layer))) ||
                      (isScreenshotOwner(owner) && layer >= 1);
    if (!keep) continue;
    auto boundsEntry = entry.find(kCGWindowBounds);
    if (boundsEntry == entry.end() || !boundsEntry->second.asDictionary()) continue;
    CGRect bounds{};
    if (!CGRectMakeWithDictionaryRepresentation(*boundsEntry->second.asDictionary(), &bounds)) continue;
    const uint32_t id = entryInteger<uint32_t>(entry, kCGWindowNumber).value_or(0);
    windows.push_back({id, layer, pid, std::move(owner), bounds, systemOwner, elevatedUtility});
  }
  return windows;
}

bool NativeSurfacePolicy::readFocusedDialog(int32_t pid) {
  auto application = AXUIElementCreateApplication(pid);
  AXUIElementSetMessagingTimeout(application, kMessagingTimeout);
  AXAttributeValue focused;
  if (AXUIElementCopyAttributeValue(application, kAXFocusedWindowAttribute, &focused) != kAXErrorSuccess ||
      !std::holds_alternative<AXUIElementRef>(focused) || !std::get<AXUIElementRef>(focused)) {
    return false;
  }
  const auto window = std::get<AXUIElementRef>(focused);
  AXUIElementSetMessagingTimeout(window, kMessagingTimeout);
  AXAttributeValue subrole;
  if (AXUIElementCopyAttributeValue(window, kAXSubroleAttribute, &subrole) == kAXErrorSuccess) {
    if (auto* text = std::get_if<std::string>(&subrole);
        text && (*text == kAXDialogSubrole || *text == kAXSystemDialogSubrole)) {
      return true;
    }
  }
  AXAttributeValue sheets;
  if (AXUIElementCopyAttributeValue(window, kAXSheetsAttribute, &sheets) != kAXErrorSuccess) return false;
  auto* list = std::get_if<std::vector<AXUIElementRef>>(&sheets);
  return list && !list->empty();
}

std::vector<CGRect> NativeSurfacePolicy::allowedRegions() const {
  std::vector<CGRect> regions;
  const CGFloat flip = flipY();
  for (const auto& screen : screens_) {
    const CGRect inner = CGRectInset(screen.frame, kEdgeInset, kEdgeInset);
    const CGFloat top = CGRectGetMaxY(screen.frame) - menuBarBand(screen);
    const CGRect region = CGRectMake(CGRectGetMinX(inner), flip - top, CGRectGetWidth(inner),
                                     std::max<CGFloat>(0, top - CGRectGetMinY(inner)));
    for (const auto& piece : subtract(region, dockBounds_)) regions.push_back(piece);
  }
  return regions;
}

std::vector<CGRect> NativeSurfacePolicy::subtract(CGRect rect, std::optional<CGRect> hole) {
  if (!hole) return {rect};
  const CGRect cut = CGRectIntersection(rect, *hole);
  if (CGRectIsNull(cut) || CGRectIsEmpty(cut)) return {rect};
  const CGRect pieces[] = {
      CGRectMake(CGRectGetMinX(rect), CGRectGetMinY(rect), CGRectGetWidth(rect),
                 CGRectGetMinY(cut) - CGRectGetMinY(rect)),
      CGRectMake(CGRectGetMinX(rect), CGRectGetMaxY(cut), CGRectGetWidth(rect),
                 CGRectGetMaxY(rect) - CGRectGetMaxY(cut)),
      CGRectMake(CGRectGetMinX(rect), CGRectGetMinY(cut), CGRectGetMinX(cut) - CGRectGetMinX(rect),
                 CGRectGetHeight(cut)),
      CGRectMake(CGRectGetMaxX(cut), CGRectGetMinY(cut), CGRectGetMaxX(rect) - CGRectGetMaxX(cut),
                 CGRectGetHeight(cut)),
  };
  std::vector<CGRect> result;
  for (const auto& piece : pieces) {
    if (!CGRectIsEmpty(piece)) result.push_back(piece);
  }
  return result;
}

bool NativeSurfacePolicy::overlapsElevatedUtility(CGRect rect) const {
  if (CGRectIsEmpty(rect) || screens_.empty()) return false;
  const CGRect server = CGRectMake(CGRectGetMinX(rect), flipY() - CGRectGetMaxY(rect), CGRectGetWidth(rect),
                                   CGRectGetHeight(rect));
  return std::any_of(cachedWindows_.begin(), cachedWindows_.end(), [&](const Window& w) {
    return w.elevatedUtility && CGRectIntersectsRect(w.bounds, server);
  });
}

std::optional<ExperimentalCursorSurface> NativeSurfacePolicy::experimentalSurface(CGPoint pointer) {
  const Screen* screen = screenAt(pointer);
  if (!screen || inMenuBarBand(*screen, pointer) || outsideEdgeInset(*screen, pointer)) return std::nullopt;
  const CGFloat flip = flipY();
  const CGPoint p = toWindowServer(pointer);
  // The lower edge of the menu-bar band, in window-server coordinates.
  const CGFloat band = menuBarBand(*screen) + (flip - CGRectGetMaxY(screen->frame));
  const bool nearMenuBar = p.y <= band + kMenuReach;
  const bool relevant =
      (nearMenuBar && (menuTracking_ || std::any_of(cachedWindows_.begin(), cachedWindows_.end(),
                                                    [&](const Window& w) {
                                                      return w.layer == kPopUpMenuLevel &&
                                                             CGRectGetMinY(w.bounds) <= band &&
                                                             CGRectContainsPoint(w.bounds, p);
                                                    }))) ||
      (dockBounds_ && CGRectContainsPoint(*dockBounds_, p)) ||
      std::any_of(cachedWindows_.begin(), cachedWindows_.end(),
                  [&](const Window& w) { return w.elevatedUtility && CGRectContainsPoint(w.bounds, p); });
  if (!relevant) return std::nullopt;

  const double now = systemUptime();
  const double infinity = std::numeric_limits<double>::infinity();
  const double distance =
      experimentalHit_ ? std::hypot(p.x - experimentalHit_->point.x, p.y - experimentalHit_->point.y) : infinity;
  const double age = experimentalHit_ ? now - experimentalHit_->time : infinity;
  if (!hitTestResolved_) {
    hitTestResolved_ = true;
    experimentalHitTest_ = ExperimentalCursorHitTest::make();
  }
  if (!experimentalHitInFlight_ && (age >= kHitRepeatAge || distance > kHitRepeatDistance) && experimentalHitTest_) {
    experimentalHitInFlight_ = true;
    windowQueue_->async([weak = weak_from_this(), test = *experimentalHitTest_, p, generation = generation_, now] {
      auto hit = test.hit(p);
      DispatchQueue::main()->async([weak, p, generation, now, hit] {
        auto self = weak.lock();
        if (!self) return;
        self->experimentalHitInFlight_ = false;
        if (generation == self->generation_) self->experimentalHit_ = ExperimentalHit{p, now, hit};
      });
    });
  }

  if (!(age <= kHitTrustedAge && distance <= kHitTrustedDistance) || !experimentalHit_->hit) return std::nullopt;
  const auto& hit = *experimentalHit_->hit;
  if (hit.id == 0 || hit.pid <= 0 || !CGRectContainsPoint(hit.bounds, p)) return std::nullopt;
  bool menuCase = false;
  if (foregroundPID_ == hit.pid) {
    if (hit.level == kPopUpMenuLevel) {
      menuCase = true;
    } else if (hit.level < kApplicationLevelLimit) {
      return ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::app, hit.id, std::nullopt};
    }
  } else if (menuTracking_ && hit.pid == thisProcess() && hit.level == kPopUpMenuLevel) {
    menuCase = true;
  }
  if (menuCase && nearMenuBar && CGRectGetMinY(hit.bounds) <= band) {
    return ExperimentalCursorSurface{ExperimentalCursorSurface::Kind::menu, hit.id, hit.bounds};
  }
  return std::nullopt;
}

std::optional<CGRect> NativeSurfacePolicy::overlayFrame(const std::optional<ExperimentalCursorSurface>& surface) const {
  if (!surface || !surface->overlayBounds || screens_.empty()) return std::nullopt;
  const CGRect bounds = *surface->overlayBounds;
  return CGRectMake(CGRectGetMinX(bounds), flipY() - CGRectGetMaxY(bounds), CGRectGetWidth(bounds),
                    CGRectGetHeight(bounds));
}

std::optional<CGFloat> NativeSurfacePolicy::menuBarLimit(const std::optional<ExperimentalCursorSurface>& surface,
                                                         CGPoint point) const {
  if (!isMenuSurface(surface)) return std::nullopt;
  const Screen* screen = screenAt(point);
  if (!screen) return std::nullopt;
  return CGRectGetMaxY(screen->frame) - menuBarBand(*screen);
}

}  // namespace vurle
