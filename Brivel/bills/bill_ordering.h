// The orders of the bills list: bills by the profile's stored sort choice. The orders of bank
// accounts and categories, the link pickers' order and the sort menu's toggle and images live
// below the bills (collection_ordering.h) and are included here.
//
// Every list is sorted with a stable sort, so bills that compare equal (names equal apart
// from case, equal costs ...) keep the order of the list they came from, in the reversed
// orders too.
//
//   BillList rows = sortedBills(*profile->bills(), profile->billSortType());
//   profile->setBillSortType(nextSortValue(profile->billSortType(), BillSortType::cost));
//
// Main thread: the functions read entity properties.
#pragma once

#include "Brivel/collections/collection_ordering.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

// True when `a` goes before `b` under `sort`, as sortedBills orders them (false for bills
// whose keys are equal, which keep their list order).
bool billOrder(const BillEntity& a, const BillEntity& b, BillSortType sort);
// The same under the profile's current choice (read at each call).
bool billOrder(const BillEntity& a, const BillEntity& b, const ProfileEntity& profile);

// The list sorted stably under one choice. Each element's key is read once.
BillList sortedBills(BillList bills, BillSortType sort);

}  // namespace brivel
