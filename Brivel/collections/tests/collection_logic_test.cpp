// The collections' plain logic: the three orders under every sort choice (stable for equal
// keys both ways), the sort toggle and images, the bank-account form rules and the list
// append that never loses a record.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "Brivel/collections/bank_account_screens.h"
#include "Brivel/collections/collection_actions.h"
#include "Brivel/collections/collection_ordering.h"
#include "platform/foundation/date.h"
#include "platform/foundation/text.h"
#include "platform/foundation/uuid.h"
#include "platform/testing/environment.h"

namespace brivel {
namespace {

// Four records in stored order w, x, y, z. x and y share their name apart from case, their
// number and their timestamp; w and y share their colour name. Numbers sort as text.
struct Fields {
  std::string tag, name, color, number;
  double seconds;
};
const std::vector<Fields> kStored = {
    {"w", "beta", "appleRed", "9", 20},
    {"x", "Alpha", "appleBlue", "10", 10},
    {"y", "alpha", "appleRed", "10", 10},
    {"z", "gamma", "sonicBlue", "2", 30},
};

platform::Date at(double seconds) { return platform::Date::fromTimeIntervalSinceReferenceDate(seconds); }

template <class List>
std::string tags(const List& list) {
  std::string out;
  for (const auto& item : list) {
    for (const auto& f : kStored) {
      if (f.name == item->name()) out += f.tag;
    }
  }
  return out;
}

class CollectionOrders : public ::testing::Test {
 protected:
  void SetUp() override { platform::Locale::setCurrent("en_US"); }
  platform::testing::Environment environment_{"collection-orders"};
};

TEST_F(CollectionOrders, BankAccountsUnderEachOfTheEightChoices) {
  BankAccountList stored;
  for (const auto& f : kStored) {
    stored.push_back(
        BankAccountEntity::make({.name = f.name, .color = f.color, .number = f.number, .timestamp = at(f.seconds)}));
  }
  const std::vector<std::pair<BankAccountSortType, std::string>> cases = {
      {BankAccountSortType::name, "xywz"},           {BankAccountSortType::nameReversed, "zwxy"},
      {BankAccountSortType::color, "xwyz"},          {BankAccountSortType::colorReversed, "zwyx"},
      {BankAccountSortType::number, "xyzw"},         {BankAccountSortType::numberReversed, "wzxy"},
      {BankAccountSortType::timestamp, "xywz"},      {BankAccountSortType::timestampReversed, "zwxy"},
  };
  for (const auto& [sort, expected] : cases) {
    EXPECT_EQ(tags(sortedBankAccounts(stored, sort)), expected) << "sort " << rawValue(sort);
  }
}

TEST_F(CollectionOrders, CategoriesAndNotesUnderEachOfTheSixChoices) {
  CategoryList categories;
  NoteList notes;
  for (const auto& f : kStored) {
    categories.push_back(CategoryEntity::make({.name = f.name, .color = f.color, .timestamp = at(f.seconds)}));
    notes.push_back(NoteEntity::make({.name = f.name, .color = f.color, .timestamp = at(f.seconds)}));
  }
  // The category and note choices share their positions.
  const std::vector<std::pair<int, std::string>> cases = {{0, "xywz"}, {1, "zwxy"}, {2, "xwyz"},
                                                          {3, "zwyx"}, {4, "xywz"}, {5, "zwxy"}};
  for (const auto& [position, expected] : cases) {
    EXPECT_EQ(tags(sortedCategories(categories, static_cast<CategorySortType>(position))), expected) << position;
    EXPECT_EQ(tags(sortedNotes(notes, static_cast<NoteSortType>(position))), expected) << position;
  }
  EXPECT_TRUE(sortedNotes({}, NoteSortType::name).empty());
}

TEST(CollectionSortMenu, ToggleAndImagesFollowTheCurrentCase) {
  // (current, pressed key's ascending case) -> (new value, image of the pressed key)
  const std::vector<std::tuple<NoteSortType, NoteSortType, NoteSortType, std::string>> cases = {
      {NoteSortType::timestampReversed, NoteSortType::name, NoteSortType::name, "clock"},
      {NoteSortType::name, NoteSortType::name, NoteSortType::nameReversed, "clock.badge.arrow.up"},
      {NoteSortType::nameReversed, NoteSortType::name, NoteSortType::name, "clock.badge.arrow.down"},
      {NoteSortType::color, NoteSortType::timestamp, NoteSortType::timestamp, "clock"},
  };
  for (const auto& [current, ascending, next, image] : cases) {
    EXPECT_EQ(nextSortValue(current, ascending), next);
    EXPECT_EQ(sortEntryImage("clock", current, ascending), image);
  }
  EXPECT_EQ(nextSortValue(BankAccountSortType::number, BankAccountSortType::number), BankAccountSortType::numberReversed);
}

TEST(BankAccountForm, NoteAndCompletenessRules) {
  EXPECT_EQ(bankAccountNoteToStore(true, "  keep me \n"), "keep me");
  EXPECT_EQ(bankAccountNoteToStore(true, " \n "), std::nullopt);
  EXPECT_EQ(bankAccountNoteToStore(false, "hidden text"), std::nullopt) << "a note switched off is not stored";

  EXPECT_TRUE(bankAccountFormIsIncomplete("   ", "12", false, ""));
  EXPECT_TRUE(bankAccountFormIsIncomplete("main", " \n", false, ""));
  EXPECT_TRUE(bankAccountFormIsIncomplete("main", "12", true, "  "));
  EXPECT_FALSE(bankAccountFormIsIncomplete("main", "12", false, "  "));
  EXPECT_FALSE(bankAccountFormIsIncomplete("m", "1", true, "n"));
}

TEST(CollectionLists, AppendingToAnAbsentListCreatesIt) {
  auto note = NoteEntity::make({.name = "n", .color = "appleRed", .text = "t"});
  EXPECT_EQ(appendingCreatingList<NoteEntity>(std::nullopt, note), NoteList{note});
  auto first = NoteEntity::make({.name = "m", .color = "appleRed", .text = "t"});
  EXPECT_EQ(appendingCreatingList<NoteEntity>(NoteList{first}, note), (NoteList{first, note}));
}

}  // namespace
}  // namespace brivel
