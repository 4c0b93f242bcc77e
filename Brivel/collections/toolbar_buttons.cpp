#include "Brivel/collections/toolbar_buttons.h"

#include <string>
#include <utility>

#include "Brivel/shell/sf_symbols.h"
#include "Brivel/shell/view_helpers.h"

namespace brivel {

using namespace platform::ui;

View toolbarTextButton(std::string_view titleKey, std::function<void()> action, std::optional<Color> tint,
                       bool isDisabled, bool isBold) {
  View button = Button(Text(keyText(titleKey)).bold(isBold), std::move(action));
  // Without a tint of its own the button clears the one around it: it shows the accent colour.
  button = tint ? button.tint(*tint) : button.tintCleared();
  return button.disabled(isDisabled);
}

View toolbarTipImageButton(std::function<void()> action, View image, bool isDisabled, bool isBold,
                           std::shared_ptr<const Tip> tip) {
  View button = Button(std::move(image), std::move(action))
                    .disabled(isDisabled)
                    .bold(isBold && !isDisabled)
                    .symbolEffect(SymbolEffect::bounce, isDisabled);
  if (tip) button = button.popoverTip(std::move(tip), Edge::top, [] {});
  return button;
}

View xmarkCloseButton(const DismissAction& dismiss) {
  return Button(SymbolImage(SFSymbols::xmark), [dismiss] { dismiss(); }).accessibilityIdentifier("close");
}

View xmarkCloseButton(const Binding<bool>& isPresented) {
  return Button(SymbolImage(SFSymbols::xmark), [isPresented] { isPresented.set(!isPresented.get()); })
      .accessibilityIdentifier("close");
}

}  // namespace brivel
