#include "Brivel/bills/internal/interim_screens.h"

#include <optional>
#include <string>
#include <utility>

#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"

namespace brivel::bills_internal {

using namespace platform::ui;

View InterimListScreen::body(Context&) const {
  EntityUnavailableView empty{keyText(emptyTitleKey), SystemImage(std::string(symbol)),
                              emptyDescriptionKey.empty() ? std::nullopt
                                                          : std::optional<TextContent>(keyText(emptyDescriptionKey)),
                              std::nullopt,
                              {}};
  View page = List({Section({View(empty)})}) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(titleKey)};
  return NavigationStack(page.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss))}));
}

namespace {

template <class Entity>
std::optional<std::vector<std::shared_ptr<Entity>>> appended(std::optional<std::vector<std::shared_ptr<Entity>>> list,
                                                             const std::shared_ptr<Entity>& entity) {
  auto items = list.value_or(std::vector<std::shared_ptr<Entity>>{});
  items.push_back(entity);
  return items;
}

}  // namespace

View InterimLinkAddScreen::body(Context& ctx) const {
  auto name = ctx.state<std::string>("name", "");
  auto self = *this;
  auto save = [self, name] {
    const std::string trimmed = platform::trimmingWhitespaceAndNewlines(name.get());
    if (trimmed.empty() || !self.profile) return;
    if (self.kind == InterimLinkKind::bankAccount) {
      auto account = BankAccountEntity::make(platform::UUID::random(), trimmed, "appleRed", "", std::nullopt,
                                             self.profile, BillList{}, platform::Date::now());
      self.profile->setBankAccounts(appended(self.profile->bankAccounts(), account));
      if (self.bankAccountCompletion) self.bankAccountCompletion(account);
    } else {
      auto category = CategoryEntity::make(platform::UUID::random(), trimmed, "appleRed", self.profile, BillList{},
                                           platform::Date::now());
      self.profile->setCategories(appended(self.profile->categories(), category));
      if (self.categoryCompletion) self.categoryCompletion(category);
    }
    name.set("");
    if (self.dismissAfterSave) self.dismiss.set(!self.dismiss.get());
  };
  const bool isBankAccount = kind == InterimLinkKind::bankAccount;
  View nameRow = LabeledContent(LocalizedText(localizable_name).foregroundStyle(Color::system("secondary")),
                                TextField(keyText(localizable_enter), name.binding())
                                        .focused(ctx.focusState<bool>("nameIsFocused").binding())
                                        .multilineTextAlignment("trailing")
                                        .accessibilityIdentifier("linkName") |
                                    TextFieldLimiterModifier{name.binding(), 30});
  View form = Form({Section({nameRow})}) |
              NavigationBarTitleDisplayModifier{
                  TitleDisplayMode::inline_,
                  std::string(isBankAccount ? localizable_newBankAccount : localizable_newCategory)};
  return NavigationStack(form.toolbar(
                             {ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                              ToolbarItem(ToolbarPlacement::primaryAction,
                                          toolbarTipImageButton(save, SystemImage("checkmark"),
                                                                platform::trimmingWhitespaceAndNewlines(name.get()).empty(),
                                                                true, nullptr)
                                              .accessibilityIdentifier("saveLink"))}))
      .interactiveDismissDisabled(true);
}

}  // namespace brivel::bills_internal
