#include "Brivel/bills/neighbour_screens.h"

namespace brivel {

using namespace platform::ui;

BillsNeighbourScreens BillsNeighbourScreensKey::defaultValue() {
  BillsNeighbourScreens screens;
  auto none = [](const std::shared_ptr<ProfileEntity>&, DismissAction) { return View(); };
  screens.bankAccounts = none;
  screens.categories = none;
  screens.notes = none;
  screens.salary = none;
  screens.bankAccountAdd = [](Binding<bool>, const std::shared_ptr<ProfileEntity>&, bool,
                              std::function<void(const std::shared_ptr<BankAccountEntity>&)>) { return View(); };
  screens.categoryAdd = [](Binding<bool>, const std::shared_ptr<ProfileEntity>&, bool,
                           std::function<void(const std::shared_ptr<CategoryEntity>&)>) { return View(); };
  return screens;
}

}  // namespace brivel
