// The form state of the two bill editors. BillEntityAddScreenViewModel (the new-bill editor)
// and BillEntityItemScreenViewModel (the bill detail screen) share the first fifteen fields,
// kept here in BillFormViewModel; the detail screen's adds the delete dialog's two flags.
//
// Every field is published: a write tells the views first, then changes the value. The view
// model refers to the picked bank account and category but owns neither (the store does).
// Each editor holds one view model as its view state for as long as it is presented.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "platform/ui/observable.h"
#include "platform/ui/state.h"

namespace brivel {

class BillFormViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  // Picker indices: the raw values of OccurringType, QuarterType and YearlyType.
  platform::ui::Published<std::int64_t> occurring{*this, 0};
  platform::ui::Published<std::int64_t> occurringQuarterly{*this, 0};
  platform::ui::Published<std::int64_t> occurringYearly{*this, 0};
  platform::ui::Published<std::string> cost{*this, ""};
  platform::ui::Published<bool> connectBankAccount{*this, false};
  platform::ui::Published<std::shared_ptr<BankAccountEntity>> pickedBankAccount{*this, nullptr};
  platform::ui::Published<bool> showCreateBankAccountScreen{*this, false};
  platform::ui::Published<bool> connectNote{*this, false};
  platform::ui::Published<std::string> note{*this, ""};
  platform::ui::Published<bool> connectCategory{*this, false};
  platform::ui::Published<std::shared_ptr<CategoryEntity>> pickedCategory{*this, nullptr};
  platform::ui::Published<bool> showCreateCategoryScreen{*this, false};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};

  // Empties the form: name, cost, note switch, note, category switch and pick, bank-account
  // switch and pick, and the three picker indices, each as its own write, in that order.
  // The sheet flags and the haptic and toast triggers keep their values.
  void resetForm();
};

class BillEntityAddScreenViewModel : public BillFormViewModel {};

class BillEntityItemScreenViewModel : public BillFormViewModel {
 public:
  platform::ui::Published<bool> showDeleteDialog{*this, false};
  platform::ui::Published<bool> deleteDialogHaptic{*this, false};
};

// A two-way binding to one published field of a view model.
template <class VM, class Owner, class T>
  requires std::is_base_of_v<Owner, VM>
platform::ui::Binding<T> fieldBinding(const std::shared_ptr<VM>& vm, platform::ui::Published<T> Owner::*field) {
  return platform::ui::Binding<T>([vm, field] { return ((*vm).*field).get(); },
                                  [vm, field](T value) { ((*vm).*field).set(std::move(value)); });
}

}  // namespace brivel
