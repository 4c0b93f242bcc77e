// UPUploadOperation: one upload attempt for one target. It checks that the target may
// upload now, returns batches left from an earlier attempt, takes a batch of the events the
// conditions allow, adds the client-metrics event when the target has a metrics controller,
// posts the batch as one (gzip when shorter) protobuf request, stores the collector's wish
// for the next upload time, and then deletes the batch or returns its events.
//
// Statuses: 2xx deletes; 404, 429 and 5xx return the events; 400 deletes and counts every
// event as dropped (reason 5); any other deletes. No reply (or nothing to send) returns the
// events and offers the metrics back. The next-upload time follows the reply's
// next_request_wait_ms, else "Retry-After" seconds, else 15 minutes; forced uploads
// (condition 16) ignore it.
//
// A background task "UPUploader-upload" covers the attempt; when it expires the running
// transfer is cancelled. Steps after the readiness check run on the uploader's queue.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/operation_queue.h"
#include "platform/net/url_request.h"
#include "platform/net/url_session.h"
#include "transport/events/protocols.h"
#include "transport/upload/uploader.h"

class ETMetrics;

inline constexpr const char* UPUploaderErrorDomain = "UPUploader";
inline constexpr const char* UPBackgroundTaskName = "UPUploader-upload";
inline constexpr int64_t UPDefaultWaitMillis = 900000;
inline constexpr double UPBatchExpirationSeconds = 600;

class UPUploadOperation : public platform::Operation {
 public:
  static std::shared_ptr<UPUploadOperation> make(long target, ETUploadConditions conditions,
                                                 std::optional<std::string> uploadURL,
                                                 std::shared_ptr<platform::DispatchQueue> queue,
                                                 std::shared_ptr<ETStoragePromiseProtocol> storage,
                                                 std::shared_ptr<UPUploadMetadataProvider> metadataProvider,
                                                 std::shared_ptr<ETMetricsControllerProtocol> metricsController,
                                                 std::shared_ptr<ETApplicationProtocol> application);

  bool isAsynchronous() const override { return true; }
  void cancel() override;
  bool uploadAttempted() const { return uploadAttempted_.load(); }
  long target() const { return target_; }

  // Whether the target may upload under `conditions` now.
  bool readyToUploadTarget(long target, ETUploadConditions conditions);
  std::shared_ptr<ETStorageEventSelector> eventSelectorTarget(long target, ETUploadConditions conditions) const;
  // The request, or std::nullopt for empty data.
  std::optional<platform::URLRequest> constructRequestWithURL(const std::string& url, long target,
                                                              const std::vector<uint8_t>& data);
  void updateNextUploadTimeWithResponse(const platform::HTTPURLResponse& response, const std::vector<uint8_t>& body,
                                        long target);
  static std::string userAgentForTarget(long target);

  // Public only for std::make_shared.
  UPUploadOperation() = default;

 protected:
  void main() override;

 private:
  class SessionDelegate;

  void beginBackgroundTask();
  void endBackgroundTask();
  PRMPromise::Ptr batchByAddingMetricsEventToBatch(const std::shared_ptr<ETUploadBatch>& batch);
  PRMPromise::Ptr uploadBatch(const std::shared_ptr<ETUploadBatch>& batch);
  PRMPromise::Ptr sendURLRequestWithBatch(const std::shared_ptr<ETUploadBatch>& batch);
  PRMPromise::Ptr processResponse(long status, const std::shared_ptr<ETUploadBatch>& batch);
  void offerMetricsBack();
  std::shared_ptr<UPUploadOperation> self();

  long target_ = 0;
  ETUploadConditions conditions_ = 0;
  std::optional<std::string> uploadURL_;
  std::shared_ptr<platform::DispatchQueue> uploaderQueue_;
  std::shared_ptr<ETStoragePromiseProtocol> storage_;
  std::shared_ptr<UPUploadMetadataProvider> metadataProvider_;
  std::shared_ptr<ETMetricsControllerProtocol> metricsController_;
  std::shared_ptr<ETApplicationProtocol> application_;
  std::atomic<bool> uploadAttempted_{false};
  std::atomic<ETBackgroundIdentifier> backgroundTask_{ETBackgroundIdentifierInvalid};

  std::mutex taskMutex_;
  std::shared_ptr<platform::URLSessionTask> currentTask_;
  std::shared_ptr<platform::URLSession> uploaderSession_;
  std::shared_ptr<ETMetrics> currentMetrics_;  // on the uploader's queue
};
