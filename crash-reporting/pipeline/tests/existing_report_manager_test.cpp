#include "crash-reporting/pipeline/existing_report_manager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "crash-reporting/pipeline/report_uploader.h"
#include "crash-reporting/pipeline/tests/settings_document.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "platform/dispatch/semaphore.h"
#include "platform/testing/environment.h"
#include "sdk-core/utilities/logger.h"

namespace {

using namespace std::chrono_literals;

// Writes every event at once, on the caller's thread.
class ImmediateTransport : public CREventSending {
 public:
  std::vector<std::shared_ptr<ETEvent>> events;
  std::shared_ptr<ETEvent> eventForTransport() override { return ETEvent::initWithMappingID("1206", 1002); }
  void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) override {
    events.push_back(event);
    onComplete(true, std::nullopt);
  }
};

class ExistingReportManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { fileManager->createReportDirectories(); }

  std::string makeReport(const std::string& name, int64_t startedAt, bool withEvent = true,
                         const std::string& directory = "") {
    const std::string folder = (directory.empty() ? fileManager->activePath() : directory) + "/" + name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/metadata.crrecord")
        << R"({"identity":{"session_id":")" << name << R"(","started_at":)" << startedAt << "}}\n";
    std::ofstream(folder + "/binary_images.crrecord") << "";
    if (withEvent) std::ofstream(folder + "/signal.crrecord") << R"({"signal":{"number":11}})" << "\n";
    return folder;
  }
  std::vector<std::string> names(const std::string& path) {
    std::vector<std::string> result;
    for (const auto& entry : fileManager->contentsOfDirectory(path)) {
      result.push_back(std::filesystem::path(entry).filename().string());
    }
    std::sort(result.begin(), result.end());
    return result;
  }
  void drain() { workQueue->waitUntilAllOperationsAreFinished(); }

  platform::testing::Environment environment_;
  std::shared_ptr<CRFileManager> fileManager = std::make_shared<CRFileManager>();
  std::shared_ptr<ImmediateTransport> transport = std::make_shared<ImmediateTransport>();
  std::shared_ptr<platform::OperationQueue> workQueue = [] {
    auto queue = platform::OperationQueue::make("work");
    queue->setMaxConcurrentOperationCount(1);
    return queue;
  }();
  std::shared_ptr<CRInstallIdentifierModel> installModel = std::make_shared<CRInstallIdentifierModel>(nullptr);
  std::shared_ptr<CRReportUploader> uploader =
      std::make_shared<CRReportUploader>(workQueue, fileManager, transport, nullptr, "1:1:ios:1");
  std::shared_ptr<CROnDemandModel> onDemand = std::make_shared<CROnDemandModel>(nullptr, fileManager);
  CRExistingReportManager manager{fileManager, uploader,  workQueue, platform::DispatchQueue::makeSerial("startup"),
                                  nullptr,     onDemand};
  CRDataCollectionTokenRef token = CRDataCollectionToken::validToken();
};

TEST_F(ExistingReportManagerTest, KeepsTheFourNewestAndRemovesEmptyOldAndUnreadableFolders) {
  std::mutex logMutex;
  std::vector<std::string> log;
  UTLLoggerSetMaximumLevel(UTLLoggerLevel::Info);
  UTLLoggerSetSink([&](UTLLoggerLevel, const std::string& line) {
    std::lock_guard lock(logMutex);
    log.push_back(line);
  });
  for (int i = 0; i < 7; ++i) makeReport("r" + std::to_string(i), 1000 + i);
  makeReport("metadata-only", 5000, false);
  std::filesystem::create_directories(fileManager->activePath() + "/unreadable");
  manager.collectExistingReports();
  drain();
  EXPECT_EQ(manager.unsentReportsCount(), 4u);
  ASSERT_TRUE(manager.newestUnsentReport());
  EXPECT_EQ(manager.newestUnsentReport()->identifier(), "r6");
  EXPECT_EQ(names(fileManager->activePath()), (std::vector<std::string>{"r3", "r4", "r5", "r6"}));
  UTLLoggerFlush();
  UTLLoggerSetSink(nullptr);
  const bool told = std::any_of(log.begin(), log.end(), [](const std::string& line) {
    return line.find("Deleting 3 unsent reports over the limit of 4") != std::string::npos;
  });
  EXPECT_TRUE(told);
}

TEST_F(ExistingReportManagerTest, ExactlyFourReportsAreAllKept) {
  for (int i = 0; i < 4; ++i) makeReport("r" + std::to_string(i), 1000 + i);
  manager.collectExistingReports();
  drain();
  EXPECT_EQ(manager.unsentReportsCount(), 4u);
  EXPECT_EQ(names(fileManager->activePath()).size(), 4u);
}

TEST_F(ExistingReportManagerTest, EqualDatesAreOrderedByFolderNameAndNothingKeptMeansNoNewest) {
  makeReport("b", 1000);
  makeReport("a", 1000);
  manager.collectExistingReports();
  EXPECT_EQ(manager.newestUnsentReport()->identifier(), "b");

  CRExistingReportManager empty{fileManager, uploader, workQueue, platform::DispatchQueue::makeSerial("s"), nullptr,
                                onDemand};
  std::filesystem::remove_all(fileManager->activePath() + "/a");
  std::filesystem::remove_all(fileManager->activePath() + "/b");
  empty.collectExistingReports();
  EXPECT_EQ(empty.unsentReportsCount(), 0u);
  EXPECT_EQ(empty.newestUnsentReport(), nullptr);
}

// A diagnostic waiting in the MetricKit folder belongs to the newest report, which it makes a
// crash (and so an event, kept), when the settings collect MetricKit data.
TEST_F(ExistingReportManagerTest, AMetricKitFileMakesTheNewestReportACrash) {
  struct Case {
    const char* name;
    bool collected;
    bool diagnostic;
  } cases[] = {{"collected, with a diagnostic", true, true},
               {"collected, no diagnostic", true, false},
               {"not collected, with a diagnostic", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(fileManager->rootPath());
    std::filesystem::remove_all(fileManager->metricKitDiagnosticsPath());
    fileManager->createReportDirectories();
    auto settings = CRSettingsWithDocument(
        fileManager, std::string(R"({"features":{"collect_metric_kit":)") + (c.collected ? "true" : "false") + "}}");
    ASSERT_EQ(settings->metricKitCollectionEnabled(), c.collected);
    if (c.diagnostic) {
      std::filesystem::create_directories(fileManager->metricKitDiagnosticsPath());
      std::ofstream(fileManager->metricKitDiagnosticsPath() + "diagnostic.json") << "{}";
    }
    makeReport("older", 1000);
    makeReport("newest", 2000, false);

    CRExistingReportManager withSettings{fileManager, uploader, workQueue, platform::DispatchQueue::makeSerial("s"),
                                         settings,    onDemand};
    withSettings.collectExistingReports();
    drain();
    const bool madeACrash = c.collected && c.diagnostic;
    ASSERT_TRUE(withSettings.newestUnsentReport());
    EXPECT_EQ(withSettings.newestUnsentReport()->identifier(), madeACrash ? "newest" : "older");
    EXPECT_TRUE(withSettings.newestUnsentReport()->isCrash());
    EXPECT_EQ(withSettings.unsentReportsCount(), madeACrash ? 2u : 1u);
    EXPECT_EQ(std::filesystem::exists(fileManager->activePath() + "/newest/metric_kit_fatal.crrecord"), madeACrash);
    EXPECT_FALSE(std::filesystem::exists(fileManager->activePath() + "/older/metric_kit_fatal.crrecord"));
  }
}

TEST_F(ExistingReportManagerTest, SendingCarriesActiveProcessingAndPreparedReportsAndDeletesThem) {
  makeReport("active1", 1000);
  makeReport("processing1", 900, true, fileManager->processingPath());
  makeReport("prepared1", 800, true, fileManager->preparedPath());
  std::filesystem::create_directories(fileManager->processingPath() + "/broken");
  manager.collectExistingReports();
  manager.sendUnsentReportsWithToken(token, false);
  drain();
  EXPECT_EQ(transport->events.size(), 3u);
  EXPECT_TRUE(names(fileManager->activePath()).empty());
  EXPECT_TRUE(names(fileManager->processingPath()).empty());
  EXPECT_TRUE(names(fileManager->preparedPath()).empty());
}

TEST_F(ExistingReportManagerTest, UrgentSendRunsOnTheCallersThreadAndANullTokenFallsBackToTheQueue) {
  makeReport("crash", 1000);
  manager.collectExistingReports();
  workQueue->setSuspended(true);  // nothing queued may run: the urgent send must not wait for it
  manager.sendUnsentReportsWithToken(token, true);
  EXPECT_EQ(transport->events.size(), 1u);
  workQueue->setSuspended(false);
  drain();

  makeReport("later", 2000);
  manager.processExistingActiveReportPath(fileManager->activePath() + "/later", nullptr, true);
  drain();
  EXPECT_EQ(transport->events.size(), 1u);  // the uploader refused it without a token
  EXPECT_EQ(names(fileManager->activePath()), std::vector<std::string>{"later"});
}

TEST_F(ExistingReportManagerTest, DeletingRemovesEveryKnownFolder) {
  makeReport("active1", 1000);
  makeReport("prepared1", 800, true, fileManager->preparedPath());
  manager.collectExistingReports();
  manager.deleteUnsentReports();
  drain();
  EXPECT_TRUE(names(fileManager->activePath()).empty());
  EXPECT_TRUE(names(fileManager->preparedPath()).empty());
  EXPECT_TRUE(transport->events.empty());
}

}  // namespace
