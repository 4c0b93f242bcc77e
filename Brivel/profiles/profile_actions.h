// What the profiles screens do to profiles in the store: build a new profile, insert and save
// it (taking it back out when the save fails), forget the selection of a profile that leaves
// the list, and delete a profile a moment later.
//
// Saves go through platform::saveReportingFailure (a failure prints "Error saving: " and the
// error's description and shows the lasting notice); insertAndSaveProfile also hands the
// failure back to the caller.
//
// Threads: main thread; the deferred delete runs as a block on the main queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "platform/data/model_container.h"
#include "platform/foundation/expected.h"

namespace brivel {

// A new, not yet inserted profile named `name` (taken as given) in the colour `color`: a
// fixed salary of 0.0, empty lists sorted by name, no filter, notes as the quick action, the
// spendable figure shown, not archived, stamped now.
std::shared_ptr<ProfileEntity> makeNewProfile(std::string name, std::string color);

// Inserts `profile` (with what it links to) into `context` and saves. On failure the profile
// is deleted from the context again, so that nothing of it is written by a later save, and
// the failure is reported and answered.
platform::Status insertAndSaveProfile(platform::ModelContext& context, const std::shared_ptr<ProfileEntity>& profile);

// Clears the selection and the remembered id when `profile` is the selected profile; leaves
// them alone otherwise.
void forgetSelectionOf(ProfileManager& manager, const std::shared_ptr<ProfileEntity>& profile);

// Flips the profile's archive flag as an animated change. The store saves it on its own.
void toggleArchived(const std::shared_ptr<ProfileEntity>& profile);

// Deletes `profile` (and, by the cascade, its bills, accounts, categories and notes) in a
// block on the main queue 33 nanoseconds from now, then saves. The block owns the container
// and the profile, so it runs safely after the screen that asked has gone.
void deleteProfileSoon(std::shared_ptr<platform::ModelContainer> container, std::shared_ptr<ProfileEntity> profile);

}  // namespace brivel
