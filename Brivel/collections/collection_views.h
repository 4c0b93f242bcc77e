// The small builders the side-collection screens share (and the bills screens reuse): the sort
// menu's label and entries, the bills-count header, the editors' name label, the delete row's
// label, the rows' edit and delete menu labels, the coloured row title, the floating count
// badge and the editors' success tails. Plain functions of their arguments; no state.
//
//   Menu(sortMenuLabel(), {sortMenuEntry(profile, localizable_name, "personalhotspot",
//                                        &ProfileEntity::noteSortType, &ProfileEntity::setNoteSortType,
//                                        NoteSortType::name)})
//
// Threads: main thread, like the views.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "Brivel/collections/collection_ordering.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/view_helpers.h"
#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel {

// "localizable_sort" with the symbol "arrow.up.arrow.down".
platform::ui::View sortMenuLabel();

// A horizontal row, centred vertically: "localizable_bills", a spacer, the count as "%lld".
platform::ui::View billsCountSectionHeader(std::size_t count);

// "localizable_name" in the secondary style: the label of the editors' name rows.
platform::ui::View nameLabel();

// "localizable_delete" in bold white headline beside a white "trash": the item screens' and
// the bill detail's red delete row.
platform::ui::View deleteRowLabel();

// "localizable_edit" with "pencil", and "localizable_delete" with "trash": the rows' menus.
platform::ui::View editMenuLabel();
platform::ui::View deleteMenuLabel();

// A row title: `title` (shown as stored) in bold white headline beside `symbol` in the
// circle-fill variant, white with a faint black shadow.
platform::ui::View rowTitleLabel(platform::ui::View title, std::string_view symbol);

// The floating count badge of the list screens: the count and a filled symbol in white on
// a rounded rectangle of the gradient of `colorName` with a faint shadow, with `tip` hanging
// from it; the count rolls as it changes. With
// `countFirst` the count stands before the symbol.
platform::ui::View countBadge(std::size_t count, std::string_view symbol, std::string_view colorName,
                              std::shared_ptr<const platform::ui::Tip> tip, bool countFirst = false);

// The section of a list's empty state: the view across the full width on a clear row.
platform::ui::View emptyStateSection(platform::ui::View unavailable);

// One entry of a sort menu on a stored choice of the profile: a tap selects the ascending case
// of the key, or the reversed case when the ascending one is current, as an animated write.
// The entry's image shows which case is current. Its identifier is `idPrefix` + `key`.
template <StoredEnumType E>
platform::ui::View sortMenuEntry(const std::shared_ptr<ProfileEntity>& profile, std::string_view key,
                                 std::string_view family, E (ProfileEntity::*read)() const,
                                 void (ProfileEntity::*write)(E), E ascending, std::string_view idPrefix = "sort.") {
  const E current = ((*profile).*read)();
  auto action = [profile, read, write, ascending] {
    platform::ui::withAnimation([&] { ((*profile).*write)(nextSortValue(((*profile).*read)(), ascending)); });
  };
  return platform::ui::Button(platform::ui::Label(LocalizedText(key),
                                                  platform::ui::AssetImage(sortEntryImage(family, current, ascending))),
                              action)
      .accessibilityIdentifier(std::string(idPrefix) + std::string(key));
}

// The tail of an add screen's save, after the record was added and handed to the completion:
// the success haptic, the form reset as an animated change, then either the "added" toast and
// the name field focused again (not `dismissAfterSave` and the setting off) or the sheet
// closed through `dismiss`.
void finishAddSave(bool dismissAfterSave, const UserDefaultsManager& settings, const platform::ui::Binding<bool>& dismiss,
                   const platform::ui::Binding<bool>& savedHaptic, const platform::ui::Binding<bool>& savedToastMessage,
                   const platform::ui::Binding<bool>& nameIsFocused, const std::function<void()>& resetForm);

// The tail of an item screen's update, after the record was written: the success haptic, then
// the screen closed (setting on) or the "updated" toast.
void finishItemUpdate(const UserDefaultsManager& settings, const platform::ui::DismissAction& dismiss,
                      const platform::ui::Binding<bool>& savedHaptic, const platform::ui::Binding<bool>& savedToastMessage);

}  // namespace brivel
