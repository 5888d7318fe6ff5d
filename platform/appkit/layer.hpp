#pragma once

// Core Animation as the system drives it: layers are bags of properties
// that record every change together with the transaction state it was made
// in, so tests can tell whether a visible change was animated; there is no
// render tree. Main thread only, as on the platform.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/graphics/geometry.hpp"
#include "platform/graphics/image.hpp"

namespace platform {

inline const std::string kCAGravityResize = "resize";
inline const std::string kCAGravityCenter = "center";
inline const std::string kCAFilterNearest = "nearest";
inline const std::string kCAFilterLinear = "linear";

class CALayer : public std::enable_shared_from_this<CALayer> {
 public:
  using Value = std::variant<bool, double, std::string, CGRect, CGImageRef, CGPoint>;
  struct Change {
    std::string key;
    Value value;
    // Whether the change happened inside an explicit transaction, and with
    // its actions disabled (an implicit change animates).
    bool inTransaction = false;
    bool actionsDisabled = false;
  };

  static std::shared_ptr<CALayer> make();
  CALayer(const CALayer&) = delete;
  CALayer& operator=(const CALayer&) = delete;

  // The generic bag; the typed accessors below read and write it.
  void setValue(const std::string& key, Value value);
  std::optional<Value> valueForKey(const std::string& key) const;
  const std::vector<Change>& changes() const { return changes_; }

  bool isHidden() const;
  void setHidden(bool hidden) { setValue("hidden", hidden); }
  CGImageRef contents() const;
  void setContents(CGImageRef image) { setValue("contents", std::move(image)); }
  CGFloat contentsScale() const;  // 1 until set
  void setContentsScale(CGFloat scale) { setValue("contentsScale", scale); }
  std::string contentsGravity() const;  // kCAGravityResize until set
  void setContentsGravity(std::string gravity) { setValue("contentsGravity", std::move(gravity)); }
  std::string minificationFilter() const;  // kCAFilterLinear until set
  void setMinificationFilter(std::string filter) { setValue("minificationFilter", std::move(filter)); }
  std::string magnificationFilter() const;  // kCAFilterLinear until set
  void setMagnificationFilter(std::string filter) { setValue("magnificationFilter", std::move(filter)); }
  // Geometry as on the platform: `bounds` (zero until set), `position` in
  // the superlayer (zero until set) and `anchorPoint` in the unit square
  // (0.5, 0.5 until set) are stored; `frame` is derived from them, and
  // setting it sets the bounds' size and the position (recorded as one
  // "frame" change). No transforms.
  CGRect frame() const;
  void setFrame(CGRect frame) { setValue("frame", frame); }
  CGRect bounds() const;
  void setBounds(CGRect bounds) { setValue("bounds", bounds); }
  CGPoint position() const;
  void setPosition(CGPoint position) { setValue("position", position); }
  CGPoint anchorPoint() const;
  void setAnchorPoint(CGPoint anchor) { setValue("anchorPoint", anchor); }

  std::shared_ptr<CALayer> superlayer() const { return superlayer_.lock(); }
  const std::vector<std::shared_ptr<CALayer>>& sublayers() const { return sublayers_; }
  // Takes the layer from its old superlayer; a layer cannot contain itself
  // or one of its ancestors (ignored).
  void addSublayer(const std::shared_ptr<CALayer>& layer);
  void removeFromSuperlayer();

 private:
  CALayer() = default;

  std::map<std::string, Value> values_;
  std::vector<Change> changes_;
  std::weak_ptr<CALayer> superlayer_;
  std::vector<std::shared_ptr<CALayer>> sublayers_;
};

// The transaction state of the main thread. Transactions nest; a nested
// one starts with its parent's disabled-actions flag. Outside an explicit
// transaction setDisableActions has no effect here, so a change made that
// way is recorded as animated. flush() commits the implicit transaction so
// changes reach the screen now; it is counted. resetProcessState() ends
// every open transaction and zeroes the count.
class CATransaction {
 public:
  static void begin();
  // A commit without a begin is ignored.
  static void commit();
  static void setDisableActions(bool flag);
  // False outside an explicit transaction.
  static bool disableActions();
  static bool inTransaction();
  static void flush();
  static int flushCount();
};

}  // namespace platform
