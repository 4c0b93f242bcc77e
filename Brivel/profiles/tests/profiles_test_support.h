// A fixture for the profiles screens: a fresh data directory with a real store file, a main
// bundle with a build version (for the review rule), the four shared objects over that data
// directory, and a host that shows a screen in their environment.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Brivel/model/bill_entity.h"
#include "Brivel/model/bill_view_model.h"
#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/model/profile_manager.h"
#include "Brivel/model/ring_view_model.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/profiles/profile_actions.h"
#include "Brivel/shell/model_environment.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/ui/services.h"
#include "platform/ui/testing/driver.h"

namespace brivel::testing {

class ProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("brivel-profiles-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "bundle");
    platform::FileLocations::setDataDirectory(root_ / "data");
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
    platform::PlistValue::Dictionary info{{"CFBundleVersion", platform::PlistValue("7")}};
    auto bytes = platform::encodePlist(platform::PlistValue(std::move(info)), platform::PlistFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_FALSE(platform::writeFileAtomically(root_ / "bundle" / "Info.plist", *bytes));
    platform::Bundle::setMain(root_ / "bundle");
    platform::ui::EventLog::shared().clear();
    openObjects();
  }

  void TearDown() override {
    driver_.reset();
    platform::MainLoop::drain();
    container_.reset();
    platform::ui::Tips::configure({});
    platform::Bundle::setMain(platform::FileLocations::resourceDirectory());
    platform::PreferencesDomain::discardLoadedDomainsForTesting();
    platform::FileLocations::setDataDirectory({});
    std::filesystem::remove_all(root_);
  }

  // Opens the store and the shared objects anew, as a new launch would.
  void openObjects() {
    driver_.reset();
    container_.reset();
    container_ = BrivelModelContainer::makeContainer(root_ / "data" / "Brivel.store");
    ASSERT_NE(container_, nullptr);
    settings_ = std::make_shared<UserDefaultsManager>();
    manager_ = std::make_shared<ProfileManager>();
    billVM_ = std::make_shared<BillViewModel>();
    ringVM_ = std::make_shared<RingViewModel>();
  }

  platform::ModelContext& context() { return container_->mainContext(); }

  // `screen` in the app's environment.
  platform::ui::View hosted(platform::ui::View screen) const {
    return modelContainer(screen, container_)
        .environmentObject(settings_)
        .environmentObject(manager_)
        .environmentObject(billVM_)
        .environmentObject(ringVM_);
  }

  // Shows `make()` inside a presenter whose flag `presented_` starts true, as the bills list
  // presents the profiles list in a sheet.
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

  void show(std::function<platform::ui::View()> make) {
    auto self = this;
    driver_ = std::make_unique<platform::ui::testing::ViewDriver>([self, make] { return self->hosted(make()); });
    driver_->tree();
  }

  std::shared_ptr<ProfileEntity> addProfile(const std::string& name, const std::string& color = "appleRed") {
    auto profile = makeNewProfile(name, color);
    context().insert(profile);
    EXPECT_FALSE(context().save());
    return profile;
  }

  static std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                             double cost, OccurringType occurring = OccurringType::monthly,
                                             std::shared_ptr<CategoryEntity> category = nullptr,
                                             std::shared_ptr<BankAccountEntity> account = nullptr) {
    return BillEntity::make(platform::UUID::random(), name, cost, std::nullopt, occurring, std::nullopt, std::nullopt,
                            profile, std::move(category), std::move(account), platform::Date::now());
  }

  std::size_t storedProfileCount() { return context().fetch<ProfileEntity>().size(); }

  std::size_t hapticCount(const std::string& kind) const {
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
