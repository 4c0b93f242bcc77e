// The left-to-pay checklist of one month: which of the month's bills are still to pay, which
// are marked paid, and how much is left.
//
// The amount left starts at the month's cost and moves by each bill's cost as it is paid or
// unpaid; it is never recomputed from the lists. Every bill is in exactly one of the two
// lists; a move only happens when the bill is in the list it leaves, so a double tap or a
// stale post (paying a bill that is not unpaid, unpaying one that is not paid) changes
// nothing. Bills are told apart by their `id`.
//
//   LeftToPayState state{values.month, values.cost, values.items, {}};
//   payBill(state, bill);      // true: moved
//   payBill(state, bill);      // false: already paid, nothing changes
//
// The checklist writes nothing to any record. Main thread: the functions read entity fields.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

struct LeftToPayState {
  std::string month;
  double cost = 0.0;    // what is left to pay
  BillList items;       // the bills left to pay
  BillList payedBills;  // the bills marked paid, in the order they were marked
};

// Moves an unpaid bill to the end of the paid list and takes its cost off the amount left.
// False, changing nothing, when the bill is not among the unpaid ones.
bool payBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill);
// Moves a paid bill back to the end of the unpaid list and adds its cost to the amount left.
// False, changing nothing, when the bill is not among the paid ones.
bool unpayBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill);
// Unpays every paid bill, in the order they were paid.
void resetPayedBills(LeftToPayState& state);
// The sum of the paid bills' costs (0.0 when none is paid).
double payedBillsCost(const LeftToPayState& state);

// The unpaid bills of one bank account (or, without one, those linked to no account), in
// the order of the unpaid list, with their cost sum.
struct LeftToPayGroup {
  std::shared_ptr<BankAccountEntity> account;  // nullptr: the uncategorized group
  BillList bills;
  double cost = 0.0;
};

// The unpaid bills grouped, from one read of each bill's link.
struct LeftToPayGroups {
  // One group per account of the profile's list (in that list's order) that has unpaid
  // bills. A bill whose account is not in the profile's list is in no group.
  std::vector<LeftToPayGroup> accounts;
  // The unpaid bills linked to no bank account.
  LeftToPayGroup uncategorized;
};
LeftToPayGroups leftToPayGroups(const ProfileEntity& profile, const BillList& items);

}  // namespace brivel
