// BillEntityItemScreen: the detail screen of one stored bill, an editable form of its name,
// occurrence and period, cost (with its cost per year), bank account, note and category,
// with an "Update" button that writes the form into the bill and a delete row.
//
// Each time the screen comes on screen its form is filled from the stored bill, and it is
// emptied when the screen goes, so edits that were not written are dropped. Filling never
// changes the bill: the length and decimal rules apply only to what the user types.
//
//   NavigationLink(card, [bill] { return View(BillEntityItemScreen{.bill = bill, .shownInSheet = false}); })
//   .sheet(editBill, [bill] { return View(BillEntityItemScreen{.bill = bill, .shownInSheet = true}); })
//
// `shownInSheet` adds a leading close button, and makes an update always close the screen;
// pushed, an update shows a toast and stays unless the "popViewAfterSaveAndUpdate" setting
// is on. The update leaves saving to the store's automatic save; the delete takes the bill
// out of its profile's lists (bill_deletion.h), closes the screen and saves.
//
// Reads UserDefaultsManager, the store container and BillsNeighbourScreensKey from the
// environment. Threads: main thread.
#pragma once

#include <memory>

#include "Brivel/model/bill_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct BillEntityItemScreen {
  std::shared_ptr<BillEntity> bill;
  bool shownInSheet = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
