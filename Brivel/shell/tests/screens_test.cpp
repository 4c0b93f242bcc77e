// The root screen and the settings sheet, in the app's real environment (BrivelApp over a
// store in a temporary data directory).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Brivel/model/profile_manager.h"
#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/brivel_app.h"
#include "Brivel/shell/review_handler.h"
#include "Brivel/shell/settings_screen.h"
#include "platform/foundation/defaults.h"
#include "platform/ui/testing/driver.h"
#include "shell_test_support.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;

class ScreensTest : public brivel::testing::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    container_ = openStore();
    ASSERT_NE(container_, nullptr);
  }

  std::shared_ptr<ProfileEntity> addProfile(const std::string& name, const std::string& color) {
    auto profile = makeProfile(name, color);
    container_->mainContext().insert(profile);
    return profile;
  }
  void rememberPick(const std::shared_ptr<ProfileEntity>& profile) {
    ProfileManager().setLastPickedUserID(profile->id().uuidString());
  }
  void launch() {
    auto container = container_;
    app_ = std::make_unique<BrivelApp>([container] { return container; }, testing::testRootScreen());
    driver_ = std::make_unique<ViewDriver>([app = *app_] { return app.body(); });
    driver_->tree();
  }

  const Node& tabView() { return driver_->get(byKind(NodeKind::tabView)); }
  std::shared_ptr<ProfileEntity> selected() { return app_->profileManager()->selectedUser(); }
  Color accent() {
    const Color* color = tabView().color(Attr::accentColor);
    return color ? *color : Color();
  }

  std::shared_ptr<platform::ModelContainer> container_;
  std::unique_ptr<BrivelApp> app_;
  std::unique_ptr<ViewDriver> driver_;
};

TEST_F(ScreensTest, EmptyStoreShowsTheBillsTabAloneInSonicBlue) {
  launch();
  ASSERT_EQ(tabView().children.size(), 1u);
  EXPECT_EQ(textsIn(tabView().children[0].slot("tabItem").front()),
            (std::vector<std::string>{"localizable_collection"}));
  EXPECT_TRUE(driver_->exists(bySymbol("tray.full")));
  EXPECT_EQ(accent(), Color::asset("sonicBlue"));
  EXPECT_TRUE(driver_->exists(byText("localizable_noProfileSelected")));
}

TEST_F(ScreensTest, RestoresTheLastPickAtLaunchAndOnSceneAndCountChanges) {
  auto home = addProfile("Home", "appleGreen");
  auto work = addProfile("Work", "Chartreuse");
  auto old = addProfile("Old", "appleTeal");
  rememberPick(home);
  launch();
  ASSERT_EQ(selected(), home);
  ASSERT_EQ(tabView().children.size(), 2u);
  EXPECT_TRUE(driver_->exists(byText("localizable_forecast")));
  EXPECT_EQ(accent(), Color::asset("appleGreen"));

  // Renaming changes no count: the selection is not restored again.
  rememberPick(work);
  home->setName("Home 2");
  driver_->tree();
  EXPECT_EQ(selected(), home);

  // A scene phase change restores it.
  driver_->runtime().setScenePhase(ScenePhase::background);
  driver_->tree();
  EXPECT_EQ(selected(), work);
  EXPECT_EQ(accent(), Color::asset("appleRed")) << "an unknown colour name falls back, not to sonicBlue";

  // Archiving any profile, here one not selected, restores it too.
  rememberPick(home);
  old->setIsArchived(true);
  driver_->tree();
  EXPECT_EQ(selected(), home);

  // Archiving the selected one clears the selection and the forecast tab goes.
  home->setIsArchived(true);
  driver_->tree();
  EXPECT_EQ(selected(), nullptr);
  EXPECT_EQ(tabView().children.size(), 1u);
  EXPECT_EQ(accent(), Color::asset("sonicBlue"));
}

TEST_F(ScreensTest, TheHiddenTabIsBuiltAgainOnlyWhenSomethingItReadChanged) {
  auto home = addProfile("Home", "appleGreen");
  rememberPick(home);
  auto builds = std::make_shared<int>(0);
  RootScreen root = testing::testRootScreen();
  root.forecastTab = [builds](const std::shared_ptr<ProfileEntity>& profile) {
    ++*builds;
    return View(testing::TestTab{true});
  };
  auto container = container_;
  app_ = std::make_unique<BrivelApp>([container] { return container; }, root);
  driver_ = std::make_unique<ViewDriver>([app = *app_] { return app.body(); });
  driver_->tree();
  ASSERT_EQ(tabView().children.size(), 2u);

  // The bills tab opens its settings sheet: the forecast behind it is not built again.
  const int hidden = *builds;
  driver_->tap(byId("settings"));
  ASSERT_TRUE(driver_->exists(byKind(NodeKind::sheet)));
  EXPECT_EQ(*builds, hidden);

  // Another profile: the hidden tab shows it.
  auto work = addProfile("Work", "appleRed");
  app_->profileManager()->select(work);
  driver_->tree();
  EXPECT_GT(*builds, hidden);

  // Shown, it is built on every render.
  driver_->tap(byText("localizable_forecast").ofKind(NodeKind::tab));
  const int shown = *builds;
  driver_->runtime().invalidate();
  driver_->tree();
  EXPECT_EQ(*builds, shown + 1);
}

TEST_F(ScreensTest, SettingsSheetKeepsTheToggleAndLinksOut) {
  launch();
  driver_->tap(byId("settings"));
  ASSERT_TRUE(driver_->exists(byKind(NodeKind::sheet)));
  EXPECT_TRUE(driver_->exists(byText("1.2.3")));
  EXPECT_TRUE(driver_->exists(byText("iCloud")));

  const Node& toggle = driver_->get(byId("dismissAutomatically"));
  EXPECT_FALSE(toggle.flag(Attr::isOn)) << "off on a fresh installation";
  driver_->tap(byId("dismissAutomatically"));
  EXPECT_TRUE(driver_->get(byId("dismissAutomatically")).flag(Attr::isOn));
  EXPECT_TRUE(UserDefaultsManager().popViewAfterSaveAndUpdate()) << "kept for the next launch";

  // The rate row opens the store page on every tap and leaves the review counter alone.
  driver_->tap(byText("localizable_rateInTheAppStore"));
  driver_->tap(byText("localizable_rateInTheAppStore"));
  const auto opened = EventLog::shared().entries(LoggedEventType::openURL);
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0].detail, "https://apps.brivel.invalid/app/id6180473925?action=write-review");
  EXPECT_FALSE(platform::UserDefaults::standard()->integer(ReviewHandler::kAppStartUpsCountKey));

  EXPECT_EQ(driver_->get(byText("localizable_feedback").ofKind(NodeKind::link)).string(Attr::url),
            "mailto:support@brivel.invalid");
  EXPECT_NE(driver_->tap(byText("localizable_icloudDescription")), DispatchStatus::handled)
      << "the cloud row does nothing";

  driver_->tap(byId("close"));
  EXPECT_FALSE(driver_->exists(byKind(NodeKind::sheet)));
}

TEST_F(ScreensTest, VersionTextFallsBackWhenMissingOrNotAString) {
  writeInfoPlist({});
  EXPECT_EQ(appVersionText(), "unknown version");
  writeInfoPlist({{"CFBundleShortVersionString", platform::PlistValue(std::int64_t{2})}});
  EXPECT_EQ(appVersionText(), "unknown version");
}

}  // namespace
}  // namespace brivel
