// Start-up: the launch steps, the scene's content with and without a store, and the review
// rule that the app runs at its moments of success.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Brivel/model/user_defaults_manager.h"
#include "Brivel/shell/app_delegate.h"
#include "Brivel/shell/brivel_app.h"
#include "Brivel/shell/review_handler.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/application/testing/recording_app_platform.h"
#include "platform/foundation/notifications.h"
#include "platform/ui/testing/driver.h"
#include "shell_test_support.h"

namespace brivel {
namespace {

using namespace platform::ui;
using namespace platform::ui::testing;
using namespace std::chrono_literals;

class AppStartTest : public brivel::testing::ShellTest {
 protected:
  platform::testing::RecordingAppPlatform platform_;
};

const std::vector<std::string> kLaunchSteps = {
    "TelemetryApp.configure",
    "Tips.configure",
    "UITableView.showsVerticalScrollIndicator=false",
    "UISegmentedControl.selectedSegmentTintColor=rgba(0.8,0.2,0.3,1)",
    "UISegmentedControl.selected.foregroundColor=rgba(1,1,1,1)",
    "UISegmentedControl.normal.foregroundColor=rgba(0.8,0.2,0.3,1)",
    "registerForRemoteNotifications",
};

TEST_F(AppStartTest, LaunchStepsRunInOrderWhateverTheOptions) {
  LaunchOptions fromNotification;
  fromNotification["remoteNotification"] = "{}";
  for (const auto& options : {std::optional<LaunchOptions>(), std::optional<LaunchOptions>(fromNotification)}) {
    platform_.clear();
    int sdkConfigurations = 0;
    AppDelegate delegate(platform_, [this, &sdkConfigurations] {
      ++sdkConfigurations;
      platform_.record("TelemetryApp.configure");
      return platform::Status();
    });
    EXPECT_TRUE(delegate.application(*platform_.application, options));
    EXPECT_EQ(sdkConfigurations, 1);
    EXPECT_EQ(platform_.calls(), kLaunchSteps);
  }
  // The tips keep their state in the data directory.
  Tips::invalidate("ProfileActionsTip", "tipClosed");
  EXPECT_TRUE(std::filesystem::exists(platform::tipsDatastorePath()));
}

TEST_F(AppStartTest, BecomingActivePostsOncePerChangeIntoTheActivePhase) {
  int posts = 0;
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver(platform::kApplicationDidBecomeActiveNotification,
                                  [&posts](const platform::Notification&) { ++posts; });
  platform::SystemApplication application;
  for (ScenePhase phase : {ScenePhase::active, ScenePhase::active, ScenePhase::inactive, ScenePhase::background,
                           ScenePhase::active}) {
    application.noteScenePhase(phase);
  }
  center.removeObserver(token);
  EXPECT_EQ(posts, 2);
}

TEST_F(AppStartTest, ThePageBeingHiddenAndShownPostsTheLifecycleNamesInThePlatformsOrder) {
  std::vector<std::string> posted;
  auto& center = platform::NotificationCenter::defaultCenter();
  auto token = center.addObserver("", [&posted](const platform::Notification& note) {
    if (note.name.starts_with("UIApplication") || note.name.starts_with("UIScene")) posted.push_back(note.name);
  });
  platform::SystemApplication application;
  application.noteScenePhase(ScenePhase::active);
  application.noteScenePhase(ScenePhase::background);
  application.noteScenePhase(ScenePhase::active);
  application.noteWillTerminate();
  center.removeObserver(token);
  EXPECT_EQ(posted, (std::vector<std::string>{
                        "UISceneWillEnterForegroundNotification", "UIApplicationDidBecomeActiveNotification",
                        "UISceneWillDeactivateNotification", "UIApplicationDidEnterBackgroundNotification",
                        "UIApplicationWillEnterForegroundNotification", "UISceneWillEnterForegroundNotification",
                        "UIApplicationDidBecomeActiveNotification", "UIApplicationWillTerminateNotification"}));
}

TEST_F(AppStartTest, UnreadableTipsDatastoreDoesNotStopTheLaunch) {
  std::filesystem::create_directories(std::filesystem::path(platform::tipsDatastorePath()).parent_path());
  std::ofstream(platform::tipsDatastorePath()) << "{ not json";
  AppDelegate delegate(platform_, [this] {
    platform_.record("TelemetryApp.configure");
    return platform::Status();
  });
  EXPECT_TRUE(delegate.application(*platform_.application, std::nullopt));
  EXPECT_EQ(platform_.calls(), kLaunchSteps);
}

TEST_F(AppStartTest, SceneWithAStoreShowsTheRootAndClearsNotificationsOnAppear) {
  auto defaults = platform::UserDefaults::standard();
  ASSERT_TRUE(defaults->set("getNotified", platform::PlistValue(true)).ok());
  auto container = openStore();
  ASSERT_NE(container, nullptr);
  BrivelApp app([container] { return container; }, testing::testRootScreen(), platform_);
  EXPECT_FALSE(app.hasCreatedSharedObjects()) << "nothing is created before the content is built";

  ViewDriver driver([app] { return app.body(); });
  EXPECT_TRUE(driver.exists(byKind(NodeKind::tab).ofKind(NodeKind::tab)));
  EXPECT_TRUE(driver.exists(byText("localizable_collection")));
  EXPECT_TRUE(app.hasCreatedSharedObjects());
  EXPECT_EQ(platform_.calls(), (std::vector<std::string>{"removeAllPendingNotificationRequests"}));
  EXPECT_EQ(defaults->boolean("getNotified"), false);

  // Later renders keep the same shared objects and do not run the appear action again.
  auto profileManager = app.profileManager();
  driver.runtime().invalidate();
  driver.tree();
  EXPECT_EQ(app.profileManager(), profileManager);
  EXPECT_EQ(platform_.calls().size(), 1u);
}

TEST_F(AppStartTest, SceneWithoutAStoreShowsOnlyTheFailureScreen) {
  auto defaults = platform::UserDefaults::standard();
  ASSERT_TRUE(defaults->set("getNotified", platform::PlistValue(true)).ok());
  BrivelApp app([] { return std::shared_ptr<platform::ModelContainer>(); }, {}, platform_);
  ViewDriver driver([app] { return app.body(); });

  auto texts = driver.visibleTexts();
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(texts, (std::vector<std::string>{"localizable_appCrashed", "localizable_feedback",
                                             "localizable_reinstallApp"}));
  EXPECT_TRUE(driver.exists(bySymbol("externaldrive.connected.to.line.below.fill.badge.person.crop")));
  const Node& link = driver.get(byKind(NodeKind::link));
  EXPECT_EQ(link.string(Attr::url), "mailto:support@brivel.invalid");
  EXPECT_EQ(link.string(Attr::buttonStyle), "borderedProminent");
  EXPECT_FALSE(driver.exists(byKind(NodeKind::tabView)));

  EXPECT_FALSE(app.hasCreatedSharedObjects());
  EXPECT_TRUE(platform_.calls().empty()) << "pending notifications are left alone";
  EXPECT_EQ(defaults->boolean("getNotified"), true);
}

// ----- Review rule -----

class ReviewRuleTest : public brivel::testing::ShellTest {
 protected:
  // Runs the rule once and lets every block due in the next `wait` run.
  void runRule(platform::Duration wait = 2s) {
    ReviewHandler::requestReviewIfAppropriate();
    clock_.advance(wait);
    platform::MainLoop::drain();
  }
  std::size_t prompts() const { return EventLog::shared().count(LoggedEventType::reviewRequest); }
  std::int64_t count() const {
    return platform::UserDefaults::standard()->integer(ReviewHandler::kAppStartUpsCountKey).value_or(0);
  }

  platform::VirtualClock clock_;
  std::shared_ptr<ScenePhase> phase_ = std::make_shared<ScenePhase>(ScenePhase::active);
};

TEST_F(ReviewRuleTest, FirstThreeRunsOnlyCountAndTheFourthAsksTwoSecondsLater) {
  connectScene(phase_);
  for (int run = 1; run <= 3; ++run) {
    runRule();
    EXPECT_EQ(count(), run);
  }
  EXPECT_EQ(prompts(), 0u);

  ReviewHandler::requestReviewIfAppropriate();
  clock_.advance(1999ms);
  platform::MainLoop::drain();
  EXPECT_EQ(prompts(), 0u);
  clock_.advance(1ms);
  platform::MainLoop::drain();
  EXPECT_EQ(prompts(), 1u);
  EXPECT_EQ(count(), 4);
}

TEST_F(ReviewRuleTest, EveryLaterRunAsksButTheStandInShowsAtMostThreeAYear) {
  connectScene(phase_);
  for (int run = 1; run <= 9; ++run) runRule();
  EXPECT_EQ(count(), 9);
  EXPECT_EQ(prompts(), 3u);
}

TEST_F(ReviewRuleTest, NoRequestForTheVersionAlreadyPromptedOrWithoutAnActiveScene) {
  connectScene(phase_);
  auto defaults = platform::UserDefaults::standard();
  ASSERT_TRUE(defaults->set(ReviewHandler::kLastVersionPromptedForReviewKey, platform::PlistValue("7")).ok());
  for (int run = 1; run <= 5; ++run) runRule();
  EXPECT_EQ(count(), 5);
  EXPECT_EQ(prompts(), 0u);

  ASSERT_TRUE(defaults->set(ReviewHandler::kLastVersionPromptedForReviewKey, platform::PlistValue("6")).ok());
  *phase_ = ScenePhase::background;  // the page was hidden before the 2 s passed
  runRule();
  EXPECT_EQ(prompts(), 0u);
  *phase_ = ScenePhase::active;
  runRule();
  EXPECT_EQ(prompts(), 1u);
}

TEST_F(ReviewRuleTest, MissingBuildVersionIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  writeInfoPlist({{"CFBundleVersion", platform::PlistValue(std::int64_t{7})}});
  EXPECT_DEATH(ReviewHandler::requestReviewIfAppropriate(), "Expected to find a bundle version in the info dictionary");
}

}  // namespace
}  // namespace brivel
