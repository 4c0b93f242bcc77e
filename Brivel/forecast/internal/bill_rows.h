// One row per bill of a list, each identified by its bill's id (made unique within the list),
// as the forecast's lists, the month screen and the checklist show them.
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
  const auto keys = billRowKeys(bills);
  std::vector<std::pair<std::string, std::shared_ptr<BillEntity>>> keyed;
  keyed.reserve(bills.size());
  for (std::size_t i = 0; i < bills.size(); ++i) keyed.emplace_back(keys[i], bills[i]);
  return platform::ui::ForEach(
      keyed, [](const auto& entry) { return entry.first; }, [&row](const auto& entry) { return row(entry.second); });
}

}  // namespace brivel::forecast_internal
