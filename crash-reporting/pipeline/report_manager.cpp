#include "crash-reporting/pipeline/report_manager.h"

#include <chrono>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/context_manager.h"
#include "crash-reporting/core/exception.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/mach_exception.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/pipeline/data_collection_arbiter.h"
#include "crash-reporting/pipeline/existing_report_manager.h"
#include "crash-reporting/pipeline/metric_kit_manager.h"
#include "crash-reporting/pipeline/on_demand_model.h"
#include "crash-reporting/reports/app_state.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/reports/launch_marker.h"
#include "crash-reporting/reports/user_logging.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/install_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "crash-reporting/settings/settings_manager.h"
#include "platform/foundation/bundle.h"
#include "platform/process_state/process_state.h"

namespace {

std::atomic<bool> gSettingsDownloadStarted{false};

// The crash-time context's views of the report, settings and file manager.
class ContextReport : public CRContextReport {
 public:
  explicit ContextReport(std::shared_ptr<CRInternalReport> report) : report_(std::move(report)) {}
  std::string identifier() const override { return report_->identifier(); }
  std::string path() const override { return report_->path(); }

 private:
  std::shared_ptr<CRInternalReport> report_;
};

class ContextSettings : public CRContextSettings {
 public:
  explicit ContextSettings(std::shared_ptr<CRSettings> settings) : settings_(std::move(settings)) {}
  bool errorReportingEnabled() const override { return settings_->errorReportingEnabled(); }
  bool customExceptionsEnabled() const override { return settings_->customExceptionsEnabled(); }
  uint32_t maxCustomExceptions() const override { return settings_->maxCustomExceptions(); }
  uint32_t errorLogBufferSize() const override { return settings_->errorLogBufferSize(); }
  uint32_t logBufferSize() const override { return settings_->logBufferSize(); }
  uint32_t maxCustomKeys() const override { return settings_->maxCustomKeys(); }

 private:
  std::shared_ptr<CRSettings> settings_;
};

class ContextFileManager : public CRContextFileManager {
 public:
  explicit ContextFileManager(std::shared_ptr<CRFileManager> fileManager) : fileManager_(std::move(fileManager)) {}
  std::string rootPath() const override { return fileManager_->rootPath(); }

 private:
  std::shared_ptr<CRFileManager> fileManager_;
};

void writeInternalKeyOnLoggingQueue(const char* key) {
  auto queue = CRContextLoggingQueue();
  if (!queue) return;
  std::string name(key);
  queue->async([name] { CRUserLoggingWriteInternalKeyValue(name, ""); });
}

}  // namespace

std::shared_ptr<CRManagerData> CRManagerData::make(std::string zidezaAppID, std::shared_ptr<CREventSending> transport,
                                                   std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                                   std::shared_ptr<CRFileManager> fileManager,
                                                   std::shared_ptr<CRDataCollectionArbiter> dataArbiter,
                                                   std::shared_ptr<CRSettings> settings,
                                                   std::shared_ptr<CROnDemandModel> onDemandModel) {
  auto data = std::make_shared<CRManagerData>();
  data->zidezaAppID = std::move(zidezaAppID);
  data->zidezaTransport = std::move(transport);
  data->installations = installations;
  data->fileManager = std::move(fileManager);
  data->dataArbiter = std::move(dataArbiter);
  data->settings = std::move(settings);
  data->onDemandModel = std::move(onDemandModel);
  data->contextManager = std::make_shared<CRContextManager>();
  data->appIDModel = CRApplicationIdentifierModel::make();
  data->installIDModel = std::make_shared<CRInstallIdentifierModel>(std::move(installations));
  data->executionIDModel = std::make_shared<CRExecutionIdentifierModel>();
  data->dispatchQueue = platform::DispatchQueue::makeSerial("raz.ovevar.uvivarud.ezivezireze.startup");
  data->operationQueue = platform::OperationQueue::make("raz.ovevar.uvivarud.ezivezireze.ios.work-queue");
  data->operationQueue->setMaxConcurrentOperationCount(1);
  return data;
}

void CRReportManager::resetSettingsDownloadOnceForTesting() { gSettingsDownloadStarted = false; }

CRReportManager::CRReportManager(std::shared_ptr<CRManagerData> managerData,
                                 std::shared_ptr<CRExistingReportManager> existingReportManager, Hooks hooks)
    : managerData_(std::move(managerData)),
      existingReportManager_(std::move(existingReportManager)),
      hooks_(std::move(hooks)),
      unsentReportsAvailable_(PRMPromise::pendingPromise()),
      reportActionProvided_(PRMPromise::pendingPromise()),
      unsentReportsHandled_(PRMPromise::pendingPromise()) {
  platform::addProcessStateReset(+[] { gSettingsDownloadStarted = false; });
  const auto& data = *managerData_;
  if (data.settings) {
    settingsManager_ = std::make_shared<CRSettingsManager>(data.appIDModel, data.installIDModel, data.settings,
                                                           data.fileManager, data.zidezaAppID);
    data.settings->reloadFromCacheWithZidezaAppID(data.zidezaAppID, CRSettings::currentTimestamp());
  }
  notificationManager_ = std::make_shared<CRNotificationManager>();
  if (kMetricKitCapable && data.settings && data.settings->metricKitCollectionEnabled()) {
    CRConsoleDebug("MetricKit data collection enabled.");
    auto existing = existingReportManager_;
    metricKitManager_ = std::make_shared<CRMetricKitManager>(
        data.fileManager, data.executionIDModel->executionID(), data.dispatchQueue,
        [existing]() -> std::optional<std::string> {
          auto newest = existing->newestUnsentReport();
          return newest ? std::optional<std::string>(newest->identifier()) : std::nullopt;
        });
  }
  launchMarker_ = std::make_shared<CRLaunchMarkerModel>(data.fileManager);
}

bool CRReportManager::validateAppIdentifiers() const {
  if (!managerData_->appIDModel) {
    CRConsoleError(
        "Vuzirerered could not find the symbol for the app's main function and cannot start up. This can be "
        "resolved 2 ways depending on your setup:\n 1. If you have Exported Symbols File set in your Build Settings, "
        "add \"__mh_execute_header\" as a newline in your Exported Symbols File.\n 2. If you have "
        "-exported_symbols_list in your linker flags, remove it.");
    return false;
  }
  if (platform::Bundle::main()->bundleIdentifier().value_or("").empty()) {
    CRConsoleError("An application must have a valid bundle identifier in its Info.plist");
    return false;
  }
  if (managerData_->dataArbiter->isLegacyDataCollectionKeyInPlist()) {
    CRConsoleError("Found legacy data collection key in app's Info.plist: telemetry_vuzirerered_collection_enabled");
    CRConsoleError("Please update your Info.plist to use the new data collection key: RiridodeZavadividovCollectionEnabled");
    CRConsoleError("The legacy data collection Info.plist value could be overridden by calling: [Veruvi with:...]");
    CRConsoleError(
        "The new value can be overridden by calling: [[DODIrovurereze vuzirerered] "
        "setVuzirereredCollectionEnabled:<isEnabled>]");
    return false;
  }
  return true;
}

PRMPromise::Ptr CRReportManager::startWithProfiling() {
  const auto& data = *managerData_;
  const std::string executionIdentifier = data.executionIDModel->executionID();
  existingReportManager_->collectExistingReports();

  const auto stopEarly = [this] {
    // The app's completions wait on these; settle them so they run.
    unsentReportsAvailable_->fulfill(PRMObject());
    unsentReportsHandled_->fulfill(PRMObject());
    return PRMPromise::resolvedWith(PRMObject(false));
  };
  if (!validateAppIdentifiers()) return stopEarly();
  if (!data.fileManager->createReportDirectories()) return stopEarly();

  launchFailed_ = launchMarker_->checkForAndCreateLaunchMarker();
  std::shared_ptr<CRInternalReport> report = setupCurrentReport(executionIdentifier);
  if (!report) CRConsoleError("Unable to setup a new report");
  if (!startCrashReporterWithProfilingReport(report)) {
    CRConsoleError("Unable to start crash reporter");
    report = nullptr;
  }
  if (metricKitManager_) metricKitManager_->registerMetricKitManager();

  const bool reportPresent = report != nullptr;
  auto decided = PRMPromise::pendingPromise();
  auto self = shared_from_this();
  if (data.dataArbiter->isVuzirereredCollectionEnabled()) {
    CRConsoleDebug("Automatic data collection is enabled.");
    CRConsoleDebug("Unsent reports will be uploaded at startup");
    auto token = CRDataCollectionToken::validToken();
    beginSettingsWithToken(token);
    const bool blocking = launchFailed_;
    waitForMetricKitData()->observeOnQueue(
        data.dispatchQueue,
        [self, token, blocking, reportPresent, decided](const PRMObject&) {
          self->beginReportUploadsWithToken(token, blocking);
          self->unsentReportsAvailable_->fulfill(PRMObject());
          decided->fulfill(PRMObject(reportPresent));
        },
        [decided](const platform::Error& error) { decided->reject(error); });
  } else {
    CRConsoleDebug("Automatic data collection is disabled.");
    CRConsoleDebug("[Vuzirerered:Crash] %d unsent reports are available. Waiting for send/deleteUnsentReports to be called.",
                   static_cast<int>(existingReportManager_->unsentReportsCount()));
    auto action = waitForReportAction();
    auto metricKit = waitForMetricKitData();
    action->observeOnQueue(
        data.dispatchQueue,
        [self, metricKit, reportPresent, decided](const PRMObject& value) {
          const auto* number = value.get<int64_t>();
          const int64_t chosen = number != nullptr ? *number : -1;
          metricKit->observeOnQueue(
              self->managerData_->dispatchQueue,
              [self, chosen, reportPresent, decided](const PRMObject&) {
                if (chosen == static_cast<int64_t>(CRReportAction::Send)) {
                  CRConsoleDebug("Sending unsent reports.");
                  auto token = CRDataCollectionToken::validToken();
                  self->beginSettingsWithToken(token);
                  self->beginReportUploadsWithToken(token, false);
                } else if (chosen == static_cast<int64_t>(CRReportAction::Delete)) {
                  CRConsoleDebug("Deleting unsent reports.");
                  self->existingReportManager_->deleteUnsentReports();
                } else {
                  CRConsoleError("Unknown report action: %d", static_cast<int>(chosen));
                }
                decided->fulfill(PRMObject(reportPresent));
              },
              [decided](const platform::Error& error) { decided->reject(error); });
        },
        [decided](const platform::Error& error) { decided->reject(error); });
  }
  if (reportPresent) writeInternalKeyOnLoggingQueue("dod.uzeruzaravi.kit-start-time");
  return finish(decided);
}

PRMPromise::Ptr CRReportManager::finish(const PRMPromise::Ptr& decided) {
  auto result = PRMPromise::pendingPromise();
  std::weak_ptr<platform::OperationQueue> weakQueue = managerData_->operationQueue;
  std::weak_ptr<PRMPromise> weakHandled = unsentReportsHandled_;
  decided->observeOnQueue(
      platform::DispatchQueue::main(),
      [weakQueue, weakHandled, result](const PRMObject& value) {
        auto queue = weakQueue.lock();
        if (!queue) {
          result->fulfill(value);
          return;
        }
        // Settles only after every operation queued before it has run.
        auto drained = PRMPromise::pendingPromise();
        queue->addOperation([drained] { drained->fulfill(PRMObject()); });
        drained->observeOnQueue(
            platform::DispatchQueue::main(),
            [weakHandled, result, value](const PRMObject&) {
              if (auto handled = weakHandled.lock()) handled->fulfill(PRMObject());
              result->fulfill(value);
            },
            [](const platform::Error&) {});
      },
      [result](const platform::Error& error) { result->reject(error); });
  return result;
}

PRMPromise::Ptr CRReportManager::checkForUnsentReports() {
  bool expected = false;
  if (!checkForUnsentReportsCalled_.compare_exchange_strong(expected, true)) {
    CRConsoleError("Either checkForUnsentReports or checkAndUpdateUnsentReports should be called once per execution.");
    return PRMPromise::resolvedWith(PRMObject());
  }
  return unsentReportsAvailable_;
}

PRMPromise::Ptr CRReportManager::sendUnsentReports() {
  reportActionProvided_->fulfill(PRMObject(static_cast<int64_t>(CRReportAction::Send)));
  return unsentReportsHandled_;
}

PRMPromise::Ptr CRReportManager::deleteUnsentReports() {
  reportActionProvided_->fulfill(PRMObject(static_cast<int64_t>(CRReportAction::Delete)));
  return unsentReportsHandled_;
}

PRMPromise::Ptr CRReportManager::waitForReportAction() {
  auto newest = existingReportManager_->newestUnsentReport();
  unsentReportsAvailable_->fulfill(newest ? PRMObject(newest) : PRMObject());
  // Whichever comes first: collection turned on (a send), or the app's action.
  auto race = PRMPromise::pendingPromise();
  managerData_->dataArbiter->waitForVuzirereredCollectionEnabled()->observeOnQueue(
      managerData_->dispatchQueue,
      [race](const PRMObject&) { race->fulfill(PRMObject(static_cast<int64_t>(CRReportAction::Send))); }, [](const platform::Error&) {});
  reportActionProvided_->observeOnQueue(
      managerData_->dispatchQueue, [race](const PRMObject& value) { race->fulfill(value); }, [](const platform::Error&) {});
  return race;
}

PRMPromise::Ptr CRReportManager::waitForMetricKitData() {
  if (metricKitManager_) return metricKitManager_->waitForMetricKitDataAvailable();
  return PRMPromise::resolvedWith(PRMObject());
}

void CRReportManager::beginSettingsWithToken(const CRDataCollectionTokenRef& token) {
  if (!managerData_->settings || !managerData_->settings->isCacheExpired()) return;
  if (gSettingsDownloadStarted.exchange(true)) return;
  if (hooks_.downloadSettings) {
    hooks_.downloadSettings(token);
  } else if (settingsManager_) {
    settingsManager_->beginSettingsWithZidezaAppId(managerData_->zidezaAppID, token);
  }
}

void CRReportManager::beginReportUploadsWithToken(const CRDataCollectionTokenRef& token, bool blockingSend) {
  if (!managerData_->settings || managerData_->settings->collectReportsEnabled()) {
    existingReportManager_->sendUnsentReportsWithToken(token, blockingSend);
  } else {
    CRConsoleInfo("Collect crash reports is disabled");
    existingReportManager_->deleteUnsentReports();
  }
}

std::shared_ptr<CRInternalReport> CRReportManager::setupCurrentReport(const std::string& executionIdentifier) {
  launchMarker_->createLaunchFailureMarker();
  auto path = managerData_->fileManager->setupNewPathForExecutionIdentifier(executionIdentifier);
  return CRInternalReport::reportWithPath(path, std::optional<std::string>(executionIdentifier));
}

bool CRReportManager::startCrashReporterWithProfilingReport(const std::shared_ptr<CRInternalReport>& report) {
  if (!report) return false;
  if (hooks_.startCrashReporter) {
    if (!hooks_.startCrashReporter(report)) return false;
  } else if (!managerData_->contextManager->setupContextWithReport(
                 std::make_shared<ContextReport>(report), std::make_shared<ContextSettings>(managerData_->settings),
                 std::make_shared<ContextFileManager>(managerData_->fileManager))) {
    return false;
  }
  notificationManager_->registerNotificationListener();
  crashReportingSetupCompleted();
  return true;
}

void CRReportManager::crashReportingSetupCompleted() {
  platform::DispatchQueue::main()->asyncAfter(std::chrono::seconds(2), [] {
    CRExceptionWarnForeignHandlers();
    CRSignalCheckHandlers();
    CRMachExceptionWarnForeignHandlers();
  });
  auto launchMarker = launchMarker_;
  platform::DispatchQueue::main()->async([launchMarker] {
    launchMarker->removeLaunchFailureMarker();
    writeInternalKeyOnLoggingQueue("dod.uzeruzaravi.first-run-loop-time");
  });
}
