#include <gtest/gtest.h>

#include <filesystem>

#include "platform/foundation/notifications.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/uuid.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"
#include "transport/events/startup.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

namespace fs = std::filesystem;

// The process-wide start-up, against a data directory of the test's own.
class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller_ = std::make_shared<RecordingDelegate>();
    ETRunLoadTimeRegistrations({.uploader = nullptr,
                                .metricsController = [controller = controller_](const std::shared_ptr<ETRegistrar>& registrar) {
                                  registrar->registerMetricsController(controller, 1002);
                                  registrar->registerMetricsController(controller, 1001);
                                }});
  }
  uint64_t storageTasks() {
    ETFlatFileStorage::sharedInstance()->storageQueue()->sync([] {});
    return platform::BackgroundTaskService::shared()->counts("ETStorage").begun;
  }

  platform::testing::Environment environment_{"et-lifecycle"};
  const fs::path root_ = environment_.dataDirectory();
  std::shared_ptr<RecordingDelegate> controller_;
};

TEST_F(LifecycleTest, StartUpRegistersTheStorageForFiveTargetsWithTheMetricsControllerAsItsDelegate) {
  const fs::path store = root_ / "Caches" / "zideza-sdks-events" / "ETFlatFileStorage";
  for (const char* directory : {"et_event_data", "et_batch_data", "et_library_data"}) {
    EXPECT_TRUE(fs::is_directory(store / directory)) << directory;
  }
  auto tables = ETRegistrar::sharedInstance()->targetToStorage();
  ASSERT_EQ(tables.size(), 5u);
  EXPECT_EQ(tables.begin()->first, 999);
  EXPECT_EQ(tables.rbegin()->first, 1003);
  for (const auto& [target, storage] : tables) EXPECT_EQ(storage, ETFlatFileStorage::sharedInstance());
  EXPECT_EQ(ETFlatFileStorage::sharedInstance()->delegate(), controller_);
  EXPECT_EQ(ETRegistrar::sharedInstance()->targetToMetricsController().size(), 2u);

  // A storage registered where no metrics controller is has its delegate cleared.
  auto registrar = std::make_shared<ETRegistrar>();
  auto storage = ETFlatFileStorage::make(root_ / "other");
  storage->setDelegate(controller_);
  registrar->registerStorage(storage, 5);
  EXPECT_EQ(registrar->targetToStorage().size(), 1u);
  EXPECT_FALSE(storage->delegate());
}

TEST_F(LifecycleTest, EachBackgroundNoticeReachesTheStorageOncePerTarget) {
  auto application = ETApplication::sharedApplication();
  auto& center = platform::NotificationCenter::defaultCenter();
  const uint64_t before = storageTasks();

  center.post(platform::kApplicationDidEnterBackgroundNotification);
  EXPECT_EQ(storageTasks(), before + 5);
  EXPECT_TRUE(application->isRunningInBackground());

  center.post(platform::kApplicationWillEnterForegroundNotification);
  EXPECT_FALSE(application->isRunningInBackground());
  EXPECT_EQ(storageTasks(), before + 5);  // the storage answers only the background call

  center.post(platform::kSceneWillDeactivateNotification);
  EXPECT_EQ(storageTasks(), before + 10);
  center.post(platform::kSceneWillEnterForegroundNotification);
  center.post(platform::kApplicationWillTerminateNotification);
  EXPECT_FALSE(application->isRunningInBackground());
  EXPECT_EQ(storageTasks(), before + 10);
  EXPECT_TRUE(platform::BackgroundTaskService::shared()->activeTaskNames().empty());
}

// A sink a failed test leaves set goes with the environment.
class ConsoleTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"et-console"};
};
using ApplicationTest = ConsoleTest;

TEST_F(ApplicationTest, WithoutAPlatformApplicationNoTaskBegins) {
  std::vector<std::string> lines;
  ETConsoleSetSink([&lines](const std::string& line) { lines.push_back(line); });
  auto extension = ETApplication::make([] { return std::shared_ptr<platform::BackgroundTaskService>(); });
  EXPECT_EQ(extension->beginBackgroundTaskWithName("ETStorage", [] {}), 0);
  extension->endBackgroundTask(0);
  ETConsoleSetSink(nullptr);
  EXPECT_TRUE(lines.empty());
}

TEST_F(ConsoleTest, OnlyErrorAndAssertionLinesAreWritten) {
  std::vector<std::string> lines;
  ETConsoleSetSink([&lines](const std::string& line) { lines.push_back(line); });
  ET_LOG_DEBUG("not written %d", 1);
  ET_LOG(ETMCDefault, ETLogLevelWarning, "not written either");
  ET_LOG_ERROR(ETMCTransformerDoesntImplementTransform, "Transformer doesn't implement transformETEvent: %s", "x");
  ETConsoleAssertLog(false, "file.cpp", 12, "went %s", "wrong");
  EXPECT_THROW(ET_FATAL_ASSERT(1 + 1 == 3, "fatal %d", 7), platform::Exception);
  ETConsoleSetSink(nullptr);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[DiroriVazuZodurozir][I-ET001000] Transformer doesn't implement transformETEvent: x");
  EXPECT_EQ(lines[1], "[DiroriVazuZodurozir][I-ET001006] (file.cpp:12) : went wrong");
  EXPECT_TRUE(lines[2].starts_with("[DiroriVazuZodurozir][I-ET001007] ("));
  EXPECT_TRUE(lines[2].ends_with(") : fatal 7"));
}

}  // namespace
}  // namespace et_testing
