#include "transport/upload/upload_operation.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "platform/foundation/error.h"
#include "transport/events/console.h"
#include "transport/events/metrics.h"
#include "transport/upload/coordinator.h"
#include "transport/upload/messages.h"

namespace {

platform::Error genericRejectedPromiseErrorWithReason(const std::string& reason) {
  return platform::Error(UPUploaderErrorDomain, -1,
                         {{platform::kErrorLocalizedFailureReasonKey, platform::PlistValue(reason)}});
}

int64_t saturatingAdd(int64_t a, int64_t b) {
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  return sum;
}

// A snapshot `millis` ahead of now; the sum stops at the ends of the range.
std::shared_ptr<ETClock> snapshotInTheFuture(int64_t millis) {
  auto clock = ETClock::snapshot();
  clock->timeMillis = saturatingAdd(clock->timeMillis, millis);
  return clock;
}

// A "Retry-After" value as a decimal number, whatever the process locale.
std::optional<double> parseDecimal(const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin < end && (*begin == ' ' || *begin == '\t')) ++begin;
  while (end > begin && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (begin < end && *begin == '+') ++begin;
  double value = 0;
  auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::fixed);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

int64_t saturatingMillisFromSeconds(double seconds) {
  const double millis = seconds * 1000.0;
  if (millis >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (millis <= -9.2e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(millis);
}

}  // namespace

// Rebuilds a 301/302 redirect for the operation's own target, so the new request keeps the
// body and the target's key.
class UPUploadOperation::SessionDelegate : public platform::URLSessionDelegate {
 public:
  explicit SessionDelegate(std::weak_ptr<UPUploadOperation> operation) : operation_(std::move(operation)) {}

  void willPerformHTTPRedirection(const std::shared_ptr<platform::URLSession>&,
                                  const std::shared_ptr<platform::URLSessionTask>& task,
                                  const platform::HTTPURLResponse& response, platform::URLRequest newRequest,
                                  std::function<void(std::optional<platform::URLRequest>)> completionHandler) override {
    auto operation = operation_.lock();
    if (operation && (response.statusCode == 301 || response.statusCode == 302)) {
      const auto& body = task->originalRequest().httpBody;
      completionHandler(operation->constructRequestWithURL(newRequest.url, operation->target(),
                                                           body ? *body : std::vector<uint8_t>{}));
      return;
    }
    completionHandler(std::move(newRequest));
  }

 private:
  std::weak_ptr<UPUploadOperation> operation_;
};

std::shared_ptr<UPUploadOperation> UPUploadOperation::make(
    long target, ETUploadConditions conditions, std::optional<std::string> uploadURL,
    std::shared_ptr<platform::DispatchQueue> queue, std::shared_ptr<ETStoragePromiseProtocol> storage,
    std::shared_ptr<UPUploadMetadataProvider> metadataProvider,
    std::shared_ptr<ETMetricsControllerProtocol> metricsController, std::shared_ptr<ETApplicationProtocol> application) {
  auto operation = std::make_shared<UPUploadOperation>();
  operation->target_ = target;
  operation->conditions_ = conditions;
  operation->uploadURL_ = std::move(uploadURL);
  operation->uploaderQueue_ = std::move(queue);
  operation->storage_ = std::move(storage);
  operation->metadataProvider_ = std::move(metadataProvider);
  operation->metricsController_ = std::move(metricsController);
  operation->application_ = std::move(application);
  return operation;
}

std::shared_ptr<UPUploadOperation> UPUploadOperation::self() {
  return std::static_pointer_cast<UPUploadOperation>(shared_from_this());
}

void UPUploadOperation::cancel() { platform::Operation::cancel(); }

std::string UPUploadOperation::userAgentForTarget(long target) {
  return "datatransport/0.0.1 " + UPShortNameForTarget(target) + "support/0.0.1 apple/";
}

// ---- Background task -------------------------------------------------------------------

void UPUploadOperation::beginBackgroundTask() {
  if (!application_) return;
  std::weak_ptr<UPUploadOperation> weak = self();
  const ETBackgroundIdentifier identifier =
      application_->beginBackgroundTaskWithName(UPBackgroundTaskName, [weak] {
        auto operation = weak.lock();
        if (!operation) return;
        if (operation->backgroundTask_.load() == ETBackgroundIdentifierInvalid) {
          ET_LOG(ETMCDefault, ETLogLevelWarning, "Attempted to cancel invalid background task in UPUploadOperation.");
          return;
        }
        std::shared_ptr<platform::URLSessionTask> task;
        {
          std::lock_guard lock(operation->taskMutex_);
          task = operation->currentTask_;
        }
        if (task) task->cancel();
        operation->endBackgroundTask();
      });
  backgroundTask_.store(identifier);
}

void UPUploadOperation::endBackgroundTask() {
  const ETBackgroundIdentifier identifier = backgroundTask_.exchange(ETBackgroundIdentifierInvalid);
  if (identifier != ETBackgroundIdentifierInvalid && application_) application_->endBackgroundTask(identifier);
}

// ---- The chain -------------------------------------------------------------------------

void UPUploadOperation::main() {
  ET_LOG_DEBUG("Upload operation started: %p", static_cast<void*>(this));
  beginBackgroundTask();
  auto me = self();
  const auto& queue = uploaderQueue_;
  PRMPromise::Ptr ready = readyToUploadTarget(target_, conditions_)
                              ? PRMPromise::resolvedWith(PRMObject::null())
                              : PRMPromise::resolvedWith(genericRejectedPromiseErrorWithReason(
                                    "Target " + std::to_string(target_) +
                                    " is not ready to upload with condition: " + std::to_string(conditions_)));
  // Each step checks what the one before it promised and starts the next piece of work, so
  // the chain takes one turn of the uploader queue per piece of work.
  auto validationFailure = [] { return platform::Error(PRMPromiseErrorDomain, PRMPromiseErrorCodeValidationFailure); };
  auto send = [me, validationFailure](const std::shared_ptr<ETUploadBatch>& batch) -> PRMObject {
    if (me->isCancelled()) return validationFailure();
    me->uploadAttempted_ = true;
    return me->uploadBatch(batch);
  };
  ready
      ->thenOn(queue,
               [me, queue, validationFailure](const PRMObject&) -> PRMObject {
                 if (me->isCancelled()) return validationFailure();
                 // The storage runs its operations in the order asked, so the question is asked
                 // with the removal: it is answered about the store with the old batches back in
                 // it, and the answer is there when the removal's continuation runs.
                 auto removed = me->storage_->removeAllBatchesForTarget(me->target_, false);
                 auto hasEvents = me->storage_->hasEventsForTarget(me->target_);
                 return removed->thenOn(queue, [hasEvents](const PRMObject&) -> PRMObject { return hasEvents; });
               })
      ->thenOn(queue,
               [me, validationFailure](const PRMObject& hasEvents) -> PRMObject {
                 const bool* value = hasEvents.get<bool>();
                 if (value == nullptr || !*value) return validationFailure();
                 const platform::Date expiration = platform::Date::now().addingTimeInterval(UPBatchExpirationSeconds);
                 return me->storage_->batchWithEventSelector(me->eventSelectorTarget(me->target_, me->conditions_),
                                                             expiration);
               })
      ->thenOn(queue,
               [me, send](const PRMObject& value) -> PRMObject {
                 const auto* batch = value.get<std::shared_ptr<ETUploadBatch>>();
                 if (batch == nullptr || !*batch) return genericRejectedPromiseErrorWithReason("No batch was made.");
                 if (!me->metricsController_) return send(*batch);
                 return me->batchByAddingMetricsEventToBatch(*batch)->thenOn(
                     me->uploaderQueue_, [send](const PRMObject& withMetrics) -> PRMObject {
                       return send(*withMetrics.get<std::shared_ptr<ETUploadBatch>>());
                     });
               })
      ->chainOnQueue(
          queue,
          [me](const PRMObject& value) -> PRMObject {
            me->finish();
            me->endBackgroundTask();
            return value;
          },
          [me](const platform::Error& error) -> PRMObject {
            me->finish();
            me->endBackgroundTask();
            return error;
          });
}

bool UPUploadOperation::readyToUploadTarget(long target, ETUploadConditions conditions) {
  if ((conditions & ETUploadConditionNoNetwork) != 0) {
    ET_LOG_DEBUG("Upload: Not ready to upload without a network connection.");
    return false;
  }
  if ((conditions & ETUploadConditionHighPriority) != 0) {
    ET_LOG_DEBUG("Upload: a high priority event is allowing an upload");
    return true;
  }
  auto next = metadataProvider_ ? metadataProvider_->nextUploadTimeForTarget(target) : nullptr;
  if (!next) return true;
  auto now = ETClock::snapshot();
  // A wait stored before a reboot or a clock step (another boot time) has passed.
  const bool ready = now->kernelBootTime() != next->kernelBootTime() || now->isAfter(*next);
  if (ready) {
    ET_LOG_DEBUG("Upload: can upload to target %ld because the request wait time has transpired", target);
  } else {
    ET_LOG_DEBUG("Upload: can't upload to target %ld because the backend asked to wait", target);
  }
  return ready;
}

std::shared_ptr<ETStorageEventSelector> UPUploadOperation::eventSelectorTarget(long target,
                                                                               ETUploadConditions conditions) const {
  if ((conditions & ETUploadConditionHighPriority) != 0) return ETStorageEventSelector::eventSelectorForTarget(target);
  std::set<long> tiers;
  if ((conditions & ETUploadConditionWifiData) != 0) tiers.insert({4, 5, 3, 1, 0});
  if ((conditions & ETUploadConditionMobileData) != 0) tiers.insert({4, 3});
  return std::make_shared<ETStorageEventSelector>(target, std::nullopt, std::nullopt, tiers);
}

PRMPromise::Ptr UPUploadOperation::batchByAddingMetricsEventToBatch(const std::shared_ptr<ETUploadBatch>& batch) {
  auto me = self();
  return metricsController_->getAndResetMetrics()
      ->thenOn(uploaderQueue_,
               [me, batch](const PRMObject& value) -> PRMObject {
                 const auto* metrics = value.get<std::shared_ptr<ETMetrics>>();
                 if (metrics == nullptr || !*metrics) return batch;
                 auto event = ETEventWithMetrics(*metrics, me->target_);
                 if (!event) {
                   // Nothing is sent for counts that could not be encoded; they go back for
                   // the next upload.
                   ET_LOG_ERROR(ETMCEncoderSize, "The client metrics were not sent: they could not be encoded");
                   me->metricsController_->offerMetrics(*metrics);
                   return batch;
                 }
                 me->currentMetrics_ = *metrics;
                 ETEventSet events = batch->events;
                 events.insert(event);
                 return std::make_shared<ETUploadBatch>(batch->batchID, std::move(events));
               })
      ->recoverOn(uploaderQueue_, [batch](const platform::Error&) -> PRMObject { return batch; });
}

void UPUploadOperation::offerMetricsBack() {
  if (currentMetrics_ && metricsController_) metricsController_->offerMetrics(currentMetrics_);
}

PRMPromise::Ptr UPUploadOperation::uploadBatch(const std::shared_ptr<ETUploadBatch>& batch) {
  auto me = self();
  return sendURLRequestWithBatch(batch)->chainOnQueue(
      uploaderQueue_,
      [me, batch](const PRMObject& value) -> PRMObject {
        const auto& [response, body] = *value.get<std::pair<platform::HTTPURLResponse, std::vector<uint8_t>>>();
        me->updateNextUploadTimeWithResponse(response, body, me->target_);
        return me->processResponse(response.statusCode, batch);
      },
      [me, batch](const platform::Error&) -> PRMObject {
        me->offerMetricsBack();
        return me->storage_->removeBatchWithID(batch->batchID, false);
      });
}

PRMPromise::Ptr UPUploadOperation::sendURLRequestWithBatch(const std::shared_ptr<ETUploadBatch>& batch) {
  auto me = self();
  return PRMPromise::asyncOn(uploaderQueue_, [me, batch](PRMPromise::FulfillBlock fulfill,
                                                         PRMPromise::RejectBlock reject) {
    std::vector<uint8_t> data = UPConstructRequestProtoWithEvents(batch->events);
    if (auto gzipped = UPCompressionHelper::gzippedData(data); gzipped && gzipped->size() < data.size()) {
      data = std::move(*gzipped);
    }
    std::optional<platform::URLRequest> request;
    if (me->uploadURL_) request = me->constructRequestWithURL(*me->uploadURL_, me->target_, data);
    if (!request) {
      // Nothing to send is a failed send: the events go back to storage.
      reject(genericRejectedPromiseErrorWithReason("No request could be built."));
      return;
    }
    ET_LOG_DEBUG("CTT: request containing %zu events for batch: %lld for target: %ld created: %s",
                 batch->events.size(), static_cast<long long>(batch->batchID), me->target_, request->url.c_str());
    if (!me->uploaderSession_) {
      me->uploaderSession_ = platform::URLSession::make(platform::URLSessionConfiguration::defaultSessionConfiguration(),
                                                        std::make_shared<SessionDelegate>(me));
    }
    auto session = me->uploaderSession_;
    auto task = session->dataTask(
        *request, [session, fulfill, reject](std::optional<std::vector<uint8_t>> body,
                                             std::optional<platform::HTTPURLResponse> response,
                                             std::optional<platform::Error> error) {
          session->finishTasksAndInvalidate();
          if (error || !response) {
            reject(error ? *error : platform::makeURLError(platform::kURLErrorUnknown, ""));
            return;
          }
          fulfill(std::make_pair(*response, body.value_or(std::vector<uint8_t>{})));
        });
    if (!task) {
      reject(genericRejectedPromiseErrorWithReason("The session is invalidated."));
      return;
    }
    {
      std::lock_guard lock(me->taskMutex_);
      me->currentTask_ = task;
    }
    task->resume();
  });
}

std::optional<platform::URLRequest> UPUploadOperation::constructRequestWithURL(const std::string& url, long target,
                                                                              const std::vector<uint8_t>& data) {
  if (data.empty()) {
    ET_LOG_DEBUG("There was no data to construct a request for target %ld.", target);
    return std::nullopt;
  }
  platform::URLRequest request(url);
  if (auto key = metadataProvider_ ? metadataProvider_->APIKeyForTarget(target) : std::nullopt) {
    request.setValue(*key, "X-Zideza-Api-Key");
  }
  if (UPCompressionHelper::isGzipped(data)) request.setValue("gzip", "Content-Encoding");
  request.setValue("application/x-protobuf", "Content-Type");
  request.setValue("gzip", "Accept-Encoding");
  request.setValue(userAgentForTarget(target), "User-Agent");
  request.httpMethod = "POST";
  request.httpBody = data;
  return request;
}

void UPUploadOperation::updateNextUploadTimeWithResponse(const platform::HTTPURLResponse& response,
                                                         const std::vector<uint8_t>& body, long target) {
  std::shared_ptr<ETClock> next;
  if (!body.empty()) {
    platform::Error error;
    auto decoded = UPDecodeLogReply(body, &error);
    if (!decoded) {
      ET_LOG_DEBUG("There was a response decoding error: %s", error.localizedDescription().c_str());
    } else if (decoded->nextRequestWaitMillis) {
      ET_LOG_DEBUG("Upload: The backend responded asking to not upload for %lld millis from now.",
                   static_cast<long long>(*decoded->nextRequestWaitMillis));
      next = snapshotInTheFuture(*decoded->nextRequestWaitMillis);
    }
  }
  if (!next) {
    if (auto retryAfter = response.valueForHTTPHeaderField("Retry-After"); retryAfter && !retryAfter->empty()) {
      if (auto seconds = parseDecimal(*retryAfter)) next = snapshotInTheFuture(saturatingMillisFromSeconds(*seconds));
    }
  }
  if (!next) {
    ET_LOG_DEBUG("Upload: The backend response failed to parse, so the next request won't occur until 15 minutes from now");
    next = snapshotInTheFuture(UPDefaultWaitMillis);
  }
  if (metadataProvider_) metadataProvider_->setNextUploadTime(next, target);
}

PRMPromise::Ptr UPUploadOperation::processResponse(long status, const std::shared_ptr<ETUploadBatch>& batch) {
  const bool success = status >= 200 && status <= 299;
  if (!success) offerMetricsBack();
  bool deleteEvents = true;
  if (success) {
    ET_LOG_DEBUG("Upload: batch %lld uploaded. Batch will be deleted.", static_cast<long long>(batch->batchID));
  } else if (status == 404 || status == 429 || (status >= 500 && status <= 599)) {
    ET_LOG_DEBUG("Upload: batch %lld upload failed. Batch will attempt to be uploaded later.",
                 static_cast<long long>(batch->batchID));
    deleteEvents = false;
  } else {
    ET_LOG_DEBUG("Upload: batch %lld upload failed. Batch will be deleted.", static_cast<long long>(batch->batchID));
    if (status == 400 && metricsController_) metricsController_->logEventsDroppedForReason(5, batch->events);
  }
  return storage_->removeBatchWithID(batch->batchID, deleteEvents);
}
