#include "transport/events/transport.h"

#include "platform/process_state/process_state.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"

namespace {
constexpr const char* kTransformerTaskName = "ETTransformer";
}  // namespace

// ---- ETTransformer --------------------------------------------------------------------

std::shared_ptr<ETTransformer> ETTransformer::sharedInstance() {
  static auto* transformer = new platform::ProcessValue<std::shared_ptr<ETTransformer>>();
  return transformer->getOrMake([] { return std::make_shared<ETTransformer>(); });
}

ETTransformer::ETTransformer(std::shared_ptr<ETApplicationProtocol> application, std::shared_ptr<ETRegistrar> registrar)
    : queue_(platform::DispatchQueue::makeSerial("rar.izired.AVIREVUzeduzivure")),
      application_(application ? std::move(application) : ETApplication::sharedApplication()),
      registrar_(registrar ? std::move(registrar) : ETRegistrar::sharedInstance()) {}

void ETTransformer::transformEvent(const std::shared_ptr<ETEvent>& event, const ETTransformers& transformers,
                                   ETStoreCompletion onComplete) {
  ET_ASSERT(event != nullptr, "You can't write a nil event");

  auto task = ETBackgroundTask::begin(application_, kTransformerTaskName);
  ETStoreCompletion completion = [onComplete = std::move(onComplete), task](
                                     bool wasWritten, const std::optional<platform::Error>& error) {
    if (onComplete) onComplete(wasWritten, error);
    if (!task->end()) {
      ET_LOG(ETMCDefault, ETLogLevelWarning, "Attempted to cancel invalid background task in ETTransformer.");
    }
  };

  queue_->async([event, transformers, completion = std::move(completion), registrar = registrar_] {
    std::shared_ptr<ETEvent> working = event;
    for (const auto& transformer : transformers) {
      if (!transformer) {
        ET_LOG_ERROR(ETMCTransformerDoesntImplementTransform, "Transformer doesn't implement transformETEvent: %p",
                     static_cast<void*>(transformer.get()));
        completion(false, std::nullopt);
        return;
      }
      ET_LOG_DEBUG("Applying a transformer to event %s", working ? working->description().c_str() : "(null)");
      working = transformer->transformETEvent(working);
      if (!working) {
        completion(false, std::nullopt);
        return;
      }
    }
    const long target = event ? event->target() : 0;
    auto storage = registrar->storageForTarget(target);
    if (!storage || !working) {
      // Nothing would ever call the completion: say so instead of leaving the caller waiting.
      char reason[64];
      std::snprintf(reason, sizeof reason, "No storage registered for target %ld", target);
      completion(false, platform::Error(ETTransformerErrorDomain, -1,
                                        {{platform::kErrorLocalizedFailureReasonKey,
                                          platform::PlistValue(std::string(reason))}}));
      return;
    }
    storage->storeEvent(working, completion);
  });
}

// ---- ETTransport ----------------------------------------------------------------------

std::shared_ptr<ETTransport> ETTransport::make(const std::string& mappingID, ETTransformers transformers, long target,
                                               std::shared_ptr<ETTransformer> transformer) {
  if (mappingID.empty()) {
    ET_ASSERT(false, "A mapping ID cannot be nil or empty");
    return nullptr;
  }
  if (target < 1) {
    ET_ASSERT(false, "A target cannot be negative or 0");
    return nullptr;
  }
  std::shared_ptr<ETTransport> transport(new ETTransport());
  transport->mappingID_ = mappingID;
  transport->transformers_ = std::move(transformers);
  transport->target_ = target;
  transport->transformer_ = transformer ? std::move(transformer) : ETTransformer::sharedInstance();
  ET_LOG_DEBUG("Transport object created. mappingID:%s transformers:%zu target:%ld", mappingID.c_str(),
               transport->transformers_.size(), target);
  return transport;
}

std::shared_ptr<ETEvent> ETTransport::eventForTransport() const {
  return ETEvent::initWithMappingID(mappingID_, nullptr, target_);
}

std::shared_ptr<ETEvent> ETTransport::eventForTransportWithProductData(std::shared_ptr<ETProductData> productData) const {
  return ETEvent::initWithMappingID(mappingID_, std::move(productData), target_);
}

void ETTransport::sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) {
  ET_ASSERT(!event || event->qosTier() != 1, "Use -sendTelemetryEvent, please.");
  sendEvent(event, std::move(onComplete));
}

void ETTransport::sendTelemetryEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) {
  if (event) event->setQosTier(1);
  sendEvent(event, std::move(onComplete));
}

void ETTransport::sendEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) {
  ET_ASSERT(event != nullptr, "You can't send a nil event");
  std::shared_ptr<ETEvent> copy = event ? event->copy() : nullptr;
  if (copy) copy->setClockSnapshot(ETClock::snapshot());
  transformer_->transformEvent(copy, transformers_, std::move(onComplete));
}
