// The kept list model against a full computation: random edits of a real store's profile (bills
// added, deleted, moved, renamed, re-dated, re-priced, re-linked, given other ids; orders,
// groupings, categories and the locale changed) must always leave the model answering what
// buildBillListContent answers, and most of them must be applied without sorting everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "Brivel/bills/bill_list_model.h"
#include "Brivel/bills/bill_ordering.h"
#include "Brivel/bills/bill_sections.h"
#include "bills_test_support.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/text.h"

namespace brivel {
namespace {

class BillListModelTest : public testing::BillsTest {
 protected:
  // A readable name per object, so that two bills of one name still differ in a failure.
  std::string label(const void* object) {
    auto [at, added] = labels_.try_emplace(object, "");
    if (added) at->second = "#" + std::to_string(labels_.size());
    return at->second;
  }

  // The sections and rows of a content, one line each: "section <category>" then "<bill> <key>".
  std::vector<std::string> describe(BillListLayout layout, const std::vector<BillSection>& sections,
                                    const std::vector<BillList>& rows, const std::vector<std::vector<std::string>>& keys) {
    std::vector<std::string> lines{"layout " + std::to_string(static_cast<int>(layout))};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (i < sections.size()) {
        const BillSection& s = sections[i];
        lines.push_back("section " + (s.isUncategorized ? std::string("-")
                                      : s.category    ? s.category->name() + label(s.category.get())
                                                      : s.bankAccount->name() + label(s.bankAccount.get())));
      }
      for (std::size_t j = 0; j < rows[i].size(); ++j) {
        lines.push_back(rows[i][j]->name() + label(rows[i][j].get()) + " " + (j < keys[i].size() ? keys[i][j] : "?"));
      }
    }
    return lines;
  }

  std::vector<std::string> kept(BillListModel& model, const std::shared_ptr<ProfileEntity>& profile,
                                const std::string& search) {
    auto content = model.content(profile, search);
    std::vector<BillList> rows;
    std::vector<std::vector<std::string>> keys;
    for (const auto& group : content->groups) {
      rows.push_back(group.allBills());
      keys.push_back(group.allKeys());
    }
    return describe(content->content.layout, content->content.sections, rows, keys);
  }

  // Month m's bills as the forecast lists them: the monthly ones, the quarterly ones of month
  // m mod 3 of their quarter, the yearly ones of month m, sorted together stably.
  std::vector<std::string> computedMonth(const ProfileEntity& profile, int month) {
    BillList parts[3];
    for (const auto& bill : profile.bills().value_or(BillList{})) {
      const auto quarter = bill->quarterly();
      const auto yearly = bill->yearly();
      switch (bill->occurring()) {
        case OccurringType::monthly:
          parts[0].push_back(bill);
          break;
        case OccurringType::quarterly:
          if (quarter && rawValue(*quarter) == month % 3) parts[1].push_back(bill);
          break;
        case OccurringType::yearly:
          if (yearly && rawValue(*yearly) == month) parts[2].push_back(bill);
          break;
      }
    }
    BillList joined;
    for (const BillList& part : parts) joined.insert(joined.end(), part.begin(), part.end());
    const BillList rows = sortedBills(joined, profile.billSortType());
    return describe(BillListLayout::allBills, {}, {rows}, {billRowKeys(rows)});
  }

  std::vector<std::string> keptMonth(const BillRowGroup& rows) {
    return describe(BillListLayout::allBills, {}, {*rows.bills}, {rows.allKeys()});
  }

  std::vector<std::string> computed(const ProfileEntity& profile, const std::string& search) {
    const BillListContent content = buildBillListContent(profile, search);
    std::vector<BillList> rows;
    if (content.layout == BillListLayout::searchResults || content.layout == BillListLayout::allBills) {
      rows.push_back(content.rows);
    } else {
      for (const auto& section : content.sections) rows.push_back(section.bills);
    }
    std::vector<std::vector<std::string>> keys;
    for (const auto& list : rows) keys.push_back(billRowKeys(list));
    return describe(content.layout, content.sections, rows, keys);
  }

 private:
  std::unordered_map<const void*, std::string> labels_;
};

template <class T>
const T& pick(std::mt19937& random, const std::vector<T>& from) {
  return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
}

TEST_F(BillListModelTest, RandomEditsAppliedAsTheyComeEqualAFullComputation) {
  const unsigned seed = 20261211;
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };

  auto profile = addProfile();
  auto other = addProfile("Other");
  std::vector<std::shared_ptr<CategoryEntity>> categories{addCategory(profile, "Flat"), addCategory(profile, "car"),
                                                          addCategory(profile, "Äther")};
  std::vector<std::shared_ptr<BankAccountEntity>> accounts{addAccount(profile, "Giro"), addAccount(profile, "Savings")};
  // Few distinct values, so that equal keys (and so the list order between them) matter.
  const std::vector<std::string> names{"Rent", "rent", "Äpfel", "Apfel", "Zoo", "gym", "Gym ", "Water", "Öl", ""};
  const std::vector<double> costs{5, 20, 20.0, 900, -1, 0, std::nan("")};
  const std::vector<double> ages{0, 60, 3600, 86400};
  std::vector<platform::UUID> ids{platform::UUID::random()};

  auto someCategory = [&]() -> std::shared_ptr<CategoryEntity> { return chance(25) ? nullptr : pick(random, categories); };
  auto someAccount = [&]() -> std::shared_ptr<BankAccountEntity> { return chance(25) ? nullptr : pick(random, accounts); };
  // Monthly, quarterly or yearly, in few months (so that months share bills of each kind),
  // some without their month.
  auto retime = [&](const std::shared_ptr<BillEntity>& bill) {
    switch (random() % 5) {
      case 0:
        bill->setOccurring(OccurringType::monthly);
        break;
      case 1:
      case 2:
        bill->setOccurring(OccurringType::quarterly);
        bill->setQuarterly(chance(15) ? std::nullopt : std::optional(static_cast<QuarterType>(random() % 2)));
        break;
      default:
        bill->setOccurring(OccurringType::yearly);
        bill->setYearly(chance(15) ? std::nullopt : std::optional(static_cast<YearlyType>(random() % 4)));
        break;
    }
  };
  auto add = [&] {
    auto bill = addBill(profile, pick(random, names), pick(random, costs), someCategory(), someAccount(), pick(random, ages));
    if (chance(60)) retime(bill);
    return bill;
  };
  for (int i = 0; i < 30; ++i) add();
  profile->setCollectionFilterType(CollectionFilterType::category);

  auto someBill = [&]() -> std::shared_ptr<BillEntity> {
    auto bills = profile->bills().value_or(BillList{});
    return bills.empty() ? add() : pick(random, bills);
  };
  struct Edit {
    const char* what;
    int weight;
    std::function<void()> apply;
  };
  const std::vector<Edit> edits{
      {"add a bill", 12, [&] { add(); }},
      {"delete a bill", 8, [&] { context().deleteModel(someBill()); }},
      {"take a bill out of the list", 4, [&] {
         BillList bills = profile->bills().value_or(BillList{});
         if (!bills.empty()) bills.erase(bills.begin() + static_cast<long>(random() % bills.size()));
         profile->setBills(bills);
       }},
      {"move a bill to the end of the list", 3, [&] {
         BillList bills = profile->bills().value_or(BillList{});
         if (bills.empty()) return;
         auto moved = bills.begin() + static_cast<long>(random() % bills.size());
         std::rotate(moved, moved + 1, bills.end());
         profile->setBills(bills);
       }},
      {"move a bill to the other profile", 3, [&] { someBill()->setProfile(other); }},
      {"rename a bill", 12, [&] { someBill()->setName(pick(random, names)); }},
      {"change a cost", 12, [&] { someBill()->setCost(pick(random, costs)); }},
      {"change a date", 8, [&] {
         someBill()->setTimestamp(platform::Date::now().addingTimeInterval(-pick(random, ages)));
       }},
      {"change a category", 10, [&] { someBill()->setCategory(someCategory()); }},
      {"change an account", 6, [&] { someBill()->setBankAccount(someAccount()); }},
      {"change when a bill falls due", 10, [&] { retime(someBill()); }},
      {"give a bill another id, or one it shares", 4, [&] {
         auto bill = someBill();
         if (chance(50)) ids.push_back(platform::UUID::random());
         bill->setId(chance(50) ? pick(random, ids) : someBill()->id());
       }},
      {"change several bills in one turn", 3, [&] {
         for (int i = 0; i < 5; ++i) someBill()->setCost(pick(random, costs));
         add();
       }},
      {"change the bill order", 4, [&] {
         profile->setBillSortType(static_cast<BillSortType>(std::uniform_int_distribution<int>(0, 5)(random)));
       }},
      {"change the grouping", 3, [&] {
         profile->setCollectionFilterType(static_cast<CollectionFilterType>(std::uniform_int_distribution<int>(0, 2)(random)));
       }},
      {"rename a category or change the category order", 3, [&] {
         if (chance(50)) {
           pick(random, categories)->setName(pick(random, names));
         } else {
           profile->setCategorySortType(chance(50) ? CategorySortType::nameReversed : CategorySortType::name);
         }
       }},
      {"replace a category", 1, [&] {
         auto& slot = categories[random() % categories.size()];
         context().deleteModel(slot);
         slot = addCategory(profile, pick(random, names));
       }},
      {"reverse the profile's list", 1, [&] {
         BillList bills = profile->bills().value_or(BillList{});
         std::reverse(bills.begin(), bills.end());
         profile->setBills(bills);
       }},
      {"switch the locale", 1, [&] { platform::Locale::setCurrent(chance(50) ? "sv_SE" : "en_US"); }},
  };
  std::vector<int> weights;
  for (const auto& edit : edits) weights.push_back(edit.weight);
  std::discrete_distribution<std::size_t> nextEdit(weights.begin(), weights.end());
  const std::vector<std::string> searches{"e", "RENT", "äp", " g", "ö"};

  BillListModel model;
  int incremental = 0;
  const int steps = 500;
  std::vector<std::string> done;
  for (int step = 0; step < steps; ++step) {
    // One edit, or a few at once (as one action may make them) before the model is asked.
    const int count = chance(25) ? 3 : 1;
    for (int i = 0; i < count; ++i) {
      const Edit& edit = edits[nextEdit(random)];
      edit.apply();
      done.push_back(edit.what);
      if (done.size() > 5) done.erase(done.begin());
    }
    std::string trace = "seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", last edits:";
    for (const auto& what : done) trace += " / " + what;

    ASSERT_EQ(kept(model, profile, ""), computed(*profile, "")) << trace;
    if (model.lastUpdate() == BillListModel::LastUpdate::incremental) ++incremental;
    // The list shown now and then: the search keys are laid out, and the next edits patched in.
    if (chance(50)) platform::MainLoop::drain();
    const std::string& search = pick(random, searches);
    ASSERT_EQ(kept(model, profile, search), computed(*profile, search)) << trace << ", search \"" << search << "\"";
    ASSERT_EQ(model.listState(profile), collectionListState(profile)) << trace;
    const int month = static_cast<int>(random() % 4);
    const BillRowGroup monthRows = model.monthRows(profile, month);
    ASSERT_EQ(keptMonth(monthRows), computedMonth(*profile, month)) << trace << ", month " << month;
    EXPECT_EQ(model.monthRows(profile, month).bills, monthRows.bills) << "a month asked again unchanged shares its rows";
  }
  EXPECT_GT(incremental, steps / 2) << "most edits are applied to the kept order";
}

// The search folds plain ASCII names without ICU; it must find what the full folding finds,
// the capital I of a Turkish locale (a dotless i there) included.
TEST_F(BillListModelTest, SearchOfPlainNamesFindsWhatTheFullFoldingFinds) {
  auto profile = addProfile();
  for (const char* name : {"IRMAK", "\u0131rmak", "irmak", "\u0130zmir", "Rent", "RENT 2", "Stra\u00dfe", "STRASSE"}) {
    addBill(profile, name, 1);
  }
  struct Case {
    const char* locale;
    const char* search;
  };
  for (const Case& c : {Case{"en_US", "i"}, Case{"en_US", "IR"}, Case{"tr_TR", "i"}, Case{"tr_TR", "IR"},
                        Case{"tr_TR", "\u0131r"}, Case{"de_DE", "ss"}, Case{"de_DE", "rent"}}) {
    platform::Locale::setCurrent(c.locale);
    BillListModel model;
    EXPECT_EQ(kept(model, profile, c.search), computed(*profile, c.search)) << c.locale << ", search \"" << c.search << "\"";
  }
  platform::Locale::setCurrent("");
}

// Once the list is shown, the search keys are laid out ahead of the first letter; a search
// of them must find what the full computation finds, whole names and name ends included and no
// match made of one name's end and the next one's start, and every kind of change after the
// layout must be seen by the next search. Every bill here falls due monthly, so a month's rows
// are the whole list in the order laid out, and must follow each change as well.
TEST_F(BillListModelTest, SearchesAfterTheListIsShownFindWhatAFullComputationFinds) {
  auto profile = addProfile();
  auto flat = addCategory(profile, "Flat");
  for (const char* name : {"Rent", "rent", "Tram", "", "\u00d6l", "Strom", "Rent", "tr"}) addBill(profile, name, 1, flat);
  const std::vector<std::string> searches{"rent", "nt", "t", "TR", "\u00f6l", "ntr", std::string("t\0r", 3), "x"};
  struct Change {
    const char* what;
    std::function<void()> apply;
  };
  const std::vector<Change> changes{
      {"nothing", [] {}},
      {"a rename", [&] { profile->bills().value()[1]->setName("Rental"); }},
      {"a bill added", [&] { addBill(profile, "Entry", 2); }},
      {"a bill deleted", [&] { context().deleteModel(profile->bills().value()[0]); }},
      {"another order", [&] { profile->setBillSortType(BillSortType::costReversed); }},
      {"an id shared", [&] { profile->bills().value()[2]->setId(profile->bills().value()[3]->id()); }},
      {"another grouping", [&] { profile->setCollectionFilterType(CollectionFilterType::category); }},
      {"another locale", [&] { platform::Locale::setCurrent("tr_TR"); }},
  };
  BillListModel model;
  for (const Change& change : changes) {
    ASSERT_EQ(kept(model, profile, ""), computed(*profile, "")) << "after " << change.what;
    platform::MainLoop::drain();  // the list shown: the keys are laid out
    ASSERT_EQ(keptMonth(model.monthRows(profile, 4)), computedMonth(*profile, 4)) << "before " << change.what;
    change.apply();
    for (const std::string& search : searches) {
      ASSERT_EQ(kept(model, profile, search), computed(*profile, search))
          << "after " << change.what << ", search \"" << search << "\"";
    }
    ASSERT_EQ(keptMonth(model.monthRows(profile, 4)), computedMonth(*profile, 4)) << "after " << change.what;
  }
  platform::Locale::setCurrent("");
}

// A change the model applies in place keeps every other section's rows as they were shared.
TEST_F(BillListModelTest, SectionsAnEditLeftAloneKeepTheirSharedRows) {
  auto profile = addProfile();
  auto flat = addCategory(profile, "Flat");
  auto car = addCategory(profile, "Car");
  auto rent = addBill(profile, "Rent", 900, flat);
  addBill(profile, "Power", 40, flat);
  addBill(profile, "Fuel", 60, car);
  profile->setCollectionFilterType(CollectionFilterType::category);
  BillListModel model;
  auto before = model.content(profile, "");
  ASSERT_EQ(before->groups.size(), 2u);  // Car, Flat

  rent->setName("Bread");
  auto renamed = model.content(profile, "");
  EXPECT_EQ(model.lastUpdate(), BillListModel::LastUpdate::incremental);
  EXPECT_EQ(renamed->groups[0].bills, before->groups[0].bills) << "Car did not change";
  EXPECT_EQ(names(*renamed->groups[1].bills), (std::vector<std::string>{"Bread", "Power"}));

  rent->setCost(901);  // the order is by name: nothing moves
  auto repriced = model.content(profile, "");
  EXPECT_EQ(repriced->groups[1].bills, renamed->groups[1].bills) << "Flat came out the same";
  EXPECT_EQ(repriced->groups[1].keys, renamed->groups[1].keys);
  EXPECT_EQ(repriced->groups[1].ids, renamed->groups[1].ids);

  // A new id in the same turn as a full sort that leaves the rows where they were.
  rent->setId(platform::UUID::random());
  profile->setBillSortType(BillSortType::name);
  auto reidentified = model.content(profile, "");
  EXPECT_EQ(model.lastUpdate(), BillListModel::LastUpdate::full);
  EXPECT_EQ(reidentified->groups[1].allKeys(), billRowKeys(*reidentified->groups[1].bills));
}

// A search's results name their rows by place in the whole order and share its bills, so two
// searches share one block; results still held when the order is laid out again keep showing
// the rows they found, with their keys.
TEST_F(BillListModelTest, SearchResultsShareTheOrderAndOutliveItsNextLayout) {
  auto profile = addProfile();
  profile->setBillSortType(BillSortType::name);
  auto tram = addBill(profile, "Tram", 2);
  addBill(profile, "Rent", 1);
  addBill(profile, "Strom", 3);
  BillListModel model;
  model.content(profile, "");
  platform::MainLoop::drain();  // the list shown: the keys are laid out

  const auto byR = model.content(profile, "r");
  const auto byM = model.content(profile, "m");
  const BillRowGroup& found = byR->groups.front();
  EXPECT_EQ(found.bills, byM->groups.front().bills) << "both searches share the order's rows";
  EXPECT_EQ(names(found.allBills()), (std::vector<std::string>{"Rent", "Strom", "Tram"}));
  EXPECT_EQ(names(byM->groups.front().allBills()), (std::vector<std::string>{"Strom", "Tram"}));
  const BillList rows = found.allBills();
  const std::vector<std::string> keys = found.allKeys();

  tram->setName("Bus");
  addBill(profile, "Rates", 4);
  model.content(profile, "");
  platform::MainLoop::drain();
  EXPECT_EQ(names(model.content(profile, "r")->groups.front().allBills()), (std::vector<std::string>{"Rates", "Rent", "Strom"}));
  EXPECT_NE(model.content(profile, "r")->groups.front().bills, found.bills);
  EXPECT_EQ(found.allBills(), rows) << "the held results are as found";
  EXPECT_EQ(found.bill(2), tram);
  EXPECT_EQ(found.allKeys(), keys);
  EXPECT_EQ(found.key(2), tram->id().uuidString());
}

}  // namespace
}  // namespace brivel
