#include "Brivel/forecast/forecast_screen.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/forecast/forecast_month_view.h"
#include "Brivel/forecast/forecast_sort_menu.h"
#include "Brivel/forecast/internal/bill_rows.h"
#include "Brivel/forecast/salary_list_screen.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "Brivel/profiles/profiles_list_screen.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/settings_screen.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

namespace {

std::optional<OccurringType> occurrenceOf(ForecastType selection) {
  switch (selection) {
    case ForecastType::month:
      return OccurringType::monthly;
    case ForecastType::quarter:
      return OccurringType::quarterly;
    case ForecastType::year:
      return OccurringType::yearly;
    case ForecastType::all:
      break;
  }
  return std::nullopt;
}

std::string_view emptyOccurrenceTitle(OccurringType occurring) {
  switch (occurring) {
    case OccurringType::quarterly:
      return localizable_noQuarterlyBills;
    case OccurringType::yearly:
      return localizable_noYearlyBills;
    case OccurringType::monthly:
      break;
  }
  return localizable_noMonthlyBills;
}

View emptyOccurrenceState(OccurringType occurring) {
  Frame frame;
  frame.maxWidth = infinity;
  frame.alignment = Alignment::center;
  return View(EntityUnavailableView{keyText(emptyOccurrenceTitle(occurring)),
                                    AssetImage("envelope.circle.fill.badge.checkmark"),
                                    keyText(localizable_noBillsAvailableDescription), std::nullopt, {}})
      .frame(frame)
      .listRowSeparator(Visibility::hidden)
      .accessibilityIdentifier("emptyOccurrence");
}

View yearRows(const std::shared_ptr<ProfileEntity>& profile) {
  // The records are kept with the profile's figures: a render that changed no bill figure
  // shares them.
  auto year = yearRecords(*profile);
  std::vector<std::shared_ptr<const ForecastMonthValues>> records;
  records.reserve(year->size());
  for (const auto& values : *year) records.emplace_back(year, &values);
  return ForEach(
      records, [](const auto& values) { return values->month; },
      [&](const auto& values) { return View(ForecastMonthView{profile, values}); });
}

View occurrenceRows(const ProfileEntity& profile, OccurringType occurring) {
  const BillCompactMode compact{true, occurring != OccurringType::monthly};
  return forecast_internal::billForEach(occurrenceList(profile, occurring), [compact](const std::shared_ptr<BillEntity>& bill) {
    return View(BillEntityView{.bill = bill, .collectionFilterType = CollectionFilterType::off, .compactMode = compact,
                               .isDeleteable = true, .isEditable = true})
        .accessibilityIdentifier("billRow")
        .listRowSeparator(Visibility::hidden)
        .listRowInsets(4, 9, 4, 9);
  });
}

// The one favourite entry of the profile menu.
View favouriteEntry(FavoriteQuickAction action, const State<bool>& bankAccounts, const State<bool>& categories,
                    const State<bool>& notes, const State<bool>& salary) {
  auto entry = [](std::string_view key, std::string symbol, State<bool> flag) {
    return Button(Label(keyText(key), std::move(symbol)), [flag] { flag.toggle(); }).accessibilityIdentifier("quickAction");
  };
  switch (action) {
    case FavoriteQuickAction::openBankAccounts:
      return entry(localizable_bankAccounts, "creditcard", bankAccounts);
    case FavoriteQuickAction::openCategories:
      return entry(localizable_categories, "personalhotspot", categories);
    case FavoriteQuickAction::openNotes:
      return entry(localizable_notes, "paperclip", notes);
    case FavoriteQuickAction::openSalary:
      return entry(localizable_salary, "centsign", salary);
  }
  return View();
}

View spendableMenu(const std::shared_ptr<ProfileEntity>& profile) {
  const bool shown = profile->showSpendable();
  return Menu(SystemImage(shown ? "eyeglasses" : "eyeglasses.slash"),
              {Button(Label(keyText(shown ? localizable_hideSpendable : localizable_showSpendable),
                            shown ? "eyeglasses.slash" : "eyeglasses"),
                      [profile] { profile->setShowSpendable(!profile->showSpendable()); })
                   .accessibilityIdentifier("toggleSpendable")})
      .accessibilityIdentifier("spendableMenu");
}

}  // namespace

View ForecastScreen::body(Context& ctx) const {
  ctx.environmentObject<UserDefaultsManager>();  // the presented screens need it
  auto selectedForecastScreen = ctx.state<ForecastType>("selectedForecastScreen", ForecastType::all);
  auto showEditUsersListScreen = ctx.state<bool>("showEditUsersListScreen", false);
  auto showBankAccountsListScreen = ctx.state<bool>("showBankAccountsListScreen", false);
  auto showCategoriesListScreen = ctx.state<bool>("showCategoriesListScreen", false);
  auto showNotesListScreen = ctx.state<bool>("showNotesListScreen", false);
  auto showSalaryListScreen = ctx.state<bool>("showSalaryListScreen", false);
  auto showUsersListScreen = ctx.state<bool>("showUsersListScreen", false);
  auto showSettingsScreen = ctx.state<bool>("showSettingsScreen", false);
  // A profile deleted under the tab (from its own profiles sheet) is gone, or going: the tab
  // is on its way out, and nothing of the record is read.
  if (!profile || profile->isDeleted() || profile->modelContext() == nullptr) return View();

  const ForecastType selection = selectedForecastScreen.get();
  const std::optional<OccurringType> occurring = occurrenceOf(selection);

  View picker = Picker<ForecastType>(Text(keyText(localizable_forecast)), selectedForecastScreen.binding().animation(),
                                     Group({SystemImage("sun.max").symbolVariant(SymbolVariant::fill).tag(ForecastType::all),
                                            LocalizedText(localizable_month).tag(ForecastType::month),
                                            LocalizedText(localizable_quarter).tag(ForecastType::quarter),
                                            LocalizedText(localizable_year).tag(ForecastType::year)}))
                    .pickerStyle(PickerStyle::segmented)
                    .accessibilityIdentifier("forecastPicker") |
                HorizontalPaddingModifier{Edge::horizontal, 9, 1};
  View rows = occurring ? occurrenceRows(*profile, *occurring) : yearRows(profile);
  View list = List({rows}).listStyle(ListStyle::plain).scrollIndicators(Visibility::hidden);

  Frame fullHeight;
  fullHeight.maxHeight = infinity;
  View content = VStack({picker, list}).frame(fullHeight) |
                 NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_forecast)};
  content = content.overlay(
      when(occurring && !hasBills(*profile, *occurring), [&] { return emptyOccurrenceState(*occurring); }), Alignment::center);

  std::vector<View> profileMenu{
      Button(Label(verbatim(profile->name()), "person.crop.circle.fill"),
             [showEditUsersListScreen] { showEditUsersListScreen.toggle(); })
          .accessibilityIdentifier("editProfile"),
      favouriteEntry(profile->favoriteQuickAction(), showBankAccountsListScreen, showCategoriesListScreen,
                     showNotesListScreen, showSalaryListScreen),
      Divider(),
      Button(Label(keyText(localizable_profiles), "person.2"), [showUsersListScreen] { showUsersListScreen.toggle(); })
          .accessibilityIdentifier("profiles"),
      Button(Label(keyText(localizable_settings), "gearshape"), [showSettingsScreen] { showSettingsScreen.toggle(); })
          .accessibilityIdentifier("settings"),
  };
  content = content.toolbar(
      {ToolbarItem(ToolbarPlacement::topBarLeading, ControlGroup(SystemImage("person.crop.circle.fill"), std::move(profileMenu))
                                                        .controlGroupStyle(ControlGroupStyle::menu)
                                                        .accessibilityIdentifier("profileMenu")),
       ToolbarItem(ToolbarPlacement::primaryAction,
                   selection == ForecastType::all ? spendableMenu(profile) : forecastSortMenu(profile))});

  // The side lists close through their own sheet's dismiss action.
  using MakeList = BillsNeighbourScreens::MakeProfileScreen BillsNeighbourScreens::*;
  auto listSheet = [profile = profile](std::string name, MakeList make) {
    return [profile, name, make] {
      return Closure(name, [profile, make](Context& sheet) {
               return (sheet.environment<BillsNeighbourScreensKey>().*make)(profile, sheet.dismiss());
             })
          .presentationSizing(PresentationSizing::page);
    };
  };
  return NavigationStack(content)
      .sheet(showEditUsersListScreen.binding(),
             [profile = profile] {
               return View(ProfilessItemScreen{.viewInSheet = true, .profile = profile})
                   .presentationSizing(PresentationSizing::page);
             })
      .sheet(showBankAccountsListScreen.binding(), listSheet("bankAccountsSheet", &BillsNeighbourScreens::bankAccounts))
      .sheet(showCategoriesListScreen.binding(), listSheet("categoriesSheet", &BillsNeighbourScreens::categories))
      .sheet(showNotesListScreen.binding(), listSheet("notesSheet", &BillsNeighbourScreens::notes))
      .sheet(showSalaryListScreen.binding(),
             [profile = profile] {
               return View(SalaryListScreen{.profile = profile, .presentedInSheet = true})
                   .presentationSizing(PresentationSizing::page);
             })
      .sheet(showUsersListScreen.binding(),
             [showUsersListScreen] {
               return View(ProfilesListScreen{showUsersListScreen.binding()}).presentationSizing(PresentationSizing::page);
             })
      .sheet(showSettingsScreen.binding(), [showSettingsScreen] {
        return View(SettingsScreen{showSettingsScreen.binding()}).presentationSizing(PresentationSizing::form);
      });
}

}  // namespace brivel
