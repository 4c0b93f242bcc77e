#include "Brivel/profiles/legacy_import.h"

#include <cmath>
#include <map>
#include <set>
#include <string>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"

namespace brivel {

OccurringType occurringFromLegacy(std::int64_t occurring) {
  return fromRawValue<OccurringType>(occurring).value_or(OccurringType::monthly);
}

std::optional<QuarterType> quarterFromLegacy(std::int64_t startingMonth) { return fromRawValue<QuarterType>(startingMonth); }

std::optional<YearlyType> monthFromLegacy(std::int64_t startingMonthYearly) {
  if (startingMonthYearly < 1 || startingMonthYearly > 12) return std::nullopt;
  return static_cast<YearlyType>(startingMonthYearly - 1);
}

void importRings(const std::shared_ptr<ProfileEntity>& profile, const std::vector<Ring>& rings) {
  CategoryList categories;
  categories.reserve(rings.size());
  for (const Ring& ring : rings) {
    categories.push_back(CategoryEntity::make({.name = platform::lowercased(ring.name), .profile = profile}));
  }
  profile->setCategories(categories);
}

void importBills(const std::shared_ptr<ProfileEntity>& profile, const std::vector<Bill>& bills) {
  // The first category of each name, as the profile lists them now.
  const CategoryList categories = profile->categories().value_or(CategoryList{});
  std::map<std::string, std::shared_ptr<CategoryEntity>, std::less<>> firstByName;
  for (const auto& category : categories) firstByName.try_emplace(category->name(), category);

  BillList imported;
  imported.reserve(bills.size());
  for (const Bill& bill : bills) {
    std::shared_ptr<CategoryEntity> category;
    if (bill.ring) {
      auto found = firstByName.find(platform::lowercased(bill.ring->name));
      if (found != firstByName.end()) category = found->second;
    }
    std::optional<std::string> note;
    if (!bill.note.empty()) note = bill.note;
    // An amount that is not a finite number is unreadable, as a typed cost is: 0.
    const double cost = std::isfinite(bill.amount) ? bill.amount : 0.0;
    imported.push_back(BillEntity::make({.name = bill.title,
                                         .cost = cost,
                                         .note = std::move(note),
                                         .occurring = occurringFromLegacy(bill.occurring),
                                         .quarterly = quarterFromLegacy(bill.startingMonth),
                                         .yearly = monthFromLegacy(bill.startingMonthYearly),
                                         .profile = profile,
                                         .category = category}));
  }
  profile->setBills(imported);

  // Setting a bill's category already lists the bill in that category (the store keeps both
  // ends of a link in step); only a category that somehow lacks one of its bills gets it
  // appended, so every bill is listed exactly once.
  std::map<CategoryEntity*, BillList> missing;
  std::map<CategoryEntity*, std::set<BillEntity*>> listed;
  for (const auto& bill : imported) {
    auto category = bill->category();
    if (!category) continue;
    auto [entry, isNew] = listed.try_emplace(category.get());
    if (isNew) {
      for (const auto& member : category->bills().value_or(BillList{})) entry->second.insert(member.get());
    }
    if (!entry->second.count(bill.get())) missing[category.get()].push_back(bill);
  }
  for (const auto& category : categories) {
    auto found = missing.find(category.get());
    auto members = category->bills();
    if (found == missing.end() || !members) continue;
    members->insert(members->end(), found->second.begin(), found->second.end());
    category->setBills(members);
  }
}

void importSalary(ProfileEntity& profile, const UserDefaultsManager& settings) {
  if (settings.pickOccurringIndex() == 1) {
    profile.setSalaryType(SalaryType::variable);
    profile.setSalary({settings.nettoSalaryJanuary(), settings.nettoSalaryFebruary(), settings.nettoSalaryMarch(),
                       settings.nettoSalaryApril(), settings.nettoSalaryMay(), settings.nettoSalaryJune(),
                       settings.nettoSalaryJuly(), settings.nettoSalaryAugust(), settings.nettoSalarySeptember(),
                       settings.nettoSalaryOctober(), settings.nettoSalaryNovember(), settings.nettoSalaryDecember()});
  } else {
    profile.setSalary({settings.nettoSalary()});
  }
}

}  // namespace brivel
