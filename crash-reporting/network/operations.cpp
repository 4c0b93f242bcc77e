#include "crash-reporting/network/operations.h"

bool CRAsyncOperation::checkForCancellation() {
  if (!isCancelled()) return false;
  markDone();
  return true;
}

void CRAsyncOperation::lock(const std::function<void()>& block) {
  std::lock_guard guard(lock_);
  block();
}

CRBaseAsyncOperation::CRBaseAsyncOperation(std::string_view className)
    : CRAsyncOperation("raz.ovevar.uvivarud.ezivezireze." + std::string(className) + "-lock") {}

CRAsyncCompletion CRBaseAsyncOperation::asyncCompletion() {
  CRAsyncCompletion completion;
  lock([&] { completion = asyncCompletion_; });
  return completion;
}

void CRBaseAsyncOperation::setAsyncCompletion(CRAsyncCompletion completion) {
  lock([&] { asyncCompletion_ = std::move(completion); });
}

void CRBaseAsyncOperation::finishWithError(std::optional<platform::Error> error) {
  CRAsyncCompletion completion;
  bool first = false;
  lock([&] {
    if (reported_ || isFinished()) return;
    reported_ = true;
    first = true;
    completion = asyncCompletion_;
  });
  if (!first) return;
  if (completion) completion(error);
  markDone();
}

// ---------------------------------------------------------------------------------

CRCompoundOperation::CRCompoundOperation(std::vector<std::shared_ptr<CRBaseAsyncOperation>> operations,
                                         std::string name)
    : CRBaseAsyncOperation("CRCompoundOperation"),
      operations_(std::move(operations)),
      compoundQueue_(platform::OperationQueue::make()),
      countingQueue_(platform::DispatchQueue::makeSerial(
          "raz.ovevar.uvivarud.ezivezireze.CRCompoundOperation.dispatch-queue.counting-queue")),
      name_(std::move(name)) {}

void CRCompoundOperation::onCountingQueue(const std::shared_ptr<platform::DispatchQueue>& queue,
                                          const platform::Block& block) {
  // A completion that already runs there (a sub-operation's own, say) must not wait for itself.
  if (queue->isCurrent()) return block();
  queue->sync(block);
}

std::weak_ptr<CRCompoundOperation> CRCompoundOperation::weakSelf() {
  return std::static_pointer_cast<CRCompoundOperation>(shared_from_this());
}

uint64_t CRCompoundOperation::completedOperations() const {
  uint64_t count = 0;
  onCountingQueue(countingQueue_, [&] { count = completedOperations_; });
  return count;
}

std::vector<platform::Error> CRCompoundOperation::errors() const {
  std::vector<platform::Error> errors;
  onCountingQueue(countingQueue_, [&] { errors = errors_; });
  return errors;
}

platform::PlistValue CRCompoundOperation::encodeError(const platform::Error& error) {
  platform::PlistValue::Dictionary userInfo(error.userInfo.begin(), error.userInfo.end());
  return platform::PlistValue(platform::PlistValue::Dictionary{
      {"domain", platform::PlistValue(error.domain)},
      {"code", platform::PlistValue(error.code)},
      {"userInfo", platform::PlistValue(std::move(userInfo))},
  });
}

void CRCompoundOperation::main() {
  {
    std::lock_guard guard(ranMutex_);
    ran_ = true;
  }
  if (operations_.empty()) {
    // Nothing will report, so nothing else would ever finish the compound.
    onCountingQueue(countingQueue_, [this] { attemptCompoundCompletion(); });
    return;
  }
  for (const auto& operation : operations_) {
    injectCompoundAsyncCompletionInOperation(operation);
    injectCompoundSyncCompletionInOperation(operation);
    compoundQueue_->addOperation(operation);
  }
}

void CRCompoundOperation::injectCompoundAsyncCompletionInOperation(
    const std::shared_ptr<CRBaseAsyncOperation>& operation) {
  CRAsyncCompletion own = operation->asyncCompletion();
  auto weak = weakSelf();
  auto countingQueue = countingQueue_;
  operation->setAsyncCompletion([weak, own, countingQueue](const std::optional<platform::Error>& error) {
    if (own) onCountingQueue(countingQueue, [&] { own(error); });
    if (auto self = weak.lock()) self->updateCompletionCountsWithError(error);
  });
}

void CRCompoundOperation::injectCompoundSyncCompletionInOperation(
    const std::shared_ptr<CRBaseAsyncOperation>& operation) {
  platform::Block own = operation->completionBlock();
  auto weak = weakSelf();
  auto countingQueue = countingQueue_;
  operation->setCompletionBlock([weak, own, countingQueue] {
    if (own) onCountingQueue(countingQueue, own);
    auto self = weak.lock();
    if (self) onCountingQueue(countingQueue, [&] { self->attemptCompoundCompletion(); });
  });
}

void CRCompoundOperation::updateCompletionCountsWithError(const std::optional<platform::Error>& error) {
  onCountingQueue(countingQueue_, [&] {
    if (error) {
      errors_.push_back(*error);
    } else {
      ++completedOperations_;
    }
  });
}

void CRCompoundOperation::attemptCompoundCompletion() {
  if (isCancelled()) {
    finishWithError(platform::Error::described(CRCompoundOperationErrorDomain, CRCompoundOperationErrorCodeCancelled,
                                               name_ + " cancelled"));
    setAsyncCompletion(nullptr);
    return;
  }
  if (completedOperations_ + errors_.size() != operations_.size()) return;
  if (errors_.empty()) {
    finishWithError(std::nullopt);
    return;
  }
  platform::PlistValue::Array underlying;
  for (const auto& error : errors_) underlying.push_back(encodeError(error));
  finishWithError(platform::Error(CRCompoundOperationErrorDomain, CRCompoundOperationErrorCodeSuboperationFailed,
                                  {{CRCompoundOperationErrorUserInfoKeyUnderlyingErrors,
                                    platform::PlistValue(std::move(underlying))}}));
}

void CRCompoundOperation::cancel() {
  if (isCancelled() || isFinished()) return;
  bool ran;
  {
    std::lock_guard guard(ranMutex_);
    ran = ran_;
    ran_ = true;
  }
  if (!ran) {
    for (const auto& operation : operations_) {
      operation->cancel();
      compoundQueue_->addOperation(operation);
    }
  } else {
    compoundQueue_->cancelAllOperations();
    onCountingQueue(countingQueue_, [this] { attemptCompoundCompletion(); });
  }
  CRBaseAsyncOperation::cancel();
}
