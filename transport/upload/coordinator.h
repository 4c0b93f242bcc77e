// ETUploadCoordinator decides when each target's uploader is asked to upload: on a timer
// while the app is in the foreground (first tick 0.5 s after start, then every 30 s with
// 5 s leeway) and at once when the storage asks for a forced upload. It hands the uploader
// the target and a conditions word derived from ETReachability; with no network nobody is
// asked and the events wait in storage.
//
// ETReachability keeps the flags of the network: the reading taken at start-up, then the
// flags of the last change callback (0 means "no callback yet").
//
// Threads: uploads and the timer run on the serial queue "ziz.ozudor.ETUploadCoordinator";
// flags are written only on "ziz.ozudor.ETReachability" and read by a sync onto it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/dispatch/timer.h"
#include "platform/reachability/reachability.h"
#include "transport/events/files.h"
#include "transport/events/protocols.h"

class ETRegistrar;

// Bits of the conditions word.
enum : ETUploadConditions {
  ETUploadConditionNoNetwork = 1,
  ETUploadConditionMobileData = 2,
  ETUploadConditionWifiData = 4,
  ETUploadConditionHighPriority = 16,
};

class ETReachability : public std::enable_shared_from_this<ETReachability> {
 public:
  // Over the machine's interfaces and default route, polled; made once.
  static std::shared_ptr<ETReachability> sharedInstance();
  static std::shared_ptr<ETReachability> make(std::shared_ptr<platform::NetworkReachability> provider);

  // The callback flags when non-zero, else the start-up flags.
  uint32_t currentFlags();
  uint32_t flags();
  void setFlags(uint32_t flags);
  // Stores only a value that differs.
  void setCallbackFlags(uint32_t flags);
  const std::shared_ptr<platform::DispatchQueue>& reachabilityQueue() const { return queue_; }

  ETReachability();

 private:
  void start(std::shared_ptr<platform::NetworkReachability> provider);

  std::shared_ptr<platform::NetworkReachability> provider_;
  std::shared_ptr<platform::DispatchQueue> queue_;
  uint32_t callbackFlags_ = 0;
  uint32_t flags_ = 0;
};

class ETUploadCoordinator : public ETUploadCoordinatorProtocol,
                            public std::enable_shared_from_this<ETUploadCoordinator> {
 public:
  static constexpr platform::Duration kTimerInterval = std::chrono::seconds(30);
  static constexpr platform::Duration kTimerLeeway = std::chrono::seconds(5);
  static constexpr platform::Duration kFirstFire = std::chrono::milliseconds(500);

  // Made once over the shared registrar, reachability and application; its timer starts.
  static std::shared_ptr<ETUploadCoordinator> sharedInstance();
  // A coordinator whose timer has not started. A null reachability or application means the
  // shared one.
  static std::shared_ptr<ETUploadCoordinator> make(std::shared_ptr<ETRegistrar> registrar,
                                                   std::shared_ptr<ETReachability> reachability = nullptr,
                                                   std::shared_ptr<ETApplicationProtocol> application = nullptr);

  void forceUploadForTarget(long target) override;
  void uploadTargets(std::vector<long> targets, ETUploadConditions conditions);
  ETUploadConditions uploadConditions();
  void startTimer();
  void stopTimer();
  void signalToStoragesToCheckExpirations();
  std::shared_ptr<ETStoragePromiseProtocol> storageForTarget(long target);

  bool respondsToLifecycleOperation(ETLifecycleOperation) const override { return true; }
  void appWillForeground(const std::shared_ptr<ETApplication>& application) override;
  void appWillBackground(const std::shared_ptr<ETApplication>& application) override;
  void appWillTerminate(const std::shared_ptr<ETApplication>& application) override;

  const std::shared_ptr<platform::DispatchQueue>& coordinationQueue() const { return queue_; }
  // Whether a timer runs (read on the coordination queue).
  bool hasTimer();

  ETUploadCoordinator(std::shared_ptr<ETRegistrar> registrar, std::shared_ptr<ETReachability> reachability,
                      std::shared_ptr<ETApplicationProtocol> application);

 private:
  std::shared_ptr<ETReachability> reachability();
  bool isRunningInBackground();

  std::shared_ptr<platform::DispatchQueue> queue_;
  std::shared_ptr<platform::DispatchTimer> timer_;  // on queue_
  std::shared_ptr<ETRegistrar> registrar_;
  std::shared_ptr<ETReachability> reachability_;
  std::shared_ptr<ETApplicationProtocol> application_;
};
