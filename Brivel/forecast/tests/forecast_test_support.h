// A fixture for the forecast tests: the screen tests' store, shared objects and host in the
// en_US locale, a main bundle with a build version (the checklist's review rule reads it),
// and ways to add profiles, bills and bank accounts.
#pragma once

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/collections/testing/screen_test_support.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/profile_entity.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/text.h"
#include "platform/ui/services.h"

namespace brivel::testing {

class ForecastTest : public ScreenTest {
 protected:
  ForecastTest() : ScreenTest("brivel-forecast") {}

  void prepare() override {
    platform::Locale::setCurrent("en_US");
    std::filesystem::create_directories(root_ / "bundle");
    platform::PlistValue::Dictionary info{{"CFBundleVersion", platform::PlistValue("7")}};
    auto bytes = platform::encodePlist(platform::PlistValue(std::move(info)), platform::PlistFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(platform::writeFileAtomically(root_ / "bundle" / "Info.plist", *bytes).ok());
    platform::Bundle::setMain(root_ / "bundle");
    EXPECT_TRUE(platform::ui::Tips::configure(root_ / "data" / "tips.json").ok());
  }

  // A stored profile with empty lists, bills sorted by name, salary fixed at 0.0.
  std::shared_ptr<ProfileEntity> addProfile(const std::string& name = "Home", std::optional<BillList> bills = BillList{}) {
    auto profile = ProfileEntity::make({.name = name,
                                        .color = "sonicBlue",
                                        .bills = std::move(bills),
                                        .noteSortType = NoteSortType::name,
                                        .favoriteQuickAction = FavoriteQuickAction::openSalary});
    context().insert(profile);
    EXPECT_TRUE(context().save().ok());
    return profile;
  }

  // A bill appended to the profile's list, stamped `secondsAgo` before now.
  std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                      double cost, OccurringType occurring = OccurringType::monthly,
                                      std::optional<QuarterType> quarter = std::nullopt,
                                      std::optional<YearlyType> month = std::nullopt,
                                      std::shared_ptr<BankAccountEntity> account = nullptr, double secondsAgo = 0) {
    auto bill = BillEntity::make({.name = name,
                                  .cost = cost,
                                  .occurring = occurring,
                                  .quarterly = quarter,
                                  .yearly = month,
                                  .profile = profile,
                                  .bankAccount = std::move(account),
                                  .timestamp = platform::Date::now().addingTimeInterval(-secondsAgo)});
    BillList bills = profile->bills().value_or(BillList{});
    if (std::find(bills.begin(), bills.end(), bill) == bills.end()) bills.push_back(bill);
    profile->setBills(bills);
    return bill;
  }

  std::shared_ptr<BankAccountEntity> addAccount(const std::shared_ptr<ProfileEntity>& profile, const std::string& number,
                                                const std::string& color = "appleRed") {
    auto account =
        BankAccountEntity::make({.name = "account " + number, .color = color, .number = number, .profile = profile});
    BankAccountList list = profile->bankAccounts().value_or(BankAccountList{});
    if (std::find(list.begin(), list.end(), account) == list.end()) list.push_back(account);
    profile->setBankAccounts(list);
    return account;
  }

  static std::vector<std::string> names(const BillList& bills) {
    std::vector<std::string> out;
    for (const auto& bill : bills) out.push_back(bill->name());
    return out;
  }
};

}  // namespace brivel::testing
