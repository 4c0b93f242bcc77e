// Fixture of the upload tests: a real flat-file storage in a temporary root, a registrar
// with the uploader and the metrics controller, and the loopback collector as every
// target's host.
#pragma once

#include <pb_decode.h>

#include "client_metrics.pb.h"
#include "sdk-core/core/endpoints.h"
#include "transport/upload/testing/log_collector.h"
#include "transport/events/metrics.h"
#include "transport/events/registrar.h"
#include "transport/events/tests/transport_test_support.h"
#include "transport/upload/coordinator.h"
#include "transport/upload/upload_operation.h"
#include "transport/upload/uploader.h"

class UploadTest : public et_testing::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    ETRegisterMetricsArchiveClasses();
    for (int target = 1000; target <= 1003; ++target) TELEndpoints::setUploadBaseURL(target, collector_.baseURL());
    registrar_ = std::make_shared<ETRegistrar>();
    uploader_ = UPUploader::make(registrar_, application_);
    metrics_ = ETMetricsController::make(storage_);
    for (long target = 1000; target <= 1003; ++target) {
      registrar_->registerUploader(uploader_, target);
      registrar_->registerStorage(storage_, target);
    }
    registrar_->registerMetricsController(metrics_, 1002);
    registrar_->registerMetricsController(metrics_, 1001);
  }
  void TearDown() override {
    uploader_->uploadOperationQueue()->waitUntilAllOperationsAreFinished();
    TransportTest::TearDown();
  }

  // One request of the coordinator, run to its end.
  void upload(long target, ETUploadConditions conditions) {
    uploader_->uploadTarget(target, conditions);
    finish();
  }
  void finish() {
    uploader_->uploadOperationQueue()->waitUntilAllOperationsAreFinished();
    drain();
  }

  size_t storedEvents(long target) { return namesIn(eventDirectory(target)).size(); }

  // Milliseconds from now to the target's next upload time; std::nullopt when none is set.
  std::optional<int64_t> waitMillis(long target) {
    auto next = uploader_->nextUploadTimeForTarget(target);
    if (!next) return std::nullopt;
    return next->timeMillis - ETClock::snapshot()->timeMillis;
  }

  // Stored metrics counts: log source → reason → count (opens a new window).
  ETLogSourceMetrics::Counts takeCounts() {
    platform::Error error;
    auto value = PRMPromiseAwait(metrics_->getAndResetMetrics(), &error);
    const auto* metrics = value.get<std::shared_ptr<ETMetrics>>();
    return metrics && *metrics ? (*metrics)->logSourceMetrics->droppedEventCounterByLogSource()
                               : ETLogSourceMetrics::Counts{};
  }

  LoopbackLogCollector collector_;
  std::shared_ptr<ETRegistrar> registrar_;
  std::shared_ptr<UPUploader> uploader_;
  std::shared_ptr<ETMetricsController> metrics_;
};

// The ClientMetrics in a metrics event's payload: log source → reason → count.
inline std::map<std::string, std::map<int, int64_t>> decodeClientMetrics(const std::vector<uint8_t>& bytes,
                                                                         int64_t* startMs = nullptr) {
  ClientMetrics message = ClientMetrics_init_zero;
  pb_istream_t stream = pb_istream_from_buffer(bytes.data(), bytes.size());
  std::map<std::string, std::map<int, int64_t>> counts;
  if (pb_decode(&stream, ClientMetrics_fields, &message)) {
    if (startMs != nullptr) *startMs = message.window.start_ms;
    for (pb_size_t i = 0; i < message.log_sources_count; ++i) {
      const auto& source = message.log_sources[i];
      std::string name(reinterpret_cast<const char*>(source.log_source->bytes), source.log_source->size);
      for (pb_size_t j = 0; j < source.drops_count; ++j) counts[name][source.drops[j].reason] += source.drops[j].count;
    }
  }
  pb_release(ClientMetrics_fields, &message);
  return counts;
}
