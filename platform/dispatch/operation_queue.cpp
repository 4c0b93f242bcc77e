#include "platform/dispatch/operation_queue.h"

#include <algorithm>
#include <stdexcept>

#include "platform/dispatch/internal/scheduler.h"

namespace platform {

// ---------------------------------------------------------------------------------
// Operation

void Operation::cancel() {
  std::lock_guard lock(mutex_);
  if (!finished_) cancelled_ = true;
}

bool Operation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Operation::isExecuting() const {
  std::lock_guard lock(mutex_);
  return executing_;
}

bool Operation::isFinished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void Operation::setCompletionBlock(Block block) {
  std::lock_guard lock(mutex_);
  completion_ = std::move(block);
}

Block Operation::completionBlock() const {
  std::lock_guard lock(mutex_);
  return completion_;
}

void Operation::start() {
  auto keepAlive = shared_from_this();
  bool skip;
  {
    std::lock_guard lock(mutex_);
    if (started_ || finished_) return;
    started_ = true;
    skip = cancelled_;
    if (!skip) executing_ = true;
  }
  if (skip) {
    finish();
    return;
  }
  try {
    main();
  } catch (...) {
    finish();
    throw;
  }
  if (!isAsynchronous()) finish();
}

void Operation::finish() {
  auto keepAlive = shared_from_this();
  Block completion;
  Block onFinished;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    executing_ = false;
    finished_ = true;
    completion = std::move(completion_);
    onFinished = std::move(onFinishedForQueue_);
  }
  // The completion block runs before the queue lets the operation go, so that
  // waitUntilAllOperationsAreFinished() also waits for completion blocks.
  if (completion) completion();
  if (onFinished) onFinished();
}

void BlockOperation::main() {
  if (block_) block_();
}

// ---------------------------------------------------------------------------------
// OperationQueue

std::shared_ptr<OperationQueue> OperationQueue::make(std::string name) {
  return std::shared_ptr<OperationQueue>(new OperationQueue(std::move(name)));
}

OperationQueue::OperationQueue(std::string name) : name_(std::move(name)) {}
OperationQueue::~OperationQueue() = default;

void OperationQueue::setMaxConcurrentOperationCount(int count) {
  {
    std::lock_guard lock(mutex_);
    maxConcurrent_ = count < 0 ? kDefaultMaxConcurrentOperationCount : count;
  }
  startReady();
}

int OperationQueue::maxConcurrentOperationCount() const {
  std::lock_guard lock(mutex_);
  return maxConcurrent_;
}

void OperationQueue::setSuspended(bool suspended) {
  {
    std::lock_guard lock(mutex_);
    suspended_ = suspended;
  }
  if (!suspended) startReady();
}

bool OperationQueue::isSuspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  if (!operation) throw std::invalid_argument("OperationQueue::addOperation: no operation");
  {
    std::lock_guard opLock(operation->mutex_);
    if (operation->started_ || operation->finished_ || operation->onFinishedForQueue_) {
      throw std::invalid_argument("OperationQueue::addOperation: operation already queued or run");
    }
    std::weak_ptr<OperationQueue> weakQueue = weak_from_this();
    std::weak_ptr<Operation> weakOp = operation;
    operation->onFinishedForQueue_ = [weakQueue, weakOp] {
      auto queue = weakQueue.lock();
      auto op = weakOp.lock();
      if (queue && op) queue->finished(op);
    };
  }
  {
    std::lock_guard lock(mutex_);
    waiting_.push_back(std::move(operation));
  }
  startReady();
}

void OperationQueue::addOperation(Block block) { addOperation(BlockOperation::make(std::move(block))); }

void OperationQueue::startReady() {
  std::vector<std::shared_ptr<Operation>> toStart;
  {
    std::lock_guard lock(mutex_);
    while (!suspended_ && !waiting_.empty() &&
           (maxConcurrent_ < 0 || static_cast<int>(running_.size()) < maxConcurrent_)) {
      running_.push_back(waiting_.front());
      toStart.push_back(waiting_.front());
      waiting_.pop_front();
    }
  }
  for (auto& op : toStart) {
    internal::ThreadPool::shared().submit([op] { op->start(); });
  }
}

void OperationQueue::finished(const std::shared_ptr<Operation>& op) {
  {
    std::lock_guard lock(mutex_);
    auto it = std::find(running_.begin(), running_.end(), op);
    if (it != running_.end()) {
      running_.erase(it);
    } else {
      // Finished before it was started (cancelled and finished by hand).
      auto waiting = std::find(waiting_.begin(), waiting_.end(), op);
      if (waiting != waiting_.end()) waiting_.erase(waiting);
    }
    if (running_.empty() && waiting_.empty()) idle_.notify_all();
  }
  startReady();
}

void OperationQueue::cancelAllOperations() {
  for (auto& op : operations()) op->cancel();
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
  std::lock_guard lock(mutex_);
  std::vector<std::shared_ptr<Operation>> all(running_.begin(), running_.end());
  all.insert(all.end(), waiting_.begin(), waiting_.end());
  return all;
}

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(mutex_);
  return running_.size() + waiting_.size();
}

void OperationQueue::waitUntilAllOperationsAreFinished() const {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return running_.empty() && waiting_.empty(); });
}

}  // namespace platform
