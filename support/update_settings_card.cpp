#include "support/update_settings_card.hpp"

#include <limits>
#include <string>
#include <vector>

namespace vurle {

using namespace platform;
using namespace platform::ui;

namespace {

View switchRow(const std::string& title, const std::string& subtitle, Binding<bool> isOn, bool enabled) {
  return HStack(VerticalAlignment::center, 12,
                {VStack(HorizontalAlignment::leading, 3,
                        {Text(title).font(Font::system(13, FontWeight::semibold)),
                         Text(subtitle)
                             .font(Font::system(11))
                             .foregroundStyle(Color::secondary())
                             .fixedSize(false, true)})
                     .frame(std::nullopt, std::numeric_limits<double>::infinity(), std::nullopt, std::nullopt,
                            Alignment::leading()),
                 Toggle(title, std::move(isOn)).toggleStyle(ToggleStyle::switchStyle).labelsHidden().controlSize("small")})
      .padding(Edge::vertical, 11)
      .disabled(!enabled);
}

// A switch over one of the updater's settings: off without an updater, and
// written only once the controller has started.
Binding<bool> updaterSetting(const std::shared_ptr<VurleUpdates>& updates, bool (SPUUpdater::*get)() const,
                             void (SPUUpdater::*set)(bool)) {
  return {[updates, get] {
            const auto& updater = updates->updater();
            return updater ? ((*updater).*get)() : false;
          },
          [updates, set](bool on) {
            const auto& updater = updates->updater();
            if (updates->isStarted() && updater) ((*updater).*set)(on);
          }};
}

// The check button: its own progress while a check runs.
View UpdateCheckButton(std::shared_ptr<VurleUpdates> updates) {
  return Composite("UpdateCheckButton", [updates](Context& c) {
    c.observe(updates->isCheckingForUpdatesPublisher());
    c.observe(updates->canCheckForUpdatesPublisher());
    const bool checking = updates->isCheckingForUpdates();
    std::vector<View> label;
    if (checking) label.push_back(ProgressView().controlSize("mini").frame(12, 12));
    label.push_back(Text(checking ? "Checking…" : "Check for updates…"));
    return Button(HStack(VerticalAlignment::center, 5, std::move(label))
                      .frame(116, std::nullopt, std::nullopt, std::nullopt, Alignment::center()),
                  [weak = std::weak_ptr<VurleUpdates>(updates)] {
                    if (auto owner = weak.lock()) owner->checkForUpdates(true);
                  })
        .disabled(!updates->canCheckForUpdates() || checking)
        .accessibilityLabel(checking ? "Checking for updates" : "Check for updates");
  });
}

}  // namespace

View UpdateSettingsCard(std::shared_ptr<VurleUpdates> updates) {
  return Composite("UpdateSettingsCard", [updates](Context& c) {
    c.observe(updates->isStartedPublisher());
    c.observe(updates->messagePublisher());
    c.observe(updates->updaterSettingsPublisher());
    const bool opaque = c.environment().reduceTransparency;
    std::vector<View> card = {
        HStack(VerticalAlignment::center, 12,
               {Text("Updates").font(Font::system(13, FontWeight::semibold)).accessibilityAddTraits("isHeader"),
                Spacer(8), UpdateCheckButton(updates).controlSize("small")}),
        VStack(HorizontalAlignment::center, 0,
               {switchRow("Check automatically", "Look for new versions in the background",
                          updaterSetting(updates, &SPUUpdater::automaticallyChecksForUpdates,
                                         &SPUUpdater::setAutomaticallyChecksForUpdates),
                          updates->isStarted()),
                Shape(ShapeKind::rectangle).fill(Color::primary().withOpacity(0.08)).frame(std::nullopt, 0.5),
                switchRow("Install automatically", "Download updates and install on quit",
                          updaterSetting(updates, &SPUUpdater::automaticallyDownloadsUpdates,
                                         &SPUUpdater::setAutomaticallyDownloadsUpdates),
                          updates->allowsAutomaticUpdates())})
            .padding(Edge::horizontal, 12)
            .background(
                Shape(ShapeKind::roundedRectangle, 12).fill(Color::controlBackground().withOpacity(opaque ? 1.0 : 0.74)))};
    if (!updates->message().empty())
      card.push_back(Text(updates->message()).font(Font::system(11)).foregroundStyle(Color::secondary()));
    return VStack(HorizontalAlignment::leading, 8, std::move(card));
  });
}

}  // namespace vurle
