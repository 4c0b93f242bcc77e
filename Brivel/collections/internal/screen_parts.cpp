#include "Brivel/collections/internal/screen_parts.h"

#include <utility>

#include "Brivel/collections/bill_entity_small_list_view.h"
#include "Brivel/collections/collection_ordering.h"
#include "Brivel/collections/collection_views.h"
#include "Brivel/collections/toolbar_buttons.h"
#include "Brivel/shell/localized_keys.h"
#include "Brivel/shell/palette.h"
#include "Brivel/shell/toast.h"
#include "Brivel/shell/view_helpers.h"
#include "Brivel/shell/view_modifiers.h"

namespace brivel::collections_internal {

using namespace platform::ui;

View withDeleteDialog(const View& content, std::string_view titleKey, std::string_view messageKey,
                      Binding<bool> isPresented, std::function<void()> confirm) {
  return content.confirmationDialog(keyText(titleKey), std::move(isPresented), Visibility::visible,
                                    {Button(keyText(localizable_cancel), [] {}, ButtonRole::cancel),
                                     Button(keyText(localizable_delete), std::move(confirm), ButtonRole::destructive)
                                         .accessibilityIdentifier("confirmDelete")},
                                    LocalizedText(messageKey));
}

RowState::RowState(Context& ctx)
    : copyHaptic(ctx.state<bool>("copyNumberHaptic", false)),
      showDeleteDialog(ctx.state<bool>("showDeleteDialog", false)),
      deleteDialogHaptic(ctx.state<bool>("deleteDialogHaptic", false)) {}

std::function<void()> RowState::requestDelete() const {
  return [show = showDeleteDialog, haptic = deleteDialogHaptic] {
    haptic.toggle();
    show.toggle();
  };
}

View collectionRow(const RowSpec& spec, const RowState& state) {
  const bool copies = !spec.copyKey.empty();
  const auto requestDelete = state.requestDelete();
  View copyLabel = when(copies, [&] { return Label(keyText(spec.copyKey), "doc.on.doc"); });
  auto swipeLabel = [&](View label, std::string_view symbol) {
    return spec.symbolOnlySwipe ? SystemImage(std::string(symbol)) : label;
  };
  View link = NavigationLink(spec.label, spec.detail);
  if (spec.background) link = link.listRowBackground(*spec.background);
  link = link.sensoryFeedback(SensoryFeedback::success, state.copyHaptic.get())
             .sensoryFeedback(SensoryFeedback::warning, state.deleteDialogHaptic.get())
             .contextMenu({NavigationLink(editMenuLabel(), spec.detail),
                           when(copies, [&] { return Button(copyLabel, spec.copy).accessibilityIdentifier(spec.copyId); }),
                           Divider(),
                           Button(deleteMenuLabel(), requestDelete, ButtonRole::destructive)
                               .accessibilityIdentifier(spec.deleteId)})
             .swipeActions(Edge::trailing, true,
                           {NavigationLink(swipeLabel(editMenuLabel(), "pencil"), spec.detail).tint(assetColor("sonicBlue")),
                            when(copies, [&] { return Button(copyLabel, spec.copy).tint(assetColor("tailsOrange")); }),
                            Button(swipeLabel(deleteMenuLabel(), "trash"), requestDelete).tint(assetColor("sonicRed"))});
  return withDeleteDialog(link, spec.deleteTitleKey, spec.deleteMessageKey, state.showDeleteDialog.binding(),
                          spec.confirmDelete)
      .accessibilityIdentifier(spec.rowId);
}

View itemScreenFrame(const View& form, const ItemFrame& frame) {
  View stack = NavigationStack(form)
                   .interactiveDismissDisabled(true)
                   .sensoryFeedback(SensoryFeedback::success, frame.savedHaptic, savesSucceed())
                   .sensoryFeedback(SensoryFeedback::warning, frame.deleteDialogHaptic)
                   .accentColor(frame.accent);
  return withDeleteDialog(stack, frame.deleteTitleKey, frame.deleteMessageKey, frame.showDeleteDialog,
                          frame.confirmDelete);
}

View deleteRowSection(std::function<void()> requestDelete) {
  return Section({Button(deleteRowLabel(), std::move(requestDelete))
                      .listRowBackground(Color::system("red"))
                      .accessibilityIdentifier("deleteRow")});
}

View listScreenFrame(std::vector<View> sections, const ListFrame& frame) {
  View list = List(std::move(sections)).listSectionSpacing(ListSectionSpacing::compact).safeAreaInset(Edge::bottom, frame.badge, Alignment::trailing) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(frame.titleKey)};
  list = list.sheet(frame.showAddScreen, [make = frame.addScreen] { return make().presentationSizing(PresentationSizing::form); });
  auto toggleAdd = [flag = frame.showAddScreen] { flag.set(!flag.get()); };
  list = list.toolbar(
      {when(frame.presentedInSheet,
            [&] { return ToolbarItem(ToolbarPlacement::topBarLeading, xmarkDismissButton(frame.dismiss)); }),
       ToolbarItem(ToolbarPlacement::primaryAction,
                   Menu(sortMenuLabel(), frame.sortEntries).tint(frame.accent).accessibilityIdentifier("sortMenu")),
       ToolbarItem(ToolbarPlacement::primaryAction,
                   toolbarTipImageButton(toggleAdd, SystemImage("plus"), false, false, nullptr).accessibilityIdentifier("add"))});
  View content = frame.presentedInSheet ? NavigationStack(list) : list;
  return content.accentColor(frame.accent);
}

View uncategorizedRow(std::string_view symbol, std::string_view colorName, std::function<View()> destination,
                      std::size_t count) {
  return Section({NavigationLink(rowTitleLabel(LocalizedText(localizable_uncategorized), symbol), std::move(destination))
                      .listRowSeparator(Visibility::hidden)
                      .listRowBackground(assetColor(colorName))
                      .animation(Animation::default_, count)
                      .accessibilityIdentifier("uncategorized")});
}

View uncategorizedScreen(Context& ctx, const UncategorizedSpec& spec) {
  const DismissAction dismiss = ctx.dismiss();
  auto linkedBillHaptic = ctx.state<bool>("linkedBillHaptic", false);
  BillList unlinked;
  for (const auto& bill : spec.profile->bills().value_or(BillList{})) {
    if (!spec.isLinked(*bill)) unlinked.push_back(bill);
  }
  const std::size_t listed = unlinked.size();
  auto row = [&](const std::shared_ptr<BillEntity>& bill) {
    std::vector<View> items;
    for (std::size_t i = 0; i < spec.entryLabels.size(); ++i) {
      auto link = [profile = spec.profile, link = spec.link, bill, i, linkedBillHaptic, dismiss, listed] {
        auto bills = profile->bills();
        if (!bills) return;
        const std::string idText = bill->id().uuidString();
        for (const auto& candidate : *bills) {
          if (candidate->id().uuidString() != idText) continue;
          withAnimation([&] {
            link(*candidate, i);
            linkedBillHaptic.toggle();
            if (listed == 1) dismiss();
          });
          return;
        }
      };
      items.push_back(Button(spec.entryLabels[i], link).id(spec.entryIds[i]));
    }
    return Menu(spec.billLabel(*bill), std::move(items)).accessibilityIdentifier("linkBill");
  };
  View list = List({Section({ForEach(billsByName(unlinked), [](const auto& bill) { return bill->id().uuidString(); }, row)},
                            billsCountSectionHeader(listed))}) |
              NavigationBarTitleDisplayModifier{TitleDisplayMode::inline_, std::string(localizable_uncategorized)};
  return NavigationStack(list.sensoryFeedback(SensoryFeedback::success, linkedBillHaptic.get(), savesSucceed()))
      .interactiveDismissDisabled(true);
}

}  // namespace brivel::collections_internal
