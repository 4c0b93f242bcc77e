// The bills list's derived data, kept between renders and brought up to date by the store's
// change notices: the selected profile's bills sorted and grouped under its choices, their row
// keys, each bill's collation key (for the name orders) and search key (its name folded for a
// case-insensitive search; made for every bill in a main-queue turn after the list is shown,
// and laid side by side in the list's order then, so that a letter typed neither waits for
// them nor reads every bill's entry), and the results of the last search text. The current
// locale and its collator are read once per render, not per comparison.
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

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/bills/bill_sections.h"
#include "platform/foundation/uuid.h"

namespace brivel {

// The rows of one section (or of the whole list), shared with the views that show them.
// Their keys are billRowKeys of the rows: given as text (`keys`), or, while no two bills share
// an id, as the ids alone (`ids`), made into text only for the rows a list builds (a long list
// keeps 16 bytes a row rather than a string).
// A search's results pick their rows out of the whole order by place (`positions`, 4 bytes a
// row) and share its bills and ids, rather than copying them: read the rows through size(),
// bill() and key(), which honour the places.
struct BillRowGroup {
  std::shared_ptr<const BillList> bills;
  std::shared_ptr<const std::vector<std::string>> keys;   // or null: see ids
  std::shared_ptr<const std::vector<platform::UUID>> ids;  // set when keys is null
  // Or null: row i is (*bills)[i], with key i. Set, row i is (*bills)[(*positions)[i]], with
  // key (*positions)[i] (the keys or ids are then those of `bills`, unique there).
  std::shared_ptr<const std::vector<std::uint32_t>> positions = {};

  std::size_t size() const { return positions ? positions->size() : bills->size(); }
  bool empty() const { return size() == 0; }
  const std::shared_ptr<BillEntity>& bill(std::size_t row) const { return (*bills)[place(row)]; }
  std::string key(std::size_t row) const {
    const std::size_t at = place(row);
    return keys ? (*keys)[at] : (*ids)[at].uuidString();
  }
  BillList allBills() const;
  std::vector<std::string> allKeys() const;

 private:
  std::size_t place(std::size_t row) const { return positions ? (*positions)[row] : row; }
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
  // The bills that fall due in `month` (0 = January; none outside 0 ... 11), with billRowKeys
  // of that list, in the order sortedBills gives them when handed the month's monthly bills,
  // then its quarterly ones (of month `month` mod 3 of their quarter), then its yearly ones,
  // each in the profile's list order. The model keeps its bills grouped by when they fall due,
  // so a month is merged from three groups, not sorted again, and kept until one of them
  // changes.
  BillRowGroup monthRows(const std::shared_ptr<ProfileEntity>& profile, int month);
  // A number that changes whenever the kept order, a bill's row key or the locale may have
  // changed: a result derived from monthRows() stays good while it stays the same.
  std::uint64_t version() const;
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
