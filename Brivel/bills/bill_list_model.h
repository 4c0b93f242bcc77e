// The bills list's derived data, kept between renders: the selected profile's bills sorted and
// grouped under its choices, their row keys, each bill's collation key (for the name orders)
// and search key (its name folded for a case-insensitive search), and the results of the last
// search text. The current locale is read once per computation, not per comparison.
//
// Every store property the list depends on is watched (the profile's lists and choices; each
// bill's id, name, cost, timestamp and links; each account's and category's name, colour,
// number, timestamp and bill list): a change drops what was derived from it and asks every
// screen to render again (platform::ui::notifyCacheDropped). A bill's keys are made again only
// when its name or the locale changed.
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

  // The list's content for `profile` and the search text, computed again only after a change.
  std::shared_ptr<const BillListModelContent> content(const std::shared_ptr<ProfileEntity>& profile,
                                                      std::string_view searchText);
  // collectionListState(profile), kept until the profile's bill list changes.
  CollectionListState listState(const std::shared_ptr<ProfileEntity>& profile);
  // Forgets everything (the watches too).
  void reset();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace brivel
