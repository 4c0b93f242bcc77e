#include "Brivel/collections/bill_entity_small_list_view.h"

#include <optional>

#include "Brivel/collections/coloured_circle_symbol_view.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel {

using namespace platform::ui;

View BillEntitySmallListView::body(Context&) const {
  View title = (Verbatim(platform::trimmingWhitespaceAndNewlines(name)) |
                SubtitleFontStyleModifier{Font::subheadline, Color::system("primary"), true, TextAlignment::leading})
                   .minimumScaleFactor(0.6)
                   .lineLimit(1);
  View number = when(bankAccount != nullptr, [&] {
    return Verbatim(bankAccount->number()) |
           NoteFontStyleModifier{Font::caption, colorFromAssetName(bankAccount->color()), false, TextAlignment::leading};
  });
  View group = when(category != nullptr, [&] {
    return Verbatim(category->name()) |
           NoteFontStyleModifier{Font::caption, colorFromAssetName(category->color()), false, TextAlignment::leading};
  });
  View label = HStack({View(ColouredCircleSymbolView{.color = assetColor("sonicBlue"), .symbol = std::nullopt,
                                                     .isProfileCard = false}),
                       VStack({title, number, group}, 0.0, Alignment::leading)});
  View amount = (Verbatim(platform::formatCurrency(cost)) |
                 SubtitleFontStyleModifier{Font::subheadline, Color::system("secondary"), false, TextAlignment::leading})
                    .minimumScaleFactor(0.6)
                    .lineLimit(1);
  return LabeledContent(label, amount);
}

}  // namespace brivel
