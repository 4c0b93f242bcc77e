// Deleting a bill: it is taken out of its profile's bill list and out of the bill lists of
// every category and bank account of that profile, and the store is saved. The record itself
// then no longer belongs to a profile, so the store deletes it at that save.
//
// Both deletes of the bills screens (the card's and the detail screen's) run this walk. It
// never writes the bill's own fields; the store keeps the two ends of each link in step.
//
//   scheduleBillDeletion(bill, container, [] { /* after the walk, before the save */ });
//
// Main thread only.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/collections/collection_actions.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/data/model_container.h"

namespace brivel {

// Removes every bill with the bill's id from the profile's bill list (one write, made as an
// animated change, also when nothing matched; an absent list stays absent), then from the
// bill list of each category and each bank account of the profile that holds it. Absent lists
// count as empty.
void removeBillFromProfileLists(const BillEntity& bill, ProfileEntity& profile);

// The confirmed delete. Reads the bill's profile now: without one nothing happens and false
// is answered. Otherwise the walk runs a moment later on the main queue (the caller's action
// returns first), then `afterWalk` (when given), then the save; true is answered.
// The deferred block holds the bill, its profile and the container.
bool scheduleBillDeletion(const std::shared_ptr<BillEntity>& bill,
                          const std::shared_ptr<platform::ModelContainer>& container,
                          std::function<void()> afterWalk = {});

}  // namespace brivel
