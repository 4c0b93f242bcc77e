#include "Brivel/bills/neighbour_screens.h"

#include <utility>

#include "Brivel/bills/internal/interim_screens.h"
#include "Brivel/shell/localized_keys.h"

namespace brivel {

using namespace platform::ui;
using bills_internal::InterimLinkAddScreen;
using bills_internal::InterimLinkKind;
using bills_internal::InterimListScreen;

BillsNeighbourScreens BillsNeighbourScreensKey::defaultValue() {
  BillsNeighbourScreens screens;
  screens.bankAccounts = [](const std::shared_ptr<ProfileEntity>&, DismissAction dismiss) {
    return View(InterimListScreen{localizable_bankAccounts, localizable_noBankAccountsAvailable,
                                  localizable_noBankAccountsAvailableDescription, "creditcard", std::move(dismiss)});
  };
  screens.categories = [](const std::shared_ptr<ProfileEntity>&, DismissAction dismiss) {
    return View(InterimListScreen{localizable_categories, localizable_noCategoriesAvailable,
                                  localizable_noCategoriesAvailableDescription, "personalhotspot", std::move(dismiss)});
  };
  screens.notes = [](const std::shared_ptr<ProfileEntity>&, DismissAction dismiss) {
    return View(InterimListScreen{localizable_notes, localizable_noNotesAvailable,
                                  localizable_noNotesAvailableDescription, "paperclip", std::move(dismiss)});
  };
  screens.salary = [](const std::shared_ptr<ProfileEntity>&, DismissAction dismiss) {
    return View(InterimListScreen{localizable_salary, localizable_salary, {}, "centsign", std::move(dismiss)});
  };
  screens.bankAccountAdd = [](Binding<bool> dismiss, const std::shared_ptr<ProfileEntity>& profile,
                              bool dismissAfterSave,
                              std::function<void(const std::shared_ptr<BankAccountEntity>&)> completion) {
    InterimLinkAddScreen screen;
    screen.kind = InterimLinkKind::bankAccount;
    screen.dismiss = std::move(dismiss);
    screen.profile = profile;
    screen.dismissAfterSave = dismissAfterSave;
    screen.bankAccountCompletion = std::move(completion);
    return View(screen);
  };
  screens.categoryAdd = [](Binding<bool> dismiss, const std::shared_ptr<ProfileEntity>& profile, bool dismissAfterSave,
                           std::function<void(const std::shared_ptr<CategoryEntity>&)> completion) {
    InterimLinkAddScreen screen;
    screen.kind = InterimLinkKind::category;
    screen.dismiss = std::move(dismiss);
    screen.profile = profile;
    screen.dismissAfterSave = dismissAfterSave;
    screen.categoryCompletion = std::move(completion);
    return View(screen);
  };
  return screens;
}

}  // namespace brivel
