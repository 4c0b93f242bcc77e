#include "Brivel/shell/root_screen.h"

#include <cstdint>
#include <vector>

#include "Brivel/model/profile_manager.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "platform/ui/environment.h"
#include "platform/ui/memo.h"

namespace brivel {

using namespace platform::ui;

namespace {

void restoreSelection(const std::shared_ptr<platform::ModelContainer>& container,
                      const std::shared_ptr<ProfileManager>& profileManager) {
  profileManager->restoreSelection(container->mainContext().fetch<ProfileEntity>());
}

}  // namespace

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
  View collection = MemoWhileHidden(selected, [make = collectionTab] { return make ? make() : View(); })
                        .tabItem(Label(keyText(localizable_collection), std::string(rawValue(SFSymbols::trayFull))));
  View forecast = when(selected != nullptr, [&] {
    return MemoWhileHidden(selected, [make = forecastTab, selected] { return make ? make(selected) : View(); })
        .tabItem(Label(keyText(localizable_forecast), std::string(rawValue(SFSymbols::cloudSun))));
  });

  auto restore = [container, profileManager](const TaskHandle&) { restoreSelection(container, profileManager); };
  return TabView({collection, forecast})
      .accentColor(accent)
      .task(ctx.scenePhase(), restore)
      .task(counts, restore);
}

}  // namespace brivel
