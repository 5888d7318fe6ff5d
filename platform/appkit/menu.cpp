#include "platform/appkit/menu.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>

#include "platform/appkit/application.hpp"
#include "platform/appkit/menu_tracking.hpp"
#include "platform/graphics/text.hpp"

namespace platform {
namespace {

constexpr NSEventModifierFlags kDeviceIndependent = NSEventModifierFlagShift | NSEventModifierFlagControl |
                                                    NSEventModifierFlagOption | NSEventModifierFlagCommand;

// The picture's measures, in points.
constexpr double kRowHeight = 22;
constexpr double kSeparatorHeight = 11;
constexpr double kPadding = 5;
constexpr double kCheckColumn = 20;
constexpr double kKeyGap = 28;
constexpr double kTrailing = 12;
const TextFont kMenuFont{13, TextWeight::regular, false};

}  // namespace

std::string keyEquivalentDisplay(const std::string& key, NSEventModifierFlags mask) {
  if (key.empty()) return "";
  std::string shown;
  if (mask & NSEventModifierFlagControl) shown += "\u2303";
  if (mask & NSEventModifierFlagOption) shown += "\u2325";
  if (mask & NSEventModifierFlagShift) shown += "\u21E7";
  if (mask & NSEventModifierFlagCommand) shown += "\u2318";
  std::string upper = key;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return shown + upper;
}

std::shared_ptr<NSMenuItem> NSMenuItem::make(std::string title, std::string action, std::string keyEquivalent) {
  auto item = std::make_shared<NSMenuItem>();
  item->title_ = std::move(title);
  item->action_ = std::move(action);
  item->keyEquivalent_ = std::move(keyEquivalent);
  return item;
}

std::shared_ptr<NSMenuItem> NSMenuItem::separatorItem() {
  auto item = std::make_shared<NSMenuItem>();
  item->separator_ = true;
  item->enabled_ = false;
  return item;
}

void NSMenuItem::setSubmenu(std::shared_ptr<NSMenu> submenu) {
  if (submenu_) submenu_->supermenu_.reset();
  submenu_ = std::move(submenu);
  if (submenu_) submenu_->supermenu_ = menu_;
}

void NSMenu::addItem(const std::shared_ptr<NSMenuItem>& item) {
  if (!item) throw std::invalid_argument("NSMenu::addItem: no item");
  if (!item->menu_.expired()) throw std::logic_error("NSMenu::addItem: the item is already in a menu");
  item->menu_ = weak_from_this();
  if (item->submenu_) item->submenu_->supermenu_ = weak_from_this();
  items_.push_back(item);
}

void NSMenu::removeAllItems() {
  for (const auto& item : items_) item->menu_.reset();
  items_.clear();
}

std::shared_ptr<NSMenuItem> NSMenu::itemWithTitle(const std::string& title) const {
  for (const auto& item : items_) {
    if (item->title() == title) return item;
  }
  return nullptr;
}

bool NSMenu::validate(NSMenuItem& item) const {
  if (item.isSeparatorItem()) return false;
  if (item.action().empty()) return item.submenu() != nullptr;
  auto target = NSApplication::shared()->targetForAction(item.action(), item.target());
  return target && target->validateMenuItem(item);
}

void NSMenu::update() {
  if (!autoenablesItems_) return;
  // Validation may retitle or re-state items, never add or remove them; a
  // copy keeps the walk safe either way.
  const auto items = items_;
  for (const auto& item : items) item->setEnabled(validate(*item));
}

void NSMenu::open() {
  if (open_) return;
  // The delegate may drop the last owner of this menu while it is told.
  const auto keep = shared_from_this();
  open_ = true;
  if (auto told = delegate()) told->menuWillOpen(*this);
  update();
  NSNotificationCenter::defaultCenter().postNotificationName(NSMenuDidBeginTrackingNotification, this);
}

void NSMenu::close() {
  if (!open_) return;
  const auto keep = shared_from_this();
  open_ = false;
  if (auto told = delegate()) told->menuDidClose(*this);
  NSNotificationCenter::defaultCenter().postNotificationName(NSMenuDidEndTrackingNotification, this);
}

void NSMenu::cancelTracking() { close(); }

void NSMenu::cancelTrackingWithoutAnimation() { close(); }

bool NSMenu::performActionForItemAtIndex(size_t index) {
  if (index >= items_.size()) return false;
  const auto keep = shared_from_this();
  const auto item = items_[index];
  const bool wasOpen = open_;
  close();
  // A menu chosen from without being shown validates the item now.
  if (!wasOpen && autoenablesItems_) item->setEnabled(validate(*item));
  if (!item->isEnabled() || item->isSeparatorItem() || item->action().empty()) return false;
  return NSApplication::shared()->sendAction(item->action(), item->target(), item.get());
}

bool NSMenu::performKeyEquivalent(const NSEvent& event) {
  if (event.type() != NSEventTypeKeyDown) return false;
  const auto typed = event.charactersIgnoringModifiers();
  if (!typed || typed->empty()) return false;
  const NSEventModifierFlags held = event.modifierFlags() & kDeviceIndependent;
  const auto keep = shared_from_this();
  const auto items = items_;
  for (const auto& item : items) {
    if (auto submenu = item->submenu()) {
      if (submenu->performKeyEquivalent(event)) return true;
      continue;
    }
    if (item->isSeparatorItem() || item->keyEquivalent() != *typed ||
        (item->keyEquivalentModifierMask() & kDeviceIndependent) != held) {
      continue;
    }
    if (autoenablesItems_) item->setEnabled(validate(*item));
    if (!item->isEnabled()) continue;
    return NSApplication::shared()->sendAction(item->action(), item->target(), item.get());
  }
  return false;
}

// ---- the picture ----

CGSize NSMenu::pictureSize() const {
  double titles = 0, keys = 0, height = 2 * kPadding;
  for (const auto& item : items_) {
    if (item->isSeparatorItem()) {
      height += kSeparatorHeight;
      continue;
    }
    height += kRowHeight;
    titles = std::max(titles, measureText({item->title(), kMenuFont, {}, {}, {}}, std::nullopt).size.width);
    const auto key = keyEquivalentDisplay(item->keyEquivalent(), item->keyEquivalentModifierMask());
    if (!key.empty()) keys = std::max(keys, measureText({key, kMenuFont, {}, {}, {}}, std::nullopt).size.width);
  }
  const double width = kCheckColumn + std::ceil(titles) + (keys > 0 ? kKeyGap + std::ceil(keys) : 0) + kTrailing;
  return CGSizeMake(std::max(width, 120.0), height);
}

void NSMenu::drawPicture(cairo_t* cr) const {
  const CGSize size = pictureSize();
  const double r = 6, w = size.width, h = size.height;
  cairo_new_sub_path(cr);
  cairo_arc(cr, w - r - 0.5, r + 0.5, r, -M_PI / 2, 0);
  cairo_arc(cr, w - r - 0.5, h - r - 0.5, r, 0, M_PI / 2);
  cairo_arc(cr, r + 0.5, h - r - 0.5, r, M_PI / 2, M_PI);
  cairo_arc(cr, r + 0.5, r + 0.5, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
  cairo_set_source_rgba(cr, 0.97, 0.97, 0.97, 1);
  cairo_fill_preserve(cr);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.25);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  double y = kPadding;
  for (const auto& item : items_) {
    if (item->isSeparatorItem()) {
      cairo_set_source_rgba(cr, 0, 0, 0, 0.12);
      cairo_rectangle(cr, 10, y + std::floor(kSeparatorHeight / 2), w - 20, 1);
      cairo_fill(cr);
      y += kSeparatorHeight;
      continue;
    }
    const TextColor color = item->isEnabled() ? TextColor{0, 0, 0, 0.85} : TextColor{0, 0, 0, 0.3};
    const TextBlock title{item->title(), kMenuFont, color, {}, {}};
    const double textTop = y + std::round((kRowHeight - measureText(title, std::nullopt).size.height) / 2);
    if (item->state() != NSControlStateValue::off) {
      const TextBlock mark{item->state() == NSControlStateValue::on ? "\u2713" : "\u2013", kMenuFont, color, {}, {}};
      drawText(cr, mark, CGRectMake(6, textTop, kCheckColumn, kRowHeight));
    }
    drawText(cr, title, CGRectMake(kCheckColumn, textTop, w - kCheckColumn, kRowHeight));
    const auto key = keyEquivalentDisplay(item->keyEquivalent(), item->keyEquivalentModifierMask());
    if (!key.empty()) {
      const TextBlock shown{key, kMenuFont, TextColor{0, 0, 0, item->isEnabled() ? 0.5 : 0.25}, {}, {}};
      const double keyWidth = std::ceil(measureText(shown, std::nullopt).size.width);
      drawText(cr, shown, CGRectMake(w - kTrailing - keyWidth, textTop, keyWidth + 1, kRowHeight));
    }
    y += kRowHeight;
  }
}

bool NSMenu::writePNG(const std::string& path, double scale) const {
  if (!(scale > 0 && scale <= 8)) return false;
  const CGSize size = pictureSize();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(std::ceil(size.width * scale)),
                                                        static_cast<int>(std::ceil(size.height * scale)));
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, scale, scale);
  drawPicture(cr);
  cairo_destroy(cr);
  const bool written = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return written;
}

}  // namespace platform
