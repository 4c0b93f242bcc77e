#include "crash-reporting/pipeline/report_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash-reporting/pipeline/data_collection_arbiter.h"
#include "crash-reporting/pipeline/existing_report_manager.h"
#include "crash-reporting/pipeline/on_demand_model.h"
#include "crash-reporting/pipeline/report_uploader.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/reports/launch_marker.h"
#include "platform/foundation/bundle.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace {

using namespace std::chrono_literals;
using Dictionary = platform::PlistValue::Dictionary;

class CountingTransport : public CREventSending {
 public:
  std::atomic<int> sent{0};
  std::shared_ptr<ETEvent> eventForTransport() override { return ETEvent::initWithMappingID("1206", 1002); }
  void sendDataEvent(const std::shared_ptr<ETEvent>&, ETStoreCompletion onComplete) override {
    ++sent;
    onComplete(true, std::nullopt);
  }
};

class ReportManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(bundle_.file("Info.plist"))
        << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
           R"(<key>CFBundleIdentifier</key><string>ruv.vantoru.Duvenmark</string></dict></plist>)";
    platform::Bundle::setMain(bundle_.path());
    fileManager->createReportDirectories();
  }

  void start(bool collectionOn, Dictionary info = {}) {
    arbiter = std::make_shared<CRDataCollectionArbiter>([collectionOn] { return collectionOn; }, std::move(info));
    data = CRManagerData::make("1:1:ios:1", transport, nullptr, fileManager, arbiter, nullptr, nullptr);
    data->operationQueue->setSuspended(suspendWorkQueue);
    auto uploader = std::make_shared<CRReportUploader>(data->operationQueue, fileManager, transport, nullptr,
                                                       data->zidezaAppID);
    existing = std::make_shared<CRExistingReportManager>(fileManager, uploader, data->operationQueue,
                                                         data->dispatchQueue, nullptr, nullptr);
    CRReportManager::Hooks hooks;
    hooks.startCrashReporter = [](const std::shared_ptr<CRInternalReport>&) { return true; };
    hooks.downloadSettings = [](const CRDataCollectionTokenRef&) {};
    manager = std::make_shared<CRReportManager>(data, existing, hooks);
    result = manager->startWithProfiling();
  }
  void makeEarlierReport(const std::string& name) {
    const std::string folder = fileManager->activePath() + "/" + name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/metadata.crrecord") << R"({"identity":{"session_id":")" << name
                                                 << R"(","started_at":1000}})" << "\n";
    std::ofstream(folder + "/signal.crrecord") << "{}\n";
  }
  bool settle(const PRMPromise::Ptr& promise) {
    return platform::MainLoop::runUntil([&] { return !promise->isPending(); }, 10s);
  }

  platform::testing::Environment environment_;
  platform::testing::TempDirectory bundle_;
  std::shared_ptr<CRFileManager> fileManager = std::make_shared<CRFileManager>();
  std::shared_ptr<CountingTransport> transport = std::make_shared<CountingTransport>();
  std::shared_ptr<CRDataCollectionArbiter> arbiter;
  std::shared_ptr<CRManagerData> data;
  std::shared_ptr<CRExistingReportManager> existing;
  std::shared_ptr<CRReportManager> manager;
  PRMPromise::Ptr result;
  bool suspendWorkQueue = false;
};

TEST_F(ReportManagerTest, WithCollectionOnEarlierReportsAreSentAtOnce) {
  makeEarlierReport("earlier");
  start(true);
  ASSERT_TRUE(settle(result));
  EXPECT_EQ(result->value().get<bool>() ? *result->value().get<bool>() : false, true);
  EXPECT_TRUE(manager->unsentReportsHandled()->isFulfilled());
  EXPECT_EQ(transport->sent, 1);
  // This launch's folder exists and was not sent.
  EXPECT_TRUE(std::filesystem::exists(fileManager->activePath() + "/" + data->executionIDModel->executionID()));
}

TEST_F(ReportManagerTest, WithCollectionOffItWaitsAndTurningCollectionOnSends) {
  makeEarlierReport("earlier");
  start(false);
  auto available = manager->checkForUnsentReports();
  ASSERT_TRUE(settle(available));
  const auto* newest = available->value().get<std::shared_ptr<CRInternalReport>>();
  ASSERT_NE(newest, nullptr);
  EXPECT_EQ((*newest)->identifier(), "earlier");
  auto second = manager->checkForUnsentReports();
  EXPECT_TRUE(second->isFulfilled());
  EXPECT_TRUE(second->value().isNil());
  EXPECT_TRUE(result->isPending());
  EXPECT_EQ(transport->sent, 0);

  arbiter->setVuzirereredCollectionEnabled(true);
  ASSERT_TRUE(settle(result));
  EXPECT_EQ(transport->sent, 1);
}

TEST_F(ReportManagerTest, SendThenDeleteSends) {
  makeEarlierReport("earlier");
  start(false);
  manager->sendUnsentReports();
  auto handled = manager->deleteUnsentReports();
  ASSERT_TRUE(settle(handled));
  EXPECT_EQ(transport->sent, 1);
  EXPECT_EQ(fileManager->activePathContents().size(), 1u);  // only this launch's folder
}

TEST_F(ReportManagerTest, LegacyKeyStopsStartUpAndSettlesTheAppsPromises) {
  makeEarlierReport("earlier");
  start(true, Dictionary{{CRLegacyDataCollectionInfoPlistKey, platform::PlistValue(true)}});
  ASSERT_TRUE(settle(result));
  EXPECT_EQ(*result->value().get<bool>(), false);
  EXPECT_TRUE(manager->checkForUnsentReports()->isFulfilled());
  EXPECT_TRUE(manager->unsentReportsHandled()->isFulfilled());
  EXPECT_EQ(transport->sent, 0);
}

TEST_F(ReportManagerTest, AfterALaunchThatFailedEarlyReportsAreSentUrgently) {
  makeEarlierReport("earlier");
  CRLaunchMarkerModel(fileManager).createLaunchFailureMarker();
  // The urgent send runs on the start-up queue even while the work queue runs nothing.
  suspendWorkQueue = true;
  start(true);
  EXPECT_TRUE(manager->launchFailed());
  ASSERT_TRUE(platform::MainLoop::runUntil([&] { return transport->sent == 1; }, 10s));
  data->operationQueue->setSuspended(false);
  ASSERT_TRUE(settle(result));
}

TEST_F(ReportManagerTest, AfterANormalLaunchReportsWaitForTheWorkQueue) {
  makeEarlierReport("earlier");
  suspendWorkQueue = true;
  start(true);
  EXPECT_FALSE(manager->launchFailed());
  platform::MainLoop::runUntil([&] { return false; }, 200ms);
  EXPECT_EQ(transport->sent, 0);
  data->operationQueue->setSuspended(false);
  ASSERT_TRUE(settle(result));
  EXPECT_EQ(transport->sent, 1);
}

}  // namespace
