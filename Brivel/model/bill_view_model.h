// BillViewModel: the holder of the legacy bill list, kept as a binary property list under
// "newBillz" in the app-group defaults suite. The profiles list reads it to tell whether a
// backup exists; the legacy import reads it and may empty it.
//
// Construction loads the stored list. Every assignment of `billsCollection` is a change:
// observers are told (objectWillChange) before the new list is stored, and the list is then
// saved, so a list that loads is written back at once in the binary form and an empty list is
// stored as an encoded empty array (the key stays). Data that does not decode is left as it
// is and the list stays empty; nothing is reported.
//
// Threads: main thread only.
#pragma once

#include <vector>

#include "Brivel/model/legacy_bill.h"
#include "platform/observation/observable.h"

namespace brivel {

class BillViewModel : public platform::ObservableObject {
 public:
  // The app group: "group." followed by the app's reverse-DNS identifier.
  static constexpr const char* userDefaultsKeysSuiteName = "group.ruv.vantoru.Duvenmark";
  static constexpr const char* userDefaultsKeysBillsCollectionItems = "newBillz";

  // Starts with an empty list, then loads the stored one.
  BillViewModel();

  const std::vector<Bill>& billsCollection() const { return billsCollection_.get(); }
  // Announces the change, stores the list and saves it.
  void setBillsCollection(std::vector<Bill> bills);

  // Takes the stored list when one decodes; otherwise changes nothing.
  void loadBillsCollection();
  // Writes the current list in the binary form. A list that cannot be encoded leaves the
  // stored value as it was.
  void saveBillsCollection();

 private:
  platform::Published<std::vector<Bill>> billsCollection_{*this, {}};
};

}  // namespace brivel
