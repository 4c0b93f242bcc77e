#include "crash-reporting/pipeline/on_demand_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/reports/exception_recording.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/settings/settings.h"

namespace {

double positiveOr(double value, double fallback) { return std::isfinite(value) && value > 0 ? value : fallback; }

}  // namespace

// ---- CRInterruptibleSleeper ---------------------------------------------------------------

void CRInterruptibleSleeper::sleepForSeconds(uint32_t seconds) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return interrupted_; });
}

void CRInterruptibleSleeper::interrupt() {
  {
    std::lock_guard lock(mutex_);
    interrupted_ = true;
  }
  wake_.notify_all();
}

// ---- CROnDemandModel ----------------------------------------------------------------------

CROnDemandModel::CROnDemandModel(std::shared_ptr<const CRSettings> settings,
                                 std::shared_ptr<const CRFileManager> fileManager, Clock clock,
                                 std::shared_ptr<CRInterruptibleSleeper> sleeper, Recorder recorder)
    : settings_(std::move(settings)),
      operationQueue_(platform::OperationQueue::make("raz.ovevar.uvivarud.ezivezireze.ios.on-demand-queue")),
      clock_(clock ? std::move(clock) : Clock(CRSettings::currentTimestamp)),
      fileManager_(std::move(fileManager)),
      sleeper_(sleeper ? std::move(sleeper) : std::make_shared<CRInterruptibleSleeper>()),
      recorder_(recorder ? std::move(recorder) : Recorder(CRExceptionRecordOnDemandFromModel)) {
  operationQueue_->setMaxConcurrentOperationCount(1);
  lastUpdated_ = clock_();
}

CROnDemandModel::~CROnDemandModel() {
  shutDown();
  waitUntilIdle();
}

double CROnDemandModel::uploadRate() const {
  return positiveOr(settings_ ? settings_->onDemandUploadRate() : kDefaultUploadRate, kDefaultUploadRate);
}
double CROnDemandModel::backoffBase() const {
  return positiveOr(settings_ ? settings_->onDemandBackoffBase() : kDefaultBackoffBase, kDefaultBackoffBase);
}
double CROnDemandModel::backoffStepDuration() const {
  const double seconds = settings_ ? settings_->onDemandBackoffStepDuration() : kDefaultBackoffStepDuration;
  return positiveOr(seconds, kDefaultBackoffStepDuration);
}

bool CROnDemandModel::recordOnDemandExceptionIfQuota(
    const TELExceptionModel& model, bool dataCollectionEnabled,
    const std::shared_ptr<CROnDemandReportUploading>& existingReportManager) {
  std::lock_guard lock(lock_);
  if (isQueueFull()) {
    CRConsoleDebug("No available on-demand quota, dropping report");
    incrementDroppedExceptionCount();
    incrementRecordedExceptionCount();
    return false;
  }
  CRDataCollectionTokenRef token = CRDataCollectionToken::validToken();
  const std::optional<std::string> path = recordOnDemandExceptionWithModel(model);
  if (!path) {
    CRConsoleError("Error recording on-demand exception");
    return false;
  }
  incrementQueuedOperationCount();
  incrementRecordedExceptionCount();
  resetDroppedExceptionCount();

  operationQueue_->addOperation([this, path = *path, token, dataCollectionEnabled, existingReportManager] {
    const double delay = calculateUploadDelay();
    if (dataCollectionEnabled) {
      if (existingReportManager) existingReportManager->handleOnDemandReportUpload(path, token, true);
      CRConsoleDebug("Submitted an on-demand exception, starting delay %.20f", delay);
    } else {
      {
        std::lock_guard storedLock(lock_);
        storedActiveReportPaths_.insert(storedActiveReportPaths_.begin(), path);
        if (storedActiveReportPaths_.size() > kMaximumStoredReports) {
          if (fileManager_) fileManager_->removeItemAtPath(storedActiveReportPaths_.back());
          storedActiveReportPaths_.pop_back();
          decrementRecordedExceptionCount();
          incrementDroppedExceptionCount();
        }
      }
      CRConsoleDebug("Stored an on-demand exception, starting delay %.20f", delay);
    }
    implementOnDemandUploadDelay(static_cast<uint32_t>(delay));
    decrementQueuedOperationCount();
  });
  return true;
}

bool CROnDemandModel::isQueueFull() const {
  std::lock_guard lock(lock_);
  return static_cast<double>(queuedOperationsCount_) >= uploadRate();
}

double CROnDemandModel::calculateStepDuration() {
  std::lock_guard lock(lock_);
  return calculateStepDurationLocked();
}

double CROnDemandModel::calculateStepDurationLocked() {
  const double now = clock_();
  if (currentStep_ == -1.0) {
    currentStep_ = 0;
    lastUpdated_ = now;
  }
  const double elapsedSteps = (now - lastUpdated_) / backoffStepDuration();
  const double step = isQueueFull() ? std::min(currentStep_ + elapsedSteps, 100.0)
                                    : std::max(currentStep_ - elapsedSteps, 0.0);
  if (step != currentStep_) {
    currentStep_ = step;
    lastUpdated_ = now;
  }
  return step;
}

double CROnDemandModel::calculateUploadDelay() {
  std::lock_guard lock(lock_);
  const double step = calculateStepDurationLocked();
  const double delay = std::pow(backoffBase(), step) * (60.0 / uploadRate());
  if (!std::isfinite(delay)) return kMaximumDelaySeconds;
  return std::clamp(delay, 0.0, kMaximumDelaySeconds);
}

void CROnDemandModel::implementOnDemandUploadDelay(uint32_t seconds) { sleeper_->sleepForSeconds(seconds); }

std::optional<std::string> CROnDemandModel::recordOnDemandExceptionWithModel(const TELExceptionModel& model) {
  std::lock_guard lock(lock_);
  return recorder_(model, recordedOnDemandExceptionCount_, droppedOnDemandExceptionCount_);
}

int CROnDemandModel::recordedOnDemandExceptionCount() const {
  std::lock_guard lock(lock_);
  return recordedOnDemandExceptionCount_;
}
int CROnDemandModel::droppedOnDemandExceptionCount() const {
  std::lock_guard lock(lock_);
  return droppedOnDemandExceptionCount_;
}
int CROnDemandModel::getQueuedOperationsCount() const {
  std::lock_guard lock(lock_);
  return queuedOperationsCount_;
}
void CROnDemandModel::incrementRecordedExceptionCount() {
  std::lock_guard lock(lock_);
  ++recordedOnDemandExceptionCount_;
}
void CROnDemandModel::decrementRecordedExceptionCount() {
  std::lock_guard lock(lock_);
  --recordedOnDemandExceptionCount_;
}
void CROnDemandModel::incrementDroppedExceptionCount() {
  std::lock_guard lock(lock_);
  ++droppedOnDemandExceptionCount_;
}
void CROnDemandModel::decrementDroppedExceptionCount() {
  std::lock_guard lock(lock_);
  --droppedOnDemandExceptionCount_;
}
void CROnDemandModel::resetDroppedExceptionCount() {
  std::lock_guard lock(lock_);
  droppedOnDemandExceptionCount_ = 0;
}
void CROnDemandModel::incrementQueuedOperationCount() {
  std::lock_guard lock(lock_);
  ++queuedOperationsCount_;
}
void CROnDemandModel::decrementQueuedOperationCount() {
  std::lock_guard lock(lock_);
  --queuedOperationsCount_;
}

std::vector<std::string> CROnDemandModel::storedActiveReportPaths() const {
  std::lock_guard lock(lock_);
  return storedActiveReportPaths_;
}

std::vector<std::string> CROnDemandModel::takeStoredActiveReportPaths() {
  std::lock_guard lock(lock_);
  return std::exchange(storedActiveReportPaths_, {});
}

void CROnDemandModel::shutDown() { sleeper_->interrupt(); }

void CROnDemandModel::waitUntilIdle() const { operationQueue_->waitUntilAllOperationsAreFinished(); }

double CROnDemandModel::currentStep() const {
  std::lock_guard lock(lock_);
  return currentStep_;
}
