#include "crash-reporting/pipeline/on_demand_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "crash-reporting/pipeline/tests/settings_document.h"
#include "crash-reporting/reports/file_manager.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace {

// Records the sleeps asked for and holds them until the test lets go (or the model shuts down).
class GatedSleeper : public CRInterruptibleSleeper {
 public:
  void sleepForSeconds(uint32_t seconds) override {
    {
      std::lock_guard lock(mutex_);
      sleeps_.push_back(seconds);
    }
    CRInterruptibleSleeper::sleepForSeconds(3600);
  }
  std::vector<uint32_t> sleeps() {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }

 private:
  std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

class RecordingUploader : public CROnDemandReportUploading {
 public:
  void handleOnDemandReportUpload(const std::string& path, const CRDataCollectionTokenRef& token,
                                  bool asUrgent) override {
    std::lock_guard lock(mutex_);
    uploads.push_back(path);
    EXPECT_TRUE(token && token->isValid());
    EXPECT_TRUE(asUrgent);
  }
  std::mutex mutex_;
  std::vector<std::string> uploads;
};

class OnDemandModelTest : public ::testing::Test {
 protected:
  std::unique_ptr<CROnDemandModel> makeModel(std::shared_ptr<const CRSettings> settings = nullptr) {
    auto recorder = [this](const TELExceptionModel&, int recorded, int dropped) -> std::optional<std::string> {
      passedCounts.emplace_back(recorded, dropped);
      if (failRecording) return std::nullopt;
      const std::string path = temp_.file("report-" + std::to_string(next++));
      std::filesystem::create_directories(path);
      return path;
    };
    return std::make_unique<CROnDemandModel>(std::move(settings), std::make_shared<CRFileManager>(),
                                             [this] { return now.load(); }, sleeper, recorder);
  }

  platform::testing::Environment environment_;
  platform::testing::TempDirectory temp_;
  std::shared_ptr<GatedSleeper> sleeper = std::make_shared<GatedSleeper>();
  std::shared_ptr<RecordingUploader> uploader = std::make_shared<RecordingUploader>();
  std::atomic<double> now = 1000.0;
  std::vector<std::pair<int, int>> passedCounts;
  bool failRecording = false;
  int next = 0;
  TELExceptionModel exception{"Name", "reason"};
};

TEST_F(OnDemandModelTest, EleventhWhileTenAreQueuedIsDroppedAndCounted) {
  auto model = makeModel();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(model->recordOnDemandExceptionIfQuota(exception, true, uploader));
  EXPECT_TRUE(model->isQueueFull());
  EXPECT_FALSE(model->recordOnDemandExceptionIfQuota(exception, true, uploader));
  EXPECT_EQ(model->recordedOnDemandExceptionCount(), 11);
  EXPECT_EQ(model->droppedOnDemandExceptionCount(), 1);
  // Each report tells how many came before it; the first delay with the defaults is 6 s.
  EXPECT_EQ(passedCounts.front(), std::make_pair(0, 0));
  EXPECT_EQ(passedCounts.back(), std::make_pair(9, 0));
  model->shutDown();
  model->waitUntilIdle();
  EXPECT_EQ(model->getQueuedOperationsCount(), 0);
  EXPECT_EQ(uploader->uploads.size(), 10u);
  ASSERT_FALSE(sleeper->sleeps().empty());
  EXPECT_EQ(sleeper->sleeps().front(), 6u);
  // The next recorded report resets the dropped count.
  EXPECT_TRUE(model->recordOnDemandExceptionIfQuota(exception, true, uploader));
  EXPECT_EQ(model->droppedOnDemandExceptionCount(), 0);
}

TEST_F(OnDemandModelTest, WithCollectionOffTheFifthStoredReportPushesOutTheOldest) {
  auto model = makeModel();
  model->shutDown();  // no spacing: each store runs at once
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(model->recordOnDemandExceptionIfQuota(exception, false, uploader));
    model->waitUntilIdle();
  }
  const auto stored = model->storedActiveReportPaths();
  ASSERT_EQ(stored.size(), 4u);
  EXPECT_EQ(stored.front(), temp_.file("report-4"));
  EXPECT_EQ(stored.back(), temp_.file("report-1"));
  EXPECT_FALSE(std::filesystem::exists(temp_.file("report-0")));
  EXPECT_TRUE(std::filesystem::exists(temp_.file("report-1")));
  EXPECT_EQ(model->recordedOnDemandExceptionCount(), 4);
  EXPECT_EQ(model->droppedOnDemandExceptionCount(), 1);
  EXPECT_TRUE(uploader->uploads.empty());
  EXPECT_EQ(model->takeStoredActiveReportPaths().size(), 4u);
  EXPECT_TRUE(model->storedActiveReportPaths().empty());
}

TEST_F(OnDemandModelTest, FailedRecordingChangesNoCounter) {
  auto model = makeModel();
  failRecording = true;
  EXPECT_FALSE(model->recordOnDemandExceptionIfQuota(exception, true, uploader));
  EXPECT_EQ(model->recordedOnDemandExceptionCount(), 0);
  EXPECT_EQ(model->droppedOnDemandExceptionCount(), 0);
  EXPECT_EQ(model->getQueuedOperationsCount(), 0);
}

TEST_F(OnDemandModelTest, StepGrowsWhileFullAndShrinksAfterwardsWithTheDelayCappedAtAnHour) {
  auto model = makeModel();
  EXPECT_EQ(model->calculateUploadDelay(), 6.0);
  EXPECT_EQ(model->currentStep(), 0.0);
  for (int i = 0; i < 10; ++i) model->incrementQueuedOperationCount();
  now = now + 12.0;  // two steps of 6 s while full
  EXPECT_DOUBLE_EQ(model->calculateUploadDelay(), 6.0 * 1.5 * 1.5);
  now = now + 6.0 * 200;  // capped at step 100: far above an hour
  EXPECT_EQ(model->calculateUploadDelay(), 3600.0);
  EXPECT_EQ(model->currentStep(), 100.0);
  for (int i = 0; i < 10; ++i) model->decrementQueuedOperationCount();
  now = now + 6.0 * 1000;
  EXPECT_EQ(model->calculateStepDuration(), 0.0);
}

TEST_F(OnDemandModelTest, ServerValuesOfZeroGiveWayToTheDefaults) {
  auto model = makeModel(CRSettingsWithDocument(std::make_shared<CRFileManager>(),
                                                R"({"on_demand_upload_rate_per_minute": 0, "on_demand_backoff_base": 0,
                                                    "on_demand_backoff_step_duration_seconds": 0})"));
  EXPECT_EQ(model->calculateUploadDelay(), 6.0);
  for (int i = 0; i < 10; ++i) model->incrementQueuedOperationCount();
  now = now + 12.0;
  EXPECT_DOUBLE_EQ(model->calculateUploadDelay(), 6.0 * 1.5 * 1.5);
}

TEST(InterruptibleSleeperTest, InterruptEndsTheCurrentAndEveryLaterSleep) {
  CRInterruptibleSleeper sleeper;
  std::thread sleeping([&] { sleeper.sleepForSeconds(3600); });
  sleeper.interrupt();
  sleeping.join();
  sleeper.sleepForSeconds(3600);  // returns at once
  SUCCEED();
}

}  // namespace
