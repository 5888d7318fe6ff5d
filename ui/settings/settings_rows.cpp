#include "ui/settings/settings_rows.hpp"

#include <limits>

#include "platform/foundation/process_info.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

View SettingsCardBackground() {
  return Shape(ShapeKind::roundedRectangle, 14).fill(Color::controlBackground().withOpacity(0.74));
}

View SettingsCard(HorizontalAlignment alignment, std::vector<View> rows) {
  return VStack(alignment, 0, std::move(rows)).padding(Edge::horizontal, 12).background(SettingsCardBackground());
}

View SettingsDivider() { return Shape(ShapeKind::rectangle).fill(Color::primary().withOpacity(0.08)).frame(std::nullopt, 0.5); }

View SettingRow(const std::string& title, std::optional<View> badge, const std::string& subtitle, Binding<bool> isOn) {
  std::vector<View> heading{Text(title).font(Font::system(13, FontWeight::semibold))};
  if (badge) heading.push_back(*badge);
  const double infinity = std::numeric_limits<double>::infinity();
  return HStack(VerticalAlignment::center, 12,
                {VStack(HorizontalAlignment::leading, 3,
                        {HStack(VerticalAlignment::center, 5, std::move(heading)),
                         Text(subtitle)
                             .font(Font::system(11))
                             .foregroundStyle(Color::secondary())
                             .fixedSize(false, true)})
                     .frame(std::nullopt, infinity, std::nullopt, std::nullopt, Alignment::leading()),
                 Toggle(title, std::move(isOn))
                     .labelsHidden()
                     .toggleStyle(ToggleStyle::switchStyle)
                     .controlSize("small")})
      .padding(Edge::vertical, 11);
}

std::map<std::string, Param> badgePopoverOptions(std::optional<std::string> edge, const std::string& fallbackEdge) {
  std::map<std::string, Param> options;
  if (ProcessInfo::isOperatingSystemAtLeastVersion({15, 1, 0})) {
    options["presentation"] = std::string("arrowEdges");
    options["arrowEdge"] = edge.value_or("default");
  } else {
    options["presentation"] = std::string("singleArrowEdge");
    options["arrowEdge"] = edge.value_or(fallbackEdge);
  }
  return options;
}

platform::ui::Binding<bool> preferenceBinding(std::weak_ptr<AppPreferences> preferences,
                                              bool (AppPreferences::*get)() const,
                                              void (AppPreferences::*set)(bool)) {
  return {[preferences, get] {
            auto p = preferences.lock();
            return p && ((*p).*get)();
          },
          [preferences, set](bool value) {
            if (auto p = preferences.lock()) ((*p).*set)(value);
          }};
}

}  // namespace vurle
