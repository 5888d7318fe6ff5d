#include "platform/appkit/window.hpp"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "platform/appkit/application.hpp"
#include "platform/appkit/screen.hpp"
#include "platform/appkit/view.hpp"

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
  auto app = NSApplication::shared();
  app->keyWindow_ = weak_from_this();
  if (canBecomeMainWindow()) app->mainWindow_ = weak_from_this();
}

void NSWindow::orderFront(const void*) { visible_ = true; }

void NSWindow::orderOut(const void*) {
  visible_ = false;
  auto app = NSApplication::shared();
  if (app->keyWindow().get() == this) app->keyWindow_.reset();
  if (app->mainWindow().get() == this) app->mainWindow_.reset();
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

}  // namespace platform
