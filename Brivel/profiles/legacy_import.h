// The import of the earlier generation's data into a new profile, as plain steps that the
// import screen runs one after the other (and tests run directly):
//
//   auto profile = makeNewProfile(name, colorName);
//   importRings(profile, ringVM.ringCollection());           // rings become categories
//   importBills(profile, billVM.billsCollection());           // bills, linked to categories
//   importSalary(*profile, userDefaultsManager);              // fixed or twelve monthly values
//   insertAndSaveProfile(context, profile);                   // profile_actions.h
//
// The steps build records on a profile that is not in the store yet; nothing is written
// until the save. Legacy values outside the known ranges map to monthly, no quarter month and
// no month, without a report.
//
// Threads: main thread, like the entities.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Brivel/model/enums.h"
#include "Brivel/model/legacy_bill.h"
#include "Brivel/model/legacy_ring.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/user_defaults_manager.h"

namespace brivel {

// 1 quarterly, 2 yearly, anything else monthly.
OccurringType occurringFromLegacy(std::int64_t occurring);
// 0, 1, 2: the first, second and third month of the quarter; anything else none.
std::optional<QuarterType> quarterFromLegacy(std::int64_t startingMonth);
// 1 to 12: January to December; anything else none.
std::optional<YearlyType> monthFromLegacy(std::int64_t startingMonthYearly);

// Gives the profile one category per ring, in ring order: the ring's name lower-cased, the
// colour "appleIndigo", no bills. Replaces the profile's category list.
void importRings(const std::shared_ptr<ProfileEntity>& profile, const std::vector<Ring>& rings);

// Gives the profile one bill per legacy bill, in order. Each bill goes to the first category
// of the profile named like its ring (lower-cased), or to none; it appears once in that
// category's bills. An empty note becomes no note. Replaces the profile's bill list.
void importBills(const std::shared_ptr<ProfileEntity>& profile, const std::vector<Bill>& bills);

// Copies the legacy salary: with "pickOccurringIndex" 1 the profile's salary becomes variable
// with the twelve monthly values, January first; otherwise the one "nettoSalary" value.
void importSalary(ProfileEntity& profile, const UserDefaultsManager& settings);

}  // namespace brivel
