// The parts the three kinds of side-collection screens are built from: the row with its
// menus and delete dialog, the item screen's frame, the list screen's frame and the
// uncategorized screen. Each kind passes what differs (texts, symbols, colours, links).
//
// Threads: main thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/view.h"

namespace brivel::collections_internal {

// The delete confirmation dialog of a row or an item screen: cancel, then the destructive
// "localizable_delete" (identifier "confirmDelete") that runs `confirm`.
platform::ui::View withDeleteDialog(const platform::ui::View& content, std::string_view titleKey,
                                    std::string_view messageKey, platform::ui::Binding<bool> isPresented,
                                    std::function<void()> confirm);

// The view states of a row and its "request delete" action (warning haptic, then the dialog).
struct RowState {
  platform::ui::State<bool> copyHaptic, showDeleteDialog, deleteDialogHaptic;
  explicit RowState(platform::ui::Context& ctx);
  std::function<void()> requestDelete() const;
};

// What a row shows and does.
struct RowSpec {
  platform::ui::View label;
  std::optional<platform::ui::Color> background;  // set by the list instead when absent
  std::function<platform::ui::View()> detail;     // the item screen
  std::string_view copyKey;                       // empty: the row copies nothing
  std::function<void()> copy;
  std::string copyId, deleteId, rowId;
  std::string_view deleteTitleKey, deleteMessageKey;
  std::function<void()> confirmDelete;
  bool symbolOnlySwipe = false;  // swipe buttons show their symbol without text
};

// The row's navigation link with its haptics, context menu (edit, copy, divider, delete),
// trailing swipe actions (edit, copy, delete) and delete dialog.
platform::ui::View collectionRow(const RowSpec& spec, const RowState& state);

// The frame of an item screen around its form: its own navigation stack, no swipe-down, the
// success and warning haptics, the accent colour and the delete dialog.
struct ItemFrame {
  bool savedHaptic = false;
  bool deleteDialogHaptic = false;
  platform::ui::Color accent;
  std::string_view deleteTitleKey, deleteMessageKey;
  platform::ui::Binding<bool> showDeleteDialog;
  std::function<void()> confirmDelete;
};
platform::ui::View itemScreenFrame(const platform::ui::View& form, const ItemFrame& frame);

// The red delete row of an item screen.
platform::ui::View deleteRowSection(std::function<void()> requestDelete);

// The frame of a list screen around its list: compact sections, the count badge inset, the
// title, the add sheet, the toolbar (close button in a sheet, sort menu, "plus"), its own
// navigation stack in a sheet, and the profile's accent colour.
struct ListFrame {
  std::string_view titleKey;
  platform::ui::View badge;
  platform::ui::Binding<bool> showAddScreen;
  std::function<platform::ui::View()> addScreen;
  std::vector<platform::ui::View> sortEntries;
  bool presentedInSheet = false;
  platform::ui::DismissAction dismiss;
  platform::ui::Color accent;
};
platform::ui::View listScreenFrame(std::vector<platform::ui::View> sections, const ListFrame& frame);

// The row of a list that leads to its uncategorized screen.
platform::ui::View uncategorizedRow(std::string_view symbol, std::string_view colorName,
                                    std::function<platform::ui::View()> destination, std::size_t count);

// The uncategorized screen: the profile's bills that `isLinked` rejects, by name, each a menu
// of `entries` (one per record, in stored order) whose tap runs `link(bill, index)`; linking
// the only listed bill closes the screen through `dismiss`.
struct UncategorizedSpec {
  std::shared_ptr<ProfileEntity> profile;
  std::function<bool(const BillEntity&)> isLinked;
  std::function<platform::ui::View(const BillEntity&)> billLabel;
  std::vector<platform::ui::View> entryLabels;
  std::vector<std::string> entryIds;
  std::function<void(BillEntity&, std::size_t)> link;
};
platform::ui::View uncategorizedScreen(platform::ui::Context& ctx, const UncategorizedSpec& spec);

// One row per record of a list, identified by the record's id; a long list builds only the
// rows around what the page shows, after the body returned, so `row` owns what it uses.
template <class Record, class Row>
platform::ui::View lazyRecordRows(std::vector<std::shared_ptr<Record>> records, Row row) {
  auto shown = std::make_shared<const std::vector<std::shared_ptr<Record>>>(std::move(records));
  return platform::ui::LazyForEach(
      shown->size(), [shown](std::size_t i) { return (*shown)[i]->id().uuidString(); },
      [shown, row = std::move(row)](std::size_t i) { return platform::ui::View(row((*shown)[i])); });
}

}  // namespace brivel::collections_internal
