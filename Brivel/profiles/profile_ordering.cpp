#include "Brivel/profiles/profile_ordering.h"

#include <algorithm>
#include <compare>

#include "platform/foundation/text.h"

namespace brivel {

namespace {
bool nameBefore(const std::string& a, const std::string& b) {
  return platform::localizedCaseInsensitiveCompare(a, b) == std::weak_ordering::less;
}
}  // namespace

platform::FetchDescriptor<ProfileEntity> profilesQuery(bool archived) {
  platform::FetchDescriptor<ProfileEntity> query;
  query.predicate = [archived](const ProfileEntity& profile) { return profile.isArchived() == archived; };
  // The standard name order, digits by their value: "Profile 9" before "Profile 10".
  query.sortBy = {[](const ProfileEntity& a, const ProfileEntity& b) {
    return platform::localizedStandardCompare(a.name(), b.name()) == std::weak_ordering::less;
  }};
  return query;
}

BillList billsSortedByName(const std::optional<BillList>& bills) {
  if (!bills) return {};
  BillList sorted = *bills;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return nameBefore(a->name(), b->name()); });
  return sorted;
}

std::vector<Ring> ringsSortedByName(std::vector<Ring> rings) {
  std::stable_sort(rings.begin(), rings.end(), [](const Ring& a, const Ring& b) { return nameBefore(a.name, b.name); });
  return rings;
}

std::vector<Bill> legacyBillsSortedByTitle(std::vector<Bill> bills) {
  std::stable_sort(bills.begin(), bills.end(), [](const Bill& a, const Bill& b) {
    return platform::codePointCompare(a.title, b.title) == std::strong_ordering::less;
  });
  return bills;
}

double spendablePerYear(const ProfileEntity& profile) { return profile.incomePerYear() - profile.costPerYear(); }

}  // namespace brivel
