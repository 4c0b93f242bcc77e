#include "Brivel/profiles/profile_actions.h"

#include <chrono>
#include <iostream>
#include <utility>

#include "platform/dispatch/queue.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"
#include "platform/ui/observable.h"
#include "platform/ui/state.h"

namespace brivel {

std::shared_ptr<ProfileEntity> makeNewProfile(std::string name, std::string color) {
  return ProfileEntity::make({.name = std::move(name), .color = std::move(color), .noteSortType = NoteSortType::name});
}

void printSaveError(const platform::Error& error) {
  std::cout << "Error saving: " << error.localizedDescription() << std::endl;
}

std::optional<platform::Error> insertAndSaveProfile(platform::ModelContext& context,
                                                    const std::shared_ptr<ProfileEntity>& profile) {
  context.insert(profile);
  auto error = context.save();
  if (error) {
    printSaveError(*error);
    context.deleteModel(profile);
    platform::ui::notifyAnyChange();
  }
  return error;
}

void forgetSelectionOf(ProfileManager& manager, const std::shared_ptr<ProfileEntity>& profile) {
  if (manager.selectedUser() && manager.selectedUser() == profile) {
    manager.setSelectedUser(nullptr);
    manager.setLastPickedUserID(std::nullopt);
  }
}

void toggleArchived(const std::shared_ptr<ProfileEntity>& profile) {
  platform::ui::withAnimation([&] { profile->setIsArchived(!profile->isArchived()); });
}

void deleteProfileSoon(std::shared_ptr<platform::ModelContainer> container, std::shared_ptr<ProfileEntity> profile) {
  platform::DispatchQueue::main()->asyncAfter(std::chrono::nanoseconds(33), [container, profile] {
    if (profile->isDeleted()) return;
    platform::ModelContext& context = container->mainContext();
    context.deleteModel(profile);
    if (auto error = context.save()) printSaveError(*error);
    // Queries are answered from memory; tell the screens that their results changed.
    platform::ui::notifyAnyChange();
  });
}

}  // namespace brivel
