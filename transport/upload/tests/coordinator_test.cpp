#include "transport/upload/coordinator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dispatch/clock.h"
#include "transport/events/registrar.h"

namespace {

struct RecordingUploader : ETUploader {
  void uploadTarget(long target, ETUploadConditions conditions) override {
    std::lock_guard lock(mutex);
    calls.emplace_back(target, conditions);
  }
  std::vector<std::pair<long, ETUploadConditions>> taken() {
    std::lock_guard lock(mutex);
    return calls;
  }
  std::mutex mutex;
  std::vector<std::pair<long, ETUploadConditions>> calls;
};

struct FakeApplication : ETApplicationProtocol {
  ETBackgroundIdentifier beginBackgroundTaskWithName(const std::string&, std::function<void()>) override { return 0; }
  void endBackgroundTask(ETBackgroundIdentifier) override {}
  bool isRunningInBackground() const override { return background.load(); }
  std::atomic<bool> background{false};
};

class CoordinatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registrar_ = std::make_shared<ETRegistrar>();
    uploader_ = std::make_shared<RecordingUploader>();
    registrar_->registerUploader(uploader_, 1001);
    registrar_->registerUploader(uploader_, 1002);
    provider_ = std::make_shared<platform::FakeReachability>(2);
    reachability_ = ETReachability::make(provider_);
    application_ = std::make_shared<FakeApplication>();
    coordinator_ = ETUploadCoordinator::make(registrar_, reachability_, application_);
  }
  void TearDown() override {
    coordinator_->stopTimer();
    settle();
  }

  // Lets queued coordinator and reachability work run (a tick queues a second hop).
  void settle() {
    for (int i = 0; i < 3; ++i) {
      reachability_->reachabilityQueue()->sync([] {});
      coordinator_->coordinationQueue()->sync([] {});
    }
  }

  std::shared_ptr<ETRegistrar> registrar_;
  std::shared_ptr<RecordingUploader> uploader_;
  std::shared_ptr<platform::FakeReachability> provider_;
  std::shared_ptr<ETReachability> reachability_;
  std::shared_ptr<FakeApplication> application_;
  std::shared_ptr<ETUploadCoordinator> coordinator_;
};

TEST_F(CoordinatorTest, TimerTicksAtHalfASecondThenEveryThirtySecondsForEveryUploaderTarget) {
  platform::VirtualClock clock;
  coordinator_->startTimer();
  coordinator_->startTimer();  // a second start leaves one timer
  settle();
  clock.advance(std::chrono::milliseconds(499));
  settle();
  EXPECT_TRUE(uploader_->taken().empty());
  clock.advance(std::chrono::milliseconds(1));
  settle();
  using Calls = std::vector<std::pair<long, ETUploadConditions>>;
  EXPECT_EQ(uploader_->taken(), (Calls{{1001, 4}, {1002, 4}}));
  clock.advance(std::chrono::seconds(35));
  settle();
  EXPECT_EQ(uploader_->taken().size(), 4u);

  // In the background a tick does nothing; a stopped timer does not tick at all.
  application_->background = true;
  clock.advance(std::chrono::seconds(35));
  settle();
  EXPECT_EQ(uploader_->taken().size(), 4u);
  application_->background = false;
  coordinator_->appWillBackground(nullptr);
  settle();
  EXPECT_FALSE(coordinator_->hasTimer());
  clock.advance(std::chrono::seconds(70));
  settle();
  EXPECT_EQ(uploader_->taken().size(), 4u);
  coordinator_->appWillForeground(nullptr);
  settle();
  EXPECT_TRUE(coordinator_->hasTimer());
  clock.advance(std::chrono::milliseconds(500));
  settle();
  EXPECT_EQ(uploader_->taken().size(), 6u);
}

TEST_F(CoordinatorTest, ForcedUploadsCarryTheNetworkConditionsAndHighPriority) {
  struct Case {
    std::optional<uint32_t> flags;
    ETUploadConditions conditions;
    bool uploads;
  };
  const Case cases[] = {
      {2, 20, true},            // Wi-Fi
      {0x40002, 18, true},      // mobile data
      {0, 17, false},           // no network
      {6, 17, false},           // connection required counts as no network
      {std::nullopt, 17, false} // unreadable flags read as 0
  };
  for (const auto& c : cases) {
    provider_ = std::make_shared<platform::FakeReachability>(c.flags);
    reachability_ = ETReachability::make(provider_);
    coordinator_ = ETUploadCoordinator::make(registrar_, reachability_, application_);
    uploader_->calls.clear();
    EXPECT_EQ(coordinator_->uploadConditions() | ETUploadConditionHighPriority, c.conditions);
    coordinator_->forceUploadForTarget(1002);
    settle();
    using Calls = std::vector<std::pair<long, ETUploadConditions>>;
    EXPECT_EQ(uploader_->taken(), c.uploads ? (Calls{{1002, c.conditions}}) : Calls{});
  }
}

TEST_F(CoordinatorTest, ChangeCallbacksOverrideTheStartUpFlagsExceptZero) {
  settle();
  EXPECT_EQ(reachability_->currentFlags(), 2u);
  provider_->deliver(0);
  settle();
  EXPECT_EQ(reachability_->currentFlags(), 2u);
  provider_->deliver(0x40002);
  settle();
  EXPECT_EQ(reachability_->currentFlags(), 0x40002u);
  EXPECT_EQ(coordinator_->uploadConditions(), ETUploadConditionMobileData);
  EXPECT_EQ(reachability_->flags(), 2u);
}

TEST_F(CoordinatorTest, TargetsWithoutUploaderAreSkipped) {
  coordinator_->uploadTargets({999, 1002, 1003}, 4);
  settle();
  using Calls = std::vector<std::pair<long, ETUploadConditions>>;
  EXPECT_EQ(uploader_->taken(), (Calls{{1002, 4}}));
}

}  // namespace
