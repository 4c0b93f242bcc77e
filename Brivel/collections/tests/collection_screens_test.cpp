// The side-collection screens at tree level in the app's environment over a real store, with
// a virtual clock: the three add forms, the item screens' update and delete, the rows, the
// uncategorized screens and the lists.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Brivel/collections/bank_account_screens.h"
#include "Brivel/collections/category_screens.h"
#include "Brivel/collections/collection_actions.h"
#include "Brivel/collections/note_screens.h"
#include "Brivel/collections/testing/records_test_support.h"
#include "platform/data/save_reporter.h"
#include "platform/dispatch/clock.h"
#include "platform/foundation/data_notices.h"
#include "platform/ui/services.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

class CollectionScreensTest : public testing::RecordsTest {
 protected:
  CollectionScreensTest() : RecordsTest("brivel-collections") {}

  std::shared_ptr<NoteEntity> addNote(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                      const std::string& text = "text") {
    auto note = NoteEntity::make({.name = name, .color = "appleRed", .text = text, .profile = profile});
    profile->setNotes(appendingCreatingList(profile->notes(), note));
    return note;
  }
  // Shows `screen` pushed from a first page, as the lists push their item screens.
  void showPushed(std::function<View()> screen) {
    show([screen] { return NavigationStack(NavigationLink(Text(verbatim("open")), screen)); });
    driver().tap(byText("open"));
  }
  // Runs the deferred work of a confirmed delete.
  void pumpMainLoop() {
    platform::MainLoop::drain();
    driver().tree();
  }
  // The numbers shown through the "%lld" key, in tree order.
  std::vector<std::string> counts() {
    std::vector<std::string> out;
    for (const Node* text : driver().findAll(byKind(NodeKind::text))) {
      const TextContent* t = text->textContent(Attr::text);
      if (t && t->key == "%lld" && !t->args.empty()) out.push_back(t->args.front());
    }
    return out;
  }
  std::vector<std::string> rowTitles(const std::string& rowId) {
    std::vector<std::string> out;
    for (const Node* row : driver().findAll(byId(rowId))) out.push_back(textsIn(*row).front());
    return out;
  }

  platform::VirtualClock clock_;
};

// ----- Add forms, one table over the three -----

struct AddCase {
  std::string kind, nameId, saveId;
  std::size_t nameLimit;
  // Opens the form in a sheet; the completion counts its calls.
  std::function<View(Binding<bool>, std::shared_ptr<ProfileEntity>, bool, std::shared_ptr<int>)> make;
  // Fills the other fields the form needs to be saved.
  std::function<void(ViewDriver&)> completeRest;
  std::function<std::optional<std::vector<std::string>>(const ProfileEntity&)> names;
  std::function<std::string(const ProfileEntity&)> lastColor;
};

template <class List>
std::optional<std::vector<std::string>> namesOf(const std::optional<List>& list) {
  if (!list) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& item : *list) out.push_back(item->name());
  return out;
}

std::vector<AddCase> addCases() {
  return {
      {"bankAccount", "bankAccountName", "saveBankAccount", 30,
       [](Binding<bool> flag, std::shared_ptr<ProfileEntity> p, bool after, std::shared_ptr<int> calls) {
         return View(BankAccountsAddScreen{flag, p, after, [calls](const auto&) { ++*calls; }});
       },
       [](ViewDriver& d) { d.type(byId("bankAccountNumber"), " ab 12 "); },
       [](const ProfileEntity& p) { return namesOf(p.bankAccounts()); },
       [](const ProfileEntity& p) { return p.bankAccounts()->back()->color(); }},
      {"category", "categoryName", "saveCategory", 30,
       [](Binding<bool> flag, std::shared_ptr<ProfileEntity> p, bool after, std::shared_ptr<int> calls) {
         return View(CategoriesAddScreen{flag, p, after, [calls](const auto&) { ++*calls; }});
       },
       [](ViewDriver&) {}, [](const ProfileEntity& p) { return namesOf(p.categories()); },
       [](const ProfileEntity& p) { return p.categories()->back()->color(); }},
      {"note", "noteName", "saveNote", 30,
       [](Binding<bool> flag, std::shared_ptr<ProfileEntity> p, bool after, std::shared_ptr<int> calls) {
         return View(NotesAddScreen{flag, p, after, [calls](const auto&) { ++*calls; }});
       },
       [](ViewDriver& d) { d.type(byId("noteText"), "  Buy Milk \n"); },
       [](const ProfileEntity& p) { return namesOf(p.notes()); },
       [](const ProfileEntity& p) { return p.notes()->back()->color(); }},
  };
}

TEST_F(CollectionScreensTest, AddFormsNormaliseTheNameKeepTheColourAndStayForTheNextRecord) {
  for (const AddCase& c : addCases()) {
    SCOPED_TRACE(c.kind);
    auto profile = addProfile();
    auto calls = std::make_shared<int>(0);
    *presented_ = true;
    showInSheet([&](Binding<bool> flag) { return c.make(flag, profile, false, calls); });
    EXPECT_TRUE(driver().get(byId(c.nameId)).flag(Attr::focused)) << "the name field is focused on appear";
    EXPECT_TRUE(driver().get(byId(c.saveId)).flag(Attr::disabled));
    driver().type(byId(c.nameId), " \n ");
    c.completeRest(driver());
    EXPECT_TRUE(driver().get(byId(c.saveId)).flag(Attr::disabled)) << "a blank name cannot be saved";

    driver().tap(byId("swatch.appleBlue"));
    driver().type(byId(c.nameId), "  ÄPFEL Main \n");
    ASSERT_FALSE(driver().get(byId(c.saveId)).flag(Attr::disabled));
    const std::size_t haptics = hapticCount("success");
    driver().tap(byId(c.saveId));

    EXPECT_EQ(c.names(*profile), (std::vector<std::string>{"äpfel main"}));
    EXPECT_EQ(c.lastColor(*profile), "appleBlue");
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(hapticCount("success"), haptics + 1);
    EXPECT_TRUE(*presented_) << "opened from its list with the setting off, the form stays";
    EXPECT_TRUE(driver().exists(byText("localizable_added")));
    EXPECT_EQ(driver().get(byId(c.nameId)).string(Attr::value), "");
    EXPECT_TRUE(driver().get(byId(c.nameId)).flag(Attr::focused));

    // The colour stays for the next record, which goes last; no duplicate check.
    driver().type(byId(c.nameId), "äpfel main");
    c.completeRest(driver());
    driver().tap(byId(c.saveId));
    EXPECT_EQ(c.names(*profile), (std::vector<std::string>{"äpfel main", "äpfel main"}));
    EXPECT_EQ(c.lastColor(*profile), "appleBlue");
    EXPECT_EQ(*calls, 2);
  }
}

TEST_F(CollectionScreensTest, AddFormsCloseByDismissAfterSaveOrTheSettingAndCreateAnAbsentList) {
  for (const AddCase& c : addCases()) {
    // (dismissAfterSave, setting) -> closes
    for (auto [after, setting] : std::vector<std::pair<bool, bool>>{{false, false}, {false, true}, {true, false}, {true, true}}) {
      SCOPED_TRACE(c.kind + (after ? " dismissAfterSave" : "") + (setting ? " setting" : ""));
      auto profile = addProfile("Home", std::nullopt);
      profile->setBankAccounts(std::nullopt);
      profile->setCategories(std::nullopt);
      profile->setNotes(std::nullopt);
      settings_->setPopViewAfterSaveAndUpdate(setting);
      auto calls = std::make_shared<int>(0);
      *presented_ = true;
      showInSheet([&](Binding<bool> flag) { return c.make(flag, profile, after, calls); });
      driver().type(byId(c.nameId), "Rent");
      c.completeRest(driver());
      driver().tap(byId(c.saveId));
      EXPECT_EQ(*presented_, !(after || setting));
      EXPECT_EQ(c.names(*profile), (std::vector<std::string>{"rent"})) << "a new record is never lost";
      EXPECT_EQ(*calls, 1);
    }
  }
}

TEST_F(CollectionScreensTest, AddFormsCutTextAtTheirLimitsInGraphemes) {
  auto profile = addProfile();
  const std::string family = "👨‍👩‍👧";  // one grapheme of several code points
  auto repeated = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += family;
    return s;
  };
  showInSheet([&](Binding<bool> flag) { return View(BankAccountsAddScreen{.dismiss = flag, .profile = profile,
                                                                          .dismissAfterSave = false,
                                                                          .completion = nullptr}); });
  driver().setOn(byId("connectNote"), true);
  const std::vector<std::pair<std::string, std::size_t>> accountFields = {
      {"bankAccountName", 30}, {"bankAccountNumber", 34}, {"bankAccountNote", 80}};
  for (const auto& [id, limit] : accountFields) {
    driver().type(byId(id), repeated(limit + 1));
    EXPECT_EQ(driver().get(byId(id)).string(Attr::value), repeated(limit)) << id;
  }
  showInSheet([&](Binding<bool> flag) { return View(NotesAddScreen{.dismiss = flag, .profile = profile,
                                                                   .dismissAfterSave = false,
                                                                   .completion = nullptr}); });
  driver().type(byId("noteText"), repeated(401));
  EXPECT_EQ(driver().get(byId("noteText")).string(Attr::value), repeated(400));
}

TEST_F(CollectionScreensTest, BankAccountFormStoresTheNumberAsTypedAndTheNoteOnlyWhileSwitchedOn) {
  auto profile = addProfile();
  showInSheet([&](Binding<bool> flag) { return View(BankAccountsAddScreen{.dismiss = flag, .profile = profile,
                                                                          .dismissAfterSave = false,
                                                                          .completion = nullptr}); });
  driver().type(byId("bankAccountName"), "Main");
  driver().type(byId("bankAccountNumber"), " ab 12 ");
  driver().setOn(byId("connectNote"), true);
  EXPECT_TRUE(driver().get(byId("bankAccountNote")).flag(Attr::focused));
  EXPECT_TRUE(driver().get(byId("saveBankAccount")).flag(Attr::disabled)) << "the note is switched on but blank";
  driver().type(byId("bankAccountNote"), "salary");
  driver().setOn(byId("connectNote"), false);
  driver().tap(byId("saveBankAccount"));
  auto account = profile->bankAccounts()->back();
  EXPECT_EQ(account->number(), "ab 12");
  EXPECT_EQ(account->note(), std::nullopt);
  EXPECT_EQ(account->profile(), profile);
}

// ----- Item screens -----

TEST_F(CollectionScreensTest, ItemScreenLoadsUpdatesAndClearsItsForm) {
  auto profile = addProfile();
  auto account = addAccount(profile, "main", "nonsense", "DE12");
  account->setNote("rent only");
  showPushed([account] { return View(BankAccountsItemScreen{account}); });
  EXPECT_EQ(driver().get(byId("bankAccountName")).string(Attr::value), "main");
  EXPECT_EQ(driver().get(byId("bankAccountNote")).string(Attr::value), "rent only");
  EXPECT_FALSE(driver().get(byId("bankAccountName")).flag(Attr::focused)) << "no field is focused on appear";

  // Edits left without "update" are dropped; the next visit shows the stored values.
  driver().type(byId("bankAccountName"), "other");
  driver().tap(byId("swatch.appleBlue"));
  ASSERT_EQ(driver().dismiss(byKind(NodeKind::navigationPage).nth(1)), DispatchStatus::handled);
  ASSERT_FALSE(driver().exists(byId("update")));
  driver().tap(byText("open"));
  EXPECT_EQ(driver().get(byId("bankAccountName")).string(Attr::value), "main");
  EXPECT_EQ(account->color(), "nonsense");

  driver().type(byId("bankAccountName"), "  Joint ");
  driver().type(byId("bankAccountNumber"), " \n");
  EXPECT_TRUE(driver().get(byId("update")).flag(Attr::disabled));
  driver().type(byId("bankAccountNumber"), " de 34 ");
  driver().setOn(byId("connectNote"), false);
  driver().tap(byId("update"));
  EXPECT_EQ(account->name(), "joint");
  EXPECT_EQ(account->number(), "de 34");
  EXPECT_EQ(account->color(), "appleRed") << "an unknown colour becomes appleRed on update";
  EXPECT_EQ(account->note(), std::nullopt);
  EXPECT_TRUE(driver().exists(byText("localizable_saved"))) << "with the setting off the screen shows the toast";
  EXPECT_TRUE(driver().exists(byId("update")));

  settings_->setPopViewAfterSaveAndUpdate(true);
  driver().type(byId("bankAccountName"), "Shared");
  driver().tap(byId("update"));
  EXPECT_EQ(account->name(), "shared");
  EXPECT_FALSE(driver().exists(byId("update"))) << "with the setting on the screen closes";
}

TEST_F(CollectionScreensTest, ItemScreensListTheLinkedBillsByName) {
  auto profile = addProfile();
  auto category = addCategory(profile, "home");
  for (const char* name : {"banana", "Apple", "cherry", "apple"}) addBill(profile, name, 1, category);
  showPushed([category] { return View(CategoriesItemScreen{category}); });
  auto texts = driver().visibleTexts();
  std::vector<std::string> billNames;
  for (const auto& t : texts) {
    if (t == "banana" || t == "Apple" || t == "cherry" || t == "apple") billNames.push_back(t);
  }
  EXPECT_EQ(billNames, (std::vector<std::string>{"Apple", "apple", "banana", "cherry"}));
  EXPECT_EQ(counts(), (std::vector<std::string>{"4"}));

  auto empty = addCategory(profile, "empty");
  showPushed([empty] { return View(CategoriesItemScreen{empty}); });
  EXPECT_FALSE(driver().exists(byText("localizable_bills"))) << "no bills, no section";
}

TEST_F(CollectionScreensTest, ConfirmedDeleteUnlinksExactlyTheMatchingBillsAndTheRecordIsGoneFromTheFile) {
  auto profile = addProfile();
  auto other = addProfile("Other");
  auto doomed = addAccount(profile, "doomed");
  auto kept = addAccount(profile, "kept");
  auto doomedCategory = addCategory(profile, "doomed");
  auto a = addBill(profile, "a", 1, doomedCategory, doomed);
  auto b = addBill(profile, "b", 1, nullptr, doomed);
  auto c = addBill(profile, "c", 1, nullptr, kept);
  auto d = addBill(profile, "d", 1);
  auto outside = addBill(other, "outside", 1, doomedCategory, doomed);  // linked from another profile's list
  auto note = addNote(profile, "doomed");
  addNote(profile, "kept");
  ASSERT_TRUE(context().save().ok());

  // The account from its item screen: the screen closes, the bills are unlinked.
  showPushed([doomed] { return View(BankAccountsItemScreen{doomed}); });
  driver().tap(byId("deleteRow"));
  EXPECT_EQ(hapticCount("warning"), 1u);
  driver().tap(byId("confirmDelete"));
  pumpMainLoop();
  EXPECT_FALSE(driver().exists(byId("deleteRow"))) << "the screen closed";
  EXPECT_EQ(a->bankAccount(), nullptr);
  EXPECT_EQ(b->bankAccount(), nullptr);
  EXPECT_EQ(outside->bankAccount(), nullptr) << "no bill keeps a link to a deleted account";
  EXPECT_EQ(c->bankAccount(), kept);
  EXPECT_EQ(d->bankAccount(), nullptr);
  EXPECT_EQ(namesOf(profile->bankAccounts()), (std::vector<std::string>{"kept"}));
  EXPECT_FALSE(context().hasChanges()) << "the delete saved";

  // The category from its row in the list, the note from its row.
  show([profile] { return View(CategoriesListScreen{.profile = profile, .presentedInSheet = true}); });
  driver().tap(byId("deleteCategory"));
  driver().tap(byId("confirmDelete"));
  pumpMainLoop();
  EXPECT_EQ(a->category(), nullptr);
  EXPECT_EQ(outside->category(), nullptr);
  show([profile] { return View(NotesListScreen{.profile = profile, .presentedInSheet = true}); });
  driver().tap(byId("deleteNote"));
  driver().tap(byId("confirmDelete"));
  pumpMainLoop();
  (void)note;

  openObjects();
  EXPECT_EQ(context().fetch<BankAccountEntity>().size(), 1u);
  EXPECT_EQ(context().fetch<CategoryEntity>().size(), 0u);
  ASSERT_EQ(context().fetch<NoteEntity>().size(), 1u);
  EXPECT_EQ(context().fetch<NoteEntity>().front()->name(), "kept");
  for (const auto& bill : context().fetch<BillEntity>()) {
    if (bill->name() != "c") {
      EXPECT_EQ(bill->bankAccount(), nullptr) << bill->name();
    }
    EXPECT_EQ(bill->category(), nullptr) << bill->name();
  }
}

TEST_F(CollectionScreensTest, CancelAndProfileLessDeletesChangeNothing) {
  auto profile = addProfile();
  auto note = addNote(profile, "n");
  showPushed([note] { return View(NotesItemScreen{note}); });
  driver().tap(byId("deleteRow"));
  driver().tap(byText("localizable_cancel"));
  pumpMainLoop();
  EXPECT_EQ(profile->notes()->size(), 1u);
  EXPECT_TRUE(driver().exists(byId("deleteRow")));

  auto loose = NoteEntity::make({.name = "loose", .color = "appleRed", .text = "t"});
  showPushed([loose] { return View(NotesItemScreen{loose}); });
  driver().tap(byId("deleteRow"));
  driver().tap(byId("confirmDelete"));
  pumpMainLoop();
  EXPECT_TRUE(driver().exists(byId("deleteRow"))) << "a profile-less record's delete does nothing";
}

TEST_F(CollectionScreensTest, FailedSaveAfterADeletePrintsErrorSavingAndShowsTheNotice) {
  platform::DataNotices::shared().reset();
  auto profile = addProfile();
  auto category = addCategory(profile, "c");
  ASSERT_TRUE(context().save().ok());
  context().setSaveFaultInjection([](platform::SaveStep step) { return step == platform::SaveStep::Commit; });
  showPushed([category] { return View(CategoriesItemScreen{category}); });
  driver().tap(byId("deleteRow"));
  ::testing::internal::CaptureStdout();
  driver().tap(byId("confirmDelete"));
  pumpMainLoop();
  const std::string printed = ::testing::internal::GetCapturedStdout();
  context().setSaveFaultInjection({});
  EXPECT_EQ(printed.rfind("Error saving: ", 0), 0u) << printed;
  EXPECT_TRUE(profile->categories()->empty()) << "the removal stays in memory";
  // The save ran after the tapped action was answered: only the notice tells the user.
  EXPECT_TRUE(platform::DataNotices::shared().has(platform::kSaveFailureNoticeKey));
  EXPECT_TRUE(platform::saveReportingFailure(context()).ok());
  EXPECT_FALSE(platform::DataNotices::shared().has(platform::kSaveFailureNoticeKey));
}

// ----- Rows -----

TEST_F(CollectionScreensTest, RowsCopyTheNumberOrTheWholeNoteAndShowTheDate) {
  auto profile = addProfile();
  addAccount(profile, "empty", "appleRed", "");
  auto note = addNote(profile, "long", "line one\nline two");
  note->setTimestamp(platform::Date::fromTimeIntervalSince1970(1709640000));  // 2024-03-05 12:00 UTC
  show([profile] { return View(BankAccountsListScreen{.profile = profile, .presentedInSheet = true}); });
  const std::size_t haptics = hapticCount("success");
  driver().tap(byId("copyNumber"));
  EXPECT_EQ(Pasteboard::general().string(), "") << "an empty number is copied too";
  EXPECT_EQ(hapticCount("success"), haptics + 1);
  const Node& row = driver().get(byId("bankAccountRow"));
  std::vector<NodeKind> menu;
  for (const Node& entry : row.slot("contextMenu")) menu.push_back(entry.kind);
  EXPECT_EQ(menu, (std::vector<NodeKind>{NodeKind::navigationLink, NodeKind::button, NodeKind::divider, NodeKind::button}));
  std::vector<std::string> tints;
  for (const Node& action : row.slot("swipeActions")) tints.push_back(action.color(Attr::tint) ? action.color(Attr::tint)->name : "");
  EXPECT_EQ(tints, (std::vector<std::string>{"sonicBlue", "tailsOrange", "sonicRed"}));

  show([profile] { return View(NotesListScreen{.profile = profile, .presentedInSheet = true}); });
  driver().tap(byId("copyNote"));
  EXPECT_EQ(Pasteboard::general().string(), "line one\nline two");
  EXPECT_TRUE(driver().exists(byText("Mar 5, 2024")));
}

// ----- Uncategorized -----

TEST_F(CollectionScreensTest, UncategorizedListsByNameLinksAndClosesAfterTheLast) {
  auto profile = addProfile();
  auto first = addAccount(profile, "zeta");
  addAccount(profile, "alpha");
  addBill(profile, "b", 1);
  addBill(profile, "A", 1);
  addBill(profile, "a", 1);
  show([profile] { return View(BankAccountsListScreen{.profile = profile, .presentedInSheet = true}); });
  driver().tap(byId("uncategorized"));
  std::vector<std::string> rows;
  for (const Node* menu : driver().findAll(byId("linkBill"))) {
    for (const auto& text : textsIn(menu->slot("label").front())) {
      if (text.rfind("$", 0) != 0) rows.push_back(text);
    }
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"A", "a", "b"}));
  std::vector<std::string> entries;
  for (const Node& entry : driver().get(byId("linkBill")).children) entries.push_back(textsIn(entry).front());
  EXPECT_EQ(entries, (std::vector<std::string>{"zeta", "alpha"})) << "the accounts in stored order";

  for (int linked = 0; linked < 3; ++linked) {
    driver().tap(byText("zeta").ofKind(NodeKind::button));
    if (linked < 2) {
      EXPECT_EQ(counts(), (std::vector<std::string>{std::to_string(2 - linked)})) << "the header counts the rest";
      EXPECT_EQ(hapticCount("success"), static_cast<std::size_t>(linked + 1));
      EXPECT_TRUE(driver().exists(byId("linkBill")));
    }
  }
  EXPECT_FALSE(driver().exists(byId("linkBill"))) << "the last link closed the screen";
  EXPECT_FALSE(driver().exists(byId("uncategorized"))) << "the list's row goes at 0";
  EXPECT_TRUE(driver().exists(byId("sortMenu"))) << "the list stays open";
  const BillList bills = *profile->bills();
  for (const auto& bill : bills) EXPECT_EQ(bill->bankAccount(), first);

  // An empty uncategorized screen stays, with 0.
  auto category = addCategory(profile, "home");
  for (const auto& bill : bills) bill->setCategory(category);
  showPushed([profile] { return View(CategoriesUncategorizedScreen{profile}); });
  EXPECT_EQ(counts(), (std::vector<std::string>{"0"}));
}

// ----- Lists -----

TEST_F(CollectionScreensTest, ListsTellAnAbsentListFromAnEmptyOneAndHideTheBadgeWhileAdding) {
  auto profile = addProfile();
  show([profile] { return View(NotesListScreen{.profile = profile, .presentedInSheet = true}); });
  EXPECT_TRUE(driver().exists(byText("localizable_noNotesAvailable")));
  EXPECT_FALSE(driver().exists(byId("countBadge")));
  driver().tap(byText("localizable_add").ofKind(NodeKind::button));
  EXPECT_TRUE(driver().exists(byId("saveNote"))) << "the empty state's button opens the add sheet";

  profile->setCategories(std::nullopt);
  show([profile] { return View(CategoriesListScreen{.profile = profile, .presentedInSheet = false}); });
  EXPECT_FALSE(driver().exists(byText("localizable_noCategoriesAvailable")));
  EXPECT_FALSE(driver().exists(byId("countBadge")));
  EXPECT_FALSE(driver().exists(byId("close"))) << "pushed, the list has no close button";

  addAccount(profile, "one");
  show([profile] { return View(BankAccountsListScreen{.profile = profile, .presentedInSheet = true}); });
  EXPECT_TRUE(driver().exists(byId("close")));
  ASSERT_TRUE(driver().exists(byId("countBadge")));
  EXPECT_EQ(counts(), (std::vector<std::string>{"1"}));
  // Its fill carries a faint black shadow of radius 1, and its count rolls up as it changes.
  std::vector<const Node*> shadowed, rolling;
  std::function<void(const Node&)> walk = [&](const Node& n) {
    if (n.number(Attr::shadowRadius) == 1.0) shadowed.push_back(&n);
    if (n.choice<ContentTransition>(Attr::contentTransition) == ContentTransition::numericTextCountingUp) rolling.push_back(&n);
    for (const auto& child : n.children) walk(child);
    for (const auto& [name, nodes] : n.slots) {
      for (const auto& child : nodes) walk(child);
    }
  };
  walk(driver().get(byId("countBadge")));
  ASSERT_EQ(shadowed.size(), 1u);
  EXPECT_EQ(*shadowed.front()->color(Attr::shadowColor), Color::system("black").withOpacity(0.33));
  ASSERT_EQ(rolling.size(), 1u);
  EXPECT_EQ(textsIn(*rolling.front()), (std::vector<std::string>{"%lld"})) << "the count itself";
  driver().tap(byId("add"));
  EXPECT_FALSE(driver().exists(byId("countBadge"))) << "hidden while the add sheet is up";
  driver().tap(byId("close"));
  EXPECT_TRUE(driver().exists(byId("countBadge")));
}

TEST_F(CollectionScreensTest, SortMenuWritesTheProfilesChoiceAndMarksTheCurrentKey) {
  auto profile = addProfile();
  addAccount(profile, "b", "appleRed", "9");
  addAccount(profile, "a", "appleRed", "10");
  show([profile] { return View(BankAccountsListScreen{.profile = profile, .presentedInSheet = true}); });
  EXPECT_EQ(rowTitles("bankAccountRow"), (std::vector<std::string>{"a", "b"}));
  driver().tap(byId("sort.localizable_number"));
  EXPECT_EQ(profile->bankAccountSortType(), BankAccountSortType::number);
  EXPECT_TRUE(driver().exists(bySymbol("paintbrush.badge.arrow.up")));
  EXPECT_TRUE(driver().exists(bySymbol("personalhotspot")));
  EXPECT_EQ(rowTitles("bankAccountRow"), (std::vector<std::string>{"a", "b"})) << "\"10\" before \"9\"";
  driver().tap(byId("sort.localizable_number"));
  EXPECT_EQ(rowTitles("bankAccountRow"), (std::vector<std::string>{"b", "a"}));
}

}  // namespace
}  // namespace brivel
