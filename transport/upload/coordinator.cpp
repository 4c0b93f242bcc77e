#include "transport/upload/coordinator.h"

#include <set>

#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/network_info.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/registrar.h"

// ---- ETReachability --------------------------------------------------------------------

namespace {
std::mutex gReachabilityMutex;
std::shared_ptr<ETReachability> gReachability;
}  // namespace

ETReachability::ETReachability() : queue_(platform::DispatchQueue::makeSerial("ziz.ozudor.ETReachability")) {}

std::shared_ptr<ETReachability> ETReachability::make(std::shared_ptr<platform::NetworkReachability> provider) {
  auto reachability = std::make_shared<ETReachability>();
  reachability->start(std::move(provider));
  return reachability;
}

std::shared_ptr<ETReachability> ETReachability::sharedInstance() {
  std::lock_guard lock(gReachabilityMutex);
  if (!gReachability) {
    // The machine's own interfaces and default route; never mobile data.
    gReachability = make(platform::PollingReachability::make([] { return UTLReachability().flags(); }));
  }
  return gReachability;
}

void ETReachability::start(std::shared_ptr<platform::NetworkReachability> provider) {
  provider_ = std::move(provider);
  std::weak_ptr<ETReachability> weak = weak_from_this();
  const bool callbackSet = provider_ && provider_->setCallback(
                                            [weak](uint32_t flags) {
                                              ET_LOG_DEBUG("Reachability changed, new flags: %u", flags);
                                              if (auto self = weak.lock()) self->setCallbackFlags(flags);
                                            },
                                            queue_);
  if (!callbackSet) ET_LOG(ETMCReachability, ETLogLevelWarning, "The reachability callback wasn't set.");
  queue_->async([self = shared_from_this()] {
    std::optional<uint32_t> read = self->provider_ ? self->provider_->getFlags() : std::nullopt;
    if (!read) ET_LOG_DEBUG("Determining reachability failed.");
    self->flags_ = read.value_or(0);
  });
}

uint32_t ETReachability::currentFlags() {
  uint32_t result = 0;
  queue_->sync([&] { result = callbackFlags_ != 0 ? callbackFlags_ : flags_; });
  ET_LOG_DEBUG("Initial reachability flags determined: %u", result);
  return result;
}

uint32_t ETReachability::flags() {
  uint32_t result = 0;
  queue_->sync([&] { result = flags_; });
  return result;
}

void ETReachability::setFlags(uint32_t flags) {
  queue_->async([self = shared_from_this(), flags] { self->flags_ = flags; });
}

void ETReachability::setCallbackFlags(uint32_t flags) {
  auto store = [this, flags] {
    if (callbackFlags_ != flags) callbackFlags_ = flags;
  };
  if (queue_->isCurrent()) {
    store();
  } else {
    queue_->async([self = shared_from_this(), store] { store(); });
  }
}

// ---- ETUploadCoordinator ---------------------------------------------------------------

ETUploadCoordinator::ETUploadCoordinator(std::shared_ptr<ETRegistrar> registrar,
                                         std::shared_ptr<ETReachability> reachability,
                                         std::shared_ptr<ETApplicationProtocol> application)
    : queue_(platform::DispatchQueue::makeSerial("ziz.ozudor.ETUploadCoordinator")),
      registrar_(std::move(registrar)),
      reachability_(std::move(reachability)),
      application_(std::move(application)) {}

std::shared_ptr<ETUploadCoordinator> ETUploadCoordinator::make(std::shared_ptr<ETRegistrar> registrar,
                                                               std::shared_ptr<ETReachability> reachability,
                                                               std::shared_ptr<ETApplicationProtocol> application) {
  return std::make_shared<ETUploadCoordinator>(std::move(registrar), std::move(reachability), std::move(application));
}

std::shared_ptr<ETUploadCoordinator> ETUploadCoordinator::sharedInstance() {
  static auto* instance = new platform::ProcessValue<std::shared_ptr<ETUploadCoordinator>>();
  return instance->getOrMake([] {
    auto coordinator = make(ETRegistrar::sharedInstance());
    coordinator->startTimer();
    return coordinator;
  });
}

std::shared_ptr<ETReachability> ETUploadCoordinator::reachability() {
  return reachability_ ? reachability_ : ETReachability::sharedInstance();
}

bool ETUploadCoordinator::isRunningInBackground() {
  if (application_) return application_->isRunningInBackground();
  auto shared = ETApplication::sharedApplication();
  return shared && shared->isRunningInBackground();
}

void ETUploadCoordinator::forceUploadForTarget(long target) {
  queue_->async([self = shared_from_this(), target] {
    ET_LOG_DEBUG("Forcing an upload of target %ld", target);
    const ETUploadConditions conditions = self->uploadConditions() | ETUploadConditionHighPriority;
    self->uploadTargets({target}, conditions);
  });
}

void ETUploadCoordinator::uploadTargets(std::vector<long> targets, ETUploadConditions conditions) {
  queue_->async([self = shared_from_this(), targets = std::move(targets), conditions] {
    if ((conditions & ETUploadConditionNoNetwork) != 0) return;
    const auto uploaders = self->registrar_->targetToUploader();
    for (long target : targets) {
      auto found = uploaders.find(target);
      if (found == uploaders.end() || !found->second) continue;
      found->second->uploadTarget(target, conditions);
    }
  });
}

ETUploadConditions ETUploadCoordinator::uploadConditions() {
  const uint32_t flags = reachability()->currentFlags();
  if (!ETFlagsSayReachable(flags)) return ETUploadConditionNoNetwork;
  return ETFlagsSayCellular(flags) ? ETUploadConditionMobileData : ETUploadConditionWifiData;
}

void ETUploadCoordinator::startTimer() {
  queue_->async([self = shared_from_this()] {
    if (self->timer_) return;
    self->timer_ = platform::DispatchTimer::make(self->queue_);
    std::weak_ptr<ETUploadCoordinator> weak = self;
    self->timer_->setEventHandler([weak] {
      auto coordinator = weak.lock();
      if (!coordinator || coordinator->isRunningInBackground()) return;
      const ETUploadConditions conditions = coordinator->uploadConditions();
      ET_LOG_DEBUG("Upload timer fired");
      std::vector<long> targets;
      for (const auto& [target, uploader] : coordinator->registrar_->targetToUploader()) targets.push_back(target);
      coordinator->uploadTargets(std::move(targets), conditions);
    });
    self->timer_->schedule(kFirstFire, kTimerInterval, kTimerLeeway);
    ET_LOG_DEBUG("Upload timer started");
    self->timer_->resume();
  });
}

void ETUploadCoordinator::stopTimer() {
  queue_->async([self = shared_from_this()] {
    if (!self->timer_) return;
    self->timer_->cancel();
    self->timer_.reset();
  });
}

bool ETUploadCoordinator::hasTimer() {
  bool has = false;
  queue_->sync([&] { has = timer_ != nullptr; });
  return has;
}

void ETUploadCoordinator::signalToStoragesToCheckExpirations() {
  std::set<std::shared_ptr<ETStoragePromiseProtocol>> storages;
  for (const auto& [target, storage] : registrar_->targetToStorage()) {
    if (storage) storages.insert(storage);
  }
  for (const auto& storage : storages) storage->checkForExpirations();
}

std::shared_ptr<ETStoragePromiseProtocol> ETUploadCoordinator::storageForTarget(long target) {
  auto storage = registrar_->storageForTarget(target);
  if (!storage) ET_ASSERT(false, "A storage must be registered for target %ld", target);
  return storage;
}

void ETUploadCoordinator::appWillForeground(const std::shared_ptr<ETApplication>&) {
  startTimer();
  signalToStoragesToCheckExpirations();
}

void ETUploadCoordinator::appWillBackground(const std::shared_ptr<ETApplication>&) { stopTimer(); }

void ETUploadCoordinator::appWillTerminate(const std::shared_ptr<ETApplication>&) { stopTimer(); }
