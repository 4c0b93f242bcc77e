#include "Brivel/profiles/profiles_list_screen.h"

#include <memory>
#include <string>
#include <vector>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/profiles/profile_ordering.h"
#include "Brivel/profiles/profiles_add_screen.h"
#include "Brivel/profiles/profiles_archive_screen.h"
#include "Brivel/profiles/profiles_card_view.h"
#include "Brivel/profiles/profiles_import_screen.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/review_handler.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

namespace {

View whiteShadowed(View image) {
  return image.font(Font::title2).foregroundStyle(Color::system("white")).shadow(Color::system("black").withOpacity(0.33), 0.6, 0, 0);
}

}  // namespace

View ProfilesListScreen::body(Context& ctx) const {
  auto container = modelContainer(ctx);
  auto profileManager = ctx.environmentObject<ProfileManager>();
  auto billVM = ctx.environmentObject<BillViewModel>();
  auto ringVM = ctx.environmentObject<RingViewModel>();
  const auto unarchivedProfiles = container->mainContext().fetch(profilesQuery(false));
  const auto archivedProfiles = container->mainContext().fetch(profilesQuery(true));
  auto showCreateProfileScreen = ctx.state<bool>("showCreateProfileScreen", false);
  auto showArchiveScreen = ctx.state<bool>("showArchiveScreen", false);
  auto profileArchivedHaptic = ctx.state<bool>("profileArchivedHaptic", false);
  auto showDeleteBackupDialog = ctx.state<bool>("showDeleteBackupDialog", false);
  auto deleteDialogHaptic = ctx.state<bool>("deleteDialogHaptic", false);
  auto profileActionsTip = std::make_shared<ProfileActionsTip>();
  const Binding<bool> close = dismiss;

  auto select = [profileManager, close](const std::shared_ptr<ProfileEntity>& profile) {
    profileManager->select(profile);
    close.set(!close.get());
  };
  auto archive = [profileManager, profileArchivedHaptic](const std::shared_ptr<ProfileEntity>& profile) {
    forgetSelectionOf(*profileManager, profile);
    toggleArchived(profile);
    profileArchivedHaptic.toggle();
  };
  auto remove = [profileManager, container](const std::shared_ptr<ProfileEntity>& profile) {
    forgetSelectionOf(*profileManager, profile);
    deleteProfileSoon(container, profile);
  };
  auto openAddScreen = [showCreateProfileScreen] { showCreateProfileScreen.toggle(); };
  auto openArchive = [showArchiveScreen] { showArchiveScreen.toggle(); };
  auto askToDeleteBackup = [deleteDialogHaptic, showDeleteBackupDialog] {
    deleteDialogHaptic.toggle();
    showDeleteBackupDialog.toggle();
  };
  auto deleteBackup = [billVM, ringVM] {
    withAnimation([&] {
      billVM->setBillsCollection({});
      ringVM->setRingCollection({});
    });
  };

  View backup = when(!billVM->billsCollection().empty(), [&] {
    Frame minHeight;
    minHeight.minHeight = 44;
    View link = NavigationLink(
                    LabeledContent(whiteShadowed(AssetImage("externaldrive.connected.to.line.below.fill.badge.person.crop")),
                                   LocalizedText(localizable_backupAvailable) |
                                       TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading}),
                    [] {
                      return View(ProfilesImportScreen{std::make_shared<ProfilesImportScreenViewModel>(),
                                                       [] { ReviewHandler::requestReviewIfAppropriate(); }});
                    })
                    .listRowBackground(assetColor("sonicBlue"))
                    .frame(minHeight)
                    .sensoryFeedback(SensoryFeedback::warning, deleteDialogHaptic.get())
                    .contextMenu({Button(Label(keyText(localizable_delete), std::string(rawValue(SFSymbols::trash))),
                                         askToDeleteBackup, ButtonRole::destructive)})
                    .swipeActions(Edge::trailing, false,
                                  {Button(Label(keyText(localizable_delete), std::string(rawValue(SFSymbols::trash))),
                                          askToDeleteBackup)
                                       .tint(assetColor("sonicRed"))})
                    .accessibilityIdentifier("backup");
    return Section({link});
  });

  View cards =
      unarchivedProfiles.empty()
          ? Section({View(EntityUnavailableView{keyText(localizable_noProfilesAvailable),
                                                AssetImage("person.2.circle.fill.badge.questionmark"),
                                                keyText(localizable_noProfilesAvailableDescription),
                                                keyText(localizable_add), openAddScreen})
                         .frame([] {
                           Frame f;
                           f.maxWidth = infinity;
                           f.alignment = Alignment::center;
                           return f;
                         }())
                         .listRowBackground(Color::system("clear"))})
          : ForEach(unarchivedProfiles, [](const auto& profile) { return profile->id().uuidString(); },
                    [&](const std::shared_ptr<ProfileEntity>& profile) {
                      return Section({View(ProfilesCardView{profile, [select, profile] { select(profile); }, archive,
                                                            remove})});
                    });

  View badge = when(!unarchivedProfiles.empty() && !showCreateProfileScreen.get(), [&] {
    return Label(SymbolImage(SFSymbols::person2).symbolVariant(SymbolVariant::fill).foregroundStyle(Color::system("white")),
                 Text(localized("%lld", {std::to_string(unarchivedProfiles.size())})) |
                     TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading})
               .contentTransition(ContentTransition::numericTextCountingUp)
               .padding(12)
               .background(assetColor("sonicBlue").withGradient(), Shape::roundedRectangle(22, true))
               .opacity(0.8)
               .popoverTip(profileActionsTip, Edge::bottom, [] {})
               .accessibilityIdentifier("profileCount") |
           CorneredRadiusModifier{26};
  });

  View list = List({backup, cards}).listSectionSpacing(ListSectionSpacing::compact).safeAreaInset(Edge::bottom, badge.padding(9),
                                                                                             Alignment::trailing) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_profiles)};
  list = list.animation(Animation::default_, static_cast<std::int64_t>(unarchivedProfiles.size()))
             .sensoryFeedback(SensoryFeedback::success, profileArchivedHaptic.get(), savesSucceed())
             .navigationDestination(showArchiveScreen.binding(), [] { return View(ProfilesArchiveScreen{}); })
             .sheet(showCreateProfileScreen.binding(),
                    [showCreateProfileScreen, close] {
                      return View(ProfilesAddScreen{showCreateProfileScreen.binding(), [close] { close.set(!close.get()); }})
                          .presentationSizing(PresentationSizing::form);
                    })
             .toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(close)),
                       ToolbarItem(ToolbarPlacement::topBarTrailing,
                                   toolbarTipImageButton(openArchive, AssetImage("archivebox"), archivedProfiles.empty(),
                                                         false, nullptr)
                                       .accessibilityIdentifier("openArchive")),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTipImageButton(openAddScreen, SymbolImage(SFSymbols::plus), false, false, nullptr)
                                       .accessibilityIdentifier("addProfile"))})
             .confirmationDialog(keyText(localizable_deleteBackup), showDeleteBackupDialog.binding(), Visibility::visible,
                                 {Button(keyText(localizable_cancel), [] {}, ButtonRole::cancel),
                                  Button(keyText(localizable_delete), deleteBackup, ButtonRole::destructive)},
                                 LocalizedText(localizable_deleteBackupMessage));
  return NavigationStack(list);
}

}  // namespace brivel
