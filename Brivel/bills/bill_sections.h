// What the bills list shows for a profile: the state that decides the empty states, search
// mode and its results, and the rows or sections of the three groupings.
//
//   auto content = buildBillListContent(*profile, searchText);
//   switch (content.layout) { ... content.rows ... content.sections ... }
//
// Nothing is cached: the content is computed from the profile's current lists and choices
// (the bills list keeps it between renders: bill_list_model.h).
// Main thread: the functions read entity properties.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"

namespace brivel {

// Which of the list's states a selection is in.
enum class CollectionListState {
  noProfile,      // nothing selected
  emptyProfile,   // a profile whose bill list is present and empty
  filledProfile,  // a profile whose bill list is absent or has bills
};
CollectionListState collectionListState(const std::shared_ptr<ProfileEntity>& selected);

// True when the search text, trimmed of white space and line breaks, is not empty.
bool isSearching(std::string_view searchText);

// True when the bill's name contains the search text as typed (untrimmed), ignoring case in
// the current locale; diacritics count.
bool billMatchesSearch(const BillEntity& bill, std::string_view searchText);

// The profile's bills that match, in the profile's bill order.
BillList searchResults(const ProfileEntity& profile, std::string_view searchText);

enum class BillListLayout { searchResults, allBills, bankAccountSections, categorySections };

// One section of a grouped layout: an account's or a category's bills, or the bills without
// that link (`isUncategorized`, always last).
struct BillSection {
  std::shared_ptr<BankAccountEntity> bankAccount;  // bank-account grouping
  std::shared_ptr<CategoryEntity> category;        // category grouping
  bool isUncategorized = false;
  BillList bills;
};

struct BillListContent {
  BillListLayout layout = BillListLayout::allBills;
  BillList rows;                      // searchResults and allBills
  std::vector<BillSection> sections;  // the two grouped layouts
};

// Which layout the list shows: search results while searching, otherwise the profile's
// grouping.
BillListLayout billListLayout(const ProfileEntity& profile, std::string_view searchText);

// The sections of a grouped layout without their bills, in order: one per account or category
// (by the profile's account or category order) whose own bill list is absent or not empty.
// The uncategorized section is not among them. Empty for the other layouts.
std::vector<BillSection> sectionsWithoutBills(const ProfileEntity& profile, BillListLayout layout);

// The list's content: search results while searching, otherwise the profile's grouping.
// The sections are sectionsWithoutBills(); each one's rows are the profile's bills linked to
// its account or category. Rows follow the bill order; bills without the link close the list
// in an uncategorized section, which is left out when there are none.
BillListContent buildBillListContent(const ProfileEntity& profile, std::string_view searchText);

// One key per element, unique within the list: the given key, and for its second and later
// occurrences the key with "#2", "#3" ... appended, so rows or sections that share an id
// still have identities of their own.
std::vector<std::string> uniqueKeys(const std::vector<std::string>& keys);
std::vector<std::string> billRowKeys(const BillList& bills);

}  // namespace brivel
