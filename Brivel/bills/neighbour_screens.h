// The screens of other subsystems that the bills screens present, handed in through the
// view environment so that the bills screens do not depend on where those screens live.
//
// The app puts the real screens here (Brivel/app/main.cpp); where it puts none, the entry
// shows nothing.
//
//   content.environment<BillsNeighbourScreensKey>(screens)
//
// The create contract: a create form built with the presenter's sheet flag, the profile,
// `dismissAfterSave` and a completion; its save appends the new record to the profile's
// list, calls the completion with it and then, with `dismissAfterSave`, toggles the flag
// (the sheet closes). Closing it without saving calls nothing.
//
// Threads: main thread, like the views.
#pragma once

#include <functional>
#include <memory>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel {

struct BillsNeighbourScreens {
  // A list or salary screen of the profile, presented in a sheet; it closes itself through
  // the dismiss action.
  using MakeProfileScreen =
      std::function<platform::ui::View(const std::shared_ptr<ProfileEntity>&, platform::ui::DismissAction)>;
  template <class Entity>
  using MakeCreateScreen = std::function<platform::ui::View(
      platform::ui::Binding<bool> dismiss, const std::shared_ptr<ProfileEntity>& profile, bool dismissAfterSave,
      std::function<void(const std::shared_ptr<Entity>&)> completion)>;

  MakeProfileScreen bankAccounts;
  MakeProfileScreen categories;
  MakeProfileScreen notes;
  MakeProfileScreen salary;
  MakeCreateScreen<BankAccountEntity> bankAccountAdd;
  MakeCreateScreen<CategoryEntity> categoryAdd;
};

struct BillsNeighbourScreensKey {
  using Value = BillsNeighbourScreens;
  // Empty screens.
  static Value defaultValue();
};

}  // namespace brivel
