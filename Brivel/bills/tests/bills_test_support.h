// A fixture for the bills tests: a fresh data directory with a real store file, the shared
// objects over that directory, a selected profile, and a host that shows a screen in the
// app's environment (pushed in a navigation stack, or in a sheet with its own flag).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/model_environment.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/text.h"
#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"

namespace brivel::testing {

class BillsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("brivel-bills-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(root_);
    platform::FileLocations::setDataDirectory(root_ / "data");
    std::filesystem::create_directories(root_ / "data");
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
    platform::Locale::setCurrent("en_US");
    platform::ui::EventLog::shared().clear();
    container_ = BrivelModelContainer::makeContainer(root_ / "data" / "Brivel.store");
    ASSERT_NE(container_, nullptr);
    settings_ = std::make_shared<UserDefaultsManager>();
    manager_ = std::make_shared<ProfileManager>();
    billVM_ = std::make_shared<BillViewModel>();
    ringVM_ = std::make_shared<RingViewModel>();
  }

  void TearDown() override {
    driver_.reset();
    platform::MainLoop::drain();
    container_.reset();
    platform::Locale::setCurrent("");
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
    platform::FileLocations::setDataDirectory({});
    std::filesystem::remove_all(root_);
  }

  platform::ModelContext& context() { return container_->mainContext(); }

  // A stored profile with empty lists, sorted by name, not grouped.
  std::shared_ptr<ProfileEntity> addProfile(const std::string& name = "Home",
                                            std::optional<BillList> bills = BillList{}) {
    auto profile = ProfileEntity::make(platform::UUID::random(), name, "sonicBlue", SalaryType::fixed, {0.0},
                                       std::move(bills), BillSortType::name, BankAccountList{}, BankAccountSortType::name,
                                       CategoryList{}, CategorySortType::name, NoteList{}, NoteSortType::name,
                                       CollectionFilterType::off, FavoriteQuickAction::openNotes, true, false,
                                       platform::Date::now());
    context().insert(profile);
    EXPECT_FALSE(context().save());
    return profile;
  }

  // A bill of `profile`, stamped `secondsAgo` before now so that date order is predictable.
  std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                      double cost, std::shared_ptr<CategoryEntity> category = nullptr,
                                      std::shared_ptr<BankAccountEntity> account = nullptr, double secondsAgo = 0) {
    auto bill = BillEntity::make(platform::UUID::random(), name, cost, std::nullopt, OccurringType::monthly,
                                 std::nullopt, std::nullopt, profile, std::move(category), std::move(account),
                                 platform::Date::now().addingTimeInterval(-secondsAgo));
    BillList bills = profile->bills().value_or(BillList{});
    if (std::find(bills.begin(), bills.end(), bill) == bills.end()) bills.push_back(bill);
    profile->setBills(bills);
    return bill;
  }

  std::shared_ptr<CategoryEntity> addCategory(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                              const std::string& color = "appleRed") {
    auto category = CategoryEntity::make(platform::UUID::random(), name, color, profile, BillList{}, platform::Date::now());
    CategoryList list = profile->categories().value_or(CategoryList{});
    if (std::find(list.begin(), list.end(), category) == list.end()) list.push_back(category);
    profile->setCategories(list);
    return category;
  }

  std::shared_ptr<BankAccountEntity> addAccount(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                                const std::string& color = "appleRed", const std::string& number = "") {
    auto account = BankAccountEntity::make(platform::UUID::random(), name, color, number, std::nullopt, profile,
                                           BillList{}, platform::Date::now());
    BankAccountList list = profile->bankAccounts().value_or(BankAccountList{});
    if (std::find(list.begin(), list.end(), account) == list.end()) list.push_back(account);
    profile->setBankAccounts(list);
    return account;
  }

  // `screen` in the app's environment.
  platform::ui::View hosted(platform::ui::View screen) const {
    return modelContainer(screen, container_)
        .environmentObject(settings_)
        .environmentObject(manager_)
        .environmentObject(billVM_)
        .environmentObject(ringVM_);
  }

  void show(std::function<platform::ui::View()> make) {
    auto self = this;
    driver_ = std::make_unique<platform::ui::testing::ViewDriver>([self, make] { return self->hosted(make()); });
    driver_->tree();
  }

  // Shows `make(flag)` in a sheet whose flag `presented_` starts true.
  void showInSheet(std::function<platform::ui::View(platform::ui::Binding<bool>)> make) {
    using namespace platform::ui;
    auto flag = presented_;
    Binding<bool> binding([flag] { return *flag; },
                          [flag](bool on) {
                            *flag = on;
                            notifyAnyChange();
                          });
    auto self = this;
    driver_ = std::make_unique<platform::ui::testing::ViewDriver>([self, binding, make] {
      return self->hosted(Text("presenter").sheet(binding, [binding, make] { return make(binding); }));
    });
    driver_->tree();
  }

  std::vector<std::string> names(const BillList& bills) const {
    std::vector<std::string> out;
    for (const auto& bill : bills) out.push_back(bill->name());
    return out;
  }

  std::size_t haptics(const std::string& kind) const {
    std::size_t n = 0;
    for (const auto& e : platform::ui::EventLog::shared().entries(platform::ui::LoggedEventType::haptic)) {
      n += e.detail == kind ? 1 : 0;
    }
    return n;
  }

  platform::ui::testing::ViewDriver& driver() { return *driver_; }

  std::filesystem::path root_;
  std::shared_ptr<platform::ModelContainer> container_;
  std::shared_ptr<UserDefaultsManager> settings_;
  std::shared_ptr<ProfileManager> manager_;
  std::shared_ptr<BillViewModel> billVM_;
  std::shared_ptr<RingViewModel> ringVM_;
  std::shared_ptr<bool> presented_ = std::make_shared<bool>(true);
  std::unique_ptr<platform::ui::testing::ViewDriver> driver_;
};

}  // namespace brivel::testing
