// UserDefaultsManager: the app's holder of simple settings kept in the standard defaults.
//
// One live preference, "popViewAfterSaveAndUpdate" (true: an editor closes itself after a
// save or update), one flag the app only ever turns off, "getNotified", and the salary
// values of the app's earlier generation, which only the legacy import reads:
// "pickOccurringIndex" (1 selects the twelve monthly values, anything else the single
// "nettoSalary") and "nettoSalaryJanuary" ... "nettoSalaryDecember".
//
// Every field reads the value stored under its key at the moment of the call, or its
// default (0, 0.0 or false) while the key holds nothing of that type; the default is never
// written back. A write stores the value at once and tells observers (objectWillChange)
// first, so a view bound to a setting redraws. The holder owns only its key bindings; the
// values live in the defaults.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/defaults.h"
#include "platform/observation/observable.h"

namespace brivel {

class UserDefaultsManager : public platform::ObservableObject {
 public:
  // Binds every setting to `defaults` (the standard suite unless a test passes another).
  // Reads and writes nothing.
  explicit UserDefaultsManager(
      std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::standard());

  std::int64_t pickOccurringIndex() const { return pickOccurringIndex_.get(); }
  void setPickOccurringIndex(std::int64_t value) { write(pickOccurringIndex_, value); }
  double nettoSalary() const { return nettoSalary_.get(); }
  void setNettoSalary(double value) { write(nettoSalary_, value); }
  double nettoSalaryJanuary() const { return nettoSalaryJanuary_.get(); }
  void setNettoSalaryJanuary(double value) { write(nettoSalaryJanuary_, value); }
  double nettoSalaryFebruary() const { return nettoSalaryFebruary_.get(); }
  void setNettoSalaryFebruary(double value) { write(nettoSalaryFebruary_, value); }
  double nettoSalaryMarch() const { return nettoSalaryMarch_.get(); }
  void setNettoSalaryMarch(double value) { write(nettoSalaryMarch_, value); }
  double nettoSalaryApril() const { return nettoSalaryApril_.get(); }
  void setNettoSalaryApril(double value) { write(nettoSalaryApril_, value); }
  double nettoSalaryMay() const { return nettoSalaryMay_.get(); }
  void setNettoSalaryMay(double value) { write(nettoSalaryMay_, value); }
  double nettoSalaryJune() const { return nettoSalaryJune_.get(); }
  void setNettoSalaryJune(double value) { write(nettoSalaryJune_, value); }
  double nettoSalaryJuly() const { return nettoSalaryJuly_.get(); }
  void setNettoSalaryJuly(double value) { write(nettoSalaryJuly_, value); }
  double nettoSalaryAugust() const { return nettoSalaryAugust_.get(); }
  void setNettoSalaryAugust(double value) { write(nettoSalaryAugust_, value); }
  double nettoSalarySeptember() const { return nettoSalarySeptember_.get(); }
  void setNettoSalarySeptember(double value) { write(nettoSalarySeptember_, value); }
  double nettoSalaryOctober() const { return nettoSalaryOctober_.get(); }
  void setNettoSalaryOctober(double value) { write(nettoSalaryOctober_, value); }
  double nettoSalaryNovember() const { return nettoSalaryNovember_.get(); }
  void setNettoSalaryNovember(double value) { write(nettoSalaryNovember_, value); }
  double nettoSalaryDecember() const { return nettoSalaryDecember_.get(); }
  void setNettoSalaryDecember(double value) { write(nettoSalaryDecember_, value); }
  bool getNotified() const { return getNotified_.get(); }
  void setGetNotified(bool value) { write(getNotified_, value); }
  bool popViewAfterSaveAndUpdate() const { return popViewAfterSaveAndUpdate_.get(); }
  void setPopViewAfterSaveAndUpdate(bool value) { write(popViewAfterSaveAndUpdate_, value); }

 private:
  template <class T>
  void write(platform::AppStorage<T>& setting, const T& value) {
    objectWillChange().send();
    // A failed file write keeps the value readable; the suite's next write retries the file.
    (void)setting.set(value);
  }

  platform::AppStorage<std::int64_t> pickOccurringIndex_;
  platform::AppStorage<double> nettoSalary_;
  platform::AppStorage<double> nettoSalaryJanuary_;
  platform::AppStorage<double> nettoSalaryFebruary_;
  platform::AppStorage<double> nettoSalaryMarch_;
  platform::AppStorage<double> nettoSalaryApril_;
  platform::AppStorage<double> nettoSalaryMay_;
  platform::AppStorage<double> nettoSalaryJune_;
  platform::AppStorage<double> nettoSalaryJuly_;
  platform::AppStorage<double> nettoSalaryAugust_;
  platform::AppStorage<double> nettoSalarySeptember_;
  platform::AppStorage<double> nettoSalaryOctober_;
  platform::AppStorage<double> nettoSalaryNovember_;
  platform::AppStorage<double> nettoSalaryDecember_;
  platform::AppStorage<bool> getNotified_;
  platform::AppStorage<bool> popViewAfterSaveAndUpdate_;
};

}  // namespace brivel
