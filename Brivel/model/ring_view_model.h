// RingViewModel: the holder of the legacy ring list, kept as a binary property list under
// "ringCollectionItems" in the app-group defaults suite. Only the legacy import reads it; the
// import and the profiles list may empty it.
//
// Construction loads the stored list. Every assignment of `ringCollection` is a change:
// observers are told (objectWillChange) before the new list is stored, and the list is then
// saved, so a list that loads is written back at once in the binary form and an empty list is
// stored as an encoded empty array (the key stays). Data that does not decode is left as it
// is and the list stays empty; nothing is reported.
//
// Threads: main thread only.
#pragma once

#include <vector>

#include "Brivel/model/legacy_ring.h"
#include "platform/observation/observable.h"

namespace brivel {

class RingViewModel : public platform::ObservableObject {
 public:
  static constexpr const char* userDefaultsKeysSuiteName = "group.ruv.vantoru.Duvenmark";
  static constexpr const char* userDefaultsKeysRingCollectionItems = "ringCollectionItems";

  // Starts with an empty list, then loads the stored one.
  RingViewModel();

  const std::vector<Ring>& ringCollection() const { return ringCollection_.get(); }
  // Announces the change, stores the list and saves it.
  void setRingCollection(std::vector<Ring> rings);

  // Takes the stored list when one decodes; otherwise changes nothing.
  void loadRingCollection();
  // Writes the current list in the binary form. A list that cannot be encoded leaves the
  // stored value as it was.
  void saveRingCollection();

 private:
  platform::Published<std::vector<Ring>> ringCollection_{*this, {}};
};

}  // namespace brivel
