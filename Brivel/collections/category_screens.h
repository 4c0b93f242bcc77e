// The category screens of a profile: the list (sorted by the profile's choice, with its sort
// menu, add button, count badge, empty state and the way to the bills without a category),
// its rows (edit, delete), the add form, the detail and edit screen, and the screen that
// links the bills without a category.
//
//   CategoriesListScreen{.profile = profile, .presentedInSheet = true}  // in a sheet, with "xmark"
//   CategoriesAddScreen{.dismiss = flag, .profile = profile, .dismissAfterSave = true,
//                       .completion = [](auto& category) { /* link it */ }}
//
// Names are stored trimmed and lower-cased. Adding, updating and linking leave the writing to
// the store's automatic save; a confirmed delete saves (collection_actions.h).
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

class CategoriesAddScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};
};

class CategoriesItemScreenViewModel : public CategoriesAddScreenViewModel {
 public:
  platform::ui::Published<bool> showDeleteDialog{*this, false};
  platform::ui::Published<bool> deleteDialogHaptic{*this, false};
};

// A sheet that creates one category for `profile`; see collection_views.h for what follows a
// save. Closing it with "xmark" toggles `dismiss` and writes nothing.
struct CategoriesAddScreen {
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;
  bool dismissAfterSave = false;
  std::function<void(const std::shared_ptr<CategoryEntity>&)> completion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct CategoriesItemScreen {
  std::shared_ptr<CategoryEntity> category;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct CategoriesUncategorizedScreen {
  std::shared_ptr<ProfileEntity> profile;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// One category of the list: its name beside "personalhotspot". The list sets its background.
struct CategoriesListRowView {
  std::shared_ptr<CategoryEntity> category;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct CategoriesListScreen {
  std::shared_ptr<ProfileEntity> profile;
  bool presentedInSheet = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
