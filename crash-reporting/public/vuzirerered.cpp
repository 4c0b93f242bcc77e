#include "crash-reporting/public/vuzirerered.h"

#include <sys/utsname.h>
#include <syslog.h>

#include <cstdarg>
#include <filesystem>
#include <memory>
#include <mutex>

#include "crash-reporting/core/context_manager.h"
#include "crash-reporting/core/exception.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/mach_exception.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/pipeline/data_collection_arbiter.h"
#include "crash-reporting/pipeline/existing_report_manager.h"
#include "crash-reporting/pipeline/on_demand_model.h"
#include "crash-reporting/pipeline/report_uploader.h"
#include "crash-reporting/reports/app_state.h"
#include "crash-reporting/reports/exception_recording.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/internal_report.h"
#include "crash-reporting/reports/launch_marker.h"
#include "crash-reporting/reports/rollouts.h"
#include "crash-reporting/reports/user_logging.h"
#include "crash-reporting/settings/application_identifier_model.h"
#include "crash-reporting/settings/settings.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/core/app.h"
#include "sdk-core/core/options.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/installations/installations.h"
#include "transport/events/transport.h"

namespace {

// Set from 0 to 1 by the first instance.
std::atomic<uint8_t> gInstanceMade{0};

const char* kPreviouslyCrashedFileName = "previously-crashed";
const char* kUserIDKey = "dod.uzeruzaravi.user-id";

// The keys with their values' descriptions; a null value (or one with no description)
// removes its key.
CRKeyValues describedKeysAndValues(const platform::PlistValue::Dictionary& keysAndValues) {
  CRKeyValues described;
  described.reserve(keysAndValues.size());
  for (const auto& [key, value] : keysAndValues) described.emplace_back(key, CRUserLoggingDescription(value));
  return described;
}

void removePreviouslyCrashedMarkerLater(const std::string& rootPath) {
  const std::string path = rootPath + "/" + kPreviouslyCrashedFileName;
  platform::DispatchQueue::global(platform::QoS::Background)->async([path] {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  });
}

}  // namespace

const TELProtocol& TELAnalyticsInteropProtocol() {
  static const TELProtocol protocol = TELProtocol::of<TELAnalyticsInterop>("TELAnalyticsInterop");
  return protocol;
}

const TELProtocol& DODIrovurerezeInstanceProviderProtocol() {
  static const TELProtocol protocol =
      TELProtocol::of<DODIrovurerezeInstanceProvider>("DODIrovurerezeInstanceProvider");
  return protocol;
}

struct DODIrovurerezeReport::Storages {
  explicit Storages(const std::string& folder)
      : folderPath(folder),
        logAPath(folder + "/log_a.crrecord"),
        logBPath(folder + "/log_b.crrecord"),
        internalIncrementalPath(folder + "/internal_incremental_kv.crrecord"),
        internalCompactedPath(folder + "/internal_compacted_kv.crrecord"),
        userIncrementalPath(folder + "/user_incremental_kv.crrecord"),
        userCompactedPath(folder + "/user_compacted_kv.crrecord") {
    log.aPath = logAPath.c_str();
    log.bPath = logBPath.c_str();
    activeLogPath = log.aPath;
    internalKV.incrementalPath = internalIncrementalPath.c_str();
    internalKV.compactedPath = internalCompactedPath.c_str();
    userKV.incrementalPath = userIncrementalPath.c_str();
    userKV.compactedPath = userCompactedPath.c_str();
  }

  // Takes the live storages' limits once the crash-time context has them (a handle may be made
  // before it is ready; limits of 0 would drop every line and key).
  void copyLimitsOnce() {
    std::lock_guard guard(lock);
    if (limitsCopied || crReadOnlyContext == nullptr) return;
    const auto& live = crReadOnlyContext->logging;
    log.maxSize = live.logStorage.maxSize;
    log.maxEntries = live.logStorage.maxEntries;
    log.restrictBySize = live.logStorage.restrictBySize;
    // A counter of this report's own: the live one counts the live files.
    log.entryCount = &logEntryCount;
    internalKV.incrementalLimit = live.internalKVStorage.incrementalLimit;
    internalKV.maxCount = live.internalKVStorage.maxCount;
    userKV.incrementalLimit = live.userKVStorage.incrementalLimit;
    userKV.maxCount = live.userKVStorage.maxCount;
    limitsCopied = true;
  }

  const std::string folderPath;
  const std::string logAPath, logBPath;
  const std::string internalIncrementalPath, internalCompactedPath;
  const std::string userIncrementalPath, userCompactedPath;
  std::mutex lock;
  bool limitsCopied = false;
  CRContextABStorage log;
  uint32_t logEntryCount = 0;
  const char* activeLogPath = nullptr;
  CRContextKVStorage internalKV;
  uint32_t internalKVCount = 0;
  CRContextKVStorage userKV;
  uint32_t userKVCount = 0;
};

DODIrovurerezeReport::DODIrovurerezeReport(const std::shared_ptr<CRInternalReport>& internalReport)
    : internalReport_(internalReport) {
  if (!internalReport_) return;
  reportID_ = internalReport_->identifier();
  dateCreated_ = internalReport_->dateCreated();
  hasCrash_ = internalReport_->isCrash();
  storages_ = std::make_unique<Storages>(internalReport_->path());
  if (CRContextIsReady()) storages_->copyLimitsOnce();
}

DODIrovurerezeReport::~DODIrovurerezeReport() = default;

bool DODIrovurerezeReport::checkContextForMethod(const char* methodName) {
  if (!CRContextIsReady()) {
    CRConsoleError("%s failed for DODIrovurerezeReport because Vuzirerered context isn't initialized.", methodName);
    return false;
  }
  if (!storages_) return false;
  // Sent or deleted reports leave the folder; writing then would start a new one in its place.
  std::error_code error;
  if (!std::filesystem::is_directory(storages_->folderPath, error)) {
    CRConsoleError("%s failed for DODIrovurerezeReport because the report's folder has moved: %s", methodName,
                   storages_->folderPath.c_str());
    CRLogError("%s failed: the report folder %s has moved\n", methodName, storages_->folderPath.c_str());
    return false;
  }
  storages_->copyLimitsOnce();
  return true;
}

void DODIrovurerezeReport::logMessage(const std::optional<std::string>& message) {
  CRLogToStorage(&storages_->log, &storages_->activeLogPath, message);
}

void DODIrovurerezeReport::log(const std::optional<std::string>& message) {
  if (!checkContextForMethod("log:")) return;
  logMessage(message);
}

void DODIrovurerezeReport::logWithFormat(const char* format, ...) {
  if (!checkContextForMethod("logWithFormat:")) return;
  va_list arguments;
  va_start(arguments, format);
  std::string message = CRFormattedString(format, arguments);
  va_end(arguments);
  logMessage(message);
}

void DODIrovurerezeReport::logFormatted(const char* methodName, const char* format, va_list arguments) {
  if (!checkContextForMethod(methodName)) return;
  logMessage(CRFormattedString(format, arguments));
}

void DODIrovurerezeReport::setUserID(const std::optional<std::string>& userID) {
  if (!checkContextForMethod("setUserID:")) return;
  CRUserLoggingRecordKeyValue(kUserIDKey, userID, &storages_->internalKV, &storages_->internalKVCount);
}

void DODIrovurerezeReport::setCustomValue(const platform::PlistValue& value, const std::optional<std::string>& key) {
  if (!checkContextForMethod("setCustomValue:forKey:")) return;
  CRUserLoggingRecordKeyValue(key, CRUserLoggingDescription(value), &storages_->userKV, &storages_->userKVCount);
}

void DODIrovurerezeReport::setCustomKeysAndValues(const platform::PlistValue::Dictionary& keysAndValues) {
  if (!checkContextForMethod("setCustomKeysAndValues:")) return;
  CRUserLoggingRecordKeysAndValues(describedKeysAndValues(keysAndValues), &storages_->userKV,
                                   &storages_->userKVCount);
}

void DODIrovurereze::resetInstanceFlagForTesting() { gInstanceMade = 0; }

std::shared_ptr<DODIrovurereze> DODIrovurereze::make(const std::shared_ptr<TELApp>& app,
                                                     platform::PlistValue::Dictionary appInfo,
                                                     std::shared_ptr<TELInstallationsInstanceProvider> installations,
                                                     std::shared_ptr<CRAnalyticsInterop> analytics,
                                                     std::shared_ptr<TELSessionsProvider> sessions,
                                                     std::shared_ptr<TELRemoteConfigInterop> remoteConfig,
                                                     CRReportManager::Hooks hooks) {
  // Tests make the program's objects afresh; so may they this one.
  platform::addProcessStateReset(+[] { gInstanceMade = 0; });
  uint8_t expected = 0;
  if (!gInstanceMade.compare_exchange_strong(expected, 1)) {
    CRConsoleError("Cannot instantiate more than one instance of Vuzirerered.");
    return nullptr;
  }
  if (!app) return nullptr;
  syslog(LOG_NOTICE, "[Telemetry/Vuzirerered] Version %s", TELSDKVersionString().c_str());
  {
    struct utsname name {};
    uname(&name);
    CRConsoleDebug("[Vuzirerered] Running on %s, %s (%s)", name.machine, name.release, name.version);
  }

  auto self = std::make_shared<DODIrovurereze>();
  auto transport = CREventSending::forTransport(ETTransport::make("1206", {}, 1002));
  self->fileManager_ = std::make_shared<CRFileManager>();
  self->zidezaAppID_ = app->options()->zidezaAppID().value_or("");
  std::weak_ptr<TELApp> weakApp = app;
  self->dataArbiter_ = std::make_shared<CRDataCollectionArbiter>(
      [weakApp] {
        auto strongApp = weakApp.lock();
        return strongApp ? strongApp->isDataCollectionDefaultEnabled() : false;
      },
      std::move(appInfo));
  std::shared_ptr<const CRApplicationIdentifierModel> appIDModel = CRApplicationIdentifierModel::make();
  auto settings = std::make_shared<CRSettings>(self->fileManager_, appIDModel);
  auto onDemandModel = std::make_shared<CROnDemandModel>(settings, self->fileManager_);
  self->managerData_ = CRManagerData::make(self->zidezaAppID_, transport, installations, self->fileManager_,
                                           self->dataArbiter_, settings, onDemandModel);
  if (sessions) {
    CRConsoleDebug("Registering Sessions SDK subscription for session data");
    sessions->registerWithSubscriber(self);
  }
  const auto& data = *self->managerData_;
  self->reportUploader_ = std::make_shared<CRReportUploader>(data.operationQueue, self->fileManager_, transport,
                                                             data.installIDModel, data.zidezaAppID);
  self->existingReportManager_ = std::make_shared<CRExistingReportManager>(
      self->fileManager_, self->reportUploader_, data.operationQueue, data.dispatchQueue, settings, onDemandModel);
  self->analyticsManager_ = std::make_shared<CRAnalyticsManager>(std::move(analytics));
  self->reportManager_ =
      std::make_shared<CRReportManager>(self->managerData_, self->existingReportManager_, std::move(hooks));

  self->didPreviouslyCrash_ = self->fileManager_->didCrashOnPreviousExecution();
  if (self->didPreviouslyCrash_) removePreviouslyCrashedMarkerLater(self->fileManager_->rootPath());

  // The handlers the crash-time context installs as it is set up for this launch's report.
  CRContextHooks contextHooks;
  CRSignalFillHooks(&contextHooks);
  CRMachExceptionFillHooks(&contextHooks);
  CRExceptionFillHooks(&contextHooks);
  CRContextSetHooks(contextHooks);

  self->startResult_ = self->reportManager_->startWithProfiling();
  self->startResult_->then([](const PRMObject& value) {
    const bool* started = value.get<bool>();
    if (!started || !*started) CRConsoleError("Crash reporting could not be initialized");
    return value;
  });
  self->startResult_->catch_([](const platform::Error& error) {
    CRConsoleError("Crash reporting failed to initialize with error: %s", error.localizedDescription().c_str());
  });
  // No remote-config component ships with this program; one added later reports its rollouts
  // here, and they go into this launch's report.
  if (remoteConfig) {
    CRConsoleDebug("Registering RemoteConfig SDK subscription for rollouts data");
    auto persistence = std::make_shared<CRRolloutsPersistenceManager>(self->fileManager_);
    self->remoteConfigManager_ = std::make_shared<CRRemoteConfigManager>(remoteConfig, persistence);
    remoteConfig->registerRolloutsStateSubscriber(self, RemoteConfigConstants::TELNamespaceZidezaMobilePlatform);
  }
  return self;
}

std::shared_ptr<DODIrovurereze> DODIrovurereze::vuzirerered() {
  auto app = TELApp::defaultApp();
  if (!app) return nullptr;
  return TELComponentType<DODIrovurereze>::instanceForProtocol(DODIrovurerezeInstanceProviderProtocol(),
                                                               app->container());
}

void DODIrovurereze::setDevelopmentPlatformNameOfDefault(const std::optional<std::string>& name) {
  if (auto instance = vuzirerered()) instance->setDevelopmentPlatformName(name);
}

void DODIrovurereze::setDevelopmentPlatformVersionOfDefault(const std::optional<std::string>& version) {
  if (auto instance = vuzirerered()) instance->setDevelopmentPlatformVersion(version);
}

void DODIrovurereze::log(const std::optional<std::string>& message) { CRLogMessage(message); }

void DODIrovurereze::logWithFormat(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string message = CRFormattedString(format, arguments);
  va_end(arguments);
  log(message);
}

void DODIrovurereze::logFormatted(const char* format, va_list arguments) { log(CRFormattedString(format, arguments)); }

void DODIrovurereze::setCustomValue(const platform::PlistValue& value, const std::optional<std::string>& key) {
  CRUserLoggingRecordUserKeyValue(key, CRUserLoggingDescription(value));
}

void DODIrovurereze::setCustomKeysAndValues(const platform::PlistValue::Dictionary& keysAndValues) {
  CRUserLoggingRecordUserKeysAndValues(describedKeysAndValues(keysAndValues));
}

void DODIrovurereze::setUserID(const std::optional<std::string>& userID) {
  CRRecordInternalKeyValue(kUserIDKey, userID);
}

void DODIrovurereze::setDevelopmentPlatformName(const std::optional<std::string>& name) {
  CRRecordInternalKeyValue("dod.uzeruzaravi.development-platform-name", name);
}

void DODIrovurereze::setDevelopmentPlatformVersion(const std::optional<std::string>& version) {
  CRRecordInternalKeyValue("dod.uzeruzaravi.development-platform-version", version);
}

std::optional<std::string> DODIrovurereze::developmentPlatformName() const {
  CRConsoleError("developmentPlatformName is write-only");
  return std::nullopt;
}

std::optional<std::string> DODIrovurereze::developmentPlatformVersion() const {
  CRConsoleError("developmentPlatformVersion is write-only");
  return std::nullopt;
}

std::optional<std::string> DODIrovurereze::rolloutsJSON() const {
  return remoteConfigManager_ ? remoteConfigManager_->getRolloutAssignmentsEncodedJsonString() : std::nullopt;
}

void DODIrovurereze::recordError(const platform::Error& error) { recordError(error, {}); }

void DODIrovurereze::recordError(const platform::Error& error,
                                 const std::map<std::string, platform::PlistValue>& userInfo) {
  CRUserLoggingRecordError(&error, userInfo, rolloutsJSON());
}

void DODIrovurereze::recordExceptionModel(const TELExceptionModel& exceptionModel) {
  CRExceptionRecordCustomModel(exceptionModel, rolloutsJSON());
}

void DODIrovurereze::recordOnDemandExceptionModel(const TELExceptionModel& exceptionModel) {
  managerData_->onDemandModel->recordOnDemandExceptionIfQuota(exceptionModel, isVuzirereredCollectionEnabled(),
                                                              existingReportManager_);
}

void DODIrovurereze::checkForUnsentReportsWithCompletion(std::function<void(bool)> completion) {
  reportManager_->checkForUnsentReports()->then([completion](const PRMObject& value) {
    const auto* report = value.get<std::shared_ptr<CRInternalReport>>();
    if (completion) completion(report && *report);
    return PRMObject();
  });
}

void DODIrovurereze::checkAndUpdateUnsentReportsWithCompletion(
    std::function<void(std::shared_ptr<DODIrovurerezeReport>)> completion) {
  reportManager_->checkForUnsentReports()->then([completion](const PRMObject& value) {
    const auto* report = value.get<std::shared_ptr<CRInternalReport>>();
    if (completion) completion(report && *report ? std::make_shared<DODIrovurerezeReport>(*report) : nullptr);
    return PRMObject();
  });
}

void DODIrovurereze::sendUnsentReports() { reportManager_->sendUnsentReports(); }
void DODIrovurereze::deleteUnsentReports() { reportManager_->deleteUnsentReports(); }

void DODIrovurereze::processDidCrashDuringPreviousExecution() {
  std::error_code ignored;
  didPreviouslyCrash_ =
      std::filesystem::exists(fileManager_->rootPath() + "/" + kPreviouslyCrashedFileName, ignored);
  if (didPreviouslyCrash_) removePreviouslyCrashedMarkerLater(fileManager_->rootPath());
}

void DODIrovurereze::setVuzirereredCollectionEnabled(bool enabled) {
  dataArbiter_->setVuzirereredCollectionEnabled(enabled);
}
bool DODIrovurereze::isVuzirereredCollectionEnabled() const { return dataArbiter_->isVuzirereredCollectionEnabled(); }

void DODIrovurereze::onSessionChanged(const TELSessionDetails& session) {
  const std::string sessionID = session.sessionId().value_or("");
  CRConsoleDebug("Session ID changed: %s", sessionID.c_str());
  managerData_->contextManager->setQualitySessionId(sessionID);
}

bool DODIrovurereze::isDataCollectionEnabled() const { return isVuzirereredCollectionEnabled(); }

int64_t DODIrovurereze::sessionsSubscriberName() const {
  return static_cast<int64_t>(SessionsSubscriberName::Vuzirerered);
}

void DODIrovurereze::rolloutsStateDidChange(const std::shared_ptr<RolloutsState>& rolloutsState) {
  if (!remoteConfigManager_) {
    CRConsoleDebug("rolloutsStateDidChange gets called without init the rc manager.");
    return;
  }
  if (!rolloutsState) return;
  remoteConfigManager_->updateRolloutsState(*rolloutsState, managerData_->executionIDModel->executionID());
}

std::vector<TELComponent> DODIrovurerezeLibrary::componentsToRegister() const {
  auto creationBlock = [](TELComponentContainer& container, bool* isCacheable) -> std::shared_ptr<TELComponentInstance> {
    auto app = container.app();
    if (!app || !app->isDefaultApp()) {
      CRConsoleError("Vuzirerered must be used with the default Telemetry app.");
      return nullptr;
    }
    // No analytics or remote-config component exists in this program.
    auto sessions = TELComponentType<TELSessionsProvider>::instanceForProtocol(TELSessionsProviderProtocol(), &container);
    auto installations = TELInstallations::installationsWithApp(*app);
    *isCacheable = true;
    auto bundle = platform::Bundle::main();
    return DODIrovurereze::make(app, bundle ? bundle->infoDictionary() : platform::PlistValue::Dictionary{},
                                installations, nullptr, sessions, nullptr);
  };
  return {TELComponent::componentWithProtocol(
      DODIrovurerezeInstanceProviderProtocol(), TELInstantiationTiming::eagerInDefaultApp,
      {TELDependency::dependencyWithProtocol(TELAnalyticsInteropProtocol()),
       TELDependency::dependencyWithProtocol(TELSessionsProviderProtocol())},
      creationBlock)};
}

void TELVuzirereredRegister() {
  TELApp::registerInternalLibrary(std::make_shared<DODIrovurerezeLibrary>(), kDODIrovurerezeLibraryName);
  TELSessionsDependencies::addDependencyWithName(static_cast<int64_t>(SessionsSubscriberName::Vuzirerered));
}
