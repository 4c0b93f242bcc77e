#include "Brivel/profiles/profile_actions.h"

#include <chrono>
#include <utility>

#include "platform/data/save_reporter.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/date.h"
#include "platform/foundation/uuid.h"
#include "platform/ui/observable.h"
#include "platform/ui/state.h"

namespace brivel {

std::shared_ptr<ProfileEntity> makeNewProfile(std::string name, std::string color) {
  return ProfileEntity::make({.name = std::move(name), .color = std::move(color), .noteSortType = NoteSortType::name});
}

platform::Status insertAndSaveProfile(platform::ModelContext& context, const std::shared_ptr<ProfileEntity>& profile) {
  context.insert(profile);
  platform::Status saved = platform::saveReportingFailure(context);
  if (!saved.ok()) {
    context.deleteModel(profile);
  }
  return saved;
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
    (void)platform::saveReportingFailure(context);
  });
}

}  // namespace brivel
