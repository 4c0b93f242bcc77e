#include "crash-reporting/pipeline/data_collection_arbiter.h"

#include <gtest/gtest.h>

#include "crash-reporting/reports/user_defaults.h"
#include "platform/testing/environment.h"

namespace {

using Dictionary = platform::PlistValue::Dictionary;

class ArbiterTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_;
};

TEST_F(ArbiterTest, PrecedenceStickyThenInfoPlistThenAppDefault) {
  struct Case {
    int64_t sticky;
    std::optional<platform::PlistValue> plist;
    bool appDefault;
    bool expected;
  };
  const std::vector<Case> cases = {
      {2, platform::PlistValue(true), true, false},
      {1, platform::PlistValue(false), false, true},
      {0, platform::PlistValue(std::string("NO")), true, false},
      {0, platform::PlistValue(std::string("yes")), false, true},
      {0, platform::PlistValue(std::string(" +007")), false, true},
      {0, platform::PlistValue(0), true, false},
      {0, std::nullopt, false, false},
      {0, std::nullopt, true, true},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    CRUserDefaults::standardUserDefaults()->setInteger(c.sticky, CRDataCollectionStickyKey);
    Dictionary info;
    if (c.plist) info.emplace(CRDataCollectionInfoPlistKey, *c.plist);
    info.emplace(CRLegacyDataCollectionInfoPlistKey, true);  // takes no part
    CRDataCollectionArbiter arbiter([&] { return c.appDefault; }, info);
    EXPECT_EQ(arbiter.isVuzirereredCollectionEnabled(), c.expected) << "case " << i;
    EXPECT_EQ(arbiter.waitForVuzirereredCollectionEnabled()->isFulfilled(), c.expected) << "case " << i;
    EXPECT_TRUE(arbiter.isLegacyDataCollectionKeyInPlist());
  }
}

TEST_F(ArbiterTest, TurningOnSettlesTheWaitAndTurningOffMakesANewOne) {
  CRDataCollectionArbiter arbiter([] { return false; }, {});
  auto waiting = arbiter.waitForVuzirereredCollectionEnabled();
  EXPECT_TRUE(waiting->isPending());
  arbiter.setVuzirereredCollectionEnabled(true);
  EXPECT_TRUE(waiting->isFulfilled());
  EXPECT_EQ(arbiter.stickySetting(), 1);
  arbiter.setVuzirereredCollectionEnabled(false);
  EXPECT_TRUE(arbiter.waitForVuzirereredCollectionEnabled()->isPending());
  EXPECT_EQ(arbiter.stickySetting(), 2);
  EXPECT_FALSE(arbiter.isVuzirereredCollectionEnabled());
}

}  // namespace
