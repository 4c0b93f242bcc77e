#include "Brivel/forecast/forecast_month_item_screen.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_view.h"
#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_ordering.h"
#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/forecast/forecast_month_view.h"
#include "Brivel/forecast/internal/bill_rows.h"
#include "Brivel/forecast/forecast_sort_menu.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"
#include "platform/process_state/process_state.h"

namespace brivel {

using namespace platform::ui;

std::shared_ptr<const ForecastMonthValues> currentMonthValues(const ProfileEntity& profile,
                                                              std::shared_ptr<const ForecastMonthValues> values) {
  const std::optional<int> month = forecastMonthIndex(values->month);
  if (!month) return values;
  auto year = yearRecords(profile);
  return std::shared_ptr<const ForecastMonthValues>(year, &(*year)[static_cast<std::size_t>(*month)]);
}

namespace {

// The rows of the month last shown, kept between its renders and for the next time it is
// pushed (one month at a time: it holds its bills until another month is shown).
struct KeptMonthRows {
  std::weak_ptr<const ForecastMonthValues> record;  // the record they were read for
  std::uint64_t orderVersion = 0;                   // BillListModel::version() then
  std::string locale;
  std::optional<BillRowGroup> rows;
};

// Month m's part of a bill, as its record lists them: the monthly bills, then the quarterly
// ones of month m mod 3 of their quarter, then the yearly ones of month m; -1: not in it.
int partInMonth(const BillEntity& bill, int month) {
  switch (bill.occurring()) {
    case OccurringType::monthly:
      return 0;
    case OccurringType::quarterly: {
      const std::optional<QuarterType> quarter = bill.quarterly();
      return quarter && rawValue(*quarter) == month % 3 ? 1 : -1;
    }
    case OccurringType::yearly: {
      const std::optional<YearlyType> yearly = bill.yearly();
      return yearly && rawValue(*yearly) == month ? 2 : -1;
    }
  }
  return -1;
}

// The month's bills in the profile's bill order with their row keys, as sortedBills and
// billRowKeys make them: read off the bills list's kept order, again only when that order,
// the month's record or the locale changed.
KeptMonthRows& keptMonthRows() {
  static KeptMonthRows kept;
  static const bool resettable = [] {
    platform::addProcessStateReset(+[] { keptMonthRows() = KeptMonthRows{}; });
    return true;
  }();
  (void)resettable;
  return kept;
}

BillRowGroup monthRows(KeptMonthRows& kept, const std::shared_ptr<ProfileEntity>& profile,
                       const std::shared_ptr<const ForecastMonthValues>& month) {
  const std::optional<int> index = forecastMonthIndex(month->month);
  if (!index) {
    BillList rows = sortedBills(month->items.list(), profile->billSortType());
    auto keys = std::make_shared<const std::vector<std::string>>(billRowKeys(rows));
    return BillRowGroup{std::make_shared<const BillList>(std::move(rows)), std::move(keys), nullptr};
  }
  BillListModel& model = BillListModel::shared();
  const std::string locale = platform::Locale::currentIdentifier();
  if (kept.rows && kept.record.lock() == month && kept.orderVersion == model.version() && kept.locale == locale) {
    return *kept.rows;
  }
  const int m = *index;
  kept.rows = model.sortedRows(profile, [m](const BillEntity& bill) { return partInMonth(bill, m); });
  kept.record = month;
  kept.orderVersion = model.version();
  kept.locale = locale;
  return *kept.rows;
}

View dot(std::string_view colorName) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = std::nullopt, .isProfileCard = false});
}

View cardLine(View text, std::string_view colorName) {
  return HStack({text | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading}, dot(colorName)});
}

}  // namespace

View ForecastMonthItemScreen::body(Context& ctx) const {
  auto showCalculateSheet = ctx.state<bool>("showCalculateSheet", false);
  auto calculateSheetHaptic = ctx.state<bool>("calculateSheetHaptic", false);
  std::shared_ptr<const Tip> leftToPayTip = std::make_shared<LeftToPayTip>();

  const std::shared_ptr<const ForecastMonthValues> record = currentMonthValues(*profile, values);
  const ForecastMonthValues& month = *record;
  const bool isEmpty = month.items.empty();

  const BillRowGroup rows = monthRows(keptMonthRows(), profile, record);
  View list = List({forecast_internal::billForEach(rows, [](const std::shared_ptr<BillEntity>& bill) {
                 return View(BillEntityView{.bill = bill, .collectionFilterType = CollectionFilterType::off,
                                            .compactMode = {.isOn = true, .showOccurring = false},
                                            .isDeleteable = false, .isEditable = true})
                     .accessibilityIdentifier("billRow")
                     .listRowSeparator(Visibility::hidden)
                     .listRowInsets(4, 9, 4, 9);
               })})
                  .listStyle(ListStyle::plain) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::large, month.month};

  View card = when(!isEmpty, [&] {
    auto tap = [showCalculateSheet, calculateSheetHaptic, leftToPayTip] {
      calculateSheetHaptic.toggle();
      showCalculateSheet.toggle();
      leftToPayTip->invalidate("actionPerformed");
    };
    View figures = VStack({cardLine(Text(localized("%lld", {std::to_string(month.items.size())})), "sonicBlue"),
                           cardLine(Verbatim(amountText(month.cost)), "sonicYellow")},
                          std::nullopt, Alignment::trailing)
                       .padding(12)
                       .background(ShapeView(Shape::roundedRectangle(22, true), assetColor("sonicRed").withGradient())
                                       .shadow(Color::system("black").withOpacity(0.33), 1))
                       .opacity(0.8);
    return (Button(figures | CorneredRadiusModifier{26}, tap).buttonStyle(ButtonStyle::plain).padding(9))
        .sensoryFeedback(SensoryFeedback::selection, calculateSheetHaptic.get())
        .popoverTip(leftToPayTip, Edge::bottom, [] {})
        .accessibilityIdentifier("monthSummary");
  });
  View empty = when(isEmpty, [] {
    Frame frame;
    frame.maxWidth = infinity;
    return View(EntityUnavailableView{keyText(localizable_noBillsThisMonth), AssetImage("envelope.circle.fill.badge.checkmark"),
                                      keyText(localizable_noBillsAvailableDescription), std::nullopt, {}})
        .frame(frame);
  });

  list = list.scrollIndicators(Visibility::hidden)
             .scrollBounceBehavior(isEmpty ? ScrollBounceBehavior::basedOnSize : ScrollBounceBehavior::automatic)
             .safeAreaInset(Edge::bottom, card, Alignment::trailing)
             .overlay(empty, Alignment::center);
  list = leftToPaySheet(list, showCalculateSheet, profile, record);
  return list.toolbar({ToolbarItem(ToolbarPlacement::automatic, forecastSortMenu(profile))});
}

}  // namespace brivel
