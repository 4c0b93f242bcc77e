#include "Brivel/forecast/forecast_month_item_screen.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_entity_view.h"
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

namespace brivel {

using namespace platform::ui;

ForecastMonthValues currentMonthValues(const ProfileEntity& profile, const ForecastMonthValues& values) {
  const std::optional<int> month = forecastMonthIndex(values.month);
  return month ? monthValues(profile, *month).value_or(values) : values;
}

namespace {

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

  const ForecastMonthValues month = currentMonthValues(*profile, values);
  const bool isEmpty = month.items.empty();

  const BillList rows = sortedBills(month.items, profile->billSortType());
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
  list = leftToPaySheet(list, showCalculateSheet, profile, std::make_shared<const ForecastMonthValues>(month));
  return list.toolbar({ToolbarItem(ToolbarPlacement::automatic, forecastSortMenu(profile))});
}

}  // namespace brivel
