#include "transport/events/application.h"

#include <mutex>
#include <string_view>

#include "platform/foundation/bundle.h"
#include "platform/process_state/process_state.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"
#include "transport/events/transport.h"

static_assert(ETBackgroundIdentifierInvalid == platform::kInvalidBackgroundTask,
              "ETBackgroundIdentifierInvalid and UIBackgroundTaskInvalid should be the same.");

namespace {

platform::ProcessValue<std::shared_ptr<ETApplication>>& sharedApplicationSlot() {
  static auto* application = new platform::ProcessValue<std::shared_ptr<ETApplication>>();
  return *application;
}

platform::ProcessValue<std::shared_ptr<ETLifecycle>>& sharedLifecycleSlot() {
  static auto* lifecycle = new platform::ProcessValue<std::shared_ptr<ETLifecycle>>();
  return *lifecycle;
}

const char* operationWord(ETLifecycleOperation operation) {
  switch (operation) {
    case ETLifecycleOperation::WillBackground:
      return "backgrounding";
    case ETLifecycleOperation::WillForeground:
      return "foregrounding";
    case ETLifecycleOperation::WillTerminate:
      return "terminating";
  }
  return "";
}

}  // namespace

// ---- ETApplication --------------------------------------------------------------------

void ETApplication::load() { (void)sharedApplication(); }

std::shared_ptr<ETApplication> ETApplication::sharedApplication() {
  return sharedApplicationSlot().getOrMake([] {
    ET_LOG_DEBUG(
        "ET is initializing. Please note that if you quit the app via the debugger and not through a lifecycle "
        "event, event data will remain on disk but storage won't have a reference to them since the singleton "
        "wasn't saved to disk.");
    return make();
  });
}

std::shared_ptr<ETApplication> ETApplication::make(PlatformApplicationProvider provider) {
  std::shared_ptr<ETApplication> application(new ETApplication());
  application->provider_ = provider ? std::move(provider) : PlatformApplicationProvider(sharedApplicationForBackgroundTask);
  application->observe();
  return application;
}

void ETApplication::observe() {
  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<ETApplication> weak = weak_from_this();
  auto background = [weak](const platform::Notification&) {
    auto self = weak.lock();
    if (!self) return;
    self->setIsRunningInBackground(true);
    ET_LOG_DEBUG("ETPlatform is sending a notif that the app is backgrounding.");
    platform::NotificationCenter::defaultCenter().post(ETApplicationDidEnterBackgroundNotification);
  };
  auto foreground = [weak](const platform::Notification&) {
    auto self = weak.lock();
    if (!self) return;
    self->setIsRunningInBackground(false);
    ET_LOG_DEBUG("ETPlatform is sending a notif that the app is foregrounding.");
    platform::NotificationCenter::defaultCenter().post(ETApplicationWillEnterForegroundNotification);
  };
  auto terminate = [weak](const platform::Notification&) {
    if (!weak.lock()) return;
    ET_LOG_DEBUG("ETPlatform is sending a notif that the app is terminating.");
    platform::NotificationCenter::defaultCenter().post(ETApplicationWillTerminateNotification);
  };
  tokens_.push_back(center.addObserver(platform::kApplicationDidEnterBackgroundNotification, background));
  tokens_.push_back(center.addObserver(platform::kApplicationWillEnterForegroundNotification, foreground));
  tokens_.push_back(center.addObserver(platform::kApplicationWillTerminateNotification, terminate));
  tokens_.push_back(center.addObserver(platform::kSceneWillEnterForegroundNotification, foreground));
  tokens_.push_back(center.addObserver(platform::kSceneWillDeactivateNotification, background));
}

ETApplication::~ETApplication() {
  for (auto token : tokens_) platform::NotificationCenter::defaultCenter().removeObserver(token);
}

ETBackgroundIdentifier ETApplication::beginBackgroundTaskWithName(const std::string& name,
                                                                  std::function<void()> expirationHandler) {
  auto platformApplication = provider_ ? provider_() : nullptr;
  if (!platformApplication) return ETBackgroundIdentifierInvalid;
  const ETBackgroundIdentifier identifier =
      platformApplication->beginBackgroundTask(name, std::move(expirationHandler));
  if (identifier != ETBackgroundIdentifierInvalid) {
    ET_LOG_DEBUG("Creating background task with name:%s bgID:%ld", name.c_str(), identifier);
  }
  return identifier;
}

void ETApplication::endBackgroundTask(ETBackgroundIdentifier identifier) {
  if (identifier == ETBackgroundIdentifierInvalid) return;
  ET_LOG_DEBUG("Ending background task with ID:%ld was successful", identifier);
  if (auto platformApplication = provider_ ? provider_() : nullptr) platformApplication->endBackgroundTask(identifier);
}

bool ETApplication::isAppExtension() {
  const std::string path = platform::Bundle::main()->bundlePath().string();
  constexpr std::string_view suffix = ".appex";
  return path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::shared_ptr<platform::BackgroundTaskService> ETApplication::sharedApplicationForBackgroundTask() {
  if (isAppExtension()) return nullptr;
  return platform::BackgroundTaskService::shared();
}

// ---- ETLifecycle ----------------------------------------------------------------------

void ETLifecycle::load() { (void)sharedInstance(); }

std::shared_ptr<ETLifecycle> ETLifecycle::sharedInstance() {
  return sharedLifecycleSlot().getOrMake([] { return make(); });
}

std::shared_ptr<ETLifecycle> ETLifecycle::make() {
  std::shared_ptr<ETLifecycle> lifecycle(new ETLifecycle());
  auto& center = platform::NotificationCenter::defaultCenter();
  std::weak_ptr<ETLifecycle> weak = lifecycle;
  auto observer = [weak](ETLifecycleOperation operation) {
    return [weak, operation](const platform::Notification&) {
      if (auto self = weak.lock()) self->fanOut(operation);
    };
  };
  lifecycle->tokens_.push_back(
      center.addObserver(ETApplicationDidEnterBackgroundNotification, observer(ETLifecycleOperation::WillBackground)));
  lifecycle->tokens_.push_back(
      center.addObserver(ETApplicationWillEnterForegroundNotification, observer(ETLifecycleOperation::WillForeground)));
  lifecycle->tokens_.push_back(
      center.addObserver(ETApplicationWillTerminateNotification, observer(ETLifecycleOperation::WillTerminate)));
  return lifecycle;
}

ETLifecycle::~ETLifecycle() {
  for (auto token : tokens_) platform::NotificationCenter::defaultCenter().removeObserver(token);
}

void ETLifecycle::fanOut(ETLifecycleOperation operation) {
  auto application = ETApplication::sharedApplication();
  const char* word = operationWord(operation);
  auto transformer = ETTransformer::sharedInstance();
  if (transformer->respondsToLifecycleOperation(operation)) {
    ET_LOG_DEBUG("Signaling ETTransformer that the app is %s.", word);
    transformer->performLifecycleOperation(operation, application);
  }
  if (auto coordinator = ETSharedUploadCoordinator(); coordinator && coordinator->respondsToLifecycleOperation(operation)) {
    ET_LOG_DEBUG("Signaling ETUploadCoordinator that the app is %s.", word);
    coordinator->performLifecycleOperation(operation, application);
  }
  auto registrar = ETRegistrar::sharedInstance();
  ET_LOG_DEBUG("Signaling ETRegistrar that the app is %s.", word);
  registrar->performLifecycleOperation(operation, application);
}
