#include "crash-reporting/pipeline/report_uploader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "crash-reporting/pipeline/report_adapter.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/semaphore.h"
#include "platform/testing/environment.h"

namespace {

using namespace std::chrono_literals;

// Answers each event on a queue of its own, as the transport does, or not at all.
class FakeTransport : public CREventSending {
 public:
  enum class Answer { Written, WrittenWithError, NotWritten, Silent };
  // An urgent send returns as soon as the completion has run, while the block that ran it may
  // still be signalling: the fake outlives that block.
  ~FakeTransport() override { queue_->sync([] {}); }

  Answer answer = Answer::Written;
  platform::Duration delay = 0ms;
  std::atomic<int> sent{0};
  std::atomic<bool> answered{false};
  std::shared_ptr<ETEvent> lastEvent;
  platform::DispatchSemaphore completed{0};  // signalled once a completion has run

  std::shared_ptr<ETEvent> eventForTransport() override { return ETEvent::initWithMappingID("1206", 1002); }
  void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) override {
    lastEvent = event;
    ++sent;
    if (answer == Answer::Silent) return;
    queue_->asyncAfter(delay, [this, onComplete] {
      answered = true;
      if (answer == Answer::Written) onComplete(true, std::nullopt);
      if (answer == Answer::WrittenWithError) onComplete(true, platform::Error("domain", 1));
      if (answer == Answer::NotWritten) onComplete(false, std::nullopt);
      completed.signal();
    });
  }

 private:
  std::shared_ptr<platform::DispatchQueue> queue_ = platform::DispatchQueue::makeSerial("fake-transport");
};

class ReportUploaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fileManager->createReportDirectories();
    installModel->setInstallID("INSTALL-UUID");
    uploader.setUrgentWaitTimeout(5s);
  }
  std::shared_ptr<CRInternalReport> makeReport(const std::string& name = "report1") {
    const std::string folder = fileManager->activePath() + "/" + name;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/metadata.crrecord") << R"({"identity":{"session_id":")" << name << "\"}}\n";
    std::ofstream(folder + "/signal.crrecord") << R"({"signal":{"number":11}})" << "\n";
    return std::make_shared<CRInternalReport>(folder, name);
  }
  std::vector<std::string> contents(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fileManager->contentsOfDirectory(path)) {
      names.push_back(std::filesystem::path(entry).filename().string());
    }
    return names;
  }

  platform::testing::Environment environment_;
  std::shared_ptr<CRFileManager> fileManager = std::make_shared<CRFileManager>();
  std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
  std::shared_ptr<CRInstallIdentifierModel> installModel = std::make_shared<CRInstallIdentifierModel>(nullptr);
  CRReportUploader uploader{platform::OperationQueue::make("work"), fileManager, transport, installModel, "1:1:ios:1"};
  CRDataCollectionTokenRef token = CRDataCollectionToken::validToken();
};

TEST_F(ReportUploaderTest, UrgentSendReturnsAfterTheTransportAnsweredAndTheFolderIsGone) {
  transport->delay = 100ms;
  uploader.prepareAndSubmitReport(makeReport(), token, true, true);
  EXPECT_TRUE(transport->answered);
  EXPECT_TRUE(contents(fileManager->activePath()).empty());
  EXPECT_TRUE(contents(fileManager->processingPath()).empty());
  EXPECT_TRUE(contents(fileManager->preparedPath()).empty());
  ASSERT_TRUE(transport->lastEvent);
  EXPECT_EQ(transport->lastEvent->qosTier(), 4);
  const auto report = CRDecodeReport(*transport->lastEvent->serializedDataObjectBytes());
  ASSERT_TRUE(report.has_value());
  EXPECT_EQ(report->mp_app_id, "1:1:ios:1");
  EXPECT_EQ(report->installation_uuid, "INSTALL-UUID");
  // Urgent: no installation ID was asked for.
  EXPECT_EQ(report->telemetry_installation_id, std::optional<std::string>(""));
  ASSERT_EQ(report->files.size(), 2u);
  EXPECT_EQ(report->files[0].name, "metadata.crrecord");
}

TEST_F(ReportUploaderTest, AnUnwrittenOrUnansweredEventLeavesTheFolderInPrepared) {
  for (auto answer : {FakeTransport::Answer::NotWritten, FakeTransport::Answer::WrittenWithError,
                      FakeTransport::Answer::Silent}) {
    transport->answer = answer;
    transport->answered = false;
    uploader.setUrgentWaitTimeout(200ms);
    uploader.prepareAndSubmitReport(makeReport(), token, true, true);
    if (answer != FakeTransport::Answer::Silent) {
      ASSERT_TRUE(transport->completed.wait(10s));
    }
    EXPECT_EQ(contents(fileManager->preparedPath()), std::vector<std::string>{"report1"});
  }
  // The stale prepared copy was replaced each time, never duplicated; a later upload sends it.
  transport->answer = FakeTransport::Answer::Written;
  transport->answered = false;
  uploader.uploadPackagedReportAtPath(fileManager->preparedPath() + "/report1", token, false);
  ASSERT_TRUE(transport->completed.wait(10s));
  EXPECT_TRUE(contents(fileManager->preparedPath()).empty());
}

TEST_F(ReportUploaderTest, FailedMoveOrMissingTokenSendsNothing) {
  std::filesystem::remove_all(fileManager->processingPath());
  std::ofstream(fileManager->processingPath()) << "not a folder";
  uploader.prepareAndSubmitReport(makeReport(), token, false, true);
  uploader.prepareAndSubmitReport(makeReport("report2"), nullptr, true, true);
  EXPECT_EQ(transport->sent, 0);
  EXPECT_EQ(contents(fileManager->activePath()).size(), 2u);
}

TEST_F(ReportUploaderTest, AFailedEncodingSendsNothingAndKeepsTheFolder) {
  CRReportAdapter::setEncodingFailsForTesting(true);
  uploader.prepareAndSubmitReport(makeReport(), token, true, false);
  EXPECT_EQ(transport->sent, 0);
  EXPECT_EQ(contents(fileManager->preparedPath()), std::vector<std::string>{"report1"});
}

}  // namespace
