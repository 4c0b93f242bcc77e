// The note screens of a profile: the list (sorted by the profile's note order, with its sort
// menu, add button, count badge and empty state), its rows (copy the whole text, edit,
// delete), the add form and the detail and edit screen.
//
//   NotesListScreen{.profile = profile, .presentedInSheet = true}  // in a sheet, with "xmark"
//
// Names are stored trimmed and lower-cased, texts trimmed only. Adding and updating leave the
// writing to the store's automatic save; a confirmed delete saves (collection_actions.h).
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Brivel/model/note_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

class NotesAddScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  platform::ui::Published<std::string> text{*this, ""};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};
};

class NotesItemScreenViewModel : public NotesAddScreenViewModel {
 public:
  platform::ui::Published<bool> showDeleteDialog{*this, false};
  platform::ui::Published<bool> deleteDialogHaptic{*this, false};
};

// The date line of a note row: day, abbreviated month and year in the current locale
// ("Mar 5, 2024" in en_US).
std::string noteDateText(const platform::Date& timestamp);

// A sheet that creates notes for `profile`; see collection_views.h for what follows a save.
struct NotesAddScreen {
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;
  bool dismissAfterSave = false;
  std::function<void(const std::shared_ptr<NoteEntity>&)> completion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct NotesItemScreen {
  std::shared_ptr<NoteEntity> note;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// One note of the list: its name on its colour, then its text on one line and its date.
struct NotesListRowView {
  std::shared_ptr<NoteEntity> note;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

struct NotesListScreen {
  std::shared_ptr<ProfileEntity> profile;
  bool presentedInSheet = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
