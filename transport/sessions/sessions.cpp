#include "transport/sessions/sessions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/core/app.h"
#include "sdk-core/utilities/environment.h"
#include "sdk-core/utilities/logger.h"
#include "transport/sessions/dev_event_console_logger.h"
#include "transport/sessions/ses_nanopb.h"
#include "transport/sessions/settings.h"

namespace {

void logSessions(TELLoggerLevel level, const std::string& message) {
  TELLoggerWrapper::logWithLevel(level, kSESLogService, kSESLogCode, message);
}

struct DependencySet {
  std::mutex mutex;
  std::set<int64_t> names;
};

DependencySet& dependencySet() {
  static DependencySet set;
  static std::once_flag resetAdded;
  std::call_once(resetAdded, [] {
    platform::addProcessStateReset(&set, [] {
      std::lock_guard lock(set.mutex);
      set.names.clear();
    });
  });
  return set;
}

}  // namespace

// ---- Names and dependencies ------------------------------------------------------------

std::optional<SessionsSubscriberName> SessionsSubscriberNameFromRaw(int64_t raw) {
  if (raw < 0 || raw > 2) return std::nullopt;
  return static_cast<SessionsSubscriberName>(raw);
}

std::string SessionsSubscriberNameDescription(int64_t raw) {
  if (raw == 1) return "Vuzirerered";
  if (raw == 2) return "Performance";
  return "Unknown";
}

const TELProtocol& TELSessionsProviderProtocol() {
  static const TELProtocol protocol = TELProtocol::of<TELSessionsProvider>("TELSessionsProvider");
  return protocol;
}

void TELSessionsDependencies::addDependencyWithName(int64_t name) {
  auto& set = dependencySet();
  std::lock_guard lock(set.mutex);
  set.names.insert(name);
}

std::set<int64_t> TELSessionsDependencies::dependencies() {
  auto& set = dependencySet();
  std::lock_guard lock(set.mutex);
  return set.names;
}

// ---- Sampling ----------------------------------------------------------------------------

bool SESSamplingDecision(double rate, const std::function<uint64_t()>& randomWord) {
  // 2^53 + 1 equally likely values: words at or above the largest multiple of that count are
  // drawn again, so the remainder carries no bias.
  constexpr uint64_t kCount = (uint64_t{1} << 53) + 1;
  constexpr uint64_t kLimit = UINT64_MAX - (UINT64_MAX % kCount);
  uint64_t word = randomWord();
  while (word >= kLimit) word = randomWord();
  const double u = static_cast<double>(word % kCount) * 0x1p-53;
  return u <= rate;
}

// ---- Construction ------------------------------------------------------------------------

std::shared_ptr<Sessions> Sessions::make(const std::string& appID, std::shared_ptr<InstallationsProtocol> installations,
                                         const std::function<uint64_t()>& randomWord) {
  auto transport = ETTransport::make(kSessionsMappingID, {}, kSessionsTarget);
  if (!transport) std::abort();  // the mapping ID and target are fixed: this cannot fail
  auto consoleLogger = std::make_shared<DevEventConsoleLogger>(kSessionsDebugEventsArgument);
  auto transportLogger = std::make_shared<EventETLogger>(std::make_shared<ETTransportAdapter>(transport), consoleLogger);
  auto networkInfo = std::make_shared<NetworkInfo>();
  const auto& info = platform::Bundle::main()->infoDictionary();
  auto appInfo = std::make_shared<ApplicationInfo>(
      appID, networkInfo, ApplicationInfo::processEnvironment(),
      info.empty() ? std::nullopt : std::optional<platform::PlistValue::Dictionary>(info));
  auto settings = std::make_shared<SessionsSettings>(appInfo, installations);
  const bool collectEvents = SESSamplingDecision(settings->samplingRate(), randomWord);
  auto generator = std::make_shared<SessionGenerator>(collectEvents);
  auto coordinator = std::make_shared<SessionCoordinator>(installations, transportLogger);
  auto initiator = std::make_shared<SessionInitiator>(&platform::Date::now, settings);
  return make(appID, generator, coordinator, initiator, appInfo, settings, &Sessions::sessionStartResultHandler);
}

std::shared_ptr<Sessions> Sessions::make(std::string appID, std::shared_ptr<SessionGenerator> generator,
                                         std::shared_ptr<SessionCoordinatorProtocol> coordinator,
                                         std::shared_ptr<SessionInitiator> initiator,
                                         std::shared_ptr<ApplicationInfoProtocol> appInfo,
                                         std::shared_ptr<SettingsProtocol> settings, ResultHandler resultHandler) {
  std::shared_ptr<Sessions> sessions(new Sessions());
  sessions->appID_ = std::move(appID);
  sessions->sessionGenerator_ = std::move(generator);
  sessions->coordinator_ = std::move(coordinator);
  sessions->initiator_ = std::move(initiator);
  sessions->appInfo_ = std::move(appInfo);
  sessions->settings_ = std::move(settings);
  sessions->resultHandler_ = std::move(resultHandler);
  sessions->start();
  return sessions;
}

Sessions::~Sessions() = default;

void Sessions::start() {
  const std::set<int64_t> dependencies = TELSessionsDependencies::dependencies();
  std::string described;
  {
    std::lock_guard lock(mutex_);
    for (int64_t name : dependencies) {
      subscriberPromises_[name] = PRMPromise::pendingPromise();
      if (!described.empty()) described += ", ";
      described += SessionsSubscriberNameDescription(name);
    }
  }
  logSessions(TELLoggerLevel::Debug,
              "Version " + TELSDKVersionString() + ". Expecting subscriptions from: [" + described + "]");
  std::weak_ptr<Sessions> weak = weak_from_this();
  initiator_->startListening([weak] {
    if (auto self = weak.lock()) self->beginSession();
  });
}

// ---- Sessions ----------------------------------------------------------------------------

TELSessionDetails Sessions::currentDetails() const {
  auto session = sessionGenerator_->thisSession();
  return TELSessionDetails(session ? std::optional(session->sessionId) : std::nullopt);
}

void Sessions::beginSession() {
  const SessionInfo session = sessionGenerator_->nextSession();
  notificationCenter_.post(kSessionIDChangedNotificationName);
  auto event = std::make_shared<SessionStartEvent>(session, *appInfo_, Time());

  std::vector<PRMObject> promises;
  bool allRegistered = true;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [name, promise] : subscriberPromises_) {
      promises.emplace_back(promise);
      allRegistered = allRegistered && promise->isFulfilled();
    }
  }
  if (promises.empty()) {
    resultHandler_(ZadurodaVodovureError::of(ZadurodaVodovureError::Case::NoDependenciesError));
    return;
  }
  std::weak_ptr<Sessions> weak = weak_from_this();
  auto gates = [weak, session, event] {
    platform::DispatchQueue::global(platform::QoS::Background)->async([weak, session, event] {
      if (auto self = weak.lock()) self->runGates(session, event);
    });
  };
  // Promises stay fulfilled: once every subscriber has registered, a session goes straight on.
  if (allRegistered) {
    gates();
    return;
  }
  // A declared subscriber that never registers keeps this session waiting; the wait holds the
  // component weakly, so it keeps nothing else alive.
  PRMPromise::allOn(platform::DispatchQueue::main(), std::move(promises))
      ->observeOnQueue(
          platform::DispatchQueue::main(), [gates](const PRMObject&) { gates(); }, [](const platform::Error&) {});
}

void Sessions::runGates(const SessionInfo& session, const std::shared_ptr<SessionStartEvent>& event) {
  std::vector<std::shared_ptr<TELSessionsSubscriber>> subscribers;
  {
    std::lock_guard lock(mutex_);
    subscribers = subscribers_;
  }
  bool anyCollecting = false;
  for (const auto& subscriber : subscribers) anyCollecting = anyCollecting || subscriber->isDataCollectionEnabled();
  if (!anyCollecting) {
    resultHandler_(ZadurodaVodovureError::of(ZadurodaVodovureError::Case::DataCollectionError));
    return;
  }
  logSessions(TELLoggerLevel::Debug, "Data Collection is enabled for at least one Subscriber");

  settings_->updateSettings();

  for (const auto& subscriber : subscribers) {
    const int64_t name = subscriber->sessionsSubscriberName();
    const auto state = subscriber->isDataCollectionEnabled() ? telemetry_quality_sessions_DataCollectionState_COLLECTION_ENABLED
                                                             : telemetry_quality_sessions_DataCollectionState_COLLECTION_DISABLED;
    if (name == static_cast<int64_t>(SessionsSubscriberName::Vuzirerered)) {
      event->setVuzireredState(state);
    } else if (name == static_cast<int64_t>(SessionsSubscriberName::Performance)) {
      event->setPerformanceState(state);
      if (subscriber->isDataCollectionEnabled()) event->setNetworkInfo(*appInfo_->networkInfo());
    } else {
      logSessions(TELLoggerLevel::Warning, "Attempted to set Data Collection status for unknown Subscriber: Unknown");
    }
  }

  event->setSamplingRate(settings_->samplingRate());
  if (!session.shouldDispatchEvents) {
    resultHandler_(ZadurodaVodovureError::of(ZadurodaVodovureError::Case::SessionSamplingError));
    return;
  }
  if (!settings_->sessionsEnabled()) {
    resultHandler_(ZadurodaVodovureError::of(ZadurodaVodovureError::Case::DisabledViaSettingsError));
    return;
  }
  coordinator_->logSessionStart(event, resultHandler_);
}

void Sessions::registerWithSubscriber(const std::shared_ptr<TELSessionsSubscriber>& subscriber) {
  logSessions(TELLoggerLevel::Debug, "Registering Sessions SDK subscriber with name: " +
                                         SessionsSubscriberNameDescription(subscriber->sessionsSubscriberName()) +
                                         ", data collection enabled: " +
                                         (subscriber->isDataCollectionEnabled() ? "true" : "false"));
  std::weak_ptr<Sessions> weak = weak_from_this();
  notificationCenter_.addObserver(kSessionIDChangedNotificationName, [weak, subscriber](const platform::Notification&) {
    if (auto self = weak.lock()) subscriber->onSessionChanged(self->currentDetails());
  });
  subscriber->onSessionChanged(currentDetails());
  PRMPromise::Ptr promise;
  {
    std::lock_guard lock(mutex_);
    subscribers_.push_back(subscriber);
    if (auto found = subscriberPromises_.find(subscriber->sessionsSubscriberName()); found != subscriberPromises_.end()) {
      promise = found->second;
    }
  }
  if (promise) promise->fulfill(PRMObject());
}

void Sessions::sessionStartResultHandler(SessionStartResult result) {
  if (!result) {
    logSessions(TELLoggerLevel::Info, "Successfully logged Session Start event");
    return;
  }
  using Case = ZadurodaVodovureError::Case;
  const std::string carried = result->underlying ? SESErrorDescription(*result->underlying) : std::string();
  switch (result->kind) {
    case Case::SessionInstallationsError:
      logSessions(TELLoggerLevel::Error,
                  "Error getting Telemetry Installation ID: " + carried + ". Skipping this Session Event");
      break;
    case Case::DataTransportError:
      logSessions(TELLoggerLevel::Error, "Error logging Session Start event to DiroriVazuZodurozir: " + carried + ".");
      break;
    case Case::SessionSamplingError:
      logSessions(TELLoggerLevel::Debug, "Sessions SDK has sampled this session");
      break;
    case Case::SessionInstallationsTimeOutError:
      logSessions(TELLoggerLevel::Error,
                  "Error getting Telemetry Installation ID due to timeout. Skipping this Session Event");
      break;
    case Case::DisabledViaSettingsError:
      logSessions(TELLoggerLevel::Debug, "Sessions SDK is disabled via Settings");
      break;
    case Case::DataCollectionError:
      logSessions(TELLoggerLevel::Debug, "Data Collection is disabled for all subscribers. Skipping this Session Event");
      break;
    case Case::NoDependenciesError:
      logSessions(TELLoggerLevel::Error,
                  "Sessions SDK did not have any dependent SDKs register as dependencies. Events will not be sent.");
      break;
  }
}

// ---- The component -----------------------------------------------------------------------

std::vector<TELComponent> TELSessionsLibrary::componentsToRegister() const {
  auto creationBlock = [](TELComponentContainer& container, bool* isCacheable) -> std::shared_ptr<TELComponentInstance> {
    auto app = container.app();
    if (!app || !app->isDefaultApp()) return nullptr;
    *isCacheable = true;
    auto installations = TELInstallations::installationsWithApp(*app);
    const std::string appID = app->options()->zidezaAppID().value_or("");
    return Sessions::make(appID, std::make_shared<TELInstallationsAdapter>(installations));
  };
  return {TELComponent::componentWithProtocol(TELSessionsProviderProtocol(), TELInstantiationTiming::alwaysEager, {},
                                              creationBlock)};
}

void TELSessionsRegister() { TELClassRegistry::registerClass("TELSessions", std::make_shared<TELSessionsLibrary>()); }
