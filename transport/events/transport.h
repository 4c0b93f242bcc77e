// ETTransport, the sending interface a client holds for one log source and target, and
// ETTransformer, which takes sent events to storage.
//
// Sending copies the client's event on the caller's thread, stamps the copy with a clock
// snapshot and hands it to the shared transformer. On its serial queue
// "rar.izired.AVIREVUzeduzivure", under a background task named "ETTransformer", the
// transformer runs the transport's transformers in order and gives the result to the storage
// registered for the event's target. The completion (wasWritten, error) is called once, on a
// queue of the transport: (YES, none) when the event file was written, (NO, the storage's
// error) when the storage refused or failed, (NO, none) when a transformer dropped the
// event, and (NO, error "ETTransformer" -1) when no storage serves the target. The
// background task is ended with the completion.
//
//   auto transport = ETTransport::make("1206", {}, 1002);
//   auto event = transport->eventForTransport();
//   event->setDataObject(payload);
//   transport->sendDataEvent(event, [](bool written, const std::optional<platform::Error>& error) {});
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "transport/events/event.h"
#include "transport/events/protocols.h"

class ETRegistrar;

// Changes an event on its way to storage; none drops it.
class ETEventTransformer {
 public:
  virtual ~ETEventTransformer() = default;
  virtual std::shared_ptr<ETEvent> transformETEvent(const std::shared_ptr<ETEvent>& event) = 0;
};
// A null entry stands for an object that does not transform: it stops the event with an
// error line (code 1000).
using ETTransformers = std::vector<std::shared_ptr<ETEventTransformer>>;

inline constexpr const char* ETTransformerErrorDomain = "ETTransformer";

class ETTransformer : public ETLifecycleProtocol {
 public:
  static std::shared_ptr<ETTransformer> sharedInstance();
  // With the shared application and registrar by default.
  explicit ETTransformer(std::shared_ptr<ETApplicationProtocol> application = nullptr,
                         std::shared_ptr<ETRegistrar> registrar = nullptr);

  void transformEvent(const std::shared_ptr<ETEvent>& event, const ETTransformers& transformers,
                      ETStoreCompletion onComplete);

  const std::shared_ptr<platform::DispatchQueue>& eventWritingQueue() const { return queue_; }
  void setEventWritingQueue(std::shared_ptr<platform::DispatchQueue> queue) { queue_ = std::move(queue); }
  const std::shared_ptr<ETApplicationProtocol>& application() const { return application_; }

 private:
  std::shared_ptr<platform::DispatchQueue> queue_;
  std::shared_ptr<ETApplicationProtocol> application_;
  std::shared_ptr<ETRegistrar> registrar_;
};

class ETTransport {
 public:
  // nullptr, after the assertion "A mapping ID cannot be nil or empty" or "A target cannot be
  // negative or 0", for an empty mapping ID or a target below 1. The transformer defaults to
  // the shared one.
  static std::shared_ptr<ETTransport> make(const std::string& mappingID, ETTransformers transformers, long target,
                                           std::shared_ptr<ETTransformer> transformer = nullptr);

  std::shared_ptr<ETEvent> eventForTransport() const;
  std::shared_ptr<ETEvent> eventForTransportWithProductData(std::shared_ptr<ETProductData> productData) const;

  // A tier-1 event is sent after the assertion "Use -sendTelemetryEvent, please.".
  void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete = nullptr);
  // Sets the event's tier to 1, then sends it.
  void sendTelemetryEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete = nullptr);

  const std::string& mappingID() const { return mappingID_; }
  void setMappingID(std::string mappingID) { mappingID_ = std::move(mappingID); }
  const ETTransformers& transformers() const { return transformers_; }
  void setTransformers(ETTransformers transformers) { transformers_ = std::move(transformers); }
  long target() const { return target_; }
  void setTarget(long target) { target_ = target; }
  const std::shared_ptr<ETTransformer>& transformerInstance() const { return transformer_; }
  void setTransformerInstance(std::shared_ptr<ETTransformer> transformer) { transformer_ = std::move(transformer); }

 private:
  ETTransport() = default;
  void sendEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete);

  std::string mappingID_;
  ETTransformers transformers_;
  long target_ = 0;
  std::shared_ptr<ETTransformer> transformer_;
};
