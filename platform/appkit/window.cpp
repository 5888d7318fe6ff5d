#include "platform/appkit/window.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "platform/appkit/application.hpp"
#include "platform/appkit/button.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"
#include "platform/windowserver/spaces.hpp"
#include "platform/windowserver/window_list.hpp"

namespace platform {
namespace {

bool validScale(CGFloat factor) { return std::isfinite(factor) && factor > 0; }

CGFloat primaryScreenScale() {
  const auto screens = NSScreen::screens();
  return screens.empty() ? 1.0 : screens.front()->backingScaleFactor();
}

}  // namespace

std::shared_ptr<NSWindow> NSWindow::make(NSRect contentRect, CGFloat backingScaleFactor) {
  if (!validScale(backingScaleFactor)) return nullptr;
  auto window = std::make_shared<NSWindow>(contentRect, NSWindowStyleMask{0});
  window->backingScaleFactor_ = backingScaleFactor;
  return window;
}

NSWindow::NSWindow(NSRect contentRect, NSWindowStyleMask styleMask)
    : frame_(contentRect), styleMask_(styleMask), backingScaleFactor_(primaryScreenScale()) {}

NSWindow::NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool)
    : NSWindow(contentRect, styleMask) {
  backingType_ = backing;
}

NSWindow::~NSWindow() { unpublish(); }

void NSWindow::setAlphaValue(CGFloat alpha) {
  if (std::isnan(alpha)) return;
  alphaValue_ = std::clamp(alpha, 0.0, 1.0);
  if (windowNumber_ >= 1) publish(false);
}

void NSWindow::publish(bool toFront) {
  auto& table = WindowTable::shared();
  if (windowNumber_ < 1) {
    windowNumber_ = table.allocateWindowNumber();
    NSApplication::shared()->noteWindow(weak_from_this());
  }
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  WindowRecord record;
  record.number = static_cast<CGWindowID>(windowNumber_);
  record.ownerPID = static_cast<int32_t>(::getpid());
  record.layer = static_cast<CGWindowLevel>(level_);
  record.alpha = alphaValue_;
  record.bounds = CGRectMake(CGRectGetMinX(frame_), top - CGRectGetMaxY(frame_), CGRectGetWidth(frame_),
                             CGRectGetHeight(frame_));
  record.onScreen = visible_;
  if (toFront || !table.updateWindow(record)) {
    table.removeWindow(record.number);
    table.addWindow(record);
  }
}

long NSWindow::windowNumberAtPoint(NSPoint point, long belowWindowWithWindowNumber) {
  const auto screens = NSScreen::screens();
  const CGFloat top = screens.empty() ? 0 : CGRectGetMaxY(screens.front()->frame());
  const auto below = belowWindowWithWindowNumber > 0 ? static_cast<CGWindowID>(belowWindowWithWindowNumber)
                                                     : kCGNullWindowID;
  const auto window = WindowTable::shared().windowAt(CGPointMake(point.x, top - point.y), below);
  return window ? static_cast<long>(window->number) : 0;
}

void NSWindow::unpublish() {
  if (windowNumber_ < 1) return;
  WindowTable::shared().removeWindow(static_cast<CGWindowID>(windowNumber_));
  Spaces::shared().forgetWindow(static_cast<CGWindowID>(windowNumber_));
  windowNumber_ = -1;
}

void NSWindow::setFrame(NSRect frame, bool display, bool animate) {
  setFrame(frame, display);
  lastFrameChangeAnimated_ = animate;
}

void NSWindow::setFrame(NSRect frame, bool) {
  lastFrameChangeAnimated_ = false;
  frame_ = frame;
  if (contentView_) contentView_->setFrame(NSMakeRect(0, 0, frame.size.width, frame.size.height));
  if (windowNumber_ >= 1) publish(false);
}

void NSWindow::setLevel(NSWindowLevel level) {
  level_ = level;
  if (windowNumber_ >= 1) publish(false);
}

void NSWindow::setContentView(const std::shared_ptr<NSView>& view) {
  if (view == contentView_) return;
  const auto old = std::exchange(contentView_, nullptr);
  if (old) old->moveToWindow(nullptr);
  if (!view) return;
  if (auto other = view->window(); other && other->contentView_ == view) other->contentView_.reset();
  view->detachFromSuperview();
  view->setFrame(NSMakeRect(0, 0, frame_.size.width, frame_.size.height));
  contentView_ = view;
  view->moveToWindow(shared_from_this());
}

void NSWindow::setBackingScaleFactor(CGFloat factor) {
  if (!validScale(factor) || factor == backingScaleFactor_) return;
  backingScaleFactor_ = factor;
  if (contentView_) contentView_->notifyBackingChange();
}

bool NSWindow::isKeyWindow() const { return NSApplication::shared()->keyWindow().get() == this; }

bool NSWindow::isMainWindow() const { return NSApplication::shared()->mainWindow().get() == this; }

void NSWindow::makeKeyAndOrderFront(const void* sender) {
  orderFront(sender);
  makeKeyWindow();
}

void NSWindow::makeKeyWindow() {
  if (!canBecomeKeyWindow()) return;
  auto app = NSApplication::shared();
  const auto previous = app->keyWindow();
  app->keyWindow_ = weak_from_this();
  if (canBecomeMainWindow()) app->mainWindow_ = weak_from_this();
  if (previous.get() == this) return;
  if (previous) previous->tellDelegate(&NSWindowDelegate::windowDidResignKey, "NSWindowDidResignKeyNotification");
  tellDelegate(&NSWindowDelegate::windowDidBecomeKey, "NSWindowDidBecomeKeyNotification");
}

void NSWindow::orderFront(const void*) {
  visible_ = true;
  publish(true);
  if (!orderedInOnce_) {
    orderedInOnce_ = true;
    if (auto initial = initialFirstResponder()) makeFirstResponder(initial);
  }
}

void NSWindow::orderFrontRegardless() { orderFront(); }

void NSWindow::close() {
  tellDelegate(&NSWindowDelegate::windowWillClose, "NSWindowWillCloseNotification");
  orderOut();
  unpublish();
}

void NSWindow::orderOut(const void*) {
  visible_ = false;
  if (windowNumber_ >= 1) publish(false);
  auto app = NSApplication::shared();
  const bool wasKey = app->keyWindow().get() == this;
  if (wasKey) app->keyWindow_.reset();
  if (app->mainWindow().get() == this) app->mainWindow_.reset();
  if (wasKey) tellDelegate(&NSWindowDelegate::windowDidResignKey, "NSWindowDidResignKeyNotification");
}

void NSWindow::tellDelegate(void (NSWindowDelegate::*callback)(const NSNotification&), const char* name) {
  if (auto current = delegate()) ((*current).*callback)(NSNotification{name, this, {}});
}

std::shared_ptr<NSButton> NSWindow::standardWindowButton(NSWindowButton kind) {
  if ((styleMask_ & NSWindowStyleMaskTitled) == 0) return nullptr;
  auto& button = standardButtons_[static_cast<int>(kind)];
  if (!button) button = std::make_shared<NSButton>(NSMakeRect(0, 0, 14, 16));
  return button;
}

void NSWindow::center() {
  const auto screens = NSScreen::screens();
  if (screens.empty()) return;
  const CGRect screen = screens.front()->frame();
  setFrame(NSMakeRect(CGRectGetMidX(screen) - frame_.size.width / 2, CGRectGetMidY(screen) - frame_.size.height / 2,
                      frame_.size.width, frame_.size.height),
           false);
}

void NSWindow::miniaturize(const void*) {
  if ((styleMask_ & NSWindowStyleMaskMiniaturizable) == 0 || miniaturized_ || !visible_) return;
  miniaturized_ = true;
  orderOut();
  tellDelegate(&NSWindowDelegate::windowDidMiniaturize, "NSWindowDidMiniaturizeNotification");
}

void NSWindow::deminiaturize(const void*) {
  if (!miniaturized_) return;
  miniaturized_ = false;
  makeKeyAndOrderFront();
  tellDelegate(&NSWindowDelegate::windowDidDeminiaturize, "NSWindowDidDeminiaturizeNotification");
}

void NSWindow::beginSheet(const std::shared_ptr<NSWindow>& sheet, std::function<void(NSModalResponse)> completionHandler) {
  if (!sheet) throw std::invalid_argument("NSWindow::beginSheet: no sheet");
  if (sheet.get() == this) throw std::logic_error("NSWindow::beginSheet: a window cannot be its own sheet");
  if (attachedSheet_) throw std::logic_error("NSWindow::beginSheet: this window already has a sheet attached");
  if (sheet->isSheet()) throw std::logic_error("NSWindow::beginSheet: the sheet is attached to another window");
  attachedSheet_ = sheet;
  sheetCompletion_ = std::move(completionHandler);
  sheet->sheetParent_ = weak_from_this();
  sheet->makeKeyAndOrderFront();
}

void NSWindow::endSheet(const std::shared_ptr<NSWindow>& sheet, NSModalResponse returnCode) {
  if (!sheet || sheet != attachedSheet_) return;
  const bool wasKey = sheet->isKeyWindow();
  auto completion = std::move(sheetCompletion_);
  sheetCompletion_ = nullptr;
  attachedSheet_.reset();
  sheet->sheetParent_.reset();
  sheet->orderOut();
  if (wasKey && visible_) makeKeyWindow();
  if (completion) completion(returnCode);
}

NSRect NSWindow::contentLayoutRect() const {
  if (contentLayoutRect_) return *contentLayoutRect_;
  constexpr CGFloat kTitleBar = 28;
  const CGFloat bar = (styleMask_ & NSWindowStyleMaskTitled) ? std::min(kTitleBar, frame_.size.height) : 0;
  return CGRectMake(0, 0, frame_.size.width, frame_.size.height - bar);
}

}  // namespace platform
