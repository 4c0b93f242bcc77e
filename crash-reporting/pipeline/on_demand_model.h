// CROnDemandModel: on-demand exceptions, reported at once in a report of their own. It limits
// how many such reports are in flight, spaces their uploads with a growing delay, and counts
// what it recorded and dropped, so that each new report tells the server how many came
// before it and how many were lost.
//
// Uploads (or, with collection off, stores) run one at a time on an operation queue, each
// followed by a sleep of the current delay, which spaces the next one. The sleep is
// interruptible: shutDown() ends every sleep at once, so no thread lingers at exit.
//
// Server values that are not positive and finite fall back to the defaults (10 per minute,
// base 1.5, 6-second steps), and the delay is kept within [0, 3600] seconds.
//
// Threads: any thread. The decision, the counters and the stored path list are guarded by
// the object's lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crash-reporting/network/network_operation.h"
#include "crash-reporting/reports/exception_model.h"
#include "platform/dispatch/operation_queue.h"

class CRFileManager;
class CRSettings;

// Where on-demand reports go when collection is on (the existing-report manager).
class CROnDemandReportUploading {
 public:
  virtual ~CROnDemandReportUploading() = default;
  virtual void handleOnDemandReportUpload(const std::string& path, const CRDataCollectionTokenRef& token,
                                          bool asUrgent) = 0;
};

// Blocks a thread for a number of seconds, unless interrupted; once interrupted, every sleep
// (current and later) returns at once.
class CRInterruptibleSleeper {
 public:
  virtual ~CRInterruptibleSleeper() = default;
  virtual void sleepForSeconds(uint32_t seconds);
  virtual void interrupt();

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool interrupted_ = false;
};

class CROnDemandModel {
 public:
  static constexpr double kDefaultUploadRate = 10.0;
  static constexpr double kDefaultBackoffBase = 1.5;
  static constexpr double kDefaultBackoffStepDuration = 6.0;
  static constexpr double kMaximumDelaySeconds = 3600.0;
  static constexpr size_t kMaximumStoredReports = 4;

  // Seconds since the reference date; the recorder writes the report and answers its folder.
  using Clock = std::function<double()>;
  using Recorder = std::function<std::optional<std::string>(const TELExceptionModel&, int recorded, int dropped)>;

  CROnDemandModel(std::shared_ptr<const CRSettings> settings, std::shared_ptr<const CRFileManager> fileManager,
                  Clock clock = nullptr, std::shared_ptr<CRInterruptibleSleeper> sleeper = nullptr,
                  Recorder recorder = nullptr);
  ~CROnDemandModel();

  bool recordOnDemandExceptionIfQuota(const TELExceptionModel& model, bool dataCollectionEnabled,
                                      const std::shared_ptr<CROnDemandReportUploading>& existingReportManager);
  bool isQueueFull() const;
  double calculateStepDuration();
  double calculateUploadDelay();
  void implementOnDemandUploadDelay(uint32_t seconds);
  std::optional<std::string> recordOnDemandExceptionWithModel(const TELExceptionModel& model);

  int recordedOnDemandExceptionCount() const;
  int droppedOnDemandExceptionCount() const;
  int getQueuedOperationsCount() const;
  void incrementRecordedExceptionCount();
  void decrementRecordedExceptionCount();
  void incrementDroppedExceptionCount();
  void decrementDroppedExceptionCount();
  void resetDroppedExceptionCount();
  void incrementQueuedOperationCount();
  void decrementQueuedOperationCount();

  // The stored reports, newest first; takeStoredActiveReportPaths() empties the list.
  std::vector<std::string> storedActiveReportPaths() const;
  std::vector<std::string> takeStoredActiveReportPaths();

  // Ends the current and every later delay; queued work still runs, without sleeping.
  void shutDown();
  // Blocks until every queued upload or store has finished (for tests and shutdown).
  void waitUntilIdle() const;

  double currentStep() const;
  const std::shared_ptr<platform::OperationQueue>& operationQueue() const { return operationQueue_; }

 private:
  double uploadRate() const;
  double backoffBase() const;
  double backoffStepDuration() const;
  double calculateStepDurationLocked();

  mutable std::recursive_mutex lock_;
  int recordedOnDemandExceptionCount_ = 0;
  int droppedOnDemandExceptionCount_ = 0;
  int queuedOperationsCount_ = 0;
  std::shared_ptr<const CRSettings> settings_;
  std::shared_ptr<platform::OperationQueue> operationQueue_;
  Clock clock_;
  double lastUpdated_ = 0;
  double currentStep_ = -1.0;
  std::shared_ptr<const CRFileManager> fileManager_;
  std::shared_ptr<CRInterruptibleSleeper> sleeper_;
  Recorder recorder_;
  std::vector<std::string> storedActiveReportPaths_;
};
