// ETRegistrar: which uploader, storage and metrics controller serve each target.
//
// Registrations run asynchronously on the serial queue "ziz.ozudor.ETRegistrar", in the
// order made; a getter called after a registration sees it (while a registration is still
// queued the getter waits its turn on the queue; otherwise it reads under a lock without a
// queue hop, as the transformer does once per event). Getters hand out copies of the tables: a caller may walk them on any thread while
// registrations go on. A storage or metrics-controller registration then makes the target's
// metrics controller the storage's delegate (none clears it). Nothing unregisters.
//
// The registrar passes lifecycle calls on to every uploader, then every storage, once per
// target each is registered for.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <memory>

#include "platform/dispatch/queue.h"
#include "transport/events/protocols.h"

class ETRegistrar : public ETLifecycleProtocol, public std::enable_shared_from_this<ETRegistrar> {
 public:
  static std::shared_ptr<ETRegistrar> sharedInstance();
  ETRegistrar();

  void registerUploader(std::shared_ptr<ETUploader> uploader, long target);
  void registerStorage(std::shared_ptr<ETStoragePromiseProtocol> storage, long target);
  void registerMetricsController(std::shared_ptr<ETMetricsControllerProtocol> controller, long target);

  std::map<long, std::shared_ptr<ETUploader>> targetToUploader() const;
  std::map<long, std::shared_ptr<ETStoragePromiseProtocol>> targetToStorage() const;
  std::map<long, std::shared_ptr<ETMetricsControllerProtocol>> targetToMetricsController() const;
  // The storage of one target, or none.
  std::shared_ptr<ETStoragePromiseProtocol> storageForTarget(long target) const;
  const std::shared_ptr<platform::DispatchQueue>& registrarQueue() const { return queue_; }

  bool respondsToLifecycleOperation(ETLifecycleOperation) const override { return true; }
  void appWillBackground(const std::shared_ptr<ETApplication>& application) override;
  void appWillForeground(const std::shared_ptr<ETApplication>& application) override;
  void appWillTerminate(const std::shared_ptr<ETApplication>& application) override;

 private:
  // Queues the entry's registration.
  template <class Member>
  void registerMember(std::map<long, std::shared_ptr<Member>> ETRegistrar::*table, std::shared_ptr<Member> member,
                      long target, const char* kind, bool setsDelegate);
  // On the registrar queue.
  void setMetricsControllerAsStorageDelegateForTarget(long target);
  void fanOut(ETLifecycleOperation operation, const std::shared_ptr<ETApplication>& application);
  // Runs `read` under the tables' lock, after the queued registrations when there are any.
  template <class F>
  auto readTables(F&& read) const;

  std::shared_ptr<platform::DispatchQueue> queue_;
  std::atomic<long> pendingRegistrations_{0};
  mutable std::mutex tablesMutex_;
  std::map<long, std::shared_ptr<ETUploader>> uploaders_;
  std::map<long, std::shared_ptr<ETStoragePromiseProtocol>> storages_;
  std::map<long, std::shared_ptr<ETMetricsControllerProtocol>> metricsControllers_;
};
