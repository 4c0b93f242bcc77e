// CRLaunchMarkerModel: the launch-failure marker, the empty file <reports>/launchmarker.
//
// Start-up checks for it and (re)creates it; once crash reporting is set up and the main
// queue turns, it is removed. A marker found at start-up therefore means the previous launch
// ended before that turn.
//
// CRExecutionIdentifierModel: the identifier of one launch (or one on-demand report), 32
// lowercase hexadecimal characters made once, which names its report folder.
#pragma once

#include <memory>
#include <string>

#include "crash-reporting/reports/file_manager.h"

class CRLaunchMarkerModel {
 public:
  explicit CRLaunchMarkerModel(std::shared_ptr<CRFileManager> fileManager);

  const std::shared_ptr<CRFileManager>& fileManager() const { return fileManager_; }
  std::string launchFailureMarkerPath() const;
  bool launchFailureMarkerPresent() const;
  bool createLaunchFailureMarker() const;
  // True (the marker stays) when the marker was present; otherwise creates it and answers false.
  bool checkForAndCreateLaunchMarker() const;
  bool removeLaunchFailureMarker() const;

 private:
  std::shared_ptr<CRFileManager> fileManager_;
};

class CRExecutionIdentifierModel {
 public:
  CRExecutionIdentifierModel();
  const std::string& executionID() const { return executionID_; }

 private:
  std::string executionID_;
};
