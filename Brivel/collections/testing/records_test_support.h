// A fixture for the screen tests of the bills and the side collections: the screen tests'
// store, shared objects and host, in the en_US locale, with ways to add profiles, bills,
// categories and accounts. Header-only, for tests.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/collections/testing/screen_test_support.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/foundation/text.h"

namespace brivel::testing {

class RecordsTest : public ScreenTest {
 protected:
  explicit RecordsTest(std::string prefix) : ScreenTest(std::move(prefix)) {}

  void prepare() override { platform::Locale::setCurrent("en_US"); }

  // A stored profile with empty lists, sorted by name, not grouped.
  std::shared_ptr<ProfileEntity> addProfile(const std::string& name = "Home",
                                            std::optional<BillList> bills = BillList{}) {
    auto profile = ProfileEntity::make(
        {.name = name, .color = "sonicBlue", .bills = std::move(bills), .noteSortType = NoteSortType::name});
    context().insert(profile);
    EXPECT_TRUE(context().save().ok());
    return profile;
  }

  // A bill of `profile`, stamped `secondsAgo` before now so that date order is predictable.
  std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                      double cost, std::shared_ptr<CategoryEntity> category = nullptr,
                                      std::shared_ptr<BankAccountEntity> account = nullptr, double secondsAgo = 0) {
    auto bill = BillEntity::make({.name = name,
                                  .cost = cost,
                                  .profile = profile,
                                  .category = std::move(category),
                                  .bankAccount = std::move(account),
                                  .timestamp = platform::Date::now().addingTimeInterval(-secondsAgo)});
    BillList bills = profile->bills().value_or(BillList{});
    if (std::find(bills.begin(), bills.end(), bill) == bills.end()) bills.push_back(bill);
    profile->setBills(bills);
    return bill;
  }

  std::shared_ptr<CategoryEntity> addCategory(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                              const std::string& color = "appleRed") {
    auto category = CategoryEntity::make({.name = name, .color = color, .profile = profile});
    CategoryList list = profile->categories().value_or(CategoryList{});
    if (std::find(list.begin(), list.end(), category) == list.end()) list.push_back(category);
    profile->setCategories(list);
    return category;
  }

  std::shared_ptr<BankAccountEntity> addAccount(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                                const std::string& color = "appleRed", const std::string& number = "") {
    auto account = BankAccountEntity::make({.name = name, .color = color, .number = number, .profile = profile});
    BankAccountList list = profile->bankAccounts().value_or(BankAccountList{});
    if (std::find(list.begin(), list.end(), account) == list.end()) list.push_back(account);
    profile->setBankAccounts(list);
    return account;
  }

  std::vector<std::string> names(const BillList& bills) const {
    std::vector<std::string> out;
    for (const auto& bill : bills) out.push_back(bill->name());
    return out;
  }
};

}  // namespace brivel::testing
