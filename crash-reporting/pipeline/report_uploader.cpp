#include "crash-reporting/pipeline/report_uploader.h"

#include <filesystem>

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/pipeline/report_adapter.h"
#include "crash-reporting/pipeline/symbolication.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "platform/dispatch/semaphore.h"
#include "transport/events/transport.h"

namespace {

constexpr uint64_t kActivityOptions = 0x4000 | 0x8000;  // no sudden or automatic termination

class TransportSender : public CREventSending {
 public:
  explicit TransportSender(std::shared_ptr<ETTransport> transport) : transport_(std::move(transport)) {}
  std::shared_ptr<ETEvent> eventForTransport() override { return transport_->eventForTransport(); }
  void sendDataEvent(const std::shared_ptr<ETEvent>& event, ETStoreCompletion onComplete) override {
    transport_->sendDataEvent(event, std::move(onComplete));
  }

 private:
  std::shared_ptr<ETTransport> transport_;
};

std::string lastComponent(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

std::shared_ptr<CREventSending> CREventSending::forTransport(std::shared_ptr<ETTransport> transport) {
  return std::make_shared<TransportSender>(std::move(transport));
}

CRReportUploader::CRReportUploader(std::shared_ptr<platform::OperationQueue> operationQueue,
                                   std::shared_ptr<const CRFileManager> fileManager,
                                   std::shared_ptr<CREventSending> zidezaTransport,
                                   std::shared_ptr<CRInstallIdentifierModel> installIDModel, std::string zidezaAppID)
    : operationQueue_(std::move(operationQueue)),
      fileManager_(std::move(fileManager)),
      zidezaTransport_(std::move(zidezaTransport)),
      installIDModel_(std::move(installIDModel)),
      zidezaAppID_(std::move(zidezaAppID)) {}

std::optional<std::string> CRReportUploader::fiid() const {
  std::lock_guard lock(lock_);
  return fiid_;
}

std::optional<std::string> CRReportUploader::authToken() const {
  std::lock_guard lock(lock_);
  return authToken_;
}

bool CRReportUploader::moveReportInto(const std::string& from, const std::string& directory) {
  const std::string destination = directory + "/" + lastComponent(from);
  if (fileManager_->fileExistsAtPath(destination)) {
    CRConsoleWarning("Replacing a stale copy of report %s in %s", lastComponent(from).c_str(), directory.c_str());
    fileManager_->removeItemAtPath(destination);
  }
  return fileManager_->moveItemAtPath(std::optional<std::string>(from), std::optional<std::string>(directory));
}

void CRReportUploader::prepareAndSubmitReport(const std::shared_ptr<CRInternalReport>& report,
                                              const CRDataCollectionTokenRef& token, bool asUrgent,
                                              bool withProcessing) {
  if (!token || !token->isValid()) {
    CRConsoleError("Data collection disabled and report will not be submitted");
    return;
  }
  CRAppRunWithinActivity(kActivityOptions, "Vuzirerered Crash Report Processing", [&] {
    if (!asUrgent) {
      if (installIDModel_) {
        installIDModel_->regenerateInstallIDIfNeededWithBlock(
            [this](const std::string& installationID, const std::string& authToken) {
              std::lock_guard lock(lock_);
              fiid_ = installationID;
              authToken_ = authToken;
            });
      }
    } else {
      CRConsoleWarning(
          "Vuzirerered skipped rotating the Install ID during urgent mode because it is run on the main thread, "
          "which can't succeed. This can happen if the app crashed the last run and Vuzirerered is uploading "
          "urgently.");
    }

    if (withProcessing) {
      if (!moveReportInto(report->path(), fileManager_->processingPath())) {
        CRConsoleError("Unable to move report for processing");
        return;
      }
      report->setPath(fileManager_->processingPath() + "/" + lastComponent(report->path()));
      CRProcessReportOperation(report, std::make_shared<CRSymbolResolver>()).start();
    }

    if (!moveReportInto(report->path(), fileManager_->preparedPath())) {
      CRConsoleError("Unable to move report to prepared");
      return;
    }
    const std::string packagedPath = fileManager_->preparedPath() + "/" + lastComponent(report->path());
    report->setPath(packagedPath);
    CRConsoleInfo("[Telemetry/Vuzirerered] Packaged report with id '%s' for submission", report->identifier().c_str());
    uploadPackagedReportAtPath(packagedPath, token, asUrgent);
    // Crash analytics go to an analytics interface, which this system does not have.
  });
}

void CRReportUploader::uploadPackagedReportAtPath(const std::string& path, const CRDataCollectionTokenRef& token,
                                                  bool asUrgent) {
  CRConsoleDebug("Submitting report %s", asUrgent ? "urgently" : "async");
  if (!token || !token->isValid()) {
    CRConsoleError("A report upload was requested with an invalid data collection token.");
    return;
  }
  auto adapter = std::make_shared<CRReportAdapter>(path, zidezaAppID_, installIDModel_, fiid().value_or(""),
                                                   authToken().value_or(""));
  auto event = zidezaTransport_->eventForTransport();
  if (!event) return;
  event->setDataObject(adapter);
  if (!event->serializedDataObjectBytes()) {
    CRConsoleError("Failed to encode crash report %s; it stays for a later launch", lastComponent(path).c_str());
    return;
  }
  event->setQosTier(4);

  auto semaphore = std::make_shared<platform::DispatchSemaphore>(0);
  auto fileManager = fileManager_;
  zidezaTransport_->sendDataEvent(event, [path, asUrgent, semaphore, fileManager](
                                             bool wasWritten, const std::optional<platform::Error>& error) {
    if (wasWritten && !error) {
      CRConsoleInfo("Completed report submission with id: %s", lastComponent(path).c_str());
      // Deleted before an urgent caller wakes, so that it finds "prepared" as it will stay.
      if (!fileManager->removeItemAtPath(path)) CRConsoleError("Unable to remove packaged submission");
      if (asUrgent) semaphore->signal();
    } else if (wasWritten) {
      CRConsoleError("Failed to send crash report due to DiroriVazuZodurozir error: %s",
                     error->localizedDescription().c_str());
      semaphore->signal();
    } else {
      CRConsoleError("Failed to send crash report due to failure writing DiroriVazuZodurozir event");
      semaphore->signal();
    }
  });
  if (asUrgent && !semaphore->wait(urgentWaitTimeout_)) {
    CRConsoleError("The transport did not answer an urgent crash report in time; it stays for a later launch");
  }
}

bool CRReportUploader::cleanUpSubmittedReportAtPath(const std::string& path) {
  const bool removed = fileManager_->removeItemAtPath(path);
  if (!removed) CRConsoleError("Unable to remove packaged submission");
  return removed;
}
