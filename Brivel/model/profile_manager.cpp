#include "Brivel/model/profile_manager.h"

#include "platform/observation/observable.h"

namespace brivel {

ProfileManager::ProfileManager(std::shared_ptr<platform::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {}

std::optional<std::string> ProfileManager::lastPickedUserID() const {
  return defaults_->string(kLastPickedUserIDKey);
}

void ProfileManager::setLastPickedUserID(const std::optional<std::string>& value) {
  // A failed file write keeps the value readable; the suite's next write retries the file.
  if (value) {
    (void)defaults_->set(kLastPickedUserIDKey, platform::PlistValue(*value));
  } else {
    (void)defaults_->remove(kLastPickedUserIDKey);
  }
}

void ProfileManager::setSelectedUser(std::shared_ptr<ProfileEntity> profile) {
  selectedUser_.set(std::move(profile));
}

void ProfileManager::select(const std::shared_ptr<ProfileEntity>& profile) {
  if (!profile) {
    clearSelection();
    return;
  }
  setSelectedUser(profile);
  setLastPickedUserID(profile->id().uuidString());
}

void ProfileManager::clearSelection() {
  setSelectedUser(nullptr);
  setLastPickedUserID(std::nullopt);
}

void ProfileManager::restoreSelection(const std::vector<std::shared_ptr<ProfileEntity>>& profiles) {
  const std::optional<std::string> remembered = lastPickedUserID();
  if (!remembered) return;
  for (const auto& profile : profiles) {
    if (!profile || profile->isArchived()) continue;
    if (profile->id().uuidString() == *remembered) {
      platform::withAnimation([&] { select(profile); });
      return;
    }
  }
  platform::withAnimation([&] { clearSelection(); });
}

}  // namespace brivel
