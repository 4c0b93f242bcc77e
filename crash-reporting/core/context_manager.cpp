// Contract: set-up and app-thread code; allocates and locks. Not for crash time.
#include "crash-reporting/core/context_manager.h"

#include "crash-reporting/core/internal_log.h"

CRContextInitData CRContextBuildInitDataFromReport(const CRContextReport& report, const CRContextSettings& settings,
                                                   const CRContextFileManager& fileManager,
                                                   const std::string& qualitySessionId) {
  CRContextInitData data;
  data.customBundleId = std::nullopt;
  data.sessionId = report.identifier();
  data.qualitySessionId = qualitySessionId;
  data.rootPath = report.path();
  data.previouslyCrashedFileRootPath = fileManager.rootPath();
  data.errorsEnabled = settings.errorReportingEnabled();
  data.customExceptionsEnabled = settings.customExceptionsEnabled();
  data.maxCustomExceptions = settings.maxCustomExceptions();
  data.maxErrorLogSize = settings.errorLogBufferSize();
  data.maxLogSize = settings.logBufferSize();
  data.maxKeyValues = settings.maxCustomKeys();
  data.betaToken = std::string();
  return data;
}

bool CRContextManager::setupContextWithReport(std::shared_ptr<const CRContextReport> report,
                                              std::shared_ptr<const CRContextSettings> settings,
                                              std::shared_ptr<const CRContextFileManager> fileManager) {
  CRContextInitData initData;
  {
    std::lock_guard lock(mutex_);
    report_ = std::move(report);
    settings_ = std::move(settings);
    fileManager_ = std::move(fileManager);
    hasInitializedContext_ = true;
    initData = buildInitDataLocked();
  }
  return CRContextInitialize(&initData);
}

void CRContextManager::setQualitySessionId(std::string qualitySessionId) {
  CRContextInitData initData;
  std::string reportPath;
  {
    std::lock_guard lock(mutex_);
    qualitySessionId_ = std::move(qualitySessionId);
    if (!hasInitializedContext_) return;
    initData = buildInitDataLocked();
    reportPath = report_ ? report_->path() : std::string();
  }
  if (!CRContextRecordMetadata(reportPath.c_str(), &initData)) {
    CRConsoleError("Failed to write context file while updating App Quality Session ID");
  }
}

CRContextInitData CRContextManager::buildInitData() const {
  std::lock_guard lock(mutex_);
  return buildInitDataLocked();
}

CRContextInitData CRContextManager::buildInitDataLocked() const {
  if (!report_ || !settings_ || !fileManager_) {
    CRContextInitData data;
    data.qualitySessionId = qualitySessionId_;
    return data;
  }
  return CRContextBuildInitDataFromReport(*report_, *settings_, *fileManager_, qualitySessionId_);
}

std::shared_ptr<const CRContextReport> CRContextManager::report() const {
  std::lock_guard lock(mutex_);
  return report_;
}

std::shared_ptr<const CRContextSettings> CRContextManager::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

std::shared_ptr<const CRContextFileManager> CRContextManager::fileManager() const {
  std::lock_guard lock(mutex_);
  return fileManager_;
}

std::string CRContextManager::qualitySessionId() const {
  std::lock_guard lock(mutex_);
  return qualitySessionId_;
}

bool CRContextManager::hasInitializedContext() const {
  std::lock_guard lock(mutex_);
  return hasInitializedContext_;
}
