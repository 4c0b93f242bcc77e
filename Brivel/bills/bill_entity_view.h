// BillEntityView: the card of one bill in a list: name, occurrence and period, cost, the
// linked category or account number, and the note, each line led by a coloured dot. It
// carries the bill's actions twice, as a context menu and as trailing swipe actions: edit
// (the detail screen, in a sheet of the card or pushed on the surrounding navigation stack),
// copy the note to the pasteboard, and delete after a confirmation dialog.
//
//   BillEntityView{.bill = bill,
//                  .collectionFilterType = profile->collectionFilterType(),
//                  .compactMode = {.isOn = false, .showOccurring = false},
//                  .isDeleteable = true,
//                  .isEditable = false}
//
// The card never writes the bill; a confirmed delete takes it out of its profile's lists and
// saves the store (bill_deletion.h). Reads the store container from the environment.
// Threads: main thread; the delete runs a moment later as a block on the main queue.
#pragma once

#include <memory>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/enums.h"
#include "platform/ui/view.h"

namespace brivel {

struct BillCompactMode {
  bool isOn = false;           // the compact layout of the forecast screens
  bool showOccurring = false;  // the compact layout's period line
};

struct BillEntityView {
  std::shared_ptr<BillEntity> bill;
  // The grouping of the list showing the card: under category grouping the full layout
  // shows the account number instead of the category.
  CollectionFilterType collectionFilterType = CollectionFilterType::off;
  BillCompactMode compactMode;
  bool isDeleteable = false;
  // true: edit opens the detail screen in a sheet of the card; false: it pushes it.
  bool isEditable = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The titles of the card's actions, shared with other lists.
platform::ui::View editText();
platform::ui::View copyNoteText();
platform::ui::View deleteText();

}  // namespace brivel
