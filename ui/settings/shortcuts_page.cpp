#include "ui/settings/shortcuts_page.hpp"

#include <limits>

#include "platform/ui/graph.hpp"
#include "ui/settings/duration_controls.hpp"
#include "ui/settings/shortcut_recorder.hpp"

namespace vurle {

using namespace platform;
using namespace platform::ui;

std::string shortcutsHint(const AppPreferences& preferences) {
  if (!preferences.shortcutsEnabled()) return "No global shortcuts are active.";
  if (!preferences.recordingAction()) return "Click a shortcut to change it. Delete clears it.";
  return "Press a key combination. Escape cancels; Delete clears it.";
}

namespace {

std::string actionID(ShortcutAction action) { return action == ShortcutAction::pause ? "pause" : "settings"; }

View SwitchRow(const std::shared_ptr<AppPreferences>& preferences) {
  std::weak_ptr<AppPreferences> weak = preferences;
  Binding<bool> enabled{[weak] {
                          auto p = weak.lock();
                          return p && p->shortcutsEnabled();
                        },
                        [weak](bool on) {
                          if (auto p = weak.lock()) p->setShortcutsEnabled(on);
                        }};
  return HStack(VerticalAlignment::center, 12,
                {VStack(HorizontalAlignment::leading, 3,
                        {HStack(VerticalAlignment::center, 5,
                                {Text("Keyboard shortcuts").font(Font::system(13, FontWeight::semibold))}),
                         Text("Works in any app")
                             .font(Font::system(11))
                             .foregroundStyle(Color::secondary())
                             .fixedSize(false, true)})
                     .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                            Alignment::leading()),
                 Toggle("Keyboard shortcuts", std::move(enabled))
                     .labelsHidden()
                     .toggleStyle(ToggleStyle::switchStyle)
                     .controlSize("small")})
      .padding(Edge::vertical, 11);
}

View ActionBlock(const std::shared_ptr<AppPreferences>& preferences, ShortcutAction action) {
  const std::string title = shortcutActionTitle(action);
  const bool hasShortcut =
      (action == ShortcutAction::pause ? preferences->pauseShortcut() : preferences->settingsShortcut()).has_value();
  std::weak_ptr<AppPreferences> weak = preferences;
  std::vector<View> lines{
      HStack(VerticalAlignment::center, 8,
             {Text(title).font(Font::system(13, FontWeight::medium)), Spacer(6),
              ShortcutRecorder(preferences, action).frame(132.0, 28.0),
              Button(ImageSystem("xmark.circle.fill")
                         .font(Font::system(12))
                         .foregroundStyle(Color::secondary())
                         .frame(22.0, 28.0)
                         .contentShape(ShapeKind::rectangle),
                     [weak, action] {
                       if (auto p = weak.lock()) p->setShortcut(std::nullopt, action);
                     })
                  .buttonStyle(SettingsPressStyle())
                  .disabled(!hasShortcut)
                  .accessibilityLabel("Remove shortcut for " + title)})};
  const auto& errors = preferences->shortcutErrors();
  if (auto error = errors.find(action); error != errors.end()) {
    lines.push_back(Text(error->second).font(Font::system(11)).foregroundStyle(Color::orange()).fixedSize(false, true));
  }
  return Group({Shape(ShapeKind::rectangle).fill(Color::primary().withOpacity(0.08)).frame(std::nullopt, 0.5),
                VStack(HorizontalAlignment::leading, 7, std::move(lines)).padding(Edge::vertical, 12)});
}

}  // namespace

View ShortcutsPage(std::shared_ptr<AppPreferences> preferences) {
  return Composite("ShortcutsPage", [preferences](Context& c) {
    c.observe(preferences->shortcutsEnabledPublisher());
    c.observe(preferences->recordingActionPublisher());
    c.observe(preferences->shortcutErrorsPublisher());
    c.observe(preferences->pauseShortcutPublisher());
    c.observe(preferences->settingsShortcutPublisher());
    const bool enabled = preferences->shortcutsEnabled();
    std::vector<std::string> ids;
    for (ShortcutAction action : allShortcutActions) ids.push_back(actionID(action));
    // The rows leave with the switch; a recorder among them ends its
    // recording as it leaves the window.
    View rows = If(enabled, ForEach(ids, [preferences](const std::string& id) {
                     return ActionBlock(preferences, id == "pause" ? ShortcutAction::pause : ShortcutAction::settings);
                   }));
    View card = VStack(HorizontalAlignment::center, 0, {SwitchRow(preferences), std::move(rows)})
                    .padding(Edge::horizontal, 12)
                    .background(Shape(ShapeKind::roundedRectangle, 14).fill(Color::controlBackground().withOpacity(0.74)));
    return VStack(HorizontalAlignment::leading, 12,
                  {std::move(card), Text(shortcutsHint(*preferences))
                                        .font(Font::system(11))
                                        .foregroundStyle(Color::secondary())
                                        .padding(Edge::horizontal, 2)});
  });
}

}  // namespace vurle
