#include "Brivel/profiles/profiles_archive_screen.h"

#include <string>
#include <vector>

#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/profiles/profiles_card_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

View ProfilesArchiveScreen::body(Context& ctx) const {
  const DismissAction dismiss = ctx.dismiss();
  auto container = modelContainer(ctx);
  auto profileManager = ctx.environmentObject<ProfileManager>();
  const auto archivedUsers = container->mainContext().fetch(profilesQuery(true));
  auto showItem = ctx.state<bool>("showArchiveUserCollectionScreen", false);
  auto selected = ctx.state<std::shared_ptr<ProfileEntity>>("selectedArchivedUser", nullptr);
  auto unarchivedHaptic = ctx.state<bool>("userUnarchivedHaptic", false);

  auto unarchive = [unarchivedHaptic](const std::shared_ptr<ProfileEntity>& profile) {
    toggleArchived(profile);
    unarchivedHaptic.toggle();
  };
  auto remove = [container, profileManager](const std::shared_ptr<ProfileEntity>& profile) {
    forgetSelectionOf(*profileManager, profile);
    deleteProfileSoon(container, profile);
  };

  View list = List({ForEach(archivedUsers, [](const auto& profile) { return profile->id().uuidString(); },
                            [&](const std::shared_ptr<ProfileEntity>& profile) {
                              auto open = [selected, showItem, profile] {
                                selected.set(profile);
                                showItem.toggle();
                              };
                              return Section({View(ProfilesCardView{profile, open, unarchive, remove})});
                            })})
                  .listSectionSpacing(ListSectionSpacing::compact) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_archive)};

  const bool isEmpty = archivedUsers.empty();
  return list.sensoryFeedback(SensoryFeedback::success, unarchivedHaptic.get(), savesSucceed())
      .animation(Animation::default_, static_cast<std::int64_t>(archivedUsers.size()))
      .onChange(isEmpty,
                [dismiss](const bool&, const bool& nowEmpty) {
                  if (nowEmpty) dismiss();
                })
      .sheet(showItem.binding(),
             [showItem, selected, unarchive] {
               auto profile = selected.get();
               if (!profile) return View();
               return View(ProfilesArchiveItemScreen{showItem.binding(), profile, [unarchive, profile] { unarchive(profile); },
                                                     [selected] { selected.set(nullptr); }});
             })
      .interactiveDismissDisabled(true);
}

View ProfilesArchiveItemScreen::body(Context&) const {
  const auto shown = profile;
  const Binding<bool> flag = dismiss;
  const auto unarchive = unarchiveUserAction;
  View header = profileHeaderLabel(*shown).listRowBackground(colorFromAssetName(shown->color()));
  View bills = ForEach(billsSortedByName(shown->bills()), [](const auto& bill) { return bill->id().uuidString(); },
                       [](const std::shared_ptr<BillEntity>& bill) {
                         return View(BillEntitySmallListView{bill->name(), bill->cost(), nullptr, bill->category()});
                       });
  View list = List({Section({header, bills})}) | NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::nullopt};
  list = list.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(flag)),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTextButton(localizable_unarchive,
                                                     [flag, unarchive] {
                                                       flag.set(!flag.get());
                                                       if (unarchive) unarchive();
                                                     },
                                                     std::nullopt, false, true)
                                       .accessibilityIdentifier("unarchive"))});
  const auto disappeared = onDisappearAction;
  return NavigationStack(list.onDisappear([disappeared] {
    if (disappeared) disappeared();
  }));
}

}  // namespace brivel
