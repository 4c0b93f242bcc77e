// The orderings and figures the profiles screens show, as plain functions: the profile
// queries, the name orders of bills, rings and legacy bills, and the spendable balance.
//
// All sorts are stable: entries that compare equal keep the order they had.
// Main thread for entities; the legacy sorts are safe anywhere.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/legacy_bill.h"
#include "Brivel/model/legacy_ring.h"
#include "Brivel/model/profile_entity.h"
#include "platform/data/model_context.h"

namespace brivel {

// The profiles whose archive flag equals `archived`, by name in ascending order (the
// platform's localized, case-insensitive comparison).
platform::FetchDescriptor<ProfileEntity> profilesQuery(bool archived);

// A copy of `bills` (none when absent) ordered by name, localized and case-insensitive.
BillList billsSortedByName(const std::optional<BillList>& bills);

// The legacy rings ordered by name, localized and case-insensitive.
std::vector<Ring> ringsSortedByName(std::vector<Ring> rings);

// The legacy bills ordered by title in plain code-point order.
std::vector<Bill> legacyBillsSortedByTitle(std::vector<Bill> bills);

// What stays of a year's income after the year's bills: incomePerYear − costPerYear.
double spendablePerYear(const ProfileEntity& profile);

}  // namespace brivel
