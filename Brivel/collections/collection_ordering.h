// The orders of a profile's side collections: bank accounts, categories and notes by the
// profile's stored sort choices, bills by name for the side screens, the link pickers' order,
// and the sort menus' toggle and images. The bills list uses the same functions.
//
// Every list is sorted with a stable sort, so elements that compare equal (names equal apart
// from case, equal colour names, equal timestamps ...) keep the order of the list they came
// from, in the reversed orders too. Names compare with the current locale's case-insensitive
// comparison; colour names and account numbers compare as plain text (code points after
// normalisation), so "10" goes before "9".
//
//   BankAccountList rows = sortedBankAccounts(profile->bankAccounts().value_or({}), profile->bankAccountSortType());
//   profile->setNoteSortType(nextSortValue(profile->noteSortType(), NoteSortType::color));
//
// Main thread: the functions read entity properties.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/note_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

// True when `a` goes before `b` under the profile's current choice (read at each call).
bool bankAccountOrder(const BankAccountEntity& a, const BankAccountEntity& b, const ProfileEntity& profile);
bool categoryOrder(const CategoryEntity& a, const CategoryEntity& b, const ProfileEntity& profile);

// The list sorted stably under one choice. Each element's key is read once.
BankAccountList sortedBankAccounts(BankAccountList accounts, BankAccountSortType sort);
CategoryList sortedCategories(CategoryList categories, CategorySortType sort);
NoteList sortedNotes(NoteList notes, NoteSortType sort);
// Bills by name, ascending, stably (the side screens' bill lists).
BillList billsByName(BillList bills);

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

// The comparisons and the stable keyed sort the orders above are made of.
namespace ordering {

bool nameAscending(std::string_view a, std::string_view b);
bool nameDescending(std::string_view a, std::string_view b);
bool textAscending(std::string_view a, std::string_view b);
// Numbers in a total order, so that a stored NaN cannot upset a sort: NaN goes after every
// number and all NaNs are equal.
inline bool totalLess(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

// Sorts `items` stably by a key read once per element.
template <class T, class Key, class Less>
std::vector<std::shared_ptr<T>> sortedByKey(std::vector<std::shared_ptr<T>> items, Key key, Less less) {
  if (items.empty()) return items;
  using K = decltype(key(*items.front()));
  std::vector<std::pair<K, std::shared_ptr<T>>> keyed;
  keyed.reserve(items.size());
  for (auto& item : items) keyed.emplace_back(key(*item), std::move(item));
  std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) { return less(x.first, y.first); });
  items.clear();
  for (auto& entry : keyed) items.push_back(std::move(entry.second));
  return items;
}

template <class T>
std::vector<std::shared_ptr<T>> sortedByName(std::vector<std::shared_ptr<T>> items, bool reversed) {
  auto name = [](const T& x) { return x.name(); };
  if (reversed) {
    return sortedByKey(std::move(items), name, [](const std::string& a, const std::string& b) { return nameDescending(a, b); });
  }
  return sortedByKey(std::move(items), name, [](const std::string& a, const std::string& b) { return nameAscending(a, b); });
}

template <class T, class Key>
std::vector<std::shared_ptr<T>> sortedByText(std::vector<std::shared_ptr<T>> items, Key key, bool reversed) {
  return sortedByKey(std::move(items), key, [reversed](const std::string& a, const std::string& b) {
    return reversed ? textAscending(b, a) : textAscending(a, b);
  });
}

template <class T>
std::vector<std::shared_ptr<T>> sortedByTimestamp(std::vector<std::shared_ptr<T>> items, bool reversed) {
  auto seconds = [](const T& x) { return x.timestamp().timeIntervalSinceReferenceDate; };
  return sortedByKey(std::move(items), seconds,
                     [reversed](double a, double b) { return reversed ? totalLess(b, a) : totalLess(a, b); });
}

}  // namespace ordering

}  // namespace brivel
