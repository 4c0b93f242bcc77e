#include <gtest/gtest.h>

#include <condition_variable>

#include "transport/upload/messages.h"
#include "transport/upload/messages_internal.h"
#include "transport/upload/tests/upload_fixture.h"

namespace {

using platform::LoopbackResponse;

TEST_F(UploadTest, ATierFourEventForcesAnUploadOfItsTarget) {
  auto coordinator = ETUploadCoordinator::make(registrar_, ETReachability::make(std::make_shared<platform::FakeReachability>(2)),
                                               application_);
  storage_->setUploadCoordinator(coordinator);
  auto event = makeEvent(1002, "1206", 3000, 4);
  event->setClockSnapshot(ETClock::snapshot());
  ASSERT_TRUE(store(event).written);
  ASSERT_TRUE(collector_.waitForUploads(1, std::chrono::seconds(20)));
  coordinator->coordinationQueue()->sync([] {});
  finish();

  auto upload = collector_.uploads().at(0);
  EXPECT_EQ(upload.request.path, "/v1/tellog/legacy/batchlog");
  EXPECT_EQ(upload.request.method, "POST");
  // The repetitive payload shrinks, so the body goes gzip.
  EXPECT_EQ(upload.request.headers.value("Content-Encoding"), "gzip");
  EXPECT_EQ(upload.request.headers.value("X-Zideza-Api-Key"), UPUploader::FLLAndCSHAndINTAPIKey());
  EXPECT_EQ(UPUploader::FLLAndCSHAndINTAPIKey().size(), 39u);
  EXPECT_EQ(upload.request.headers.value("Content-Type"), "application/x-protobuf");
  EXPECT_EQ(upload.request.headers.value("User-Agent"), "datatransport/0.0.1 cshsupport/0.0.1 apple/");
  ASSERT_TRUE(upload.requests);
  EXPECT_EQ(upload.eventCount(), 1u);  // no stored metrics yet: no metrics event
  EXPECT_EQ(upload.requests->at(0).logSource, 1206);
  EXPECT_EQ(storedEvents(1002), 0u);
  storage_->setUploadCoordinator(coordinator_);  // the real one holds the registrar, which holds the storage
}

TEST_F(UploadTest, ABodyThatDoesNotShrinkGoesPlain) {
  auto event = makeEvent(1003, "9", 1);
  ASSERT_TRUE(store(event).written);
  upload(1003, 4);
  auto upload = collector_.uploads().at(0);
  EXPECT_EQ(upload.request.path, "/dummy/api/very/long");
  EXPECT_FALSE(upload.request.headers.contains("Content-Encoding"));
  EXPECT_EQ(upload.request.headers.value("User-Agent"), "datatransport/0.0.1 intsupport/0.0.1 apple/");
}

TEST_F(UploadTest, RepliesDecideTheBatchAndTheNextUploadTime) {
  struct Case {
    const char* name;
    LoopbackResponse reply;
    bool deleted;
    int64_t waitMillis;
  };
  auto withHeader = [](LoopbackResponse reply, const char* name, const char* value) {
    reply.headers.set(name, value);
    return reply;
  };
  const Case cases[] = {
      {"200", LoopbackResponse{.status = 200}, true, 900000},
      {"200 wait", LoopbackLogCollector::logResponse(200, 5000), true, 5000},
      {"200 garbage", LoopbackLogCollector::garbage(200), true, 900000},
      {"429 Retry-After", withHeader(LoopbackResponse{.status = 429}, "Retry-After", "30"), false, 30000},
      {"429 Retry-After fraction", withHeader(LoopbackResponse{.status = 429}, "Retry-After", "1.5"), false, 1500},
      {"503 huge Retry-After", withHeader(LoopbackResponse{.status = 503}, "Retry-After", "99999999999999999999"), false,
       std::numeric_limits<int64_t>::max()},
      {"404", LoopbackResponse{.status = 404}, false, 900000},
      {"503", LoopbackResponse{.status = 503}, false, 900000},
      {"403", LoopbackResponse{.status = 403}, true, 900000},
      {"400", LoopbackResponse{.status = 400}, true, 900000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uploader_->setNextUploadTime(nullptr, 1003);
    collector_.queue({c.reply});
    ASSERT_TRUE(store(makeEvent(1003, "7")).written);
    upload(1003, 4);
    EXPECT_EQ(storedEvents(1003), c.deleted ? 0u : 1u);
    auto wait = waitMillis(1003);
    ASSERT_TRUE(wait);
    if (c.waitMillis == std::numeric_limits<int64_t>::max()) {
      EXPECT_GT(*wait, int64_t{1} << 62);
    } else {
      EXPECT_NEAR(static_cast<double>(*wait), static_cast<double>(c.waitMillis), 5000.0);
    }
    if (!c.deleted) upload(1003, 20);  // empties the store for the next case
  }
}

TEST_F(UploadTest, AWaitBarsNormalUploadsButNotForcedOnes) {
  collector_.queue({LoopbackLogCollector::logResponse(429, 30000)});
  ASSERT_TRUE(store(makeEvent(1001, "1974")).written);
  upload(1001, 4);
  ASSERT_EQ(collector_.uploadCount(), 1u);
  upload(1001, 4);
  EXPECT_EQ(collector_.uploadCount(), 1u);
  upload(1001, 20);
  EXPECT_EQ(collector_.uploadCount(), 2u);
  EXPECT_EQ(storedEvents(1001), 0u);

  // A wait stored under another boot time has passed, whatever its clock says.
  ASSERT_TRUE(store(makeEvent(1001, "1974")).written);
  auto stale = ETClock::snapshot();
  stale->timeMillis += 3600000;
  stale->kernelBootTimeNanoseconds -= 1000000000;
  uploader_->setNextUploadTime(stale, 1001);
  upload(1001, 4);
  EXPECT_EQ(collector_.uploadCount(), 3u);
}

TEST_F(UploadTest, FourHundredCountsEveryEventOfTheBatchAsDroppedForReasonFive) {
  // Stored metadata, so the upload carries a metrics event.
  PRMPromiseAwait(metrics_->logEventsDroppedForReason(1, {makeEvent(1002, "1974")}));
  takeCounts();
  ASSERT_TRUE(store(makeEvent(1002, "1206")).written);
  ASSERT_TRUE(store(makeEvent(1002, "1206")).written);
  collector_.queue({LoopbackResponse{.status = 400}});
  upload(1002, 4);
  ASSERT_EQ(collector_.uploads().at(0).eventCount(), 3u);
  EXPECT_EQ(storedEvents(1002), 0u);
  // The metrics taken for the failed upload come back; 400 adds reason 5 for all three.
  EXPECT_EQ(takeCounts(), (ETLogSourceMetrics::Counts{{"1206", {{5, 2}}}, {"1710", {{5, 1}}}}));
}

TEST_F(UploadTest, ARefusedConnectionReturnsTheEventsAndOffersTheMetricsBack) {
  TELEndpoints::setUploadBaseURL(1001, "http://127.0.0.1:" + std::to_string(platform::LoopbackServer::unusedPort()));
  auto refused = UPUploader::make(registrar_, application_);
  storage_->storeEvent(makeEvent(1001, "1974"), [](bool, const auto&) {});
  metrics_->storageDidDropEvent(*storage_, makeEvent(1001, "1206"));
  drain();
  refused->uploadTarget(1001, 4);
  refused->uploadOperationQueue()->waitUntilAllOperationsAreFinished();
  drain();
  EXPECT_EQ(storedEvents(1001), 1u);
  EXPECT_FALSE(refused->nextUploadTimeForTarget(1001));
  EXPECT_EQ(takeCounts(), (ETLogSourceMetrics::Counts{{"1206", {{2, 1}}}}));
}

TEST_F(UploadTest, ASizeLimitDropAppearsInTheNextSessionUpload) {
  metrics_->storageDidDropEvent(*storage_, makeEvent(1001, "1974"));
  ASSERT_TRUE(store(makeEvent(1001, "1974")).written);
  upload(1001, 4);
  auto upload = collector_.uploads().at(0);
  ASSERT_TRUE(upload.requests);
  const CollectedEvent* metricsEvent = nullptr;
  for (const auto& request : *upload.requests) {
    if (request.logSource == 1710) metricsEvent = &request.events.at(0);
  }
  ASSERT_NE(metricsEvent, nullptr);
  EXPECT_TRUE(metricsEvent->eventTimeMs);  // the metrics event has its own clock
  EXPECT_EQ(decodeClientMetrics(metricsEvent->payload), (std::map<std::string, std::map<int, int64_t>>{{"1974", {{2, 1}}}}));
  // Delivered: the window was reset.
  EXPECT_TRUE(takeCounts().empty());
}

// A log source name longer than the message can hold fails the metrics encoding: the upload
// goes without a metrics event (never an empty one) and the counts stay for the next one.
TEST_F(UploadTest, MetricsThatCannotBeEncodedAreNotSentAndKeepTheirCounts) {
  const std::string longSource(70000, 's');
  metrics_->storageDidDropEvent(*storage_, makeEvent(1001, longSource));
  ASSERT_TRUE(store(makeEvent(1001, "1974")).written);
  upload(1001, 4);
  auto upload = collector_.uploads().at(0);
  ASSERT_TRUE(upload.requests);
  EXPECT_EQ(upload.eventCount(), 1u);
  for (const auto& request : *upload.requests) EXPECT_NE(request.logSource, 1710);
  EXPECT_EQ(storedEvents(1001), 0u);
  EXPECT_EQ(takeCounts(), (ETLogSourceMetrics::Counts{{longSource, {{2, 1}}}}));
}

TEST_F(UploadTest, ARedirectIsPostedAgainWithTheBodyAndTheTargetsKey) {
  LoopbackResponse redirect{.status = 302};
  redirect.headers.set("Location", collector_.url("/moved"));
  collector_.queue({redirect});
  collector_.route("/moved", LoopbackResponse{.status = 200});
  ASSERT_TRUE(store(makeEvent(1003, "7")).written);
  upload(1003, 4);
  auto uploads = collector_.uploads();
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[1].request.path, "/moved");
  EXPECT_EQ(uploads[1].request.method, "POST");
  EXPECT_EQ(uploads[1].request.body, uploads[0].request.body);
  EXPECT_EQ(uploads[1].request.headers.value("X-Zideza-Api-Key"), UPUploader::FLLAndCSHAndINTAPIKey());
  EXPECT_EQ(storedEvents(1003), 0u);
}

TEST_F(UploadTest, TargetsKeysAndURLs) {
  EXPECT_EQ(ETEndpoints::uploadURLForTarget(999), std::nullopt);
  EXPECT_EQ(ETEndpoints::uploadURLForTarget(1000), collector_.baseURL() + "/v0/log/batch");
  EXPECT_EQ(uploader_->APIKeyForTarget(1000), std::nullopt);
  EXPECT_EQ(uploader_->APIKeyForTarget(1001), uploader_->APIKeyForTarget(1003));
  EXPECT_EQ(UPUploader::FLLAndCSHAndINTAPIKey().front(), 'A');

  // Header fields in their order; gzip named only for gzip data; no request without data.
  auto operation = UPUploadOperation::make(1002, 4, std::nullopt, uploader_->uploadQueue(), storage_, uploader_,
                                           nullptr, application_);
  auto request = operation->constructRequestWithURL("http://127.0.0.1:1/x", 1002, *UPCompressionHelper::gzippedData({1, 2}));
  ASSERT_TRUE(request);
  std::vector<std::string> names;
  for (const auto& [name, value] : request->allHTTPHeaderFields.fields()) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"X-Zideza-Api-Key", "Content-Encoding", "Content-Type", "Accept-Encoding",
                                             "User-Agent"}));
  EXPECT_FALSE(operation->constructRequestWithURL("http://127.0.0.1:1/x", 1002, {1, 2})->valueForHTTPHeaderField(
      "Content-Encoding"));
  EXPECT_FALSE(operation->constructRequestWithURL("http://127.0.0.1:1/x", 1002, {}));

  ASSERT_TRUE(store(makeEvent(1000, "5")).written);
  upload(1000, 4);
  auto upload = collector_.uploads().at(0);
  EXPECT_EQ(upload.request.path, "/v0/log/batch");
  EXPECT_FALSE(upload.request.headers.contains("X-Zideza-Api-Key"));
  EXPECT_EQ(upload.eventCount(), 1u);  // 1000 has no metrics controller
}

TEST_F(UploadTest, OneAttemptedUploadCancelsTheRestOfTheTick) {
  for (long target : {1001L, 1002L, 1003L}) ASSERT_TRUE(store(makeEvent(target, "7")).written);
  uploader_->uploadOperationQueue()->setSuspended(true);
  for (long target : {1001L, 1002L, 1003L}) uploader_->uploadTarget(target, 4);
  uploader_->uploadOperationQueue()->setSuspended(false);
  finish();
  EXPECT_EQ(collector_.uploadCount(), 1u);

  // A forced crash upload cancelled behind another target goes at the next tick.
  ASSERT_TRUE(store(makeEvent(1002, "1206", 100, 4)).written);
  uploader_->setNextUploadTime(nullptr, 1003);
  ASSERT_TRUE(store(makeEvent(1003, "7")).written);
  uploader_->uploadOperationQueue()->setSuspended(true);
  uploader_->uploadTarget(1003, 4);
  uploader_->uploadTarget(1002, 20);
  uploader_->uploadOperationQueue()->setSuspended(false);
  finish();
  EXPECT_EQ(collector_.uploadCount(), 2u);
  EXPECT_EQ(storedEvents(1002), 2u);
  uploader_->setNextUploadTime(nullptr, 1002);
  upload(1002, 4);
  EXPECT_EQ(collector_.uploadCount(), 3u);
  EXPECT_EQ(storedEvents(1002), 0u);
}

TEST_F(UploadTest, NothingToSendLetsTheNextOperationRun) {
  ASSERT_TRUE(store(makeEvent(1003, "7")).written);
  uploader_->uploadOperationQueue()->setSuspended(true);
  uploader_->uploadTarget(1001, 4);  // no events
  uploader_->uploadTarget(1003, 1);  // no network: not ready
  uploader_->uploadTarget(1003, 4);
  uploader_->uploadOperationQueue()->setSuspended(false);
  finish();
  EXPECT_EQ(collector_.uploadCount(), 1u);
  // With mobile data only, tiers other than 3 and 4 stay.
  ASSERT_TRUE(store(makeEvent(1001, "1974", 10, 5)).written);
  upload(1001, 2);
  EXPECT_EQ(collector_.uploadCount(), 1u);
  EXPECT_EQ(storedEvents(1001), 1u);
}

TEST_F(UploadTest, NothingToSendIsAFailedSend) {
  // An encoder failure gives empty bytes, never a buffer of the first pass's size.
  auto event = makeEvent(1001, "1974");
  event->setClockSnapshot(ETClock::snapshot());
  LogBatchRequest request = UPBuildLogBatchRequest({{"1974", {event}}});
  request.requests[0].events[0].payload.funcs.encode = [](pb_ostream_t*, const pb_field_t*, void* const*) {
    return false;
  };
  EXPECT_TRUE(UPEncodeLogBatchRequest(request).empty());
  pb_release(LogBatchRequest_fields, &request);

  // An operation with no request to send returns the events and offers the metrics back.
  metrics_->storageDidDropEvent(*storage_, makeEvent(1001, "1206"));
  ASSERT_TRUE(store(makeEvent(1001, "1974")).written);
  auto operation = UPUploadOperation::make(1001, 4, std::nullopt, uploader_->uploadQueue(), storage_, uploader_,
                                           metrics_, application_);
  uploader_->uploadOperationQueue()->addOperation(operation);
  finish();
  EXPECT_TRUE(operation->uploadAttempted());
  EXPECT_EQ(storedEvents(1001), 1u);
  EXPECT_EQ(collector_.uploadCount(), 0u);
  EXPECT_EQ(takeCounts(), (ETLogSourceMetrics::Counts{{"1206", {{2, 1}}}}));
}

TEST_F(UploadTest, AnExpiringBackgroundTaskCancelsTheTransfer) {
  platform::LoopbackServer slow;
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  slow.on("POST", "/dummy/api/very/long", [&](const platform::RecordedRequest&) {
    std::unique_lock lock(mutex);
    released.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
    return LoopbackResponse{.status = 200};
  });
  TELEndpoints::setUploadBaseURL(1003, slow.baseURL());
  ASSERT_TRUE(store(makeEvent(1003, "7")).written);
  uploader_->uploadTarget(1003, 4);
  ASSERT_TRUE(slow.waitForRequests(1, std::chrono::seconds(20)));
  tasks_->expireAll();
  finish();  // returns without the reply: the transfer was cancelled
  EXPECT_EQ(storedEvents(1003), 1u);
  EXPECT_FALSE(uploader_->nextUploadTimeForTarget(1003));
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  released.notify_all();
  slow.stop();
}

}  // namespace
