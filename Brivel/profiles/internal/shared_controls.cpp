#include "Brivel/profiles/internal/shared_controls.h"

#include <utility>
#include <vector>

#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/text.h"

namespace brivel::profiles_internal {

using namespace platform::ui;

View xmarkCloseButton(const Binding<bool>& isPresented) {
  return Button(SymbolImage(SFSymbols::xmark), [isPresented] { isPresented.set(!isPresented.get()); })
      .accessibilityIdentifier("close");
}

View xmarkCloseButton(const DismissAction& dismiss) {
  return Button(SymbolImage(SFSymbols::xmark), [dismiss] { dismiss(); }).accessibilityIdentifier("close");
}

View toolbarTextButton(std::string_view titleKey, std::function<void()> action, std::optional<Color> tint,
                       bool isDisabled, bool isBold) {
  View button = Button(Text(keyText(titleKey)).bold(isBold), std::move(action));
  if (tint) button = button.tint(*tint);
  return button.disabled(isDisabled);
}

View toolbarTipImageButton(std::function<void()> action, View image, bool isDisabled, bool isBold,
                           std::shared_ptr<const Tip> tip) {
  View button = Button(std::move(image), std::move(action))
                    .disabled(isDisabled)
                    .bold(isBold && !isDisabled)
                    .symbolEffect("bounce", isDisabled);
  if (tip) button = button.popoverTip(std::move(tip), Edge::top, [] {});
  return button;
}

View nameFieldLabel() { return LocalizedText(localizable_name).foregroundStyle(Color::system("secondary")); }

View ColouredCircleSymbolView::body(Context&) const {
  View image = symbol ? SymbolImage(*symbol).symbolVariant("circle.fill").foregroundStyle(color.withGradient())
                      : SymbolImage(SFSymbols::circle)
                            .symbolVariant("fill")
                            .foregroundStyle(color.withGradient())
                            .shadow(Color::system("black").withOpacity(0.15), 1);
  return isProfileCard ? image : image.font("caption");
}

View BillEntitySmallListView::body(Context&) const {
  auto linkName = [](const std::string& text, const std::string& colorName) {
    return Verbatim(text) |
           SubtitleFontStyleModifier{"caption", colorFromAssetName(colorName), false, "leading"};
  };
  View account = bankAccount ? linkName(bankAccount->name(), bankAccount->color()) : View();
  View group = category ? linkName(category->name(), category->color()) : View();
  View links = when(bankAccount || category, [&] { return HStack({account, group}, 6.0); });
  View title = Verbatim(platform::trimmingWhitespaceAndNewlines(name)) |
               SubtitleFontStyleModifier{"subheadline", Color::system("primary"), false, "leading"};
  View amount = Verbatim(platform::formatCurrency(cost)) |
                SubtitleFontStyleModifier{"subheadline", Color::system("primary"), false, "trailing"};
  return HStack({VStack({title, links}, 2.0, "leading"), Spacer(), amount});
}

}  // namespace brivel::profiles_internal
