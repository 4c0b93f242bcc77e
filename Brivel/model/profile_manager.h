// ProfileManager: the app's one holder of the selected profile, remembered across launches.
//
// The selection (`selectedUser`) lives in memory and is published: every write first tells
// observers (objectWillChange), then stores the profile. The remembered choice
// (`lastPickedUserID`) is the selected profile's id as its upper-case UUID string, kept under
// "lastPickedUserID" in the standard defaults; writing absent removes the key.
//
// At each launch the selection starts empty and the root screen hands every stored profile to
// restoreSelection(), which picks the remembered one again while it exists and is not
// archived, and otherwise clears the selection and forgets it.
//
//   ProfileManager manager;                 // over UserDefaults::standard()
//   manager.select(profile);                // selectedUser = profile, key = its id
//   manager.restoreSelection(allProfiles);  // after a new launch
//
// The holder refers to the selected record but does not own it: the store does.
// Threads: main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/model/profile_entity.h"
#include "platform/foundation/defaults.h"
#include "platform/observation/observable.h"

namespace brivel {

class ProfileManager : public platform::ObservableObject {
 public:
  static constexpr const char* kLastPickedUserIDKey = "lastPickedUserID";

  // Keeps the remembered choice in `defaults` (the standard suite unless a test passes
  // another). Reads and writes nothing.
  explicit ProfileManager(
      std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::standard());

  // The remembered profile id, read from the defaults at the moment of the call; absent when
  // the key holds no string.
  std::optional<std::string> lastPickedUserID() const;
  // Stores the id at once; absent removes the key.
  void setLastPickedUserID(const std::optional<std::string>& value);

  const std::shared_ptr<ProfileEntity>& selectedUser() const { return selectedUser_.get(); }
  // A published write: observers are told first, then the selection changes.
  void setSelectedUser(std::shared_ptr<ProfileEntity> profile);

  // Selects `profile` and remembers its id, in that order. A null profile clears the
  // selection instead.
  void select(const std::shared_ptr<ProfileEntity>& profile);
  // Clears the selection, then forgets the remembered id.
  void clearSelection();
  // Selects, as an animated change, the first unarchived profile of `profiles` (in the given
  // order) whose id matches the remembered one; when none matches, or the list is empty,
  // clears the selection as an animated change. Without a remembered id it changes nothing.
  void restoreSelection(const std::vector<std::shared_ptr<ProfileEntity>>& profiles);

 private:
  std::shared_ptr<platform::UserDefaults> defaults_;
  platform::Published<std::shared_ptr<ProfileEntity>> selectedUser_{*this, nullptr};
};

}  // namespace brivel
