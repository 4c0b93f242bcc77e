#include "transport/upload/uploader.h"

#include <cstring>
#include <mutex>

#include "platform/process_state/process_state.h"
#include "sdk-core/core/endpoints.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"
#include "transport/upload/upload_operation.h"

// The pieces of the upload key, from the build (BRIVEL_UPLOAD_API_KEY).
#ifndef UP_API_KEY_PART1
#error "UP_API_KEY_PART1 to UP_API_KEY_PART3 come from the build"
#endif

std::string UPShortNameForTarget(long target) {
  switch (target) {
    case 1000: return "gen";
    case 1001: return "fll";
    case 1002: return "csh";
    case 1003: return "int";
    default: return "unknown";
  }
}

std::optional<std::string> ETEndpoints::uploadURLForTarget(long target) {
  const char* path = nullptr;
  switch (target) {
    case 1000: path = "/v0/log/batch"; break;
    case 1001:
    case 1002: path = "/v1/tellog/legacy/batchlog"; break;
    case 1003: path = "/dummy/api/very/long"; break;
    default: return std::nullopt;
  }
  auto base = TELEndpoints::uploadBaseURLForTarget(static_cast<int>(target));
  if (!base) return std::nullopt;
  return *base + path;
}

UPUploader::UPUploader(std::shared_ptr<ETRegistrar> registrar, std::shared_ptr<ETApplicationProtocol> application)
    : registrar_(std::move(registrar)),
      application_(std::move(application)),
      operationQueue_(platform::OperationQueue::make("UPUploader operations")),
      uploadQueue_(platform::DispatchQueue::makeSerial("ziz.ozudor.UPUploader")) {
  operationQueue_->setMaxConcurrentOperationCount(1);
}

std::shared_ptr<UPUploader> UPUploader::make(std::shared_ptr<ETRegistrar> registrar,
                                             std::shared_ptr<ETApplicationProtocol> application) {
  return std::make_shared<UPUploader>(std::move(registrar), std::move(application));
}

std::shared_ptr<UPUploader> UPUploader::sharedInstance() {
  static auto* uploader = new platform::ProcessValue<std::shared_ptr<UPUploader>>();
  return uploader->getOrMake([] { return make(ETRegistrar::sharedInstance()); });
}

void UPUploader::load(const std::shared_ptr<ETRegistrar>& registrar) {
  for (long target : {1000L, 1001L, 1002L, 1003L}) registrar->registerUploader(sharedInstance(), target);
}

std::string UPUploader::FLLAndCSHAndINTAPIKey() {
  static const std::string key = [] {
    static constexpr const char* kPieces[] = {UP_API_KEY_PART1, UP_API_KEY_PART2, UP_API_KEY_PART3};
    char buffer[40] = {};
    size_t used = 0;
    for (const char* piece : kPieces) {
      const size_t length = std::strlen(piece);
      if (used + length > sizeof(buffer) - 1) break;
      std::memcpy(buffer + used, piece, length);
      used += length;
    }
    return std::string(buffer, used);
  }();
  return key;
}

std::optional<std::string> UPUploader::APIKeyForTarget(long target) {
  if (target == 1001 || target == 1002 || target == 1003) return FLLAndCSHAndINTAPIKey();
  return std::nullopt;
}

std::shared_ptr<ETClock> UPUploader::nextUploadTimeForTarget(long target) {
  std::lock_guard lock(timesMutex_);
  auto found = nextUploadTimeByTarget_.find(target);
  return found == nextUploadTimeByTarget_.end() ? nullptr : found->second;
}

void UPUploader::setNextUploadTime(std::shared_ptr<ETClock> time, long target) {
  std::lock_guard lock(timesMutex_);
  if (time) {
    nextUploadTimeByTarget_[target] = std::move(time);
  } else {
    nextUploadTimeByTarget_.erase(target);
  }
}

void UPUploader::uploadTarget(long target, ETUploadConditions conditions) {
  auto registrar = registrar_.lock();
  auto storage = registrar ? registrar->storageForTarget(target) : nullptr;
  if (!storage) {
    ET_LOG_ERROR(ETMCGeneral, "Failed to upload target: %ld - could not find corresponding storage instance.", target);
    return;
  }
  std::shared_ptr<ETMetricsControllerProtocol> metricsController;
  const auto controllers = registrar->targetToMetricsController();
  if (auto found = controllers.find(target); found != controllers.end()) metricsController = found->second;

  auto application = application_ ? application_ : std::shared_ptr<ETApplicationProtocol>(ETApplication::sharedApplication());
  auto operation = UPUploadOperation::make(target, conditions, serverURLForTarget(target), uploadQueue_, storage,
                                           shared_from_this(), metricsController, application);
  ET_LOG_DEBUG("Upload operation created: %p, target: %ld", static_cast<void*>(operation.get()), target);
  std::weak_ptr<UPUploader> weakSelf = shared_from_this();
  std::weak_ptr<UPUploadOperation> weakOperation = operation;
  operation->setCompletionBlock([weakSelf, weakOperation] {
    auto self = weakSelf.lock();
    auto finished = weakOperation.lock();
    if (!self || !finished) {
      ET_LOG_DEBUG("Internal inconsistency: UPUploader was deallocated during upload.");
      return;
    }
    ET_LOG_DEBUG("Upload operation finished: %p, uploadAttempted: %d", static_cast<void*>(finished.get()),
                 finished->uploadAttempted() ? 1 : 0);
    if (finished->uploadAttempted()) self->operationQueue_->cancelAllOperations();
  });
  operationQueue_->addOperation(operation);
  ET_LOG_DEBUG("Upload operation scheduled: %p, operation count: %zu", static_cast<void*>(operation.get()),
               operationQueue_->operationCount());
}
