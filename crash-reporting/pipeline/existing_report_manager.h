// CRExistingReportManager: the report folders that earlier launches left behind.
//
// At start-up it lists "active", throws away reports without events and keeps the 4 newest
// (newest first; equal dates are ordered by folder name), remembers the newest for the app's
// question whether unsent reports exist, and later sends all of them through the uploader or
// deletes all of them, as the report manager decides. It also carries on-demand reports to the
// uploader. A folder that cannot be opened as a report (no identifier) is removed at
// collection with a log, in "active" and in "processing" alike.
//
// "processing" and "prepared" folders are not pruned: every one of them is sent again.
//
// Threads: collection runs on the caller's thread (start-up); removals and non-urgent
// submissions run in order on the serial work queue; urgent submissions on the caller's
// thread; on-demand uploads on the dispatch queue given.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crash-reporting/network/network_operation.h"
#include "crash-reporting/pipeline/on_demand_model.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"

class CRFileManager;
class CRInternalReport;
class CRReportUploader;
class CRSettings;

class CRExistingReportManager : public CROnDemandReportUploading {
 public:
  static constexpr size_t kMaxUnsentReports = 4;

  CRExistingReportManager(std::shared_ptr<const CRFileManager> fileManager,
                          std::shared_ptr<CRReportUploader> reportUploader,
                          std::shared_ptr<platform::OperationQueue> operationQueue,
                          std::shared_ptr<platform::DispatchQueue> dispatchQueue,
                          std::shared_ptr<const CRSettings> settings, std::shared_ptr<CROnDemandModel> onDemandModel);

  void collectExistingReports();
  std::vector<std::string> getUnsentActiveReportsAndDeleteEmptyOrOld(const std::vector<std::string>& reportPaths);
  void sendUnsentReportsWithToken(const CRDataCollectionTokenRef& token, bool asUrgent);
  void processExistingActiveReportPath(const std::string& path, const CRDataCollectionTokenRef& token, bool asUrgent);
  void deleteUnsentReports();
  void handleOnDemandReportUpload(const std::string& path, const CRDataCollectionTokenRef& token,
                                  bool asUrgent) override;

  size_t unsentReportsCount() const;
  // The newest kept report, when any was kept.
  std::shared_ptr<CRInternalReport> newestUnsentReport() const;
  std::vector<std::string> existingUnemptyActiveReportPaths() const;
  std::vector<std::string> processingReportPaths() const;
  std::vector<std::string> preparedReportPaths() const;

 private:
  void removeOnWorkQueue(std::string path);

  std::shared_ptr<const CRFileManager> fileManager_;
  std::shared_ptr<CRReportUploader> reportUploader_;
  std::shared_ptr<platform::OperationQueue> operationQueue_;
  std::shared_ptr<platform::DispatchQueue> dispatchQueue_;
  std::shared_ptr<const CRSettings> settings_;
  std::shared_ptr<CROnDemandModel> onDemandModel_;
  mutable std::mutex lock_;
  std::vector<std::string> existingUnemptyActiveReportPaths_;
  std::vector<std::string> processingReportPaths_;
  std::vector<std::string> preparedReportPaths_;
  std::shared_ptr<CRInternalReport> newestInternalReport_;
};
