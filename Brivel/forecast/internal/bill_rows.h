// One row per bill of a list, each identified by its bill's id (made unique within the list),
// as the forecast's lists, the month screen and the checklist show them. `row` runs while the
// list renders its window, so it captures what it uses by value.
//
//   billForEach(bills, [](const std::shared_ptr<BillEntity>& bill) { return View(BillEntityView{bill}); })
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Brivel/bills/bill_sections.h"
#include "Brivel/model/bill_entity.h"
#include "platform/ui/view.h"

namespace brivel::forecast_internal {

template <class Row>
platform::ui::View billForEach(const BillList& bills, Row row) {
  // A long list builds only the rows around what the page shows, after the body returned:
  // the rows own the bills, their keys and `row` (which must own what it uses).
  auto shared = std::make_shared<const BillList>(bills);
  auto keys = std::make_shared<const std::vector<std::string>>(billRowKeys(bills));
  return platform::ui::LazyForEach(
      shared->size(), [keys](std::size_t i) { return (*keys)[i]; },
      [shared, row = std::move(row)](std::size_t i) { return platform::ui::View(row((*shared)[i])); });
}

}  // namespace brivel::forecast_internal
