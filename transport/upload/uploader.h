// UPUploader: the transport's one uploader, registered for targets 1000 to 1003. Each
// request of the upload coordinator becomes one UPUploadOperation on a queue that runs one
// operation at a time; once an operation has really sent a request, the rest of the queue is
// cancelled (the other targets go at the next tick). The uploader is the operations'
// metadata provider: the earliest next-upload time of each target (in memory only) and
// the API key of targets 1001 to 1003.
//
// ETEndpoints: the upload URL of each target, the host from the SDK's endpoint table and a
// fixed path.
//
// Threads: uploadTarget runs on the coordinator's queue; operations' steps run on the serial
// queue "ziz.ozudor.UPUploader"; the next-upload times are guarded by a lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "transport/events/protocols.h"

class ETRegistrar;

class UPUploadMetadataProvider {
 public:
  virtual ~UPUploadMetadataProvider() = default;
  virtual std::shared_ptr<ETClock> nextUploadTimeForTarget(long target) = 0;
  // nullptr removes.
  virtual void setNextUploadTime(std::shared_ptr<ETClock> time, long target) = 0;
  virtual std::optional<std::string> APIKeyForTarget(long target) = 0;
};

struct ETEndpoints {
  // The upload URL of targets 1000 to 1003; std::nullopt for any other target.
  static std::optional<std::string> uploadURLForTarget(long target);
};

// "gen", "fll", "csh", "int", else "unknown".
std::string UPShortNameForTarget(long target);

class UPUploader : public ETUploader,
                   public UPUploadMetadataProvider,
                   public std::enable_shared_from_this<UPUploader> {
 public:
  static std::shared_ptr<UPUploader> sharedInstance();
  // Registers the shared uploader for 1000, 1001, 1002 and 1003, in that order.
  static void load(const std::shared_ptr<ETRegistrar>& registrar);
  // An uploader over `registrar`, whose operations begin background tasks with `application`
  // (none: the shared application).
  static std::shared_ptr<UPUploader> make(std::shared_ptr<ETRegistrar> registrar,
                                          std::shared_ptr<ETApplicationProtocol> application = nullptr);

  void uploadTarget(long target, ETUploadConditions conditions) override;

  static std::optional<std::string> serverURLForTarget(long target) { return ETEndpoints::uploadURLForTarget(target); }
  // The 39-character key of targets 1001 to 1003, assembled once.
  static std::string FLLAndCSHAndINTAPIKey();

  std::shared_ptr<ETClock> nextUploadTimeForTarget(long target) override;
  void setNextUploadTime(std::shared_ptr<ETClock> time, long target) override;
  std::optional<std::string> APIKeyForTarget(long target) override;

  const std::shared_ptr<platform::OperationQueue>& uploadOperationQueue() const { return operationQueue_; }
  const std::shared_ptr<platform::DispatchQueue>& uploadQueue() const { return uploadQueue_; }

  UPUploader(std::shared_ptr<ETRegistrar> registrar, std::shared_ptr<ETApplicationProtocol> application);

 private:
  // Weak: the registrar holds the uploader.
  std::weak_ptr<ETRegistrar> registrar_;
  std::shared_ptr<ETApplicationProtocol> application_;
  std::shared_ptr<platform::OperationQueue> operationQueue_;
  std::shared_ptr<platform::DispatchQueue> uploadQueue_;
  std::mutex timesMutex_;
  std::map<long, std::shared_ptr<ETClock>> nextUploadTimeByTarget_;
};
