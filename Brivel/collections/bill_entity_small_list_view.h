// BillEntitySmallListView: a one-line, read-only summary of a bill for the side screens: a
// blue dot, the name with at most one linked item under it (an account's number or a
// category's name, whichever the caller passes), and the cost as a currency amount on the
// trailing side. The caller passes everything it shows; it keeps no state.
//
//   BillEntitySmallListView{bill->name(), bill->cost(), nullptr, bill->category()}
//
// Threads: main thread.
#pragma once

#include <memory>
#include <string>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "platform/ui/view.h"

namespace brivel {

struct BillEntitySmallListView {
  std::string name;  // as stored; shown trimmed
  double cost = 0.0;
  std::shared_ptr<BankAccountEntity> bankAccount;  // its number is shown under the name
  std::shared_ptr<CategoryEntity> category;        // its name is shown under the name

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
