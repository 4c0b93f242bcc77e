// Small controls the profiles screens share with the other collection screens: the sheet
// close buttons, the toolbar text and image buttons, the name-row label, the coloured dot and
// the compact bill line. The collections and bills screens will publish the shared versions;
// until then the profiles screens keep these private copies.
//
// Threads: main thread, like the views.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/shell/sf_symbols.h"
#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel::profiles_internal {

// An "xmark" button that toggles the presenter's flag (true becomes false: the sheet closes).
platform::ui::View xmarkCloseButton(const platform::ui::Binding<bool>& isPresented);
// An "xmark" button that calls the environment's dismiss action.
platform::ui::View xmarkCloseButton(const platform::ui::DismissAction& dismiss);

// A text button titled with a localized key; tinted only when a tint is given.
platform::ui::View toolbarTextButton(std::string_view titleKey, std::function<void()> action,
                                     std::optional<platform::ui::Color> tint, bool isDisabled, bool isBold);

// An image button that bounces whenever its disabled state changes, drawn bold only while
// enabled, with the tip's popover (arrow on the top edge) when a tip is given.
platform::ui::View toolbarTipImageButton(std::function<void()> action, platform::ui::View image, bool isDisabled,
                                         bool isBold, std::shared_ptr<const platform::ui::Tip> tip);

// The label of a form's name row: "localizable_name" in the secondary style.
platform::ui::View nameFieldLabel();

// A filled dot (or a symbol in a filled circle) in the gradient of `color`.
struct ColouredCircleSymbolView {
  platform::ui::Color color;
  std::optional<SFSymbols> symbol;
  bool isProfileCard = false;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

// One compact bill line: the trimmed name, the cost in the shared currency format, and the
// names of the linked bank account and category in their colours.
struct BillEntitySmallListView {
  std::string name;
  double cost = 0.0;
  std::shared_ptr<BankAccountEntity> bankAccount;
  std::shared_ptr<CategoryEntity> category;
  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel::profiles_internal
