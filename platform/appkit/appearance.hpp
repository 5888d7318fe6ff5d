#pragma once

// Appearances as views choose their look by them: the light one (aqua) and
// the dark one (darkAqua). Every view has an effective appearance: its own
// when set, else its superview's, else the application's, which is its own
// when set, else the system's (the user's choice; the simulated desktop
// and tests set it, aqua until then). When the application's effective
// appearance changes, every view of its windows that inherits it hears
// viewDidChangeEffectiveAppearance; so does a view, and each subview that
// inherits from it, when its own appearance is set.
//
// While a view draws (cacheDisplayInRect), the current drawing appearance
// is the view's effective one; the system's named colours (color.hpp)
// resolve against it. Main thread only, as on the platform.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

inline const std::string NSAppearanceNameAqua = "NSAppearanceNameAqua";
inline const std::string NSAppearanceNameDarkAqua = "NSAppearanceNameDarkAqua";

class NSAppearance : public std::enable_shared_from_this<NSAppearance> {
 public:
  // Null for a name that is neither of the two.
  static std::shared_ptr<NSAppearance> appearanceNamed(const std::string& name);

  const std::string& name() const { return name_; }
  // The name among `names` that fits this appearance best: its own when
  // listed; for the dark appearance no light name stands in, and the other
  // way round; empty when none fits.
  std::string bestMatchFromAppearancesWithNames(const std::vector<std::string>& names) const;
  bool isDark() const { return name_ == NSAppearanceNameDarkAqua; }

  // The system's appearance; setting another tells the application's views.
  // resetProcessState() returns it to aqua.
  static std::shared_ptr<NSAppearance> systemAppearance();
  static void setSystemAppearance(std::shared_ptr<NSAppearance> appearance);

  // The appearance drawing resolves colours against: the drawing view's
  // effective one while it draws, else the application's.
  static std::shared_ptr<NSAppearance> currentDrawingAppearance();
  static void setCurrentDrawingAppearance(std::shared_ptr<NSAppearance> appearance);
  // Runs `block` with this appearance current, then puts back the one
  // that was current before.
  void performAsCurrentDrawingAppearance(const std::function<void()>& block);

  explicit NSAppearance(std::string name) : name_(std::move(name)) {}

 private:
  std::string name_;
};

}  // namespace platform
