#include "transport/events/registrar.h"

#include <mutex>

#include "transport/events/console.h"

namespace {
std::mutex gCoordinatorMutex;
std::shared_ptr<ETUploadCoordinatorProtocol> gCoordinator;
}  // namespace

std::shared_ptr<ETUploadCoordinatorProtocol> ETSharedUploadCoordinator() {
  std::lock_guard lock(gCoordinatorMutex);
  return gCoordinator;
}

void ETSetSharedUploadCoordinator(std::shared_ptr<ETUploadCoordinatorProtocol> coordinator) {
  std::lock_guard lock(gCoordinatorMutex);
  gCoordinator = std::move(coordinator);
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

std::shared_ptr<ETRegistrar> ETRegistrar::sharedInstance() {
  static const auto registrar = std::make_shared<ETRegistrar>();
  return registrar;
}

ETRegistrar::ETRegistrar() : queue_(platform::DispatchQueue::makeSerial("ziz.ozudor.ETRegistrar")) {}

void ETRegistrar::registerUploader(std::shared_ptr<ETUploader> uploader, long target) {
  ++pendingRegistrations_;
  queue_->async([weak = weak_from_this(), uploader = std::move(uploader), target] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->tablesMutex_);
      self->uploaders_[target] = uploader;
    }
    --self->pendingRegistrations_;
    ET_LOG_DEBUG("Registered an uploader: %p for target:%ld", static_cast<void*>(uploader.get()), target);
  });
}

void ETRegistrar::registerStorage(std::shared_ptr<ETStoragePromiseProtocol> storage, long target) {
  ++pendingRegistrations_;
  queue_->async([weak = weak_from_this(), storage = std::move(storage), target] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->tablesMutex_);
      self->storages_[target] = storage;
    }
    ET_LOG_DEBUG("Registered storage: %p for target:%ld", static_cast<void*>(storage.get()), target);
    self->setMetricsControllerAsStorageDelegateForTarget(target);
    --self->pendingRegistrations_;
  });
}

void ETRegistrar::registerMetricsController(std::shared_ptr<ETMetricsControllerProtocol> controller, long target) {
  ++pendingRegistrations_;
  queue_->async([weak = weak_from_this(), controller = std::move(controller), target] {
    auto self = weak.lock();
    if (!self) return;
    {
      std::lock_guard lock(self->tablesMutex_);
      self->metricsControllers_[target] = controller;
    }
    ET_LOG_DEBUG("Registered metrics controller: %p for target:%ld", static_cast<void*>(controller.get()), target);
    self->setMetricsControllerAsStorageDelegateForTarget(target);
    --self->pendingRegistrations_;
  });
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
