#include "Brivel/bills/bill_ordering.h"

#include <algorithm>
#include <cmath>
#include <compare>
#include <utility>
#include <vector>

#include "platform/foundation/text.h"

namespace brivel {

namespace {

bool nameAscending(std::string_view a, std::string_view b) {
  return platform::localizedCaseInsensitiveCompare(a, b) == std::weak_ordering::less;
}
bool nameDescending(std::string_view a, std::string_view b) {
  return platform::localizedCaseInsensitiveCompare(a, b) == std::weak_ordering::greater;
}
bool textAscending(std::string_view a, std::string_view b) {
  return platform::codePointCompare(a, b) == std::strong_ordering::less;
}
// Costs in a total order, so that a stored NaN cannot upset the sort: NaN goes after every
// number and all NaNs are equal.
bool costLess(double a, double b) {
  if (std::isnan(a)) return false;
  if (std::isnan(b)) return true;
  return a < b;
}

// Sorts `items` stably by a key read once per element.
template <class T, class Key, class Less>
std::vector<std::shared_ptr<T>> sortedByKey(std::vector<std::shared_ptr<T>> items, Key key, Less less) {
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
  if (items.empty()) return items;
  auto name = [](const T& x) { return x.name(); };
  return reversed ? sortedByKey(std::move(items), name, [](const std::string& a, const std::string& b) {
    return nameDescending(a, b);
  })
                  : sortedByKey(std::move(items), name, [](const std::string& a, const std::string& b) {
                      return nameAscending(a, b);
                    });
}

template <class T, class Key>
std::vector<std::shared_ptr<T>> sortedByText(std::vector<std::shared_ptr<T>> items, Key key, bool reversed) {
  if (items.empty()) return items;
  return sortedByKey(std::move(items), key, [reversed](const std::string& a, const std::string& b) {
    return reversed ? textAscending(b, a) : textAscending(a, b);
  });
}

template <class T>
std::vector<std::shared_ptr<T>> sortedByTimestamp(std::vector<std::shared_ptr<T>> items, bool reversed) {
  if (items.empty()) return items;
  auto seconds = [](const T& x) { return x.timestamp().timeIntervalSinceReferenceDate; };
  return sortedByKey(std::move(items), seconds,
                     [reversed](double a, double b) { return reversed ? costLess(b, a) : costLess(a, b); });
}

}  // namespace

bool billOrder(const BillEntity& a, const BillEntity& b, const ProfileEntity& profile) {
  switch (profile.billSortType()) {
    case BillSortType::name:
      return nameAscending(a.name(), b.name());
    case BillSortType::nameReversed:
      return nameDescending(a.name(), b.name());
    case BillSortType::cost:
      return costLess(a.cost(), b.cost());
    case BillSortType::costReversed:
      return costLess(b.cost(), a.cost());
    case BillSortType::timestamp:
      return a.timestamp() < b.timestamp();
    case BillSortType::timestampReversed:
      return b.timestamp() < a.timestamp();
  }
  return false;
}

bool bankAccountOrder(const BankAccountEntity& a, const BankAccountEntity& b, const ProfileEntity& profile) {
  switch (profile.bankAccountSortType()) {
    case BankAccountSortType::name:
      return nameAscending(a.name(), b.name());
    case BankAccountSortType::nameReversed:
      return nameDescending(a.name(), b.name());
    case BankAccountSortType::color:
      return textAscending(a.color(), b.color());
    case BankAccountSortType::colorReversed:
      return textAscending(b.color(), a.color());
    case BankAccountSortType::number:
      return textAscending(a.number(), b.number());
    case BankAccountSortType::numberReversed:
      return textAscending(b.number(), a.number());
    case BankAccountSortType::timestamp:
      return a.timestamp() < b.timestamp();
    case BankAccountSortType::timestampReversed:
      return b.timestamp() < a.timestamp();
  }
  return false;
}

bool categoryOrder(const CategoryEntity& a, const CategoryEntity& b, const ProfileEntity& profile) {
  switch (profile.categorySortType()) {
    case CategorySortType::name:
      return nameAscending(a.name(), b.name());
    case CategorySortType::nameReversed:
      return nameDescending(a.name(), b.name());
    case CategorySortType::color:
      return textAscending(a.color(), b.color());
    case CategorySortType::colorReversed:
      return textAscending(b.color(), a.color());
    case CategorySortType::timestamp:
      return a.timestamp() < b.timestamp();
    case CategorySortType::timestampReversed:
      return b.timestamp() < a.timestamp();
  }
  return false;
}

BillList sortedBills(BillList bills, BillSortType sort) {
  if (bills.empty()) return bills;
  switch (sort) {
    case BillSortType::name:
    case BillSortType::nameReversed:
      return sortedByName(std::move(bills), sort == BillSortType::nameReversed);
    case BillSortType::cost:
    case BillSortType::costReversed: {
      const bool reversed = sort == BillSortType::costReversed;
      return sortedByKey(std::move(bills), [](const BillEntity& b) { return b.cost(); },
                         [reversed](double a, double b) { return reversed ? costLess(b, a) : costLess(a, b); });
    }
    case BillSortType::timestamp:
    case BillSortType::timestampReversed:
      return sortedByTimestamp(std::move(bills), sort == BillSortType::timestampReversed);
  }
  return bills;
}

BankAccountList sortedBankAccounts(BankAccountList accounts, BankAccountSortType sort) {
  switch (sort) {
    case BankAccountSortType::name:
    case BankAccountSortType::nameReversed:
      return sortedByName(std::move(accounts), sort == BankAccountSortType::nameReversed);
    case BankAccountSortType::color:
    case BankAccountSortType::colorReversed:
      return sortedByText(std::move(accounts), [](const BankAccountEntity& a) { return a.color(); },
                          sort == BankAccountSortType::colorReversed);
    case BankAccountSortType::number:
    case BankAccountSortType::numberReversed:
      return sortedByText(std::move(accounts), [](const BankAccountEntity& a) { return a.number(); },
                          sort == BankAccountSortType::numberReversed);
    case BankAccountSortType::timestamp:
    case BankAccountSortType::timestampReversed:
      return sortedByTimestamp(std::move(accounts), sort == BankAccountSortType::timestampReversed);
  }
  return accounts;
}

CategoryList sortedCategories(CategoryList categories, CategorySortType sort) {
  switch (sort) {
    case CategorySortType::name:
    case CategorySortType::nameReversed:
      return sortedByName(std::move(categories), sort == CategorySortType::nameReversed);
    case CategorySortType::color:
    case CategorySortType::colorReversed:
      return sortedByText(std::move(categories), [](const CategoryEntity& c) { return c.color(); },
                          sort == CategorySortType::colorReversed);
    case CategorySortType::timestamp:
    case CategorySortType::timestampReversed:
      return sortedByTimestamp(std::move(categories), sort == CategorySortType::timestampReversed);
  }
  return categories;
}

BankAccountList bankAccountChoices(const std::optional<BankAccountList>& accounts) {
  return sortedByName(accounts.value_or(BankAccountList{}), false);
}

CategoryList categoryChoices(const std::optional<CategoryList>& categories) {
  return sortedByName(categories.value_or(CategoryList{}), false);
}

}  // namespace brivel
