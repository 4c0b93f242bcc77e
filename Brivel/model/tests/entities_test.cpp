#include <gtest/gtest.h>

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

TEST_F(EntitiesTest, EveryFieldSurvivesSaveAndReopen) {
  UUID profileId = UUID::random();
  UUID billId = UUID::random();
  Date when = Date::fromTimeIntervalSinceReferenceDate(700000000.5);
  {
    auto container = open();
    auto profile = ProfileEntity::make(
        profileId, "Home", "sonicBlue", SalaryType::variable,
        {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12.5}, BillList{}, BillSortType::costReversed,
        BankAccountList{}, BankAccountSortType::numberReversed, CategoryList{},
        CategorySortType::colorReversed, NoteList{}, NoteSortType::name,
        CollectionFilterType::category, FavoriteQuickAction::openSalary, false, true, when);
    container->mainContext().insert(profile);
    auto category = CategoryEntity::make(UUID::random(), "Flat", "tailsOrange", profile,
                                         BillList{}, when);
    auto withoutNote = BankAccountEntity::make(UUID::random(), "Main", "appleRed", "DE12",
                                               std::nullopt, profile, BillList{}, when);
    auto emptyNote = BankAccountEntity::make(UUID::random(), "Spare", "appleRed", "", "",
                                             profile, BillList{}, when.addingTimeInterval(1));
    NoteEntity::make(UUID::random(), "Todo", "appleYellow", "line 1\nline 2", profile, when);
    BillEntity::make(billId, "Rent", 950.25, "paid by standing order", OccurringType::quarterly,
                     QuarterType::quarter3, YearlyType::july, profile, category, emptyNote, when);
    BillEntity::make(UUID::random(), "Bare", 1.0, std::nullopt, OccurringType::monthly,
                     std::nullopt, std::nullopt, profile, nullptr, nullptr, when);
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
  auto a = CategoryEntity::make(shared, "A", "appleRed", nullptr, BillList{}, Date::now());
  auto b = CategoryEntity::make(shared, "A", "appleRed", nullptr, BillList{}, Date::now());
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
    auto category = CategoryEntity::make(UUID::random(), "C", "appleRed", profile, BillList{},
                                         Date::now());
    auto account = BankAccountEntity::make(UUID::random(), "A", "appleRed", "", std::nullopt,
                                           profile, BillList{}, Date::now());
    auto bill = BillEntity::make(UUID::random(), "Rent", 1, std::nullopt, OccurringType::monthly,
                                 std::nullopt, std::nullopt, profile, nullptr, nullptr,
                                 Date::now());
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
      auto category = CategoryEntity::make(UUID::random(), "C", "x", profile, BillList{},
                                           Date::now());
      BankAccountEntity::make(UUID::random(), "A", "x", "", std::nullopt, profile, BillList{},
                              Date::now());
      NoteEntity::make(UUID::random(), "N", "x", "", profile, Date::now());
      BillEntity::make(UUID::random(), "B", 1, std::nullopt, OccurringType::monthly,
                       std::nullopt, std::nullopt, profile, category, nullptr, Date::now());
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
