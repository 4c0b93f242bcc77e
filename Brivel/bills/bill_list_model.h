// The bills list's derived data, kept between renders and brought up to date by the store's
// change notices: the selected profile's bills sorted and grouped under its choices, their row
// keys, each bill's collation key (for the name orders) and search key (its name folded for a
// case-insensitive search), and the results of the last search text. The current locale and
// its collator are read once per render, not per comparison.
//
// The model observes the profile, its accounts and categories, and each of its bills (one
// observer per object). A notice marks what changed: a bill whose cost, date, link or name
// changed is taken out of its place and put back where it now belongs, bills added to or
// removed from the profile's list are inserted or removed alone, and a bill's keys are made
// again only when its name or the locale changed. A change of the bill order, the grouping or
// the locale, or a change to many bills at once, sorts and groups everything again. Each
// change asks the screens to render again (platform::ui::notifyCacheDropped); a section whose
// rows did not change keeps the same shared rows.
//
//   auto model = BillListModel::shared().content(profile, searchText);
//   for (const BillRowGroup& group : model->groups) ...   // one per section, or one for rows
//
// The results equal buildBillListContent(profile, searchText) (bill_sections.h).
//
// Main thread only.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/bills/bill_sections.h"

namespace brivel {

// The rows of one section (or of the whole list), shared with the views that show them.
struct BillRowGroup {
  std::shared_ptr<const BillList> bills;
  std::shared_ptr<const std::vector<std::string>> keys;  // billRowKeys(*bills)
};

struct BillListModelContent {
  BillListContent content;           // sections without their bills (see groups)
  std::vector<BillRowGroup> groups;  // rows: one group; sections: one per section, in order
};

class BillListModel {
 public:
  static BillListModel& shared();

  BillListModel();
  ~BillListModel();
  BillListModel(const BillListModel&) = delete;
  BillListModel& operator=(const BillListModel&) = delete;

  // The list's content for `profile` and the search text, brought up to date after a change.
  std::shared_ptr<const BillListModelContent> content(const std::shared_ptr<ProfileEntity>& profile,
                                                      std::string_view searchText);
  // collectionListState(profile), kept until the profile's bill list changes.
  CollectionListState listState(const std::shared_ptr<ProfileEntity>& profile);
  // Forgets everything (the observers too).
  void reset();

  // How the last content() call brought the model up to date, for tests.
  enum class LastUpdate { none, kept, incremental, full };
  LastUpdate lastUpdate() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brivel
