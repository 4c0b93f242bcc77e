// CRReportUploader: turns one report folder into one transport event.
//
// The folder moves active → processing (where its crash files are symbolicated) → prepared,
// is packed into the crash-report message and handed to the transport as a tier-4 event, which
// the transport uploads at once; when the transport says the event was written, the prepared
// folder is deleted. A folder whose event was not written stays in "prepared" and is sent again
// at a later launch, so delivery is at least once.
//
// An urgent send (after a launch that failed early) blocks the caller until the transport has
// answered, for at most urgentWaitTimeout (60 s); after that it logs and returns, and the
// folder stays in "prepared". A message that cannot be encoded is not sent; its folder stays.
// A folder of the same name already in "processing" or "prepared" is a stale copy of an
// earlier attempt and is replaced.
//
// Threads: non-urgent preparations run on the manager's work queue, urgent ones on the
// start-up queue; the transport's completion runs on a queue of the transport.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crash-reporting/network/network_operation.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/operation_queue.h"
#include "transport/events/event.h"
#include "transport/events/protocols.h"

class CRFileManager;
class CRInstallIdentifierModel;
class CRInternalReport;
class ETTransport;

// What the uploader needs of the event transport.
class CREventSending {
 public:
  virtual ~CREventSending() = default;
  virtual std::shared_ptr<ETEvent> eventForTransport() = 0;
  virtual void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) = 0;
  // The transport itself.
  static std::shared_ptr<CREventSending> forTransport(std::shared_ptr<ETTransport> transport);
};

class CRReportUploader {
 public:
  static constexpr platform::Duration kUrgentWaitTimeout = std::chrono::seconds(60);

  CRReportUploader(std::shared_ptr<platform::OperationQueue> operationQueue,
                   std::shared_ptr<const CRFileManager> fileManager, std::shared_ptr<CREventSending> zidezaTransport,
                   std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::string zidezaAppID);

  void prepareAndSubmitReport(const std::shared_ptr<CRInternalReport>& report, const CRDataCollectionTokenRef& token,
                              bool asUrgent, bool withProcessing);
  void uploadPackagedReportAtPath(const std::string& path, const CRDataCollectionTokenRef& token, bool asUrgent);
  bool cleanUpSubmittedReportAtPath(const std::string& path);

  std::optional<std::string> fiid() const;
  std::optional<std::string> authToken() const;
  const std::shared_ptr<platform::OperationQueue>& operationQueue() const { return operationQueue_; }
  const std::shared_ptr<const CRFileManager>& fileManager() const { return fileManager_; }
  const std::shared_ptr<CRInstallIdentifierModel>& installIDModel() const { return installIDModel_; }
  const std::string& zidezaAppID() const { return zidezaAppID_; }

  // For tests: how long an urgent send waits for the transport.
  void setUrgentWaitTimeout(platform::Duration timeout) { urgentWaitTimeout_ = timeout; }

 private:
  // Moves the folder into `directory`, replacing a stale copy of the same name.
  bool moveReportInto(const std::string& from, const std::string& directory);

  std::shared_ptr<platform::OperationQueue> operationQueue_;
  std::shared_ptr<const CRFileManager> fileManager_;
  mutable std::mutex lock_;
  std::optional<std::string> fiid_;
  std::optional<std::string> authToken_;
  std::shared_ptr<CREventSending> zidezaTransport_;
  std::shared_ptr<CRInstallIdentifierModel> installIDModel_;
  std::string zidezaAppID_;
  platform::Duration urgentWaitTimeout_ = kUrgentWaitTimeout;
};
