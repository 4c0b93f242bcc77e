// A fixture for the profiles screens: the screen tests' store, shared objects and host, plus a
// main bundle with a build version (for the review rule) and a few ways to add data.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Brivel/collections/testing/screen_test_support.h"
#include "Brivel/model/bank_account_entity.h"
#include "Brivel/model/bill_entity.h"
#include "Brivel/model/category_entity.h"
#include "Brivel/model/profile_entity.h"
#include "Brivel/profiles/profile_actions.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/ui/services.h"

namespace brivel::testing {

class ProfilesTest : public ScreenTest {
 protected:
  ProfilesTest() : ScreenTest("brivel-profiles") {}

  // A main bundle with a build version, for the review rule.
  void prepare() override {
    std::filesystem::create_directories(root_ / "bundle");
    platform::PlistValue::Dictionary info{{"CFBundleVersion", platform::PlistValue("7")}};
    auto bytes = platform::encodePlist(platform::PlistValue(std::move(info)), platform::PlistFormat::Xml);
    ASSERT_TRUE(bytes);
    ASSERT_TRUE(platform::writeFileAtomically(root_ / "bundle" / "Info.plist", *bytes).ok());
    platform::Bundle::setMain(root_ / "bundle");
  }

  std::shared_ptr<ProfileEntity> addProfile(const std::string& name, const std::string& color = "appleRed") {
    auto profile = makeNewProfile(name, color);
    context().insert(profile);
    EXPECT_TRUE(context().save().ok());
    return profile;
  }

  static std::shared_ptr<BillEntity> addBill(const std::shared_ptr<ProfileEntity>& profile, const std::string& name,
                                             double cost, OccurringType occurring = OccurringType::monthly,
                                             std::shared_ptr<CategoryEntity> category = nullptr,
                                             std::shared_ptr<BankAccountEntity> account = nullptr) {
    return BillEntity::make({.name = name,
                             .cost = cost,
                             .occurring = occurring,
                             .profile = profile,
                             .category = std::move(category),
                             .bankAccount = std::move(account)});
  }

  std::size_t storedProfileCount() { return context().fetch<ProfileEntity>().size(); }
};

}  // namespace brivel::testing
