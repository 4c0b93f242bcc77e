// CRContextManager: builds the crash-time context's set-up data from the current report,
// the settings and the file manager, sets the context up once, and keeps the app quality
// session ID, rewriting `metadata.crrecord` whenever it changes after set-up.
//
// The report, settings and file manager types live with the report management code; the
// manager sees them through the small views below, which those types implement.
//
// Thread safety: every method may be called from any thread; the fields are guarded by the
// manager's lock. Not for crash time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "crash-reporting/core/context.h"

class CRContextReport {
 public:
  virtual ~CRContextReport() = default;
  virtual std::string identifier() const = 0;
  virtual std::string path() const = 0;  // the report folder
};

class CRContextSettings {
 public:
  virtual ~CRContextSettings() = default;
  virtual bool errorReportingEnabled() const = 0;
  virtual bool customExceptionsEnabled() const = 0;
  virtual uint32_t maxCustomExceptions() const = 0;
  virtual uint32_t errorLogBufferSize() const = 0;
  virtual uint32_t logBufferSize() const = 0;
  virtual uint32_t maxCustomKeys() const = 0;
};

class CRContextFileManager {
 public:
  virtual ~CRContextFileManager() = default;
  virtual std::string rootPath() const = 0;
};

CRContextInitData CRContextBuildInitDataFromReport(const CRContextReport& report, const CRContextSettings& settings,
                                                   const CRContextFileManager& fileManager,
                                                   const std::string& qualitySessionId);

class CRContextManager {
 public:
  CRContextManager() = default;

  // Stores the three objects and sets the context up. Called once, by the report manager's
  // start-up.
  bool setupContextWithReport(std::shared_ptr<const CRContextReport> report,
                              std::shared_ptr<const CRContextSettings> settings,
                              std::shared_ptr<const CRContextFileManager> fileManager);
  // Stores the ID; after set-up also rewrites the report's `metadata.crrecord`.
  void setQualitySessionId(std::string qualitySessionId);
  CRContextInitData buildInitData() const;

  std::shared_ptr<const CRContextReport> report() const;
  std::shared_ptr<const CRContextSettings> settings() const;
  std::shared_ptr<const CRContextFileManager> fileManager() const;
  std::string qualitySessionId() const;
  bool hasInitializedContext() const;

 private:
  CRContextInitData buildInitDataLocked() const;

  mutable std::mutex mutex_;
  std::string qualitySessionId_;
  bool hasInitializedContext_ = false;
  std::shared_ptr<const CRContextReport> report_;
  std::shared_ptr<const CRContextSettings> settings_;
  std::shared_ptr<const CRContextFileManager> fileManager_;
};
