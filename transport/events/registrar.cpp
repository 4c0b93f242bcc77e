#include "transport/events/registrar.h"

#include <mutex>

#include "platform/process_state/process_state.h"
#include "transport/events/console.h"

namespace {
platform::ProcessValue<std::shared_ptr<ETUploadCoordinatorProtocol>>& sharedCoordinator() {
  static auto* coordinator = new platform::ProcessValue<std::shared_ptr<ETUploadCoordinatorProtocol>>();
  return *coordinator;
}
}  // namespace

std::shared_ptr<ETUploadCoordinatorProtocol> ETSharedUploadCoordinator() { return sharedCoordinator().get(); }

void ETSetSharedUploadCoordinator(std::shared_ptr<ETUploadCoordinatorProtocol> coordinator) {
  sharedCoordinator().set(std::move(coordinator));
}

bool ETLifecycleProtocol::performLifecycleOperation(ETLifecycleOperation operation,
                                                    const std::shared_ptr<ETApplication>& application) {
  if (!respondsToLifecycleOperation(operation)) return false;
  switch (operation) {
    case ETLifecycleOperation::WillBackground:
      appWillBackground(application);
      break;
    case ETLifecycleOperation::WillForeground:
      appWillForeground(application);
      break;
    case ETLifecycleOperation::WillTerminate:
      appWillTerminate(application);
      break;
  }
  return true;
}

std::shared_ptr<ETBackgroundTask> ETBackgroundTask::begin(const std::shared_ptr<ETApplicationProtocol>& application,
                                                          const std::string& name) {
  auto task = std::make_shared<ETBackgroundTask>();
  if (!application) return task;
  task->application_ = application;
  // The platform keeps the handler, and with it the task, until the task ends.
  task->identifier_.store(application->beginBackgroundTaskWithName(name, [task] { task->end(); }));
  return task;
}

bool ETBackgroundTask::end() {
  const ETBackgroundIdentifier identifier = identifier_.exchange(ETBackgroundIdentifierInvalid);
  if (identifier == ETBackgroundIdentifierInvalid) return false;
  if (auto application = application_.lock()) application->endBackgroundTask(identifier);
  return true;
}

std::shared_ptr<ETRegistrar> ETRegistrar::sharedInstance() {
  static auto* registrar = new platform::ProcessValue<std::shared_ptr<ETRegistrar>>();
  return registrar->getOrMake([] { return std::make_shared<ETRegistrar>(); });
}

ETRegistrar::ETRegistrar() : queue_(platform::DispatchQueue::makeSerial("ziz.ozudor.ETRegistrar")) {}

template <class Member>
void ETRegistrar::registerMember(std::map<long, std::shared_ptr<Member>> ETRegistrar::*table,
                                 std::shared_ptr<Member> member, long target, const char* kind, bool setsDelegate) {
  ++pendingRegistrations_;
  queue_->async([weak = weak_from_this(), table, member = std::move(member), target, kind, setsDelegate] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->tablesMutex_);
      (self.get()->*table)[target] = member;
    }
    ET_LOG_DEBUG("Registered %s: %p for target:%ld", kind, static_cast<void*>(member.get()), target);
    if (setsDelegate) self->setMetricsControllerAsStorageDelegateForTarget(target);
    --self->pendingRegistrations_;
  });
}

void ETRegistrar::registerUploader(std::shared_ptr<ETUploader> uploader, long target) {
  registerMember(&ETRegistrar::uploaders_, std::move(uploader), target, "an uploader", false);
}

void ETRegistrar::registerStorage(std::shared_ptr<ETStoragePromiseProtocol> storage, long target) {
  registerMember(&ETRegistrar::storages_, std::move(storage), target, "storage", true);
}

void ETRegistrar::registerMetricsController(std::shared_ptr<ETMetricsControllerProtocol> controller, long target) {
  registerMember(&ETRegistrar::metricsControllers_, std::move(controller), target, "metrics controller", true);
}

void ETRegistrar::setMetricsControllerAsStorageDelegateForTarget(long target) {
  std::shared_ptr<ETStoragePromiseProtocol> storage;
  std::shared_ptr<ETMetricsControllerProtocol> controller;
  {
    std::lock_guard lock(tablesMutex_);
    auto storageEntry = storages_.find(target);
    if (storageEntry != storages_.end()) storage = storageEntry->second;
    auto controllerEntry = metricsControllers_.find(target);
    if (controllerEntry != metricsControllers_.end()) controller = controllerEntry->second;
  }
  if (storage) storage->setDelegate(controller);
}

template <class F>
auto ETRegistrar::readTables(F&& read) const {
  if (pendingRegistrations_.load() > 0 && !queue_->isCurrent()) queue_->sync([] {});
  std::lock_guard lock(tablesMutex_);
  return read();
}

std::map<long, std::shared_ptr<ETUploader>> ETRegistrar::targetToUploader() const {
  return readTables([this] { return uploaders_; });
}

std::map<long, std::shared_ptr<ETStoragePromiseProtocol>> ETRegistrar::targetToStorage() const {
  return readTables([this] { return storages_; });
}

std::map<long, std::shared_ptr<ETMetricsControllerProtocol>> ETRegistrar::targetToMetricsController() const {
  return readTables([this] { return metricsControllers_; });
}

std::shared_ptr<ETStoragePromiseProtocol> ETRegistrar::storageForTarget(long target) const {
  return readTables([this, target]() -> std::shared_ptr<ETStoragePromiseProtocol> {
    auto found = storages_.find(target);
    return found == storages_.end() ? nullptr : found->second;
  });
}

void ETRegistrar::fanOut(ETLifecycleOperation operation, const std::shared_ptr<ETApplication>& application) {
  for (const auto& [target, uploader] : targetToUploader()) {
    if (uploader) uploader->performLifecycleOperation(operation, application);
  }
  for (const auto& [target, storage] : targetToStorage()) {
    if (storage) storage->performLifecycleOperation(operation, application);
  }
}

void ETRegistrar::appWillBackground(const std::shared_ptr<ETApplication>& application) {
  fanOut(ETLifecycleOperation::WillBackground, application);
}

void ETRegistrar::appWillForeground(const std::shared_ptr<ETApplication>& application) {
  fanOut(ETLifecycleOperation::WillForeground, application);
}

void ETRegistrar::appWillTerminate(const std::shared_ptr<ETApplication>& application) {
  fanOut(ETLifecycleOperation::WillTerminate, application);
}
