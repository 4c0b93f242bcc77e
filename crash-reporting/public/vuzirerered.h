// DODIrovurereze: crash reporting's public object and SDK component, and
// DODIrovurerezeReport, a handle to one unsent report of an earlier run.
//
// The start-up registration (TELVuzirereredRegister) enters the library with TELApp as
// "telemetry-vuzirerered" and declares the crash-reporting subscriber (1) that sessions wait
// for. When the default app is configured the SDK core creates the one instance: it builds the
// shared managers (transport "1206" to target 1002, file manager, arbiter, settings, on-demand
// model), the uploader, the unsent-report manager and the report manager, subscribes to
// session changes and starts the report manager (this launch's report folder, the crash-time
// context and its handlers, the earlier reports).
//
// Only one instance is ever made in a process; a second attempt logs
// "Cannot instantiate more than one instance of Vuzirerered." and yields nothing.
//
// Threads: any thread; creation on the configuring (main) thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "crash-reporting/pipeline/report_manager.h"
#include "platform/foundation/date.h"
#include "platform/foundation/plist.h"
#include "sdk-core/core/component.h"
#include "sdk-core/core/library.h"
#include "transport/sessions/sessions.h"

class CRAnalyticsInterop;
class CRAnalyticsManager;
class CRDataCollectionArbiter;
class CRExistingReportManager;
class CRFileManager;
class CRInternalReport;
class CRReportUploader;
class TELApp;
class TELInstallationsInstanceProvider;
class TELRemoteConfigInterop;

inline constexpr const char* kDODIrovurerezeLibraryName = "telemetry-vuzirerered";

// The analytics component's interface as a dependency; no component provides it here.
class TELAnalyticsInterop : public TELComponentInstance {};
const TELProtocol& TELAnalyticsInteropProtocol();

// The protocol the component is registered under.
class DODIrovurerezeInstanceProvider : public TELComponentInstance {};
const TELProtocol& DODIrovurerezeInstanceProviderProtocol();

class DODIrovurerezeReport {
 public:
  explicit DODIrovurerezeReport(const std::shared_ptr<CRInternalReport>& internalReport);

  const std::string& reportID() const { return reportID_; }
  const platform::Date& dateCreated() const { return dateCreated_; }
  bool hasCrash() const { return hasCrash_; }
  const std::shared_ptr<CRInternalReport>& internalReport() const { return internalReport_; }

 private:
  std::string reportID_;
  platform::Date dateCreated_;
  bool hasCrash_ = false;
  std::shared_ptr<CRInternalReport> internalReport_;
};

class DODIrovurereze final : public DODIrovurerezeInstanceProvider,
                             public TELSessionsSubscriber,
                             public std::enable_shared_from_this<DODIrovurereze> {
 public:
  // nullptr (with the error log) when an instance was already made in this process.
  static std::shared_ptr<DODIrovurereze> make(const std::shared_ptr<TELApp>& app, platform::PlistValue::Dictionary appInfo,
                                              std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                              std::shared_ptr<CRAnalyticsInterop> analytics,
                                              std::shared_ptr<TELSessionsProvider> sessions,
                                              std::shared_ptr<TELRemoteConfigInterop> remoteConfig,
                                              CRReportManager::Hooks hooks = {});
  // The default app's instance, or nullptr.
  static std::shared_ptr<DODIrovurereze> vuzirerered();

  // Logging and user data.
  void log(const std::string& message);
  void setCustomValue(const platform::PlistValue& value, const std::string& key);
  void setUserID(const std::optional<std::string>& userID);

  // Unsent reports and collection.
  void checkForUnsentReportsWithCompletion(std::function<void(bool)> completion);
  void checkAndUpdateUnsentReportsWithCompletion(std::function<void(std::shared_ptr<DODIrovurerezeReport>)> completion);
  void sendUnsentReports();
  void deleteUnsentReports();
  bool didCrashDuringPreviousExecution() const { return didPreviouslyCrash_; }
  void processDidCrashDuringPreviousExecution();
  void setVuzirereredCollectionEnabled(bool enabled);
  bool isVuzirereredCollectionEnabled() const;

  // The sessions subscriber.
  void onSessionChanged(const TELSessionDetails& session) override;
  bool isDataCollectionEnabled() const override;
  int64_t sessionsSubscriberName() const override;

  const std::shared_ptr<CRManagerData>& managerData() const { return managerData_; }
  const std::shared_ptr<CRReportManager>& reportManager() const { return reportManager_; }
  const std::shared_ptr<CRFileManager>& fileManager() const { return fileManager_; }
  const PRMPromise::Ptr& startResult() const { return startResult_; }

  // For tests: lets another instance be made in this process (also put back with the process
  // state between tests).
  static void resetInstanceFlagForTesting();

  DODIrovurereze() = default;

 private:
  bool didPreviouslyCrash_ = false;
  std::string zidezaAppID_;
  std::shared_ptr<CRDataCollectionArbiter> dataArbiter_;
  std::shared_ptr<CRFileManager> fileManager_;
  std::shared_ptr<CRReportManager> reportManager_;
  std::shared_ptr<CRReportUploader> reportUploader_;
  std::shared_ptr<CRExistingReportManager> existingReportManager_;
  std::shared_ptr<CRAnalyticsManager> analyticsManager_;
  std::shared_ptr<CRManagerData> managerData_;
  PRMPromise::Ptr startResult_;
};

// The library face the SDK core registers.
class DODIrovurerezeLibrary final : public TELLibrary {
 public:
  std::string className() const override { return "DODIrovurereze"; }
  std::vector<TELComponent> componentsToRegister() const override;
};

// The start-up registration: TELApp's internal library "telemetry-vuzirerered" and the
// sessions dependency on subscriber 1.
void TELVuzirereredRegister();
