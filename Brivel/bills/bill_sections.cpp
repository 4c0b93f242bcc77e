#include "Brivel/bills/bill_sections.h"

#include <unordered_map>
#include <utility>

#include "Brivel/bills/bill_ordering.h"
#include "platform/foundation/text.h"

namespace brivel {

CollectionListState collectionListState(const std::shared_ptr<ProfileEntity>& selected) {
  if (!selected) return CollectionListState::noProfile;
  if (selected->billCount() == std::size_t{0}) return CollectionListState::emptyProfile;
  return CollectionListState::filledProfile;
}

bool isSearching(std::string_view searchText) { return !platform::trimmingWhitespaceAndNewlines(searchText).empty(); }

bool billMatchesSearch(const BillEntity& bill, std::string_view searchText) {
  return platform::localizedCaseInsensitiveContains(bill.name(), searchText);
}

BillList searchResults(const ProfileEntity& profile, std::string_view searchText) {
  BillList matches;
  for (const auto& bill : profile.bills().value_or(BillList{})) {
    if (billMatchesSearch(*bill, searchText)) matches.push_back(bill);
  }
  return sortedBills(std::move(matches), profile.billSortType());
}

BillListLayout billListLayout(const ProfileEntity& profile, std::string_view searchText) {
  if (isSearching(searchText)) return BillListLayout::searchResults;
  switch (profile.collectionFilterType()) {
    case CollectionFilterType::off:
      return BillListLayout::allBills;
    case CollectionFilterType::bankAccount:
      return BillListLayout::bankAccountSections;
    case CollectionFilterType::category:
      return BillListLayout::categorySections;
  }
  return BillListLayout::allBills;
}

namespace {

// One section per candidate, already in section order, whose own bill list is absent or not empty.
template <class Entity>
std::vector<BillSection> sectionsOf(const std::vector<std::shared_ptr<Entity>>& candidates,
                                    std::shared_ptr<Entity> BillSection::*slot) {
  std::vector<BillSection> sections;
  for (const auto& candidate : candidates) {
    if (candidate->billCount() == std::size_t{0}) continue;
    BillSection section;
    section.*slot = candidate;
    sections.push_back(std::move(section));
  }
  return sections;
}

}  // namespace

std::vector<BillSection> sectionsWithoutBills(const ProfileEntity& profile, BillListLayout layout) {
  switch (layout) {
    case BillListLayout::bankAccountSections:
      return sectionsOf(
          sortedBankAccounts(profile.bankAccounts().value_or(BankAccountList{}), profile.bankAccountSortType()),
          &BillSection::bankAccount);
    case BillListLayout::categorySections:
      return sectionsOf(sortedCategories(profile.categories().value_or(CategoryList{}), profile.categorySortType()),
                        &BillSection::category);
    case BillListLayout::searchResults:
    case BillListLayout::allBills:
      break;
  }
  return {};
}

BillListContent buildBillListContent(const ProfileEntity& profile, std::string_view searchText) {
  BillListContent content;
  content.layout = billListLayout(profile, searchText);
  if (content.layout == BillListLayout::searchResults) {
    content.rows = searchResults(profile, searchText);
    return content;
  }
  BillList bills = sortedBills(profile.bills().value_or(BillList{}), profile.billSortType());
  if (content.layout == BillListLayout::allBills) {
    content.rows = std::move(bills);
    return content;
  }
  const bool byAccount = content.layout == BillListLayout::bankAccountSections;
  std::unordered_map<const void*, BillList> linked;
  BillList unlinked;
  for (const auto& bill : bills) {
    const std::shared_ptr<const void> link =
        byAccount ? std::shared_ptr<const void>(bill->bankAccount()) : std::shared_ptr<const void>(bill->category());
    if (link) {
      linked[link.get()].push_back(bill);
    } else {
      unlinked.push_back(bill);
    }
  }
  content.sections = sectionsWithoutBills(profile, content.layout);
  for (BillSection& section : content.sections) {
    const void* own = byAccount ? static_cast<const void*>(section.bankAccount.get()) : section.category.get();
    if (auto found = linked.find(own); found != linked.end()) section.bills = found->second;
  }
  if (!unlinked.empty()) {
    BillSection section;
    section.isUncategorized = true;
    section.bills = std::move(unlinked);
    content.sections.push_back(std::move(section));
  }
  return content;
}

std::vector<std::string> uniqueKeys(const std::vector<std::string>& keys) {
  std::unordered_map<std::string, int> seen;
  std::vector<std::string> unique;
  unique.reserve(keys.size());
  for (const auto& key : keys) {
    const int count = ++seen[key];
    unique.push_back(count == 1 ? key : key + "#" + std::to_string(count));
  }
  return unique;
}

std::vector<std::string> billRowKeys(const BillList& bills) {
  std::vector<std::string> keys;
  keys.reserve(bills.size());
  for (const auto& bill : bills) keys.push_back(bill->id().uuidString());
  return uniqueKeys(keys);
}

}  // namespace brivel
