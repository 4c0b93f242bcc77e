// What the side-collection screens do to the store: add a new account, category or note to
// its profile, and delete one a moment after the user confirmed.
//
// A confirmed delete reads the record's profile at once; without one nothing happens. With
// one, the walk runs in a block on the main queue (the tapped action returns first), then the
// caller's `afterWalk` (an item screen closes itself there), then the main context is saved.
// The record is only taken out of its profile's list; the store deletes a record that belongs
// to no profile at that save (platform::saveReportingFailure). Every block owns what it
// touches.
//
//   confirmBankAccountDelete(account, container, [dismiss] { dismiss(); });
//
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/note_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/data/model_container.h"

namespace brivel {

// Runs `walk`, then `afterWalk` (when given), then the save of the container's main context,
// in one block on the main queue a moment from now.
void scheduleDeletion(std::shared_ptr<platform::ModelContainer> container, std::function<void()> walk,
                      std::function<void()> afterWalk = {});

// The walks of the confirmed deletes. Each unlinks every bill of the profile that points to
// the record (compared by id) and every bill still linked to it from elsewhere, then removes
// every entry with the record's id from the profile's list as one animated write (an absent
// list stays absent).
void deleteBankAccount(const BankAccountEntity& account, ProfileEntity& profile);
void deleteCategory(const CategoryEntity& category, ProfileEntity& profile);
void deleteNote(const NoteEntity& note, ProfileEntity& profile);

// The confirmed deletes: false, and nothing happens, when the record has no profile;
// otherwise the walk above is scheduled with `afterWalk` and the save, and true is answered.
bool confirmBankAccountDelete(const std::shared_ptr<BankAccountEntity>& account,
                              std::shared_ptr<platform::ModelContainer> container, std::function<void()> afterWalk = {});
bool confirmCategoryDelete(const std::shared_ptr<CategoryEntity>& category,
                           std::shared_ptr<platform::ModelContainer> container, std::function<void()> afterWalk = {});
bool confirmNoteDelete(const std::shared_ptr<NoteEntity>& note, std::shared_ptr<platform::ModelContainer> container,
                       std::function<void()> afterWalk = {});

// `list` with `item` appended; an absent list becomes a list of that one item, so a record
// added to a profile whose list is absent is never lost.
template <class T>
std::vector<std::shared_ptr<T>> appendingCreatingList(const std::optional<std::vector<std::shared_ptr<T>>>& list,
                                                      const std::shared_ptr<T>& item) {
  std::vector<std::shared_ptr<T>> items = list.value_or(std::vector<std::shared_ptr<T>>{});
  items.push_back(item);
  return items;
}

}  // namespace brivel
