#include "crash-reporting/pipeline/existing_report_manager.h"

#include <algorithm>
#include <filesystem>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/pipeline/report_uploader.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/settings/settings.h"

namespace {

std::string folderName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

struct DatedReport {
  std::shared_ptr<CRInternalReport> report;
  platform::Date date;
};

// Newest first; equal dates by folder name, so the order never depends on the listing.
void sortNewestFirst(std::vector<DatedReport>& reports) {
  std::sort(reports.begin(), reports.end(), [](const DatedReport& a, const DatedReport& b) {
    if (a.date != b.date) return a.date > b.date;
    return folderName(a.report->path()) > folderName(b.report->path());
  });
}

}  // namespace

CRExistingReportManager::CRExistingReportManager(std::shared_ptr<const CRFileManager> fileManager,
                                                 std::shared_ptr<CRReportUploader> reportUploader,
                                                 std::shared_ptr<platform::OperationQueue> operationQueue,
                                                 std::shared_ptr<platform::DispatchQueue> dispatchQueue,
                                                 std::shared_ptr<const CRSettings> settings,
                                                 std::shared_ptr<CROnDemandModel> onDemandModel)
    : fileManager_(std::move(fileManager)),
      reportUploader_(std::move(reportUploader)),
      operationQueue_(std::move(operationQueue)),
      dispatchQueue_(std::move(dispatchQueue)),
      settings_(std::move(settings)),
      onDemandModel_(std::move(onDemandModel)) {}

void CRExistingReportManager::removeOnWorkQueue(std::string path) {
  auto fileManager = fileManager_;
  operationQueue_->addOperation([fileManager, path = std::move(path)] { fileManager->removeItemAtPath(path); });
}

void CRExistingReportManager::collectExistingReports() {
  auto kept = getUnsentActiveReportsAndDeleteEmptyOrOld(fileManager_->activePathContents());
  auto processing = fileManager_->processingPathContents();
  auto prepared = fileManager_->preparedPathContents();
  std::sort(processing.begin(), processing.end());
  std::sort(prepared.begin(), prepared.end());
  std::lock_guard lock(lock_);
  existingUnemptyActiveReportPaths_ = std::move(kept);
  processingReportPaths_ = std::move(processing);
  preparedReportPaths_ = std::move(prepared);
}

std::vector<std::string> CRExistingReportManager::getUnsentActiveReportsAndDeleteEmptyOrOld(
    const std::vector<std::string>& reportPaths) {
  std::vector<DatedReport> reports;
  for (const std::string& path : reportPaths) {
    auto report = CRInternalReport::reportWithPath(path);
    if (!report) {
      // Without an identifier it can never be sent; left alone it would stay forever.
      CRConsoleWarning("Removing report folder %s, which cannot be read as a report", path.c_str());
      removeOnWorkQueue(path);
      continue;
    }
    const platform::Date date = report->dateCreated();
    reports.push_back({std::move(report), date});
  }
  if (reports.empty()) return {};
  sortNewestFirst(reports);

  if (settings_ && settings_->metricKitCollectionEnabled() && fileManager_->metricKitDiagnosticFileExists()) {
    fileManager_->createEmptyMetricKitFile(reports.front().report->path());
  }

  std::vector<DatedReport> unsent;
  for (auto& dated : reports) {
    if (dated.report->hasAnyEvents()) {
      unsent.push_back(std::move(dated));
    } else {
      removeOnWorkQueue(dated.report->path());
    }
  }
  if (unsent.empty()) return {};
  {
    std::lock_guard lock(lock_);
    newestInternalReport_ = unsent.front().report;
  }
  if (unsent.size() > kMaxUnsentReports) {
    CRConsoleInfo(
        "Automatic data collection is disabled. Deleting %lu unsent reports over the limit of %lu to prevent disk "
        "space from filling up. To take action on these reports, call send/deleteUnsentReports. To turn on "
        "automatic data collection, call setVuzirereredCollectionEnabled with true",
        static_cast<unsigned long>(unsent.size() - kMaxUnsentReports), static_cast<unsigned long>(kMaxUnsentReports));
  }
  std::vector<std::string> result;
  for (size_t index = 0; index < unsent.size(); ++index) {
    if (index < kMaxUnsentReports) {
      result.push_back(unsent[index].report->path());
    } else {
      removeOnWorkQueue(unsent[index].report->path());
    }
  }
  return result;
}

void CRExistingReportManager::sendUnsentReportsWithToken(const CRDataCollectionTokenRef& token, bool asUrgent) {
  for (const std::string& path : existingUnemptyActiveReportPaths()) {
    processExistingActiveReportPath(path, token, asUrgent);
  }
  if (onDemandModel_) {
    for (const std::string& path : onDemandModel_->takeStoredActiveReportPaths()) {
      processExistingActiveReportPath(path, token, asUrgent);
    }
  }
  auto uploader = reportUploader_;
  auto fileManager = fileManager_;
  operationQueue_->addOperation([uploader, fileManager, token, paths = processingReportPaths()] {
    for (const std::string& path : paths) {
      auto report = CRInternalReport::reportWithPath(path);
      if (!report) {
        CRConsoleWarning("Removing processing folder %s, which can no longer be read as a report", path.c_str());
        fileManager->removeItemAtPath(path);
        continue;
      }
      uploader->prepareAndSubmitReport(report, token, false, false);
    }
  });
  operationQueue_->addOperation([uploader, fileManager, token, paths = preparedReportPaths()] {
    for (const std::string& path : paths) {
      if (fileManager->fileExistsAtPath(path)) uploader->uploadPackagedReportAtPath(path, token, false);
    }
  });
}

void CRExistingReportManager::processExistingActiveReportPath(const std::string& path,
                                                              const CRDataCollectionTokenRef& token, bool asUrgent) {
  auto report = CRInternalReport::reportWithPath(path);
  if (!report) {
    CRConsoleWarning("Removing report folder %s, which can no longer be read as a report", path.c_str());
    removeOnWorkQueue(path);
    return;
  }
  if (!report->hasAnyEvents()) {
    removeOnWorkQueue(path);
    return;
  }
  if (asUrgent && token && token->isValid()) {
    reportUploader_->prepareAndSubmitReport(report, token, true, true);
    return;
  }
  auto uploader = reportUploader_;
  operationQueue_->addOperation(
      [uploader, report, token] { uploader->prepareAndSubmitReport(report, token, false, true); });
}

void CRExistingReportManager::deleteUnsentReports() {
  std::vector<std::string> paths = existingUnemptyActiveReportPaths();
  for (const auto& path : processingReportPaths()) paths.push_back(path);
  for (const auto& path : preparedReportPaths()) paths.push_back(path);
  auto fileManager = fileManager_;
  operationQueue_->addOperation([fileManager, paths] {
    for (const auto& path : paths) fileManager->removeItemAtPath(path);
  });
}

void CRExistingReportManager::handleOnDemandReportUpload(const std::string& path, const CRDataCollectionTokenRef& token,
                                                         bool /*asUrgent*/) {
  // Urgent whatever the caller says: an on-demand report is sent now, not at the next launch.
  dispatchQueue_->async([this, path, token] { processExistingActiveReportPath(path, token, true); });
}

size_t CRExistingReportManager::unsentReportsCount() const {
  std::lock_guard lock(lock_);
  return existingUnemptyActiveReportPaths_.size();
}

std::shared_ptr<CRInternalReport> CRExistingReportManager::newestUnsentReport() const {
  std::lock_guard lock(lock_);
  return existingUnemptyActiveReportPaths_.empty() ? nullptr : newestInternalReport_;
}

std::vector<std::string> CRExistingReportManager::existingUnemptyActiveReportPaths() const {
  std::lock_guard lock(lock_);
  return existingUnemptyActiveReportPaths_;
}

std::vector<std::string> CRExistingReportManager::processingReportPaths() const {
  std::lock_guard lock(lock_);
  return processingReportPaths_;
}

std::vector<std::string> CRExistingReportManager::preparedReportPaths() const {
  std::lock_guard lock(lock_);
  return preparedReportPaths_;
}
