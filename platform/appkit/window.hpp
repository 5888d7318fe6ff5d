#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/color.hpp"
#include "platform/appkit/responder.hpp"
#include "platform/notifications/notification_center.hpp"
#include "platform/graphics/geometry.hpp"

namespace platform {

class NSScreen;
class NSView;
class NSButton;
class NSButtonCell;
class NSWindowController;
class NSEvent;
class NSTrackingArea;
class NSTimer;
class NSWindow;
class NSScreen;

using NSModalResponse = long;
inline constexpr NSModalResponse NSModalResponseStop = -1000;

inline const char* const NSWindowDidChangeOcclusionStateNotification = "NSWindowDidChangeOcclusionStateNotification";
// Posted on the default centre, with the window as object, as the window
// tells its delegate.
inline const char* const NSWindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline const char* const NSWindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";
inline const char* const NSWindowWillCloseNotification = "NSWindowWillCloseNotification";
inline const char* const NSWindowWillMiniaturizeNotification = "NSWindowWillMiniaturizeNotification";
inline const char* const NSWindowDidMiniaturizeNotification = "NSWindowDidMiniaturizeNotification";
inline const char* const NSWindowDidDeminiaturizeNotification = "NSWindowDidDeminiaturizeNotification";
// Posted, with the window as the object, when a new frame puts the window
// on another screen (or on none, or back on one).
inline const char* const NSWindowDidChangeScreenNotification = "NSWindowDidChangeScreenNotification";

using NSWindowStyleMask = std::uint64_t;
inline constexpr NSWindowStyleMask NSWindowStyleMaskTitled = 1 << 0;
inline constexpr NSWindowStyleMask NSWindowStyleMaskClosable = 1 << 1;
inline constexpr NSWindowStyleMask NSWindowStyleMaskMiniaturizable = 1 << 2;
inline constexpr NSWindowStyleMask NSWindowStyleMaskResizable = 1 << 3;
inline constexpr NSWindowStyleMask NSWindowStyleMaskNonactivatingPanel = 1 << 7;
inline constexpr NSWindowStyleMask NSWindowStyleMaskFullSizeContentView = 1 << 15;

using NSWindowLevel = long;
inline constexpr NSWindowLevel NSNormalWindowLevel = 0;

// Raw values as on the platform.
enum NSBackingStoreType : unsigned long {
  NSBackingStoreRetained = 0,
  NSBackingStoreNonretained = 1,
  NSBackingStoreBuffered = 2,
};
enum NSWindowAnimationBehavior : long {
  NSWindowAnimationBehaviorDefault = 0,
  NSWindowAnimationBehaviorNone = 2,
  NSWindowAnimationBehaviorDocumentWindow = 3,
  NSWindowAnimationBehaviorUtilityWindow = 4,
  NSWindowAnimationBehaviorAlertPanel = 5,
};
using NSWindowCollectionBehavior = std::uint64_t;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorDefault = 0;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorCanJoinAllSpaces = 1 << 0;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorMoveToActiveSpace = 1 << 1;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorManaged = 1 << 2;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorTransient = 1 << 3;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorStationary = 1 << 4;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorParticipatesInCycle = 1 << 5;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorIgnoresCycle = 1 << 6;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenPrimary = 1 << 7;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenAuxiliary = 1 << 8;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorCanJoinAllApplications = 1 << 18;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorFullScreenNone = 1 << 9;
inline constexpr NSWindowCollectionBehavior NSWindowCollectionBehaviorAuxiliary = 1 << 17;

enum class NSWindowTitleVisibility : long { visible = 0, hidden = 1 };
enum class NSWindowButton : long { closeButton = 0, miniaturizeButton = 1, zoomButton = 2 };

// What a window tells its delegate, on the main thread, after the change
// (windowWillClose: and windowWillMiniaturize: before it). Each is also
// posted on the default centre with the window as object.
class NSWindowDelegate {
 public:
  virtual ~NSWindowDelegate() = default;
  virtual void windowDidBecomeKey(const NSNotification& notification) { (void)notification; }
  virtual void windowDidResignKey(const NSNotification& notification) { (void)notification; }
  virtual void windowWillClose(const NSNotification& notification) { (void)notification; }
  virtual void windowWillMiniaturize(const NSNotification& notification) { (void)notification; }
  virtual void windowDidMiniaturize(const NSNotification& notification) { (void)notification; }
  virtual void windowDidDeminiaturize(const NSNotification& notification) { (void)notification; }
};

// A window of the application: its content view and backing scale,
// visibility, key and main status (kept by NSApplication) and
// document-modal sheets. Windows live in shared_ptrs; a window holds its
// attached sheet, a sheet holds its parent weakly. Main thread only.
//
// The window server knows a window from its first ordering in: it gets its
// window number then, and the server's window table lists it (this
// process as owner, its frame in window-server coordinates, its level as
// layer, on screen while ordered in). Closing or destroying the window
// takes it out of the server; a closed window ordered in again gets a new
// number.
class NSWindow : public NSResponder, public std::enable_shared_from_this<NSWindow> {
 public:
  // A window of the content rect's size at the given backing scale (pixels
  // per point); null for a scale that is not finite and above 0.
  static std::shared_ptr<NSWindow> make(NSRect contentRect, CGFloat backingScaleFactor);
  // For subclasses (panels): the backing scale is the primary screen's
  // (1 without a screen).
  NSWindow(NSRect contentRect, NSWindowStyleMask styleMask);
  // initWithContentRect:styleMask:backing:defer:. Deferral changes nothing
  // here: the window server learns of a window at its first ordering in
  // either way.
  NSWindow(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool defer);
  virtual ~NSWindow();
  NSWindow(const NSWindow&) = delete;
  NSWindow& operator=(const NSWindow&) = delete;

  const std::string& title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  NSRect frame() const { return frame_; }
  // The content view follows the new size; there is no display cycle, so
  // `display` is only accepted. The animated form takes the frame at once
  // and records that it was asked to animate.
  void setFrame(NSRect frame, bool display);
  // The same; whether the change was asked to animate is recorded, for
  // the last change (nothing is interpolated).
  void setFrame(NSRect frame, bool display, bool animate);
  bool lastFrameChangeAnimated() const { return lastFrameChangeAnimated_; }
  // The content fills the frame here (the title bar lies over its top, see
  // contentLayoutRect), so a content rect is its own frame rect.
  NSRect frameRectForContentRect(NSRect contentRect) const { return contentRect; }
  // Keeps the frame's origin.
  void setContentSize(NSSize size) { setFrame(NSMakeRect(frame_.origin.x, frame_.origin.y, size.width, size.height), false); }
  NSWindowStyleMask styleMask() const { return styleMask_; }
  NSWindowLevel level() const { return level_; }
  void setLevel(NSWindowLevel level);
  // Below 1 until the window is first ordered in, and after close().
  long windowNumber() const { return windowNumber_; }
  // The number of the frontmost window on screen, of any application,
  // under the point (AppKit global coordinates), looking only behind the
  // given window (0: from the front); 0 when there is none.
  static long windowNumberAtPoint(NSPoint point, long belowWindowWithWindowNumber);

  std::shared_ptr<NSView> contentView() const { return contentView_; }
  // The part of the content area not covered by the title bar, in window
  // coordinates (origin at the window's bottom left): the whole frame below
  // a 28 pt title bar for a titled window, the whole frame otherwise, until
  // the simulated desktop sets one.
  NSRect contentLayoutRect() const;
  void setContentLayoutRect(std::optional<NSRect> rect) { contentLayoutRect_ = rect; }
  // The view fills the content rect; it leaves its superview, or the window
  // whose content view it was, and the old content view leaves the window.
  void setContentView(const std::shared_ptr<NSView>& view);

  CGFloat backingScaleFactor() const { return backingScaleFactor_; }
  // Values that are not finite and above 0 are ignored; a change is
  // announced to every view of the window.
  void setBackingScaleFactor(CGFloat factor);

  bool isVisible() const { return visible_; }
  // Whether the window is on the active Space: true unless the simulated
  // desktop says otherwise (setOnActiveSpace).
  bool isOnActiveSpace() const { return onActiveSpace_; }
  void setOnActiveSpace(bool onActiveSpace) { onActiveSpace_ = onActiveSpace; }
  bool isKeyWindow() const;
  bool isMainWindow() const;
  // Panels and sheets never become the main window.
  virtual bool canBecomeMainWindow() const { return !isSheet(); }
  // A window that cannot become key ignores makeKeyWindow.
  virtual bool canBecomeKeyWindow() const { return true; }

  // The screen that holds the largest part of the frame; none when the
  // frame lies on no connected screen.
  std::shared_ptr<NSScreen> screen() const;
  // Whether any of the window is visible: a visible window is, unless the
  // simulated desktop covers it (setOccluded, which posts the occlusion
  // notification on the default centre with the window as object) or
  // nothing shows the screens.
  bool occlusionStateVisible() const { return visible_ && !occluded_ && screensShown(); }
  void setOccluded(bool occluded);
  // Whether anything shows the simulated desktop's screens (true until
  // set, and after a process reset). With nothing showing them every
  // window is occluded, as behind a display that is off, and each visible
  // window hears of a change.
  static bool screensShown();
  static void setScreensShown(bool shown);
  // From AppKit's global coordinates into the window's (origin at the
  // frame's bottom left, y up).
  NSPoint convertPointFromScreen(NSPoint point) const;
  // The pointer now, in the window's coordinates.
  NSPoint mouseLocationOutsideOfEventStream() const;
  // Has the view rebuild its cursor rects (at once: there is no event loop
  // that would do it later).
  void invalidateCursorRectsForView(const std::shared_ptr<NSView>& view);

  // Configuration the window server and the window menu read; plain
  // properties here, except the alpha value, which the window table shows.
  NSBackingStoreType backingType() const { return backingType_; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }
  // None until set (the window's default background).
  std::optional<NSColor> backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(NSColor color) { backgroundColor_ = color; }
  bool hasShadow() const { return hasShadow_; }
  void setHasShadow(bool shadow) { hasShadow_ = shadow; }
  // Clicks pass through to the windows below.
  bool ignoresMouseEvents() const { return ignoresMouseEvents_; }
  void setIgnoresMouseEvents(bool ignores) { ignoresMouseEvents_ = ignores; }
  bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
  void setHidesOnDeactivate(bool hides) { hidesOnDeactivate_ = hides; }
  bool areCursorRectsEnabled() const { return cursorRectsEnabled_; }
  void disableCursorRects() { cursorRectsEnabled_ = false; }
  void enableCursorRects() { cursorRectsEnabled_ = true; }
  NSWindowAnimationBehavior animationBehavior() const { return animationBehavior_; }
  void setAnimationBehavior(NSWindowAnimationBehavior behavior) { animationBehavior_ = behavior; }
  bool isExcludedFromWindowsMenu() const { return excludedFromWindowsMenu_; }
  void setExcludedFromWindowsMenu(bool excluded) { excludedFromWindowsMenu_ = excluded; }
  bool isRestorable() const { return restorable_; }
  void setRestorable(bool restorable) { restorable_ = restorable; }
  bool isReleasedWhenClosed() const { return releasedWhenClosed_; }
  void setReleasedWhenClosed(bool released) { releasedWhenClosed_ = released; }
  NSWindowCollectionBehavior collectionBehavior() const { return collectionBehavior_; }
  void setCollectionBehavior(NSWindowCollectionBehavior behavior) { collectionBehavior_ = behavior; }
  CGFloat alphaValue() const { return alphaValue_; }
  // Clamped to [0, 1]; NaN is ignored.
  void setAlphaValue(CGFloat alpha);

  // Title-bar look and sizing limits; plain properties here (the frame is
  // not clamped to the limits).
  NSWindowTitleVisibility titleVisibility() const { return titleVisibility_; }
  void setTitleVisibility(NSWindowTitleVisibility visibility) { titleVisibility_ = visibility; }
  bool titlebarAppearsTransparent() const { return titlebarAppearsTransparent_; }
  void setTitlebarAppearsTransparent(bool transparent) { titlebarAppearsTransparent_ = transparent; }
  bool isMovableByWindowBackground() const { return movableByWindowBackground_; }
  void setMovableByWindowBackground(bool movable) { movableByWindowBackground_ = movable; }
  bool acceptsMouseMovedEvents() const { return acceptsMouseMovedEvents_; }
  void setAcceptsMouseMovedEvents(bool accepts) { acceptsMouseMovedEvents_ = accepts; }
  NSSize minSize() const { return minSize_; }
  void setMinSize(NSSize size) { minSize_ = size; }
  NSSize maxSize() const { return maxSize_; }
  void setMaxSize(NSSize size) { maxSize_ = size; }
  // The title bar's button of that kind (enabled until disabled); null for
  // a window without a title bar.
  std::shared_ptr<NSButton> standardWindowButton(NSWindowButton kind);
  // Moves the window to the middle of the primary screen (keeping its
  // size); without a screen it stays where it is.
  void center();

  // A miniaturizable visible window goes to the Dock: will-miniaturize, an
  // animation of 0.25 s on the main run loop's clock (in every mode) while
  // the window stays visible, then it is ordered out (no longer key),
  // miniaturised, and did-miniaturize. It comes back in front and key.
  // Others ignore both, as does a window already on its way; closing it
  // ends the animation without miniaturising.
  bool isMiniaturized() const { return miniaturized_; }
  void miniaturize(const void* sender);
  void deminiaturize(const void* sender);
  static constexpr double miniaturizeDuration = 0.25;

  // Actions: performClose: (the close button's click) with a close button,
  // performMiniaturize: with a miniaturise button.
  bool respondsToAction(const std::string& selector) const override;
  bool performAction(const std::string& selector, const void* sender) override;
  void performClose(const void* sender);
  void performMiniaturize(const void* sender);

  // Held weakly; told of key, close and miniaturise changes.
  std::shared_ptr<NSWindowDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<NSWindowDelegate>& delegate) { delegate_ = delegate; }

  void makeKeyAndOrderFront(const void* sender = nullptr);
  void makeKeyWindow();
  void orderFront(const void* sender = nullptr);
  // In front even while the application is not active.
  void orderFrontRegardless();
  // Hides the window; it stops being key or main.
  void orderOut(const void* sender = nullptr);
  // Orders the window out and removes it from the window server.
  void close();

  bool isSheet() const { return !sheetParent_.expired(); }
  std::shared_ptr<NSWindow> attachedSheet() const { return attachedSheet_; }
  std::shared_ptr<NSWindow> sheetParent() const { return sheetParent_.lock(); }

  // Attaches the sheet and makes it key; the completion handler runs when
  // the sheet ends. The platform would queue a sheet behind one already
  // attached; nothing here needs that, so it is refused (std::logic_error),
  // as is a sheet attached elsewhere or a window as its own sheet.
  void beginSheet(const std::shared_ptr<NSWindow>& sheet,
                  std::function<void(NSModalResponse)> completionHandler = {});
  // Detaches and hides the sheet, gives the key status back to this window
  // when the sheet had it, then runs the completion handler with the code.
  // A window that is not this window's sheet is ignored.
  void endSheet(const std::shared_ptr<NSWindow>& sheet, NSModalResponse returnCode = NSModalResponseStop);

  // A pointer event in the window's coordinates, as the application hands
  // it on. A left-button press goes to the deepest view under it (the
  // content view's hitTest), the release to the view that took the press.
  // A move or drag updates the tracking areas of the window's views: each
  // area that is active (always, in the active application, or in the key
  // window, as its options say) and holds the point in its rect (the view's
  // visible rect when it asks for that) tells its owner the pointer
  // entered (with a cursor update when asked), moved, or exited, exits
  // first. A MouseExited event means the pointer left the window: every
  // area it was in is exited. A key-down or key-up goes the way "keys"
  // below describes.
  void sendEvent(const NSEvent& event);

  // Escape; a plain window does nothing with it.
  virtual void cancelOperation(const void* sender = nullptr) { (void)sender; }

  // ---- keys ----
  //
  // The first responder takes the window's key events: one of its views,
  // or the window itself (firstResponder() answers null then). A key-down
  // the application hands the key window (sendEvent) goes:
  //   1. with Command or Control held, as a key equivalent to the content
  //      view's tree (performKeyEquivalent); taken there, it ends;
  //   2. to the first responder's keyDown, which a view that does not
  //      handle it passes up its superviews to this window's keyDown;
  //   3. keyDown, last in the chain: a key equivalent without Command or
  //      Control is offered to the tree (step 1 offered the others); the
  //      default button's cell takes Return (its enabled button clicks);
  //      Escape is cancelOperation; Tab and Shift-Tab (no other modifier)
  //      move the focus to the next or previous view of the key-view loop.
  // A key-up goes to the first responder's keyUp and up the same chain.
  //
  // The key-view loop is the content view's tree in order (a view, then
  // its subviews, depth first), of the views that accept first responder
  // and are not hidden; it wraps at either end, and with none in it the
  // window becomes first responder.
  std::shared_ptr<NSView> firstResponder() const { return firstResponder_.lock(); }
  // Null makes the window first responder. The current responder is asked
  // to resign first (a refusal keeps it and answers false); then the view
  // must accept and become first responder, else the window takes the role
  // (false). A view of another window, or of none, is refused (false).
  bool makeFirstResponder(const std::shared_ptr<NSView>& responder);
  // The view made first responder when the window is first ordered in.
  std::shared_ptr<NSView> initialFirstResponder() const { return initialFirstResponder_.lock(); }
  void setInitialFirstResponder(const std::shared_ptr<NSView>& view) { initialFirstResponder_ = view; }
  // The cell of the button Return clicks; none by default.
  std::shared_ptr<NSButtonCell> defaultButtonCell() const { return defaultButtonCell_; }
  void setDefaultButtonCell(std::shared_ptr<NSButtonCell> cell) { defaultButtonCell_ = std::move(cell); }
  virtual void keyDown(const NSEvent& event);
  void selectNextKeyView(const void* sender = nullptr);
  void selectPreviousKeyView(const void* sender = nullptr);
  // The views of the key-view loop, in order.
  std::vector<std::shared_ptr<NSView>> keyViewLoop() const;
  // Offers a key equivalent to the content view's tree.
  virtual bool performKeyEquivalent(const NSEvent& event);

  // The controller that owns the window (window_controller.hpp), held weakly.
  std::shared_ptr<NSWindowController> windowController() const { return windowController_.lock(); }

 private:
  // Puts the window's record in the window server's table, in front when
  // asked, numbering the window first if it has no number yet.
  void publish(bool toFront);
  void unpublish();

  std::string title_;
  NSRect frame_;
  bool lastFrameChangeAnimated_ = false;
  NSWindowStyleMask styleMask_;
  NSBackingStoreType backingType_ = NSBackingStoreBuffered;
  bool opaque_ = true;
  std::optional<NSColor> backgroundColor_;
  bool hasShadow_ = true;
  bool ignoresMouseEvents_ = false;
  bool hidesOnDeactivate_ = false;
  bool cursorRectsEnabled_ = true;
  NSWindowAnimationBehavior animationBehavior_ = NSWindowAnimationBehaviorDefault;
  bool excludedFromWindowsMenu_ = false;
  bool restorable_ = true;
  bool releasedWhenClosed_ = true;
  NSWindowCollectionBehavior collectionBehavior_ = NSWindowCollectionBehaviorDefault;
  CGFloat alphaValue_ = 1.0;
  NSWindowTitleVisibility titleVisibility_ = NSWindowTitleVisibility::visible;
  bool titlebarAppearsTransparent_ = false;
  bool movableByWindowBackground_ = false;
  bool acceptsMouseMovedEvents_ = false;
  NSSize minSize_ = NSMakeSize(0, 0);
  NSSize maxSize_ = NSMakeSize(3.40282347e+38, 3.40282347e+38);
  std::shared_ptr<NSButton> standardButtons_[3];
  bool miniaturized_ = false;
  std::shared_ptr<NSTimer> miniaturizeTimer_;
  void finishMiniaturize();
  std::weak_ptr<NSWindowDelegate> delegate_;
  void tellDelegate(void (NSWindowDelegate::*callback)(const NSNotification&), const char* name);
  NSWindowLevel level_ = NSNormalWindowLevel;
  long windowNumber_ = -1;
  bool onActiveSpace_ = true;
  CGFloat backingScaleFactor_;
  std::shared_ptr<NSView> contentView_;
  std::optional<NSRect> contentLayoutRect_;
  bool visible_ = false;
  bool occluded_ = false;
  std::shared_ptr<NSWindow> attachedSheet_;
  std::weak_ptr<NSWindow> sheetParent_;
  std::function<void(NSModalResponse)> sheetCompletion_;
  void updateTracking(const NSEvent& event, bool inWindow);
  void sendKeyEvent(const NSEvent& event);
  void selectKeyView(bool forward);
  friend class NSView;
  friend class NSWindowController;
  std::weak_ptr<NSView> firstResponder_;
  std::weak_ptr<NSView> initialFirstResponder_;
  std::shared_ptr<NSButtonCell> defaultButtonCell_;
  std::weak_ptr<NSWindowController> windowController_;
  bool orderedInOnce_ = false;
  std::weak_ptr<NSView> mouseDownView_;
  // The tracking areas the pointer is in.
  std::vector<std::weak_ptr<NSTrackingArea>> trackedInside_;
};

// A utility window; it can be key but never main. Panels hide when the
// application deactivates unless told otherwise, and are not released when
// closed.
class NSPanel : public NSWindow {
 public:
  NSPanel(NSRect contentRect, NSWindowStyleMask styleMask) : NSWindow(contentRect, styleMask) { panelDefaults(); }
  NSPanel(NSRect contentRect, NSWindowStyleMask styleMask, NSBackingStoreType backing, bool defer)
      : NSWindow(contentRect, styleMask, backing, defer) {
    panelDefaults();
  }
  bool canBecomeMainWindow() const override { return false; }
  // Key only when a view needs typing, when set.
  bool becomesKeyOnlyIfNeeded() const { return becomesKeyOnlyIfNeeded_; }
  void setBecomesKeyOnlyIfNeeded(bool flag) { becomesKeyOnlyIfNeeded_ = flag; }

 private:
  void panelDefaults() {
    setHidesOnDeactivate(true);
    setReleasedWhenClosed(false);
  }
  bool becomesKeyOnlyIfNeeded_ = false;
};

}  // namespace platform
