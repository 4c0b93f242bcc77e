#include <gtest/gtest.h>

#include "transport/upload/tests/upload_fixture.h"

namespace {

using Counts = ETLogSourceMetrics::Counts;

TEST(LogSourceMetricsTest, CountsAndMerges) {
  auto expiredA = ETEvent::initWithMappingID("1974", 1001);
  auto expiredB = ETEvent::initWithMappingID("1974", 1001);
  auto refused = ETEvent::initWithMappingID("1206", 1002);
  auto counts = ETLogSourceMetrics::metricsWithEvents({expiredA, expiredB}, 1)
                    ->logSourceMetricsByMergingWithLogSourceMetrics(*ETLogSourceMetrics::metricsWithEvents({refused}, 2));
  EXPECT_EQ(counts->droppedEventCounterByLogSource(), (Counts{{"1974", {{1, 2}}}, {"1206", {{2, 1}}}}));

  ETLogSourceMetrics left(Counts{{"1206", {{2, 1}}}});
  ETLogSourceMetrics right(Counts{{"1206", {{2, 3}, {5, 1}}}, {"1974", {{1, 1}}}});
  EXPECT_EQ(left.logSourceMetricsByMergingWithLogSourceMetrics(right)->droppedEventCounterByLogSource(),
            (Counts{{"1206", {{2, 4}, {5, 1}}}, {"1974", {{1, 1}}}}));
}

TEST(MetricsEncodingTest, WholeSecondStartsAndUnknownReasonsAsZero) {
  ETMetrics metrics(platform::Date::fromTimeIntervalSince1970(1700000000.9),
                    platform::Date::fromTimeIntervalSince1970(1700000100.2),
                    std::make_shared<ETLogSourceMetrics>(Counts{{"1206", {{7, 3}, {5, 1}}}}), 10, 20000000, "app.id");
  auto bytes = metrics.transportBytes();
  ASSERT_TRUE(bytes && !bytes->empty());
  int64_t startMs = 0;
  EXPECT_EQ(decodeClientMetrics(*bytes, &startMs), (std::map<std::string, std::map<int, int64_t>>{{"1206", {{0, 3}, {5, 1}}}}));
  EXPECT_EQ(startMs, 1700000000000);
}

class MetricsControllerTest : public UploadTest {};

TEST_F(MetricsControllerTest, TheFirstTakeRejectsThenWindowsResetAndFailedOnesComeBack) {
  platform::Error error;
  PRMPromiseAwait(metrics_->getAndResetMetrics(), &error);
  EXPECT_FALSE(error.domain.empty());  // nothing stored yet

  auto event = makeEvent(1001, "1974");
  metrics_->storageDidRemoveExpiredEvents(*storage_, {event});
  metrics_->storageDidDropEvent(*storage_, makeEvent(1002, "1206"));
  drain();
  auto taken = PRMPromiseAwait(metrics_->getAndResetMetrics());
  auto metrics = *taken.get<std::shared_ptr<ETMetrics>>();
  EXPECT_EQ(metrics->logSourceMetrics->droppedEventCounterByLogSource(), (Counts{{"1974", {{1, 1}}}, {"1206", {{2, 1}}}}));
  EXPECT_EQ(metrics->maxCacheSize, ETFlatFileStorage::kMaxStorageSizeBytes);
  EXPECT_TRUE(takeCounts().empty());

  // Offered back, they merge with what was counted since and keep the earlier start.
  metrics_->storageDidDropEvent(*storage_, makeEvent(1002, "1206"));
  PRMPromiseAwait(metrics_->offerMetrics(metrics));
  taken = PRMPromiseAwait(metrics_->getAndResetMetrics());
  auto merged = *taken.get<std::shared_ptr<ETMetrics>>();
  EXPECT_EQ(merged->logSourceMetrics->droppedEventCounterByLogSource(), (Counts{{"1974", {{1, 1}}}, {"1206", {{2, 2}}}}));
  EXPECT_EQ(merged->collectionStartDate, metrics->collectionStartDate);

  // Metrics that started after the stored window change nothing.
  ETMetrics later(platform::Date::now().addingTimeInterval(3600), platform::Date::now().addingTimeInterval(3700),
                  std::make_shared<ETLogSourceMetrics>(Counts{{"9", {{1, 9}}}}), 0, 0, "");
  PRMPromiseAwait(metrics_->offerMetrics(std::make_shared<ETMetrics>(later)));
  EXPECT_TRUE(takeCounts().empty());
}

}  // namespace
