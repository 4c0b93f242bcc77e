#include "Brivel/shell/root_screen.h"

#include <cstdint>
#include <vector>

#include "Brivel/model/profile_manager.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/settings_screen.h"
#include "Brivel/shell/view_helpers.h"
#include "platform/ui/environment.h"
#include "platform/ui/memo.h"

namespace brivel {

using namespace platform::ui;

namespace {

// A tab's navigation stack with an empty state and the settings sheet behind a toolbar
// button, as the real bills list and forecast present it.
View interimTab(Context& ctx, View emptyState) {
  auto showSettingsScreen = ctx.state<bool>("showSettingsScreen", false);
  View settingsButton = Button(SymbolImage(SFSymbols::gearshape), [showSettingsScreen] { showSettingsScreen.set(true); })
                            .accessibilityIdentifier("settings");
  View page = emptyState.toolbar({ToolbarItem(ToolbarPlacement::topBarTrailing, settingsButton)});
  return NavigationStack(page).sheet(showSettingsScreen.binding(), [showSettingsScreen] {
    return View(SettingsScreen{showSettingsScreen.binding()}).presentationSizing(PresentationSizing::form);
  });
}

void restoreSelection(const std::shared_ptr<platform::ModelContainer>& container,
                      const std::shared_ptr<ProfileManager>& profileManager) {
  profileManager->restoreSelection(container->mainContext().fetch<ProfileEntity>());
}

}  // namespace

View InterimCollectionTab::body(Context& ctx) const {
  auto profileManager = ctx.environmentObject<ProfileManager>();
  const bool hasProfile = profileManager->selectedUser() != nullptr;
  EntityUnavailableView empty =
      hasProfile ? EntityUnavailableView{keyText(localizable_noBillsAvailable),
                                         AssetImage("paperclip.circle.fill.badge.questionmark"),
                                         keyText(localizable_noBillsAvailableDescription), std::nullopt, {}}
                 : EntityUnavailableView{keyText(localizable_noProfileSelected),
                                         SymbolImage(SFSymbols::personCropCircleBadgeQuestionmarkFill),
                                         keyText(localizable_noProfileSelectedDescription), std::nullopt, {}};
  return interimTab(ctx, View(empty));
}

View InterimForecastTab::body(Context& ctx) const {
  EntityUnavailableView empty{keyText(localizable_noBillsAvailable), SymbolImage(SFSymbols::cloudSun),
                              keyText(localizable_noBillsAvailableDescription), std::nullopt, {}};
  return interimTab(ctx, View(empty));
}

View RootScreen::body(Context& ctx) const {
  auto profileManager = ctx.environmentObject<ProfileManager>();
  auto container = modelContainer(ctx);
  const auto profiles = container->mainContext().fetch<ProfileEntity>();
  const auto selected = profileManager->selectedUser();

  std::int64_t archived = 0;
  for (const auto& profile : profiles) {
    if (profile->isArchived()) ++archived;
  }
  const std::vector<std::int64_t> counts{static_cast<std::int64_t>(profiles.size()), archived};
  const Color accent = selected ? colorFromAssetName(selected->color()) : colorFromAssetName("sonicBlue");

  // The tab not shown is built again only when something it read changed.
  View collection = MemoWhileHidden(selected, [make = collectionTab] { return make(); })
                        .tabItem(Label(keyText(localizable_collection), std::string(rawValue(SFSymbols::trayFull))));
  View forecast = when(selected != nullptr, [&] {
    return MemoWhileHidden(selected, [make = forecastTab, selected] { return make(selected); })
        .tabItem(Label(keyText(localizable_forecast), std::string(rawValue(SFSymbols::cloudSun))));
  });

  auto restore = [container, profileManager](const TaskHandle&) { restoreSelection(container, profileManager); };
  return TabView({collection, forecast})
      .accentColor(accent)
      .task(ctx.scenePhase(), restore)
      .task(counts, restore);
}

}  // namespace brivel
