#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <unistd.h>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/note_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/testing/temp_directory.h"

namespace brivel {
namespace {

using platform::AttributeValue;
using platform::Date;
using platform::DeleteRule;
using platform::EntityDescription;
using platform::PropertyDefault;
using platform::UUID;

class EntitiesTest : public ::testing::Test {
 protected:
  std::shared_ptr<platform::ModelContainer> open() {
    auto container = BrivelModelContainer::makeContainer(dir_ / "Brivel.store");
    EXPECT_TRUE(container);
    return container;
  }
  static void save(platform::ModelContext& context) {
    auto saved = context.save();
    ASSERT_TRUE(saved.ok()) << saved.error().localizedDescription();
  }

  platform::testing::TempDirectory directory_{"brivel-model"};
  const std::filesystem::path& dir_ = directory_.path();
};

std::vector<std::string> propertyNames(const EntityDescription& entity) {
  std::vector<std::string> names;
  for (const auto& property : entity.properties) names.push_back(property.name);
  return names;
}

TEST_F(EntitiesTest, SchemasListTheFieldsInDeclaredOrder) {
  EXPECT_EQ(propertyNames(ProfileEntity::entityDescription()),
            (std::vector<std::string>{
                "id", "name", "color", "salaryType", "salary", "bills", "billSortType",
                "bankAccounts", "bankAccountSortType", "categories", "categorySortType", "notes",
                "noteSortType", "collectionFilterType", "favoriteQuickAction", "showSpendable",
                "isArchived", "timestamp"}));
  EXPECT_EQ(propertyNames(BillEntity::entityDescription()),
            (std::vector<std::string>{"id", "name", "cost", "note", "occurring", "quarterly",
                                      "yearly", "profile", "category", "bankAccount",
                                      "timestamp"}));
  EXPECT_EQ(propertyNames(CategoryEntity::entityDescription()),
            (std::vector<std::string>{"id", "name", "color", "profile", "bills", "timestamp"}));
  EXPECT_EQ(propertyNames(BankAccountEntity::entityDescription()),
            (std::vector<std::string>{"id", "name", "color", "number", "note", "profile", "bills",
                                      "timestamp"}));
  EXPECT_EQ(propertyNames(NoteEntity::entityDescription()),
            (std::vector<std::string>{"id", "name", "color", "text", "profile", "timestamp"}));

  // Relationship descriptors: the profile's four lists cascade; the category and account
  // lists take no action and name their inverse; nothing else declares one.
  for (const auto* entity :
       {&ProfileEntity::entityDescription(), &BillEntity::entityDescription(),
        &CategoryEntity::entityDescription(), &BankAccountEntity::entityDescription(),
        &NoteEntity::entityDescription()}) {
    for (const auto& property : entity->properties) {
      SCOPED_TRACE(entity->name + "." + property.name);
      if (entity->name == "ProfileEntity" && property.kind == platform::PropertyKind::ToMany) {
        ASSERT_TRUE(property.relationship);
        EXPECT_EQ(property.relationship->deleteRule, DeleteRule::Cascade);
        EXPECT_EQ(property.relationship->declaredInverse, std::nullopt);
        EXPECT_EQ(property.inverse, "profile");
      } else if (property.name == "bills") {
        ASSERT_TRUE(property.relationship);
        EXPECT_EQ(property.relationship->deleteRule, DeleteRule::NoAction);
        EXPECT_EQ(property.relationship->minimumModelCount, 0);
        EXPECT_EQ(property.relationship->maximumModelCount, 0);
        EXPECT_EQ(property.relationship->declaredInverse,
                  entity->name == "CategoryEntity" ? "category" : "bankAccount");
      } else {
        EXPECT_FALSE(property.relationship);
      }
    }
  }
}

TEST_F(EntitiesTest, SchemasPublishTheDeclaredDefaults) {
  auto defaultOf = [](const EntityDescription& entity, const char* name) -> const PropertyDefault& {
    return entity.properties[*entity.indexOf(name)].defaultValue;
  };
  const auto& category = CategoryEntity::entityDescription();
  const auto& account = BankAccountEntity::entityDescription();
  const auto& note = NoteEntity::entityDescription();
  const auto& profile = ProfileEntity::entityDescription();

  EXPECT_EQ(defaultOf(category, "name").make(), AttributeValue(std::string()));
  EXPECT_EQ(defaultOf(category, "color").make(), AttributeValue(std::string("appleIndigo")));
  EXPECT_EQ(defaultOf(category, "bills").kind(), PropertyDefault::Kind::EmptyList);
  EXPECT_EQ(defaultOf(category, "profile").kind(), PropertyDefault::Kind::None);
  EXPECT_EQ(defaultOf(account, "color").make(), AttributeValue(std::string("appleYellow")));
  EXPECT_EQ(defaultOf(account, "note").kind(), PropertyDefault::Kind::None);
  EXPECT_EQ(defaultOf(note, "color").make(), AttributeValue(std::string("appleYellow")));
  EXPECT_EQ(defaultOf(profile, "color").make(), AttributeValue(std::string("appleRed")));

  // Generated defaults: a fresh UUID each time, and the current date.
  Date before = Date::now();
  auto stamp = std::get<Date>(defaultOf(category, "timestamp").make());
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, Date::now());
  EXPECT_NE(defaultOf(category, "id").make(), defaultOf(category, "id").make());
}

TEST_F(EntitiesTest, NewRecordsStartAtTheirDeclaredValues) {
  ProfileEntity profile;
  EXPECT_EQ(profile.name(), "");
  EXPECT_EQ(profile.color(), "appleRed");
  EXPECT_EQ(profile.salaryType(), SalaryType::fixed);
  EXPECT_EQ(profile.salary(), std::vector<double>{0.0});
  EXPECT_EQ(profile.bills(), std::optional<BillList>(BillList{}));
  EXPECT_EQ(profile.billSortType(), BillSortType::name);
  EXPECT_EQ(profile.bankAccountSortType(), BankAccountSortType::name);
  EXPECT_EQ(profile.categorySortType(), CategorySortType::name);
  EXPECT_EQ(profile.noteSortType(), NoteSortType::timestampReversed);
  EXPECT_EQ(profile.collectionFilterType(), CollectionFilterType::off);
  EXPECT_EQ(profile.favoriteQuickAction(), FavoriteQuickAction::openNotes);
  EXPECT_TRUE(profile.showSpendable());
  EXPECT_FALSE(profile.isArchived());

  BillEntity bill;
  EXPECT_EQ(bill.cost(), 0.0);
  EXPECT_EQ(bill.note(), std::nullopt);
  EXPECT_EQ(bill.occurring(), OccurringType::monthly);
  EXPECT_EQ(bill.quarterly(), std::nullopt);
  EXPECT_EQ(bill.yearly(), std::nullopt);
  EXPECT_EQ(bill.profile(), nullptr);

  EXPECT_EQ(CategoryEntity().color(), "appleIndigo");
  EXPECT_EQ(BankAccountEntity().color(), "appleYellow");
  EXPECT_EQ(BankAccountEntity().note(), std::nullopt);
  EXPECT_EQ(NoteEntity().color(), "appleYellow");
  EXPECT_NE(NoteEntity().id(), NoteEntity().id());
}

// `make` with fields left out must give what a new record starts with: the named values
// repeat the declared initial values, and a drift between the two would differ here.
TEST_F(EntitiesTest, MakeGivesLeftOutFieldsTheirDeclaredValues) {
  auto sameAsNew = [](const platform::PersistentModel& made,
                      const platform::PersistentModel& fresh) {
    const EntityDescription& entity = fresh.entity();
    for (std::size_t i = 0; i < entity.properties.size(); ++i) {
      const auto& property = entity.properties[i];
      SCOPED_TRACE(entity.name + "." + property.name);
      if (property.name == "id" || property.name == "timestamp") {
        continue;  // made afresh for each record
      }
      switch (property.kind) {
        case platform::PropertyKind::Attribute:
          EXPECT_EQ(made.value(i), fresh.value(i));
          break;
        case platform::PropertyKind::ToOne:
          EXPECT_EQ(made.related(i), nullptr);
          break;
        case platform::PropertyKind::ToMany:
          EXPECT_EQ(made.relatedList(i), fresh.relatedList(i));
          break;
      }
    }
  };
  sameAsNew(*ProfileEntity::make({}), ProfileEntity());
  sameAsNew(*BillEntity::make({}), BillEntity());
  sameAsNew(*CategoryEntity::make({}), CategoryEntity());
  sameAsNew(*BankAccountEntity::make({}), BankAccountEntity());
  sameAsNew(*NoteEntity::make({}), NoteEntity());

  Date before = Date::now();
  auto bill = BillEntity::make({.name = "Rent"});
  EXPECT_GE(bill->timestamp(), before);
  EXPECT_NE(bill->id(), BillEntity::make({})->id());
}

TEST_F(EntitiesTest, EveryFieldSurvivesSaveAndReopen) {
  UUID profileId = UUID::random();
  UUID billId = UUID::random();
  Date when = Date::fromTimeIntervalSinceReferenceDate(700000000.5);
  {
    auto container = open();
    auto profile = ProfileEntity::make({.id = profileId,
                                        .name = "Home",
                                        .color = "sonicBlue",
                                        .salaryType = SalaryType::variable,
                                        .salary = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5},
                                        .billSortType = BillSortType::costReversed,
                                        .bankAccountSortType = BankAccountSortType::numberReversed,
                                        .categorySortType = CategorySortType::colorReversed,
                                        .noteSortType = NoteSortType::name,
                                        .collectionFilterType = CollectionFilterType::category,
                                        .favoriteQuickAction = FavoriteQuickAction::openSalary,
                                        .showSpendable = false,
                                        .isArchived = true,
                                        .timestamp = when});
    container->mainContext().insert(profile);
    auto category = CategoryEntity::make(
        {.name = "Flat", .color = "tailsOrange", .profile = profile, .timestamp = when});
    auto withoutNote = BankAccountEntity::make({.name = "Main",
                                                .color = "appleRed",
                                                .number = "DE12",
                                                .profile = profile,
                                                .timestamp = when});
    auto emptyNote = BankAccountEntity::make({.name = "Spare",
                                              .color = "appleRed",
                                              .note = "",
                                              .profile = profile,
                                              .timestamp = when.addingTimeInterval(1)});
    NoteEntity::make(
        {.name = "Todo", .text = "line 1\nline 2", .profile = profile, .timestamp = when});
    BillEntity::make({.id = billId,
                      .name = "Rent",
                      .cost = 950.25,
                      .note = "paid by standing order",
                      .occurring = OccurringType::quarterly,
                      .quarterly = QuarterType::quarter3,
                      .yearly = YearlyType::july,
                      .profile = profile,
                      .category = category,
                      .bankAccount = emptyNote,
                      .timestamp = when});
    BillEntity::make({.name = "Bare", .cost = 1.0, .profile = profile, .timestamp = when});
    save(container->mainContext());
  }

  auto container = open();
  auto profiles = container->mainContext().fetch<ProfileEntity>();
  ASSERT_EQ(profiles.size(), 1u);
  auto profile = profiles.front();
  EXPECT_EQ(profile->id(), profileId);
  EXPECT_EQ(profile->name(), "Home");
  EXPECT_EQ(profile->color(), "sonicBlue");
  EXPECT_EQ(profile->salaryType(), SalaryType::variable);
  EXPECT_EQ(profile->salary().back(), 12.5);
  EXPECT_EQ(profile->billSortType(), BillSortType::costReversed);
  EXPECT_EQ(profile->bankAccountSortType(), BankAccountSortType::numberReversed);
  EXPECT_EQ(profile->categorySortType(), CategorySortType::colorReversed);
  EXPECT_EQ(profile->noteSortType(), NoteSortType::name);
  EXPECT_EQ(profile->collectionFilterType(), CollectionFilterType::category);
  EXPECT_EQ(profile->favoriteQuickAction(), FavoriteQuickAction::openSalary);
  EXPECT_FALSE(profile->showSpendable());
  EXPECT_TRUE(profile->isArchived());
  EXPECT_EQ(profile->timestamp(), when);
  EXPECT_EQ(profile->incomePerYear(), 66.0 + 12.5);

  ASSERT_EQ(profile->bills()->size(), 2u);
  auto rent = (*profile->bills())[0];
  auto bare = (*profile->bills())[1];
  EXPECT_EQ(rent->id(), billId);
  EXPECT_EQ(rent->name(), "Rent");
  EXPECT_EQ(rent->cost(), 950.25);
  EXPECT_EQ(rent->note(), "paid by standing order");
  EXPECT_EQ(rent->occurring(), OccurringType::quarterly);
  EXPECT_EQ(rent->quarterly(), QuarterType::quarter3);
  EXPECT_EQ(rent->yearly(), YearlyType::july);  // kept though the recurrence ignores it
  EXPECT_EQ(rent->profile(), profile);
  ASSERT_TRUE(rent->category());
  EXPECT_EQ(rent->category()->name(), "Flat");
  ASSERT_TRUE(rent->bankAccount());
  EXPECT_EQ(rent->bankAccount()->name(), "Spare");
  EXPECT_EQ(bare->note(), std::nullopt);
  EXPECT_EQ(bare->quarterly(), std::nullopt);
  EXPECT_EQ(bare->yearly(), std::nullopt);
  EXPECT_EQ(bare->category(), nullptr);

  ASSERT_EQ(profile->bankAccounts()->size(), 2u);
  EXPECT_EQ((*profile->bankAccounts())[0]->note(), std::nullopt);
  EXPECT_EQ((*profile->bankAccounts())[1]->note(), std::optional<std::string>(""));
  EXPECT_EQ((*profile->bankAccounts())[0]->number(), "DE12");
  EXPECT_EQ((*profile->bankAccounts())[0]->bills(), std::optional<BillList>(BillList{}));
  EXPECT_EQ((*profile->bankAccounts())[1]->bills(), std::optional<BillList>(BillList{rent}));
  ASSERT_EQ(profile->categories()->size(), 1u);
  EXPECT_EQ((*profile->categories())[0]->color(), "tailsOrange");
  ASSERT_EQ(profile->notes()->size(), 1u);
  EXPECT_EQ((*profile->notes())[0]->text(), "line 1\nline 2");
}

// The layout (and values) a store written by earlier builds has, as SQLite shows it: it opens
// as it is, and opening it changes no table.
TEST_F(EntitiesTest, AStoreInTheEarlierLayoutOpensUnchanged) {
  const char* layout[] = {
      "CREATE TABLE store_metadata (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
      "CREATE TABLE \"ProfileEntity\" (pk INTEGER PRIMARY KEY, \"id\" TEXT, \"name\" TEXT, "
      "\"color\" TEXT, \"salaryType\" INTEGER, \"salary\" BLOB, \"billSortType\" INTEGER, "
      "\"bankAccountSortType\" INTEGER, \"categorySortType\" INTEGER, \"noteSortType\" INTEGER, "
      "\"collectionFilterType\" INTEGER, \"favoriteQuickAction\" INTEGER, \"showSpendable\" "
      "INTEGER, \"isArchived\" INTEGER, \"timestamp\" REAL)",
      "CREATE TABLE \"BillEntity\" (pk INTEGER PRIMARY KEY, \"id\" TEXT, \"name\" TEXT, \"cost\" "
      "REAL, \"note\" TEXT, \"occurring\" INTEGER, \"quarterly\" INTEGER, \"yearly\" INTEGER, "
      "\"profile\" INTEGER, \"profile$position\" INTEGER, \"category\" INTEGER, "
      "\"category$position\" INTEGER, \"bankAccount\" INTEGER, \"bankAccount$position\" INTEGER, "
      "\"timestamp\" REAL)",
      "CREATE TABLE \"CategoryEntity\" (pk INTEGER PRIMARY KEY, \"id\" TEXT, \"name\" TEXT, "
      "\"color\" TEXT, \"profile\" INTEGER, \"profile$position\" INTEGER, \"timestamp\" REAL)",
      "CREATE TABLE \"BankAccountEntity\" (pk INTEGER PRIMARY KEY, \"id\" TEXT, \"name\" TEXT, "
      "\"color\" TEXT, \"number\" TEXT, \"note\" TEXT, \"profile\" INTEGER, \"profile$position\" "
      "INTEGER, \"timestamp\" REAL)",
      "CREATE TABLE \"NoteEntity\" (pk INTEGER PRIMARY KEY, \"id\" TEXT, \"name\" TEXT, \"color\" "
      "TEXT, \"text\" TEXT, \"profile\" INTEGER, \"profile$position\" INTEGER, \"timestamp\" REAL)",
      "INSERT INTO store_metadata VALUES ('schemaVersion', '1.0.0')",
      "INSERT INTO \"ProfileEntity\" VALUES (1, '9FE10B13-EA15-400F-88C0-D2C9C030C71A', 'Home', "
      "'sonicBlue', 1, zeroblob(0), 1, 0, 0, 5, 2, 3, 0, 1, 818627329.5)",
      "INSERT INTO \"CategoryEntity\" VALUES (1, '53820959-48AF-42C5-8490-E2678B87F396', 'flat', "
      "'tailsOrange', 1, 0, 818627329.5)",
      "INSERT INTO \"BankAccountEntity\" VALUES (1, '07EE52F4-89F5-4BC1-B2DB-0691F06C1150', "
      "'main', 'appleRed', 'DE12', '', 1, 0, 818627329.5)",
      "INSERT INTO \"NoteEntity\" VALUES (1, 'E621E1F8-C36C-495A-93FC-0C247A3E6E5F', 'todo', "
      "'appleYellow', 'line', 1, 0, 818627329.5)",
      // Two bills stored in the list in the other order than their keys.
      "INSERT INTO \"BillEntity\" VALUES (1, '1B4E28BA-2FA1-11D2-883F-0016D3CCA427', 'Rent', "
      "950.25, 'standing order', 1, 2, NULL, 1, 1, 1, 0, 1, 0, 818627329.5)",
      "INSERT INTO \"BillEntity\" VALUES (2, '6FA459EA-EE8A-3CA4-894E-DB77E160355E', 'Gym', 30.0, "
      "NULL, 2, NULL, 11, 1, 0, NULL, NULL, NULL, NULL, 818627329.5)",
  };
  std::filesystem::create_directories(dir_);
  const std::string path = (dir_ / "Brivel.store").string();
  auto tables = [&path] {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    std::string all;
    sqlite3_stmt* row = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master ORDER BY name", -1, &row, nullptr);
    while (sqlite3_step(row) == SQLITE_ROW) {
      const unsigned char* sql = sqlite3_column_text(row, 0);
      all += sql ? reinterpret_cast<const char*>(sql) : "";
      all += ";\n";
    }
    sqlite3_finalize(row);
    sqlite3_close(db);
    return all;
  };
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    for (const char* sql : layout) {
      ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    }
    sqlite3_close(db);
  }
  const std::string before = tables();

  {
    auto container = open();
    ASSERT_TRUE(container);
    auto profiles = container->mainContext().fetch<ProfileEntity>();
    ASSERT_EQ(profiles.size(), 1u);
    auto profile = profiles.front();
    EXPECT_EQ(profile->id().uuidString(), "9FE10B13-EA15-400F-88C0-D2C9C030C71A");
    EXPECT_EQ(profile->name(), "Home");
    EXPECT_EQ(profile->salaryType(), SalaryType::variable);
    EXPECT_EQ(profile->salary(), std::vector<double>{});
    EXPECT_EQ(profile->noteSortType(), NoteSortType::timestampReversed);
    EXPECT_EQ(profile->favoriteQuickAction(), FavoriteQuickAction::openSalary);
    EXPECT_FALSE(profile->showSpendable());
    EXPECT_TRUE(profile->isArchived());
    EXPECT_EQ(profile->timestamp(), Date::fromTimeIntervalSinceReferenceDate(818627329.5));

    auto bills = *profile->bills();
    ASSERT_EQ(bills.size(), 2u);
    EXPECT_EQ(bills[0]->name(), "Gym");
    EXPECT_EQ(bills[0]->occurring(), OccurringType::yearly);
    EXPECT_EQ(bills[0]->yearly(), YearlyType::december);
    EXPECT_EQ(bills[0]->note(), std::nullopt);
    EXPECT_EQ(bills[0]->category(), nullptr);
    auto rent = bills[1];
    EXPECT_EQ(rent->id().uuidString(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
    EXPECT_EQ(rent->cost(), 950.25);
    EXPECT_EQ(rent->note(), "standing order");
    EXPECT_EQ(rent->quarterly(), QuarterType::quarter3);
    EXPECT_EQ(rent->yearly(), std::nullopt);
    ASSERT_TRUE(rent->category());
    EXPECT_EQ(rent->category()->name(), "flat");
    ASSERT_TRUE(rent->bankAccount());
    EXPECT_EQ(rent->bankAccount()->note(), "");
    EXPECT_EQ(rent->bankAccount()->number(), "DE12");
    EXPECT_EQ((*profile->notes()).front()->text(), "line");
    EXPECT_FALSE(container->mainContext().hasChanges());
  }
  EXPECT_EQ(tables(), before);
}

TEST_F(EntitiesTest, UnknownStoredCodesReadAsTheDeclaredValue) {
  // A stored code no case has (a damaged or newer file) never makes an invalid enum value.
  auto bill = std::make_shared<BillEntity>();
  bill->setValue(BillEntity::Field::occurring, std::int64_t{7});
  bill->setValue(BillEntity::Field::quarterly, std::int64_t{-1});
  EXPECT_EQ(bill->occurring(), OccurringType::monthly);
  EXPECT_EQ(bill->quarterly(), std::nullopt);
  EXPECT_EQ(bill->costPerYear(), 0.0);
  auto profile = std::make_shared<ProfileEntity>();
  profile->setValue(ProfileEntity::Field::noteSortType, std::int64_t{6});
  EXPECT_EQ(profile->noteSortType(), NoteSortType::timestampReversed);
}

TEST_F(EntitiesTest, IdentityIsTheRecordNotItsId) {
  UUID shared = UUID::random();
  auto a = CategoryEntity::make({.id = shared, .name = "A", .color = "appleRed"});
  auto b = CategoryEntity::make({.id = shared, .name = "A", .color = "appleRed"});
  EXPECT_NE(a, b);
  EXPECT_EQ(a, a);
  std::hash<std::shared_ptr<CategoryEntity>> hash;
  EXPECT_EQ(hash(a), hash(a));
  EXPECT_NE(a->persistentModelID(), b->persistentModelID());
}

TEST_F(EntitiesTest, WritingANameNotifiesOnlyNameObservers) {
  auto category = std::make_shared<CategoryEntity>();
  std::map<std::size_t, int> notified;
  for (std::size_t field : {CategoryEntity::Field::name, CategoryEntity::Field::color,
                            CategoryEntity::Field::bills}) {
    category->observationRegistrar().addObserver(field, [&notified, field] { ++notified[field]; });
  }
  category->setName("Food");
  EXPECT_EQ(notified[CategoryEntity::Field::name], 1);
  EXPECT_EQ(notified[CategoryEntity::Field::color], 0);
  EXPECT_EQ(notified[CategoryEntity::Field::bills], 0);
}

TEST_F(EntitiesTest, DeletingACategoryOrAccountKeepsTheBillsAndClearsTheLinks) {
  {
    auto container = open();
    auto profile = std::make_shared<ProfileEntity>();
    container->mainContext().insert(profile);
    auto category = CategoryEntity::make({.name = "C", .color = "appleRed", .profile = profile});
    auto account = BankAccountEntity::make({.name = "A", .color = "appleRed", .profile = profile});
    auto bill = BillEntity::make({.name = "Rent", .cost = 1, .profile = profile});
    bill->setCategory(category);
    bill->setBankAccount(account);
    EXPECT_EQ(category->bills(), std::optional<BillList>(BillList{bill}));
    save(container->mainContext());

    container->mainContext().deleteModel(category);
    auto accounts = *profile->bankAccounts();
    accounts.clear();
    profile->setBankAccounts(accounts);  // removed from the profile: deleted at the save
    save(container->mainContext());
    EXPECT_EQ(bill->category(), nullptr);
    EXPECT_EQ(bill->bankAccount(), nullptr);
  }
  auto container = open();
  auto& context = container->mainContext();
  EXPECT_EQ(context.fetchCount<CategoryEntity>(), 0u);
  EXPECT_EQ(context.fetchCount<BankAccountEntity>(), 0u);
  auto bills = context.fetch<BillEntity>();
  ASSERT_EQ(bills.size(), 1u);
  EXPECT_EQ(bills.front()->category(), nullptr);
  EXPECT_EQ(bills.front()->bankAccount(), nullptr);
}

TEST_F(EntitiesTest, DeletingAProfileDeletesEverythingItOwns) {
  {
    auto container = open();
    auto& context = container->mainContext();
    auto keep = std::make_shared<ProfileEntity>();
    keep->setName("Keep");
    auto drop = std::make_shared<ProfileEntity>();
    context.insert(keep);
    context.insert(drop);
    for (const auto& profile : {keep, drop}) {
      auto category = CategoryEntity::make({.name = "C", .color = "x", .profile = profile});
      BankAccountEntity::make({.name = "A", .color = "x", .profile = profile});
      NoteEntity::make({.name = "N", .color = "x", .profile = profile});
      BillEntity::make({.name = "B", .cost = 1, .profile = profile, .category = category});
    }
    save(context);
    context.deleteModel(drop);
    save(context);
  }
  auto container = open();
  auto& context = container->mainContext();
  ASSERT_EQ(context.fetchCount<ProfileEntity>(), 1u);
  EXPECT_EQ(context.fetch<ProfileEntity>().front()->name(), "Keep");
  EXPECT_EQ(context.fetchCount<BillEntity>(), 1u);
  EXPECT_EQ(context.fetchCount<CategoryEntity>(), 1u);
  EXPECT_EQ(context.fetchCount<BankAccountEntity>(), 1u);
  EXPECT_EQ(context.fetchCount<NoteEntity>(), 1u);
}

}  // namespace
}  // namespace brivel
