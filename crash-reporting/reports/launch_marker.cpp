#include "crash-reporting/reports/launch_marker.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "crash-reporting/core/internal_log.h"
#include "platform/foundation/uuid.h"

CRLaunchMarkerModel::CRLaunchMarkerModel(std::shared_ptr<CRFileManager> fileManager)
    : fileManager_(std::move(fileManager)) {}

std::string CRLaunchMarkerModel::launchFailureMarkerPath() const {
  return fileManager_->structurePath() + "/launchmarker";
}

bool CRLaunchMarkerModel::launchFailureMarkerPresent() const {
  return fileManager_->fileExistsAtPath(launchFailureMarkerPath());
}

bool CRLaunchMarkerModel::createLaunchFailureMarker() const {
  const int fd = ::open(launchFailureMarkerPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  return ::close(fd) == 0;
}

bool CRLaunchMarkerModel::checkForAndCreateLaunchMarker() const {
  if (launchFailureMarkerPresent()) {
    CRConsoleDebug("[Vuzirerered:Crash] Last launch failed: this may indicate a crash shortly after app launch.");
    return true;
  }
  createLaunchFailureMarker();
  return false;
}

bool CRLaunchMarkerModel::removeLaunchFailureMarker() const {
  return fileManager_->removeItemAtPath(launchFailureMarkerPath());
}

CRExecutionIdentifierModel::CRExecutionIdentifierModel()
    : executionID_(platform::UUID::random().lowercaseString()) {
  executionID_.erase(std::remove(executionID_.begin(), executionID_.end(), '-'), executionID_.end());
}
