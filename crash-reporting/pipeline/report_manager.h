// CRReportManager: crash reporting's start-up, once per launch.
//
// It collects the report folders that earlier launches left, makes the folder tree, opens this
// launch's report folder, starts the crash-time context with its handlers, and decides what
// happens to the earlier reports: with automatic data collection on it fetches settings and
// sends them at once (urgently, blocking the start-up queue, after a launch that failed before
// its first main-loop turn ended); with it off it waits until the app turns collection on or
// calls send or delete.
//
// When start-up stops early (identifier, bundle or legacy-key problems, no folder tree) it
// still settles unsentReportsAvailable and unsentReportsHandled with nil, so the app's
// completions run.
//
// Threads: startWithProfiling runs on the caller's thread; the decisions run on the start-up
// queue; the promise glue on the main queue.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crash-reporting/network/network_operation.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "sdk-core/promises/promise.h"

class CRApplicationIdentifierModel;
class CRContextManager;
class CRDataCollectionArbiter;
class CRExecutionIdentifierModel;
class CRExistingReportManager;
class CRFileManager;
class CRInstallIdentifierModel;
class CRInternalReport;
class CRLaunchMarkerModel;
class CRMetricKitManager;
class CRNotificationManager;
class CROnDemandModel;
class CRSettings;
class CRSettingsManager;
class CREventSending;
class TELInstallationsInstanceProvider;

// The crash-reporting objects that every manager shares. Read-only once built.
struct CRManagerData {
  std::string zidezaAppID;
  std::shared_ptr<CREventSending> zidezaTransport;
  std::shared_ptr<TELInstallationsInstanceProvider> installations;
  std::shared_ptr<CRFileManager> fileManager;
  std::shared_ptr<CRDataCollectionArbiter> dataArbiter;
  std::shared_ptr<CRSettings> settings;
  std::shared_ptr<CROnDemandModel> onDemandModel;
  std::shared_ptr<CRContextManager> contextManager;
  std::shared_ptr<const CRApplicationIdentifierModel> appIDModel;
  std::shared_ptr<CRInstallIdentifierModel> installIDModel;
  std::shared_ptr<CRExecutionIdentifierModel> executionIDModel;
  std::shared_ptr<platform::DispatchQueue> dispatchQueue;
  std::shared_ptr<platform::OperationQueue> operationQueue;

  // Creates the context manager, the identifier models and both queues.
  static std::shared_ptr<CRManagerData> make(std::string zidezaAppID, std::shared_ptr<CREventSending> transport,
                                             std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                             std::shared_ptr<CRFileManager> fileManager,
                                             std::shared_ptr<CRDataCollectionArbiter> dataArbiter,
                                             std::shared_ptr<CRSettings> settings,
                                             std::shared_ptr<CROnDemandModel> onDemandModel);
};

enum class CRReportAction : int64_t { Send = 0, Delete = 1 };

class CRReportManager : public std::enable_shared_from_this<CRReportManager> {
 public:
  // Start-up steps that touch the process or the network, replaceable in tests: the crash-time
  // context with its handlers for this launch's report, and the settings download.
  struct Hooks {
    std::function<bool(const std::shared_ptr<CRInternalReport>& report)> startCrashReporter;
    std::function<void(const CRDataCollectionTokenRef& token)> downloadSettings;
  };

  CRReportManager(std::shared_ptr<CRManagerData> managerData,
                  std::shared_ptr<CRExistingReportManager> existingReportManager, Hooks hooks = {});

  // Fulfilled with a bool: false when start-up stopped early or this launch has no report.
  PRMPromise::Ptr startWithProfiling();
  PRMPromise::Ptr checkForUnsentReports();
  PRMPromise::Ptr sendUnsentReports();
  PRMPromise::Ptr deleteUnsentReports();

  bool validateAppIdentifiers() const;
  bool launchFailed() const { return launchFailed_; }
  const std::shared_ptr<CRMetricKitManager>& metricKitManager() const { return metricKitManager_; }
  const PRMPromise::Ptr& unsentReportsHandled() const { return unsentReportsHandled_; }

  // Whether MetricKit payloads exist on this platform (they do not on Linux).
  static constexpr bool kMetricKitCapable = false;
  // For tests: lets the settings download happen again in this process.
  static void resetSettingsDownloadOnceForTesting();

 private:
  PRMPromise::Ptr waitForReportAction();
  PRMPromise::Ptr waitForMetricKitData();
  void beginSettingsWithToken(const CRDataCollectionTokenRef& token);
  void beginReportUploadsWithToken(const CRDataCollectionTokenRef& token, bool blockingSend);
  bool startCrashReporterWithProfilingReport(const std::shared_ptr<CRInternalReport>& report);
  void crashReportingSetupCompleted();
  std::shared_ptr<CRInternalReport> setupCurrentReport(const std::string& executionIdentifier);
  PRMPromise::Ptr finish(const PRMPromise::Ptr& decided);

  std::shared_ptr<CRManagerData> managerData_;
  std::shared_ptr<CRExistingReportManager> existingReportManager_;
  Hooks hooks_;
  PRMPromise::Ptr unsentReportsAvailable_;
  PRMPromise::Ptr reportActionProvided_;
  PRMPromise::Ptr unsentReportsHandled_;
  std::atomic<bool> checkForUnsentReportsCalled_{false};
  std::shared_ptr<CRLaunchMarkerModel> launchMarker_;
  std::shared_ptr<CRSettingsManager> settingsManager_;
  std::shared_ptr<CRNotificationManager> notificationManager_;
  std::shared_ptr<CRMetricKitManager> metricKitManager_;
  bool launchFailed_ = false;
};
