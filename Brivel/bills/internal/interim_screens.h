// Interim stand-ins for screens of other subsystems that are not built yet (see
// neighbour_screens.h): an empty-state sheet with a close button, and the minimal create
// forms for a bank account and a category.
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/ui/environment.h"
#include "platform/ui/view.h"

namespace brivel::bills_internal {

// A titled page with an empty state and an "xmark" button that calls `dismiss`.
struct InterimListScreen {
  std::string_view titleKey;
  std::string_view emptyTitleKey;
  std::string_view emptyDescriptionKey;
  std::string_view symbol;
  platform::ui::DismissAction dismiss;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// Which record an interim create form makes.
enum class InterimLinkKind { bankAccount, category };

// A form with a name field; "checkmark" (disabled while the trimmed name is empty) creates
// the record with that name and the colour "appleRed", appends it to the profile's list
// (creating the list when it is absent), calls the completion and, with `dismissAfterSave`,
// toggles `dismiss`. "xmark" toggles `dismiss` without saving.
struct InterimLinkAddScreen {
  InterimLinkKind kind = InterimLinkKind::category;
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;
  bool dismissAfterSave = true;
  std::function<void(const std::shared_ptr<BankAccountEntity>&)> bankAccountCompletion;
  std::function<void(const std::shared_ptr<CategoryEntity>&)> categoryCompletion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel::bills_internal
