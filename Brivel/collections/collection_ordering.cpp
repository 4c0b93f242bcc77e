#include "Brivel/collections/collection_ordering.h"

#include <compare>

#include "platform/foundation/text.h"

namespace brivel {

namespace ordering {

bool nameAscending(std::string_view a, std::string_view b) {
  return platform::localizedCaseInsensitiveCompare(a, b) == std::weak_ordering::less;
}
bool nameDescending(std::string_view a, std::string_view b) {
  return platform::localizedCaseInsensitiveCompare(a, b) == std::weak_ordering::greater;
}
bool textAscending(std::string_view a, std::string_view b) {
  return platform::codePointCompare(a, b) == std::strong_ordering::less;
}

}  // namespace ordering

using namespace ordering;

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

NoteList sortedNotes(NoteList notes, NoteSortType sort) {
  switch (sort) {
    case NoteSortType::name:
    case NoteSortType::nameReversed:
      return sortedByName(std::move(notes), sort == NoteSortType::nameReversed);
    case NoteSortType::color:
    case NoteSortType::colorReversed:
      return sortedByText(std::move(notes), [](const NoteEntity& n) { return n.color(); },
                          sort == NoteSortType::colorReversed);
    case NoteSortType::timestamp:
    case NoteSortType::timestampReversed:
      return sortedByTimestamp(std::move(notes), sort == NoteSortType::timestampReversed);
  }
  return notes;
}

BillList billsByName(BillList bills) { return sortedByName(std::move(bills), false); }

BankAccountList bankAccountChoices(const std::optional<BankAccountList>& accounts) {
  return sortedByName(accounts.value_or(BankAccountList{}), false);
}

CategoryList categoryChoices(const std::optional<CategoryList>& categories) {
  return sortedByName(categories.value_or(CategoryList{}), false);
}

}  // namespace brivel
