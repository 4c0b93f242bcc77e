#include "Brivel/collections/category_screens.h"

#include <optional>
#include <string>
#include <utility>

#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/collection_actions.h"
#include "Brivel/collections/collection_ordering.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/collections/internal/screen_parts.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/color_picker_view.h"
#include "Brivel/shell/entity_unavailable_view.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/model_environment.h"
#include "Brivel/shell/tips.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_modifiers.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"

namespace brivel {

using namespace platform::ui;
using namespace collections_internal;

namespace {

using Model = CategoriesAddScreenViewModel;

std::string normalizedName(const std::string& text) {
  return platform::lowercased(platform::trimmingWhitespaceAndNewlines(text));
}

View nameSection(const std::shared_ptr<Model>& vm, const State<bool>& nameIsFocused) {
  const Binding<std::string> name = bind(vm, &Model::name);
  View field = TextField(keyText(localizable_enter), name)
                   .textInputAutocapitalization(TextInputAutocapitalization::never)
                   .focused(nameIsFocused.binding())
                   .submitLabel(SubmitLabel::return_)
                   .multilineTextAlignment(TextAlignment::trailing)
                   .accessibilityIdentifier("categoryName") |
               TextFieldLimiterModifier{name, 30};
  return Section({LabeledContent(nameLabel(), field), View(ColorPickerView{bind(vm, &Model::selectedColor)})});
}

}  // namespace

// ----- Add -----

View CategoriesAddScreen::body(Context& ctx) const {
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto vm = *ctx.stateWith<std::shared_ptr<Model>>("vm", [] { return std::make_shared<Model>(); });
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");
  const auto self = *this;

  auto save = [self, vm, nameIsFocused, settings] {
    auto category = CategoryEntity::make({.name = normalizedName(vm->name.get()),
                                          .color = assetNameFromColor(vm->selectedColor.get()),
                                          .profile = self.profile});
    self.profile->setCategories(appendingCreatingList(self.profile->categories(), category));
    if (self.completion) self.completion(category);
    finishAddSave(self.dismissAfterSave, *settings, self.dismiss, bind(vm, &Model::savedHaptic),
                  bind(vm, &Model::savedToastMessage), nameIsFocused.binding(), [vm] { vm->name = std::string(); });
  };
  const bool blank = normalizedName(vm->name.get()).empty();
  View form = Form({nameSection(vm, nameIsFocused)}).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_newCategory)};
  form = form.toolbar({ToolbarItem(ToolbarPlacement::topBarLeading, xmarkCloseButton(dismiss)),
                       ToolbarItem(ToolbarPlacement::primaryAction,
                                   toolbarTipImageButton(save, SystemImage("checkmark"), blank, true, nullptr)
                                       .accessibilityIdentifier("saveCategory"))}) |
         ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::added, SFSymbols::personalhotspot};
  return NavigationStack(form)
      .interactiveDismissDisabled(true)
      .sensoryFeedback(SensoryFeedback::success, vm->savedHaptic.get(), savesSucceed())
      .accentColor(colorFromAssetName(profile->color()))
      .onAppear([nameIsFocused] { nameIsFocused.set(true); });
}

// ----- Detail -----

View CategoriesItemScreen::body(Context& ctx) const {
  using VM = CategoriesItemScreenViewModel;
  auto settings = ctx.environmentObject<UserDefaultsManager>();
  auto container = modelContainer(ctx);
  const DismissAction dismiss = ctx.dismiss();
  auto vm = *ctx.stateWith<std::shared_ptr<VM>>("vm", [] { return std::make_shared<VM>(); });
  const auto shown = *ctx.stateWith<std::shared_ptr<CategoryEntity>>("category", [this] { return category; });
  auto nameIsFocused = ctx.focusState<bool>("nameIsFocused");

  auto update = [vm, shown, nameIsFocused, settings, dismiss] {
    shown->setName(normalizedName(vm->name.get()));
    shown->setColor(assetNameFromColor(vm->selectedColor.get()));
    nameIsFocused.set(false);
    const std::shared_ptr<Model> form = vm;
    finishItemUpdate(*settings, dismiss, bind(form, &Model::savedHaptic), bind(form, &Model::savedToastMessage));
  };
  auto requestDelete = [vm] {
    vm->deleteDialogHaptic = !vm->deleteDialogHaptic.get();
    vm->showDeleteDialog = !vm->showDeleteDialog.get();
  };
  auto confirmDelete = [shown, container, dismiss] { confirmCategoryDelete(shown, container, [dismiss] { dismiss(); }); };

  const auto bills = shown->bills();
  View billsSection = when(bills && !bills->empty(), [&] {
    return Section({ForEach(billsByName(*bills), [](const auto& bill) { return bill->id().uuidString(); },
                            [](const auto& bill) {
                              return View(BillEntitySmallListView{bill->name(), bill->cost(), bill->bankAccount(), nullptr});
                            })},
                   billsCountSectionHeader(bills->size()));
  });
  View deleteSection = deleteRowSection(requestDelete);
  View content = Form({nameSection(vm, nameIsFocused), billsSection, deleteSection}).scrollDismissesKeyboard(ScrollDismissesKeyboard::interactively) |
                 NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_details)};
  const bool blank = normalizedName(vm->name.get()).empty();
  content = content.toolbar({ToolbarItem(ToolbarPlacement::primaryAction,
                                         toolbarTextButton(localizable_update, update, std::nullopt, blank, true)
                                             .accessibilityIdentifier("update"))}) |
            ToastMessageModifier{vm->savedToastMessage.get(), ToastMessageType::updated, SFSymbols::personalhotspot};
  auto owner = shown->profile();
  return itemScreenFrame(content, {vm->savedHaptic.get(), vm->deleteDialogHaptic.get(),
                                   colorFromAssetName(owner ? owner->color() : "sonicBlue"), localizable_deleteCategory,
                                   localizable_deleteCategoryMessage, bind(vm, &VM::showDeleteDialog), confirmDelete})
      .onAppear([vm, shown] {
        vm->name = shown->name();
        vm->selectedColor = colorFromAssetName(shown->color());
      })
      .onDisappear([vm] {
        vm->name = std::string();
        vm->selectedColor = assetColor("appleRed");
      });
}

// ----- Uncategorized -----

View CategoriesUncategorizedScreen::body(Context& ctx) const {
  const CategoryList categories = profile->categories().value_or(CategoryList{});
  UncategorizedSpec spec;
  spec.profile = profile;
  spec.isLinked = [](const BillEntity& bill) { return bill.category() != nullptr; };
  spec.billLabel = [](const BillEntity& bill) {
    return View(BillEntitySmallListView{bill.name(), bill.cost(), bill.bankAccount(), nullptr});
  };
  for (const auto& category : categories) {
    spec.entryLabels.push_back(Label(Verbatim(category->name()), SystemImage("personalhotspot")));
    spec.entryIds.push_back(category->id().uuidString());
  }
  spec.link = [categories](BillEntity& bill, std::size_t i) { bill.setCategory(categories[i]); };
  return uncategorizedScreen(ctx, spec);
}

// ----- Row -----

View CategoriesListRowView::body(Context& ctx) const {
  auto container = modelContainer(ctx);
  const RowState state(ctx);
  const auto shown = category;
  RowSpec spec;
  spec.label = rowTitleLabel(Verbatim(shown->name()), "personalhotspot");
  spec.detail = [shown] { return View(CategoriesItemScreen{shown}); };
  spec.deleteId = "deleteCategory";
  spec.rowId = "categoryRow";
  spec.deleteTitleKey = localizable_deleteCategory;
  spec.deleteMessageKey = localizable_deleteCategoryMessage;
  spec.confirmDelete = [shown, container] { confirmCategoryDelete(shown, container); };
  spec.symbolOnlySwipe = true;
  return collectionRow(spec, state);
}

// ----- List -----

View CategoriesListScreen::body(Context& ctx) const {
  const DismissAction dismiss = ctx.dismiss();
  auto showCreateCategoryScreen = ctx.state<bool>("showCreateCategoryScreen", false);
  auto tip = std::make_shared<CategoryActionsTip>();
  const auto owner = profile;

  std::size_t uncategorized = 0;
  for (const auto& bill : profile->bills().value_or(BillList{})) uncategorized += bill->category() ? 0 : 1;
  const auto categories = profile->categories();
  const CategoryList sorted = sortedCategories(categories.value_or(CategoryList{}), profile->categorySortType());
  auto toggleAdd = [showCreateCategoryScreen] { showCreateCategoryScreen.set(!showCreateCategoryScreen.get()); };

  View uncategorizedSection = when(uncategorized > 0, [&] {
    return uncategorizedRow("personalhotspot", "sonicPurple",
                            [owner] { return View(CategoriesUncategorizedScreen{owner}); }, uncategorized);
  });
  View rows = Section({collections_internal::lazyRecordRows(sorted, [](const auto& category) {
    return View(CategoriesListRowView{category})
        .listRowSeparator(Visibility::hidden)
        .listRowBackground(colorFromAssetName(category->color()));
  })});
  View empty = when(categories && categories->empty(), [&] {
    return emptyStateSection(EntityUnavailableView{keyText(localizable_noCategoriesAvailable),
                                                   AssetImage("personalhotspot.circle.fill.badge.questionmark"),
                                                   keyText(localizable_noCategoriesAvailableDescription),
                                                   keyText(localizable_add), toggleAdd});
  });
  View badge = when(categories && !categories->empty() && !showCreateCategoryScreen.get(),
                    [&] { return countBadge(categories->size(), "personalhotspot", "sonicPurple", tip, true); });

  auto entry = [&](std::string_view key, std::string_view family, CategorySortType ascending) {
    return sortMenuEntry(owner, key, family, &ProfileEntity::categorySortType, &ProfileEntity::setCategorySortType,
                         ascending);
  };
  return listScreenFrame({uncategorizedSection, rows, empty},
                         {localizable_categories, badge, showCreateCategoryScreen.binding(),
                          [owner, showCreateCategoryScreen] {
                            return View(CategoriesAddScreen{.dismiss = showCreateCategoryScreen.binding(),
                                                            .profile = owner, .dismissAfterSave = false,
                                                            .completion = nullptr});
                          },
                          {entry(localizable_name, "personalhotspot", CategorySortType::name),
                           entry(localizable_color, "paintbrush", CategorySortType::color),
                           entry(localizable_dateAdded, "clock", CategorySortType::timestamp)},
                          presentedInSheet, dismiss, colorFromAssetName(owner->color())});
}

}  // namespace brivel
