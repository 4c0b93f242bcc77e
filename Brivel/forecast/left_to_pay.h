// The left-to-pay checklist of one month: which of the month's bills are still to pay, which
// are marked paid, and how much is left.
//
// The amount left starts at the month's cost and moves by each bill's cost as it is paid or
// unpaid; it is never recomputed from the lists. Every bill is in exactly one of the two
// lists; a move only happens when the bill is in the list it leaves, so a double tap or a
// stale post (paying a bill that is not unpaid, unpaying one that is not paid) changes
// nothing. Bills are told apart by their `id`; when the caller knows that no two of them
// share one (`idsDiffer`), a move looks for the bill's own object first and reads no other
// bill's id.
//
//   LeftToPayState state{values.month, values.cost, values.items, {}};
//   payBill(state, bill);      // true: moved
//   payBill(state, bill);      // false: already paid, nothing changes
//
// The checklist writes nothing to any record. Main thread: the functions read entity fields.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/observation/observation.h"

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
bool payBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill, bool idsDiffer = false);
// Moves a paid bill back to the end of the unpaid list and adds its cost to the amount left.
// False, changing nothing, when the bill is not among the paid ones.
bool unpayBill(LeftToPayState& state, const std::shared_ptr<BillEntity>& bill, bool idsDiffer = false);
// Unpays every paid bill, in the order they were paid.
void resetPayedBills(LeftToPayState& state);
// The sum of the paid bills' costs (0.0 when none is paid).
double payedBillsCost(const LeftToPayState& state);

// The unpaid bills of one bank account (or, without one, those linked to no account), in
// the order of the unpaid list, with their cost sum. The list is never null; the rows of a
// render share it (KeptLeftToPayGroups copies it before changing it while it is shared).
struct LeftToPayGroup {
  std::shared_ptr<BankAccountEntity> account;  // nullptr: the uncategorized group
  std::shared_ptr<BillList> bills = std::make_shared<BillList>();
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

// The groups of an open checklist, kept from one render to the next: a move changes only the
// moved bill's group (told with paid() and unpaid() after payBill and unpayBill moved it), so
// a tick costs the same however many bills the month has. They are grouped again from every
// unpaid bill, as leftToPayGroups does, when what they were made from changed: the profile's
// account list, the bills linked to one of those accounts, the bill figures (a cost, an added
// or removed bill), or a change of the unpaid list it was not told of (drop()). A bill linked
// from no account to one off the profile's list (or back) touches none of these: it is
// regrouped with the next of them. A group's cost moves by each bill's cost as the amount
// left does, so it can differ from a fresh sum in its last bits, far below the cents shown.
//
//   const LeftToPayGroups& groups = kept.groups(*profile, state.items);
//   if (payBill(state, bill, true)) kept.paid(bill);
//
// Reads entity fields untracked; observes the bill lists of the profile's accounts (one
// observer each) while it lives. Main thread.
class KeptLeftToPayGroups {
 public:
  KeptLeftToPayGroups();
  ~KeptLeftToPayGroups();
  KeptLeftToPayGroups(const KeptLeftToPayGroups&) = delete;
  KeptLeftToPayGroups& operator=(const KeptLeftToPayGroups&) = delete;

  // The groups of `items`, the unpaid list of the moves this was told of.
  const LeftToPayGroups& groups(const ProfileEntity& profile, const BillList& items);
  // `bill` left the unpaid list (the one bill of its id).
  void paid(const std::shared_ptr<BillEntity>& bill);
  // `bill` was put at the end of the unpaid list.
  void unpaid(const std::shared_ptr<BillEntity>& bill);
  // The unpaid list changed otherwise: the next groups() groups it anew.
  void drop();

 private:
  // Where `bill` belongs by its link now: `grouped` false when it is linked to an account
  // outside the profile's list (in no group); else its group, null while its account has none.
  struct Place {
    bool grouped = false;
    std::shared_ptr<BankAccountEntity> account;
    LeftToPayGroup* group = nullptr;
  };
  Place placeOf(const BillEntity& bill);
  void observeAccounts();
  void stopObserving();

  LeftToPayGroups groups_;
  bool made_ = false;
  std::size_t unpaidCount_ = 0;  // the unpaid list's size, as the moves left it
  BankAccountList accounts_;     // the profile's list the groups follow
  std::unordered_map<const BankAccountEntity*, std::size_t> position_;  // in accounts_
  std::weak_ptr<const YearFigures> figures_;
  std::shared_ptr<bool> linksChanged_ = std::make_shared<bool>(false);
  std::vector<std::pair<std::shared_ptr<BankAccountEntity>, platform::ObservationRegistrar::ObserverToken>> observers_;
};

}  // namespace brivel
