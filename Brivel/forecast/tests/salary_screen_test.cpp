// The salary screen at tree level over a real store: the form's load, type switch and save,
// the toast and haptic, closing without saving, and the three places that show it (the
// forecast's sheet, the bills list's sheet, the profile editor's pushed page).
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Brivel/bills/collection_list_screen.h"
#include "Brivel/bills/neighbour_screens.h"
#include "Brivel/forecast/salary_list_screen.h"
#include "Brivel/profiles/profiles_item_screen.h"
#include "forecast_test_support.h"
#include "platform/dispatch/clock.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;
using testing::ForecastTest;

class SalaryScreenTest : public ForecastTest {
 protected:
  void showSalarySheet(const std::shared_ptr<ProfileEntity>& profile) {
    showInSheet([profile](Binding<bool>) { return View(SalaryListScreen{.profile = profile,
                                                                        .presentedInSheet = true}); });
  }
  // The text of the first text field in a row.
  static std::string fieldIn(const Node& node) {
    if (node.kind == NodeKind::textField) return node.string(Attr::value);
    for (const auto& child : node.children) {
      std::string value = fieldIn(child);
      if (!value.empty() || child.kind == NodeKind::textField) return value;
    }
    return std::string();
  }
  void typeInto(const std::string& rowId, const std::string& text) {
    const Node& row = driver().get(byId(rowId));
    const Node* field = findField(row);
    ASSERT_NE(field, nullptr) << rowId;
    driver().runtime().dispatch(ActionEvent{field->actionId, EventKind::setValue, text});
    driver().tree();
  }
  static const Node* findField(const Node& node) {
    if (node.kind == NodeKind::textField) return &node;
    for (const auto& child : node.children) {
      if (auto found = findField(child)) return found;
    }
    return nullptr;
  }
  void chooseType(const char* key) { driver().tap(byText(key).ofKind(NodeKind::pickerOption)); }

  platform::VirtualClock clock_;
};

TEST_F(SalaryScreenTest, NewProfileShowsItsZeroAndSavesAFixedSalary) {
  auto profile = addProfile();
  showSalarySheet(profile);
  EXPECT_EQ(fieldIn(driver().get(byId("salary.fixed"))), "0.0");
  EXPECT_TRUE(driver().exists(byId("close")));
  const Node* sheet = driver().find(byKind(NodeKind::sheet));
  ASSERT_NE(sheet, nullptr);
  EXPECT_TRUE(sheet->flag(Attr::interactiveDismissDisabled));

  typeInto("salary.fixed", "2500,5");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->salaryType(), SalaryType::fixed);
  EXPECT_EQ(profile->salary(), (std::vector<double>{2500.5}));
  EXPECT_EQ(hapticCount("success"), 1u);
  EXPECT_TRUE(driver().exists(byText("localizable_saved")));
  EXPECT_TRUE(*presented_) << "without popViewAfterSaveAndUpdate the screen stays";

  // A second save while the toast shows stores again and plays the haptic again.
  typeInto("salary.fixed", "inf");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->salary(), (std::vector<double>{0.0})) << "an infinity is unreadable";
  EXPECT_EQ(hapticCount("success"), 2u);
  clock_.advance(std::chrono::milliseconds(1700));
  driver().tree();
  EXPECT_FALSE(driver().exists(byText("localizable_saved")));
}

TEST_F(SalaryScreenTest, SwitchingTypesKeepsBothFormsAndSavesOnlyTheShownOne) {
  auto profile = addProfile();
  showSalarySheet(profile);
  typeInto("salary.fixed", "900");
  chooseType("localizable_variable");
  EXPECT_FALSE(driver().exists(byId("salary.fixed")));
  ASSERT_TRUE(driver().exists(byId("salary.localizable_december")));
  EXPECT_EQ(fieldIn(driver().get(byId("salary.localizable_january"))), "");
  EXPECT_EQ(findField(driver().get(byId("salary.localizable_january")))->textContent(Attr::placeholder)->key,
            "localizable_enter");
  typeInto("salary.localizable_december", "1,5");
  chooseType("localizable_fixed");
  EXPECT_EQ(fieldIn(driver().get(byId("salary.fixed"))), "900") << "typed texts survive a switch";
  chooseType("localizable_variable");
  driver().tap(byId("update"));
  std::vector<double> expected(12, 0.0);
  expected[11] = 1.5;
  EXPECT_EQ(profile->salaryType(), SalaryType::variable);
  EXPECT_EQ(profile->salary(), expected);

  // From variable back to fixed: the twelve values go, one stays.
  chooseType("localizable_fixed");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->salary(), (std::vector<double>{900.0}));
}

TEST_F(SalaryScreenTest, CloseKeepsTheProfileAndReopeningShowsTheStoredValues) {
  auto profile = addProfile();
  profile->setSalaryType(SalaryType::variable);
  profile->setSalary({1, 2, 3});  // shorter than a variable salary needs
  showSalarySheet(profile);
  EXPECT_EQ(fieldIn(driver().get(byId("salary.localizable_march"))), "3.0");
  EXPECT_EQ(fieldIn(driver().get(byId("salary.localizable_april"))), "") << "a missing value loads empty";
  typeInto("salary.localizable_march", "77");
  driver().tap(byId("close"));
  EXPECT_FALSE(*presented_);
  EXPECT_EQ(profile->salary(), (std::vector<double>{1, 2, 3}));

  *presented_ = true;
  showSalarySheet(profile);
  EXPECT_EQ(fieldIn(driver().get(byId("salary.localizable_march"))), "3.0");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->salary().size(), 12u) << "the next save writes the whole shape";
}

TEST_F(SalaryScreenTest, WithPopViewAfterSaveTheUpdateClosesTheSheet) {
  auto profile = addProfile();
  settings_->setPopViewAfterSaveAndUpdate(true);
  showSalarySheet(profile);
  typeInto("salary.fixed", "10");
  driver().tap(byId("update"));
  EXPECT_FALSE(*presented_);
  EXPECT_EQ(profile->salary(), (std::vector<double>{10.0}));
}

TEST_F(SalaryScreenTest, BillsListSheetAndProfileEditorShowTheSalaryScreen) {
  auto profile = addProfile();
  profile->setFavoriteQuickAction(FavoriteQuickAction::openSalary);
  manager_->select(profile);
  BillsNeighbourScreens neighbours = BillsNeighbourScreensKey::defaultValue();
  neighbours.salary = salarySheetScreen;
  ProfileCollectionScreens collections = ProfileCollectionScreensKey::defaultValue();
  collections.salary = pushedSalaryScreen;

  show([neighbours] { return View(CollectionListScreen{}).environment<BillsNeighbourScreensKey>(neighbours); });
  driver().tap(byId("quickAction"));
  ASSERT_TRUE(driver().exists(byId("salary.fixed")));
  driver().tap(byId("close"));
  EXPECT_FALSE(driver().exists(byKind(NodeKind::sheet))) << "the sheet closes by its own button";

  show([profile, collections] {
    return NavigationStack(View(ProfilessItemScreen{.viewInSheet = false, .profile = profile}))
        .environment<ProfileCollectionScreensKey>(collections);
  });
  driver().tap(byText("localizable_nettoSalary").ofKind(NodeKind::navigationLink));
  ASSERT_TRUE(driver().exists(byId("salary.fixed")));
  EXPECT_FALSE(driver().exists(byId("close"))) << "pushed, it has no close button";
  typeInto("salary.fixed", "42");
  driver().tap(byId("update"));
  EXPECT_EQ(profile->salary(), (std::vector<double>{42.0}));
}

}  // namespace
}  // namespace brivel
