#include "Brivel/bills/profile_sheets.h"

#include <string>
#include <string_view>
#include <utility>

#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "Brivel/profiles/profiles_list_screen.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/settings_screen.h"
#include "Brivel/shell/view_helpers.h"
#include "platform/ui/environment.h"

namespace brivel {

using namespace platform::ui;

namespace {

// The one favourite entry of the menu.
View favouriteEntry(FavoriteQuickAction action, const ProfileSheets& sheets) {
  auto entry = [](std::string_view key, std::string symbol, State<bool> flag) {
    return Button(Label(keyText(key), std::move(symbol)), [flag] { flag.toggle(); }).accessibilityIdentifier("quickAction");
  };
  switch (action) {
    case FavoriteQuickAction::openBankAccounts:
      return entry(localizable_bankAccounts, "creditcard", sheets.showBankAccountsListScreen);
    case FavoriteQuickAction::openCategories:
      return entry(localizable_categories, "personalhotspot", sheets.showCategoriesListScreen);
    case FavoriteQuickAction::openNotes:
      return entry(localizable_notes, "paperclip", sheets.showNotesListScreen);
    case FavoriteQuickAction::openSalary:
      return entry(localizable_salary, "centsign", sheets.showSalaryListScreen);
  }
  return View();
}

}  // namespace

ProfileSheets ProfileSheets::state(Context& ctx) {
  return ProfileSheets{ctx.state<bool>("showEditUsersListScreen", false),
                       ctx.state<bool>("showBankAccountsListScreen", false),
                       ctx.state<bool>("showCategoriesListScreen", false),
                       ctx.state<bool>("showNotesListScreen", false),
                       ctx.state<bool>("showSalaryListScreen", false),
                       ctx.state<bool>("showUsersListScreen", false),
                       ctx.state<bool>("showSettingsScreen", false)};
}

std::vector<View> ProfileSheets::menuEntries(const std::shared_ptr<ProfileEntity>& profile) const {
  auto editProfile = showEditUsersListScreen;
  auto profiles = showUsersListScreen;
  auto settings = showSettingsScreen;
  return {
      when(profile != nullptr, [&] {
        return Button(Label(verbatim(profile->name()), "person.crop.circle.fill"), [editProfile] { editProfile.toggle(); })
            .accessibilityIdentifier("editProfile");
      }),
      when(profile != nullptr, [&] { return favouriteEntry(profile->favoriteQuickAction(), *this); }),
      Divider(),
      Button(Label(keyText(localizable_profiles), "person.2"), [profiles] { profiles.toggle(); })
          .accessibilityIdentifier("profiles"),
      Button(Label(keyText(localizable_settings), "gearshape"), [settings] { settings.toggle(); })
          .accessibilityIdentifier("settings"),
  };
}

View ProfileSheets::present(View content, std::function<std::shared_ptr<ProfileEntity>()> profile) const {
  // A neighbour screen of the profile, in a sheet that it closes through its dismiss action.
  using MakeScreen = BillsNeighbourScreens::MakeProfileScreen BillsNeighbourScreens::*;
  auto listSheet = [profile](std::string name, MakeScreen make) {
    return [profile, name, make] {
      auto shown = profile();
      if (!shown) return View();
      return Closure(name, [shown, make](Context& sheet) {
               return (sheet.environment<BillsNeighbourScreensKey>().*make)(shown, sheet.dismiss());
             })
          .presentationSizing(PresentationSizing::page);
    };
  };
  auto profiles = showUsersListScreen;
  auto settings = showSettingsScreen;
  return content
      .sheet(showEditUsersListScreen.binding(),
             [profile] {
               auto shown = profile();
               if (!shown) return View();
               return View(ProfilessItemScreen{.viewInSheet = true, .profile = shown})
                   .presentationSizing(PresentationSizing::page);
             })
      .sheet(showBankAccountsListScreen.binding(), listSheet("bankAccountsSheet", &BillsNeighbourScreens::bankAccounts))
      .sheet(showCategoriesListScreen.binding(), listSheet("categoriesSheet", &BillsNeighbourScreens::categories))
      .sheet(showNotesListScreen.binding(), listSheet("notesSheet", &BillsNeighbourScreens::notes))
      .sheet(showSalaryListScreen.binding(), listSheet("salarySheet", &BillsNeighbourScreens::salary))
      .sheet(showUsersListScreen.binding(),
             [profiles] { return View(ProfilesListScreen{profiles.binding()}).presentationSizing(PresentationSizing::page); })
      .sheet(showSettingsScreen.binding(), [settings] {
        return View(SettingsScreen{settings.binding()}).presentationSizing(PresentationSizing::form);
      });
}

}  // namespace brivel
