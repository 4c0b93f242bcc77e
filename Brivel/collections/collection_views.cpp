#include "Brivel/collections/collection_views.h"

#include <utility>

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel {

using namespace platform::ui;

namespace {
// Black at a third of full opacity in linear sRGB: the faint edge of the white symbols.
Color faintShadow() { return Color::system("black").withOpacity(0.33); }
View whiteHeadline(View text) { return text | TitleFontStyleModifier{Font::headline, Color::system("white"), true, TextAlignment::leading}; }
}  // namespace

View sortMenuLabel() { return Label(LocalizedText(localizable_sort), SystemImage("arrow.up.arrow.down")); }

View billsCountSectionHeader(std::size_t count) {
  return HStack({LocalizedText(localizable_bills), Spacer(), Text(localized("%lld", {std::to_string(count)}))},
                std::nullopt, Alignment::center);
}

View nameLabel() { return LocalizedText(localizable_name).foregroundStyle(Color::system("secondary")); }

View deleteRowLabel() {
  return LabeledContent(whiteHeadline(LocalizedText(localizable_delete)),
                        SystemImage("trash").foregroundStyle(Color::system("white")));
}

View editMenuLabel() { return Label(keyText(localizable_edit), "pencil"); }
View deleteMenuLabel() { return Label(keyText(localizable_delete), "trash"); }

View rowTitleLabel(View title, std::string_view symbol) {
  return Label(whiteHeadline(std::move(title)), SystemImage(std::string(symbol))
                                                    .symbolVariant(SymbolVariant::circleFill)
                                                    .font(Font::title2)
                                                    .foregroundStyle(Color::system("white"))
                                                    .shadow(faintShadow(), 0.6));
}

View countBadge(std::size_t count, std::string_view symbol, std::string_view colorName, std::shared_ptr<const Tip> tip,
                bool countFirst) {
  // The count rolls up or down digit by digit as it changes.
  View number =
      whiteHeadline(Text(localized("%lld", {std::to_string(count)}))).contentTransition(ContentTransition::numericTextCountingUp);
  View image = SystemImage(std::string(symbol)).symbolVariant(SymbolVariant::fill).foregroundStyle(Color::system("white"));
  View label = countFirst ? HStack({number, image}) : Label(number, image);
  View fill = ShapeView(Shape::roundedRectangle(22, true), assetColor(colorName).withGradient()).shadow(faintShadow(), 1);
  return label.padding(12)
      .background(fill)
      .opacity(0.8)
      .clipShape(Shape::roundedRectangle(26, true))
      .padding(9)
      .popoverTip(std::move(tip), Edge::bottom, [] {})
      .accessibilityIdentifier("countBadge");
}

View emptyStateSection(View unavailable) {
  Frame full;
  full.maxWidth = infinity;
  full.alignment = Alignment::center;
  return Section({unavailable.frame(full).listRowBackground(Color::system("clear"))});
}

void finishAddSave(bool dismissAfterSave, const UserDefaultsManager& settings, const Binding<bool>& dismiss,
                   const Binding<bool>& savedHaptic, const Binding<bool>& savedToastMessage,
                   const Binding<bool>& nameIsFocused, const std::function<void()>& resetForm) {
  savedHaptic.set(!savedHaptic.get());
  withAnimation(resetForm);
  if (!dismissAfterSave && !settings.popViewAfterSaveAndUpdate()) {
    showToast(savedToastMessage);
    nameIsFocused.set(true);
  } else {
    dismiss.set(!dismiss.get());
  }
}

void finishItemUpdate(const UserDefaultsManager& settings, const DismissAction& dismiss, const Binding<bool>& savedHaptic,
                      const Binding<bool>& savedToastMessage) {
  savedHaptic.set(!savedHaptic.get());
  if (settings.popViewAfterSaveAndUpdate()) {
    dismiss();
  } else {
    showToast(savedToastMessage);
  }
}

}  // namespace brivel
