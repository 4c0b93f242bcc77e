#include "Brivel/forecast/forecast_screen.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/profile_sheets.h"
#include "Brivel/forecast/forecast_figures.h"
#include "Brivel/forecast/forecast_month_view.h"
#include "Brivel/forecast/forecast_sort_menu.h"
#include "Brivel/forecast/internal/bill_rows.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
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

View spendableMenu(const std::shared_ptr<ProfileEntity>& profile) {
  const bool shown = profile->showSpendable();
  return Menu(SystemImage(shown ? "eyeglasses" : "eyeglasses.slash"),
              {Button(Label(keyText(shown ? localizable_hideSpendable : localizable_showSpendable),
                            shown ? "eyeglasses.slash" : "eyeglasses"),
                      [profile] { profile->setShowSpendable(!profile->showSpendable()); })
                   .accessibilityIdentifier("toggleSpendable")})
      .accessibilityLabel(keyText(shown ? localizable_hideSpendable : localizable_showSpendable))
      .accessibilityIdentifier("spendableMenu");
}

}  // namespace

View ForecastScreen::body(Context& ctx) const {
  ctx.environmentObject<UserDefaultsManager>();  // the presented screens need it
  auto selectedForecastScreen = ctx.state<ForecastType>("selectedForecastScreen", ForecastType::all);
  const ProfileSheets sheets = ProfileSheets::state(ctx);
  // A profile deleted under the tab (from its own profiles sheet) is gone, or going: the tab
  // is on its way out, and nothing of the record is read.
  if (!profile || profile->isDeleted() || profile->modelContext() == nullptr) return View();

  const ForecastType selection = selectedForecastScreen.get();
  const std::optional<OccurringType> occurring = occurrenceOf(selection);

  View picker = Picker<ForecastType>(Text(keyText(localizable_forecast)), selectedForecastScreen.binding().animation(),
                                     Group({SystemImage("sun.max")
                                                .symbolVariant(SymbolVariant::fill)
                                                .accessibilityLabel(keyText(localizable_allMonths))
                                                .tag(ForecastType::all),
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

  content = content.toolbar(
      {ToolbarItem(ToolbarPlacement::topBarLeading,
                   ControlGroup(SystemImage("person.crop.circle.fill"), sheets.menuEntries(profile))
                       .controlGroupStyle(ControlGroupStyle::menu)
                       .accessibilityIdentifier("profileMenu")),
       ToolbarItem(ToolbarPlacement::primaryAction,
                   selection == ForecastType::all ? spendableMenu(profile) : forecastSortMenu(profile))});

  return sheets.present(NavigationStack(content), [profile = profile] { return profile; });
}

}  // namespace brivel
