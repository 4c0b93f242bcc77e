// The orders of the bills list: bills, bank accounts and categories by the profile's stored
// sort choices, the link pickers' order by name, and the sort menu's toggle and images.
//
// Every list is sorted with a stable sort, so elements that compare equal (names equal apart
// from case, equal costs, equal colour names ...) keep the order of the list they came from,
// in the reversed orders too. Names compare with the current locale's case-insensitive
// comparison; colour names and account numbers compare as plain text (code points after
// normalisation), so "10" goes before "9".
//
//   BillList rows = sortedBills(*profile->bills(), profile->billSortType());
//   profile->setBillSortType(nextSortValue(profile->billSortType(), BillSortType::cost));
//
// Main thread: the functions read entity properties.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

// True when `a` goes before `b` under the profile's current choice (read at each call).
bool billOrder(const BillEntity& a, const BillEntity& b, const ProfileEntity& profile);
bool bankAccountOrder(const BankAccountEntity& a, const BankAccountEntity& b, const ProfileEntity& profile);
bool categoryOrder(const CategoryEntity& a, const CategoryEntity& b, const ProfileEntity& profile);

// The list sorted stably under one choice. Each element's key is read once.
BillList sortedBills(BillList bills, BillSortType sort);
BankAccountList sortedBankAccounts(BankAccountList accounts, BankAccountSortType sort);
CategoryList sortedCategories(CategoryList categories, CategorySortType sort);

// The link pickers' order: by name, case-insensitively, stably; an absent list is empty.
BankAccountList bankAccountChoices(const std::optional<BankAccountList>& accounts);
CategoryList categoryChoices(const std::optional<CategoryList>& categories);

// The sort toggle: the ascending case of a pair when `current` is anything else, the reversed
// case (ascending + 1) when `current` is the ascending one.
template <StoredEnumType E>
E nextSortValue(E current, E ascending) {
  return current == ascending ? static_cast<E>(rawValue(ascending) + 1) : ascending;
}

// The image of a sort entry of family `family` ("envelope", "clock" ...): the ".badge.arrow.up"
// variant while `current` is the pair's ascending case, ".badge.arrow.down" while it is the
// reversed one, the plain image otherwise.
template <StoredEnumType E>
std::string sortEntryImage(std::string_view family, E current, E ascending) {
  std::string name(family);
  if (current == ascending) return name + ".badge.arrow.up";
  if (rawValue(current) == rawValue(ascending) + 1) return name + ".badge.arrow.down";
  return name;
}

}  // namespace brivel
