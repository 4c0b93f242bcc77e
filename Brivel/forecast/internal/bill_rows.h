// One row per bill of a list, each identified by its bill's id (made unique within the list),
// as the forecast's lists, the month screen and the checklist show them. `row` runs while the
// list renders its window, so it captures what it uses by value.
//
//   billForEach(bills, [](const std::shared_ptr<BillEntity>& bill) { return View(BillEntityView{bill}); })
//   billForEach(keptRows, row)   // rows and keys made before (BillListModel::monthRows), shared
//   billForEachOfOwnIds(bills, row)   // ids known to differ: keys made for the rows built only
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_sections.h"
#include "Brivel/model/bill_entity.h"
#include "platform/ui/view.h"

namespace brivel::forecast_internal {

template <class Row>
platform::ui::View billForEach(BillRowGroup rows, Row row) {
  // A long list builds only the rows around what the page shows, after the body returned:
  // the rows own the bills, their keys and `row` (which must own what it uses).
  const std::size_t count = rows.bills->size();
  return platform::ui::LazyForEach(
      count, [rows](std::size_t i) { return rows.key(i); },
      [bills = rows.bills, row = std::move(row)](std::size_t i) { return platform::ui::View(row((*bills)[i])); });
}

// For a list whose bills' ids are known to differ: a row's key is its bill's id, made only
// for the rows the list builds.
template <class Row>
platform::ui::View billForEachOfOwnIds(std::shared_ptr<const BillList> bills, Row row) {
  const std::size_t count = bills->size();
  return platform::ui::LazyForEach(
      count, [bills](std::size_t i) { return (*bills)[i]->id().uuidString(); },
      [bills, row = std::move(row)](std::size_t i) { return platform::ui::View(row((*bills)[i])); });
}

template <class Row>
platform::ui::View billForEach(const BillList& bills, Row row) {
  auto keys = std::make_shared<const std::vector<std::string>>(billRowKeys(bills));
  return billForEach(BillRowGroup{std::make_shared<const BillList>(bills), std::move(keys), nullptr}, std::move(row));
}

}  // namespace brivel::forecast_internal
