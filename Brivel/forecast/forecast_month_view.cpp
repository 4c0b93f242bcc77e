#include "Brivel/forecast/forecast_month_view.h"

#include <optional>
#include <string>
#include <string_view>

#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/forecast/forecast_month_item_screen.h"
#include "Brivel/forecast/forecast_month_left_to_pay_screen.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

namespace {

View dot(std::string_view colorName) {
  return View(ColouredCircleSymbolView{.color = assetColor(colorName), .symbol = std::nullopt, .isProfileCard = false});
}

View title(View text) { return text | TitleFontStyleModifier{Font::headline, Color::system("primary"), true, TextAlignment::leading}; }

View figure(const std::string& amount, Color color) {
  return Verbatim(amount) | SubtitleFontStyleModifier{Font::subheadline, color, false, TextAlignment::leading};
}

}  // namespace

View leftToPaySheet(View content, const State<bool>& showCalculateSheet, const std::shared_ptr<ProfileEntity>& profile,
                    std::shared_ptr<const ForecastMonthValues> values) {
  auto flag = showCalculateSheet;
  return content.sheet(flag.binding(), [flag, profile, values] {
    return View(ForecastMonthLeftToPayScreen{flag.binding(), profile, *values, {}})
        .presentationSizing(PresentationSizing::page);
  });
}

View ForecastMonthView::body(Context& ctx) const {
  auto showCalculateSheet = ctx.state<bool>("showCalculateSheet", false);
  const bool showSpendable = profile->showSpendable();

  View names = VStack({HStack({dot("sonicRed"), title(Text(localized(values->month)))}),
                       HStack({dot("sonicBlue"), title(Text(localized("%lld", {std::to_string(values->items.size())})))})},
                      12.0, Alignment::leading);
  View spendable = when(showSpendable, [&] {
    const double amount = spendableAmount(*profile, *values);
    const bool positive = amount > 0.0;
    return HStack({figure(amountText(amount), assetColor(positive ? "appleGreen" : "appleRed")),
                   dot(positive ? "sonicGreen" : "sonicRed")})
        .transition(Transition::pushFromTop)
        .accessibilityIdentifier("spendable");
  });
  View cost = HStack({figure(amountText(values->cost), Color::system("primary")), dot("sonicYellow")})
                  .accessibilityIdentifier("monthCost");
  View figures = VStack({spendable, cost}, 12.0, Alignment::trailing).animation(Animation::default_, showSpendable);

  // The card spans the row, as a list row's content does.
  Frame fullWidth;
  fullWidth.maxWidth = infinity;
  View card = (HStack({names, Spacer(), figures}).frame(fullWidth).padding().background(Color::system("regularMaterial")) |
               CorneredRadiusModifier{25});

  View row = NavigationLink(card,
                            [profile = profile, values = values] { return View(ForecastMonthItemScreen{profile, values}); })
                 .buttonStyle(ButtonStyle::plain)
                 .accessibilityIdentifier("monthRow")
                 .listRowSeparator(Visibility::hidden)
                 .listRowInsets(4, 9, 4, 9)
                 .animation(Animation::default_, showSpendable)
                 .contextMenu({Button(Label(keyText(localizable_leftToPay), "cart"),
                                      [showCalculateSheet] { showCalculateSheet.toggle(); })
                                   .accessibilityIdentifier("leftToPay")});
  return leftToPaySheet(row, showCalculateSheet, profile, values);
}

}  // namespace brivel
