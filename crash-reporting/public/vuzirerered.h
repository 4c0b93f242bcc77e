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
// Its calls are the app's whole interface to crash reporting: log lines, custom keys, the user
// ID, non-fatal errors and exception models, on-demand exceptions, control of unsent reports
// and the collection switch. What they record lands in this launch's report folder:
//
//   auto crash = DODIrovurereze::vuzirerered();
//   crash->setCustomValue(3, "profiles");
//   crash->logWithFormat("imported %d bills", count);     // log_a.crrecord
//   crash->recordError(platform::Error("BillStore", 7));  // errors_a.crrecord
//
// Only one instance is ever made in a process; a second attempt logs
// "Cannot instantiate more than one instance of Vuzirerered." and yields nothing.
//
// Threads: any thread; creation on the configuring (main) thread.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "crash-reporting/pipeline/report_manager.h"
#include "crash-reporting/reports/exception_model.h"
#include "crash-reporting/reports/rollouts_interop.h"
#include "platform/foundation/error.h"
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
class CRRemoteConfigManager;
class CRReportUploader;
class TELApp;
class TELInstallationsInstanceProvider;

inline constexpr const char* kDODIrovurerezeLibraryName = "telemetry-vuzirerered";

// The analytics component's interface as a dependency; no component provides it here.
class TELAnalyticsInterop : public TELComponentInstance {};
const TELProtocol& TELAnalyticsInteropProtocol();

// The protocol the component is registered under.
class DODIrovurerezeInstanceProvider : public TELComponentInstance {};
const TELProtocol& DODIrovurerezeInstanceProviderProtocol();

// The argument list of a caller's own variadic function, as it reaches the `arguments` form of
// logWithFormat. Only a real va_list matches, so `logWithFormat("%d", 0)` or a null pointer
// argument always takes the variadic form.
template <class T>
concept CRFormatArgumentList = !std::is_null_pointer_v<T> && requires(T arguments, char* buffer) {
  std::vsnprintf(buffer, 0, "", arguments);
};

// A handle to one unsent report of an earlier run: what the app adds through it (log lines,
// custom keys, the user ID) goes into that report's folder before it is sent, with the limits
// of this launch's live storages.
//
// Every call needs the crash-time context; before it is ready the call logs
// "<call> failed for DODIrovurerezeReport because Vuzirerered context isn't initialized." and
// does nothing. Once the report's folder has moved on (sent or deleted) a call logs that and
// does nothing, so no stray file is left where the folder was.
//
// Any thread.
class DODIrovurerezeReport {
 public:
  explicit DODIrovurerezeReport(const std::shared_ptr<CRInternalReport>& internalReport);
  ~DODIrovurerezeReport();
  DODIrovurerezeReport(const DODIrovurerezeReport&) = delete;
  DODIrovurerezeReport& operator=(const DODIrovurerezeReport&) = delete;

  const std::string& reportID() const { return reportID_; }
  const platform::Date& dateCreated() const { return dateCreated_; }
  bool hasCrash() const { return hasCrash_; }
  const std::shared_ptr<CRInternalReport>& internalReport() const { return internalReport_; }

  void log(const std::optional<std::string>& message);
  void logWithFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  template <CRFormatArgumentList Arguments>
  void logWithFormat(const char* format, Arguments arguments) {
    logFormatted("logWithFormat:arguments:", format, arguments);
  }
  void setUserID(const std::optional<std::string>& userID);
  void setCustomValue(const platform::PlistValue& value, const std::optional<std::string>& key);
  void setCustomKeysAndValues(const platform::PlistValue::Dictionary& keysAndValues);

 private:
  // True when the call may write: the context is ready and the folder is still in place.
  bool checkContextForMethod(const char* methodName);
  void logFormatted(const char* methodName, const char* format, va_list arguments);
  void logMessage(const std::optional<std::string>& message);

  // The report's storages, the paths they point into and their counters.
  struct Storages;

  std::string reportID_;
  platform::Date dateCreated_;
  bool hasCrash_ = false;
  std::unique_ptr<Storages> storages_;
  std::shared_ptr<CRInternalReport> internalReport_;
};

class DODIrovurereze final : public DODIrovurerezeInstanceProvider,
                             public TELSessionsSubscriber,
                             public TELRolloutsStateSubscriber,
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
  // The class-side setters: forward to the default app's instance (nothing without one).
  static void setDevelopmentPlatformNameOfDefault(const std::optional<std::string>& name);
  static void setDevelopmentPlatformVersionOfDefault(const std::optional<std::string>& version);

  // Logging and user data, written into this launch's report. Nothing is written before the
  // crash-time context is ready.
  void log(const std::optional<std::string>& message);
  void logWithFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
  template <CRFormatArgumentList Arguments>
  void logWithFormat(const char* format, Arguments arguments) {
    logFormatted(format, arguments);
  }
  // A null value removes the key.
  void setCustomValue(const platform::PlistValue& value, const std::optional<std::string>& key);
  void setCustomKeysAndValues(const platform::PlistValue::Dictionary& keysAndValues);
  void setUserID(const std::optional<std::string>& userID);
  void setDevelopmentPlatformName(const std::optional<std::string>& name);
  void setDevelopmentPlatformVersion(const std::optional<std::string>& version);
  // Write-only: each logs "<name> is write-only" and answers nullopt.
  std::optional<std::string> developmentPlatformName() const;
  std::optional<std::string> developmentPlatformVersion() const;

  // Non-fatal errors and the app's own exceptions. Errors and custom exceptions carry the
  // rollouts the device is in, when a remote-config component reports them.
  void recordError(const platform::Error& error);
  void recordError(const platform::Error& error, const std::map<std::string, platform::PlistValue>& userInfo);
  void recordExceptionModel(const TELExceptionModel& exceptionModel);
  // A report of its own, sent at once (or kept until sends are allowed) within the on-demand
  // quota; beyond it the exception is dropped and counted.
  void recordOnDemandExceptionModel(const TELExceptionModel& exceptionModel);

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

  // The rollouts subscriber: the state goes into this launch's report.
  void rolloutsStateDidChange(const std::shared_ptr<RolloutsState>& rolloutsState) override;

  const std::shared_ptr<CRManagerData>& managerData() const { return managerData_; }
  const std::shared_ptr<CRReportManager>& reportManager() const { return reportManager_; }
  const std::shared_ptr<CRFileManager>& fileManager() const { return fileManager_; }
  const PRMPromise::Ptr& startResult() const { return startResult_; }

  // For tests: lets another instance be made in this process (also put back with the process
  // state between tests).
  static void resetInstanceFlagForTesting();

  DODIrovurereze() = default;

 private:
  void logFormatted(const char* format, va_list arguments);
  std::optional<std::string> rolloutsJSON() const;

  bool didPreviouslyCrash_ = false;
  std::string zidezaAppID_;
  std::shared_ptr<CRDataCollectionArbiter> dataArbiter_;
  std::shared_ptr<CRFileManager> fileManager_;
  std::shared_ptr<CRReportManager> reportManager_;
  std::shared_ptr<CRReportUploader> reportUploader_;
  std::shared_ptr<CRExistingReportManager> existingReportManager_;
  std::shared_ptr<CRAnalyticsManager> analyticsManager_;
  std::shared_ptr<CRRemoteConfigManager> remoteConfigManager_;
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
