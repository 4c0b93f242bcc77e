#include "Brivel/bills/neighbour_screens.h"

#include <utility>

#include "Brivel/bills/internal/interim_screens.h"
#include "Brivel/shell/localized_keys.h"

namespace brivel {

using namespace platform::ui;
using bills_internal::InterimListScreen;

BillsNeighbourScreens BillsNeighbourScreensKey::defaultValue() {
  BillsNeighbourScreens screens;
  auto none = [](const std::shared_ptr<ProfileEntity>&, DismissAction) { return View(); };
  screens.bankAccounts = none;
  screens.categories = none;
  screens.notes = none;
  screens.salary = [](const std::shared_ptr<ProfileEntity>&, DismissAction dismiss) {
    return View(InterimListScreen{localizable_salary, localizable_salary, {}, "centsign", std::move(dismiss)});
  };
  screens.bankAccountAdd = [](Binding<bool>, const std::shared_ptr<ProfileEntity>&, bool,
                              std::function<void(const std::shared_ptr<BankAccountEntity>&)>) { return View(); };
  screens.categoryAdd = [](Binding<bool>, const std::shared_ptr<ProfileEntity>&, bool,
                           std::function<void(const std::shared_ptr<CategoryEntity>&)>) { return View(); };
  return screens;
}

}  // namespace brivel
