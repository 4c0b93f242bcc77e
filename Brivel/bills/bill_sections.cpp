#include "Brivel/bills/bill_sections.h"

#include <unordered_map>
#include <utility>

#include "Brivel/bills/bill_ordering.h"
#include "platform/foundation/text.h"

namespace brivel {

CollectionListState collectionListState(const std::shared_ptr<ProfileEntity>& selected) {
  if (!selected) return CollectionListState::noProfile;
  auto bills = selected->bills();
  if (bills && bills->empty()) return CollectionListState::emptyProfile;
  return CollectionListState::filledProfile;
}

bool isSearching(std::string_view searchText) { return !platform::trimmingWhitespaceAndNewlines(searchText).empty(); }

bool billMatchesSearch(const BillEntity& bill, std::string_view searchText) {
  return platform::localizedCaseInsensitiveContains(bill.name(), searchText);
}

namespace {
BillList matchingBills(const ProfileEntity& profile, std::string_view searchText, const BillListRules& rules) {
  BillList matches;
  for (const auto& bill : profile.bills().value_or(BillList{})) {
    if (rules.matches(*bill, searchText)) matches.push_back(bill);
  }
  return rules.sort(std::move(matches), profile.billSortType());
}
}  // namespace

BillList searchResults(const ProfileEntity& profile, std::string_view searchText) {
  return matchingBills(profile, searchText, BillListRules{sortedBills, billMatchesSearch});
}

namespace {

// The sections of one grouping. `linkOf` gives a bill's link, `candidates` the profile's
// accounts or categories already in section order.
template <class Entity, class LinkOf>
std::vector<BillSection> groupedSections(const BillList& sortedBillsOfProfile,
                                         const std::vector<std::shared_ptr<Entity>>& candidates, LinkOf linkOf,
                                         std::shared_ptr<Entity> BillSection::*slot) {
  std::unordered_map<const Entity*, BillList> linked;
  BillList unlinked;
  for (const auto& bill : sortedBillsOfProfile) {
    if (auto link = linkOf(*bill)) {
      linked[link.get()].push_back(bill);
    } else {
      unlinked.push_back(bill);
    }
  }
  std::vector<BillSection> sections;
  for (const auto& candidate : candidates) {
    auto own = candidate->bills();
    if (own && own->empty()) continue;
    BillSection section;
    section.*slot = candidate;
    if (auto found = linked.find(candidate.get()); found != linked.end()) section.bills = found->second;
    sections.push_back(std::move(section));
  }
  if (!unlinked.empty()) {
    BillSection section;
    section.isUncategorized = true;
    section.bills = std::move(unlinked);
    sections.push_back(std::move(section));
  }
  return sections;
}

}  // namespace

BillListContent buildBillListContent(const ProfileEntity& profile, std::string_view searchText) {
  return buildBillListContent(profile, searchText, BillListRules{sortedBills, billMatchesSearch});
}

BillListContent buildBillListContent(const ProfileEntity& profile, std::string_view searchText,
                                     const BillListRules& rules) {
  BillListContent content;
  if (isSearching(searchText)) {
    content.layout = BillListLayout::searchResults;
    content.rows = matchingBills(profile, searchText, rules);
    return content;
  }
  BillList bills = rules.sort(profile.bills().value_or(BillList{}), profile.billSortType());
  switch (profile.collectionFilterType()) {
    case CollectionFilterType::off:
      content.layout = BillListLayout::allBills;
      content.rows = std::move(bills);
      break;
    case CollectionFilterType::bankAccount:
      content.layout = BillListLayout::bankAccountSections;
      content.sections = groupedSections(
          bills, sortedBankAccounts(profile.bankAccounts().value_or(BankAccountList{}), profile.bankAccountSortType()),
          [](const BillEntity& bill) { return bill.bankAccount(); }, &BillSection::bankAccount);
      break;
    case CollectionFilterType::category:
      content.layout = BillListLayout::categorySections;
      content.sections = groupedSections(
          bills, sortedCategories(profile.categories().value_or(CategoryList{}), profile.categorySortType()),
          [](const BillEntity& bill) { return bill.category(); }, &BillSection::category);
      break;
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
