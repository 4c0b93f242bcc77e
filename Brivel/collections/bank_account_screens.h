// The bank-account screens of a profile: the list (sorted by the profile's choice, with its
// sort menu, add button, count badge, empty state and the way to the bills without an
// account), its rows (copy the number, edit, delete), the add form, the detail and edit
// screen, and the screen that links the bills without an account.
//
//   BankAccountsListScreen{.profile = profile, .presentedInSheet = true}  // in a sheet, with "xmark"
//   BankAccountsAddScreen{.dismiss = flag, .profile = profile, .dismissAfterSave = true,
//                         .completion = [](auto& account) { /* link it */ }}
//
// Names are stored trimmed and lower-cased, numbers and notes trimmed only; an empty note is
// stored as absent. Adding, updating and linking leave the writing to the store's automatic
// save; a confirmed delete saves (collection_actions.h).
//
// Threads: main thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/shell/palette.h"
#include "platform/ui/observable.h"
#include "platform/ui/view.h"

namespace brivel {

// The add form's state.
class BankAccountsAddScreenViewModel : public platform::ui::ObservableObject {
 public:
  platform::ui::Published<std::string> name{*this, ""};
  platform::ui::Published<ColorValue> selectedColor{*this, assetColor("appleRed")};
  platform::ui::Published<std::string> number{*this, ""};
  platform::ui::Published<bool> connectNote{*this, false};
  platform::ui::Published<std::string> note{*this, ""};
  platform::ui::Published<bool> savedHaptic{*this, false};
  platform::ui::Published<bool> savedToastMessage{*this, false};
};

// The detail screen's state.
class BankAccountsItemScreenViewModel : public BankAccountsAddScreenViewModel {
 public:
  platform::ui::Published<bool> showDeleteDialog{*this, false};
  platform::ui::Published<bool> deleteDialogHaptic{*this, false};
};

// The note to store: the trimmed text while the toggle is on and the text is not blank,
// otherwise absent.
std::optional<std::string> bankAccountNoteToStore(bool connectNote, const std::string& note);
// Whether the form cannot be saved: a blank name, a blank number, or the toggle on with a
// blank note.
bool bankAccountFormIsIncomplete(const std::string& name, const std::string& number, bool connectNote,
                                 const std::string& note);

// A sheet that creates one account for `profile`; see collection_views.h for what follows a
// save. Closing it with "xmark" toggles `dismiss` and writes nothing.
struct BankAccountsAddScreen {
  platform::ui::Binding<bool> dismiss;
  std::shared_ptr<ProfileEntity> profile;
  bool dismissAfterSave = false;
  std::function<void(const std::shared_ptr<BankAccountEntity>&)> completion;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The detail and edit screen of one account, pushed by its row.
struct BankAccountsItemScreen {
  std::shared_ptr<BankAccountEntity> bankAccount;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The profile's bills without an account, by name; each row's menu links one of the
// profile's accounts (in stored order). Linking the last listed bill closes the screen.
struct BankAccountsUncategorizedScreen {
  std::shared_ptr<ProfileEntity> profile;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// One account of the list: its name on its colour, its number under it.
struct BankAccountsListRowView {
  std::shared_ptr<BankAccountEntity> bankAccount;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

// The profile's accounts. In a sheet (`presentedInSheet`) it brings its own navigation stack
// and a close button; pushed, it lives on its presenter's stack.
struct BankAccountsListScreen {
  std::shared_ptr<ProfileEntity> profile;
  bool presentedInSheet = false;

  platform::ui::View body(platform::ui::Context& ctx) const;
};

}  // namespace brivel
