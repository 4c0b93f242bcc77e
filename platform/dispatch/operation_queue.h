// Operation queues: run Operation objects on the shared pool, at most
// maxConcurrentOperationCount at a time, in the order added.
//
// An Operation runs main() once. A synchronous operation is finished when main()
// returns. An asynchronous one (isAsynchronous() true) only starts its work in main()
// and calls finish() when the work is done, from any thread. cancel() marks the
// operation: one not yet started finishes without running main(); one running is told
// through isCancelled() (and an override of cancel()) and must still finish().
// The completion block runs once, on the thread that finished the operation, after the
// operation is marked finished and before its queue drops it (so the queue still counts
// it, and waitUntilAllOperationsAreFinished() waits for completion blocks too).
//
// Operations and queues are held by std::shared_ptr; the queue keeps each operation
// until it has finished. Thread-safe.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"

namespace platform {

class OperationQueue;

class Operation : public std::enable_shared_from_this<Operation> {
 public:
  Operation() = default;
  virtual ~Operation() = default;
  Operation(const Operation&) = delete;
  Operation& operator=(const Operation&) = delete;

  virtual bool isAsynchronous() const { return false; }
  // Subclasses that stop running work override this and call Operation::cancel().
  virtual void cancel();

  bool isCancelled() const;
  bool isExecuting() const;
  bool isFinished() const;

  void setCompletionBlock(Block block);
  // The completion block set so far (empty once it has run), so a caller can chain to it.
  Block completionBlock() const;

  // Runs the operation on the calling thread (what the queue does on a pool thread).
  // Only the first call has an effect.
  void start();

 protected:
  // The work. For an asynchronous operation: starts the work, which calls finish().
  virtual void main() {}
  // Marks the operation finished. Idempotent; called by start() for synchronous ones.
  void finish();

 private:
  friend class OperationQueue;
  mutable std::mutex mutex_;
  bool started_ = false;
  bool cancelled_ = false;
  bool executing_ = false;
  bool finished_ = false;
  Block completion_;
  Block onFinishedForQueue_;
};

// An operation that runs one block.
class BlockOperation : public Operation {
 public:
  explicit BlockOperation(Block block) : block_(std::move(block)) {}
  static std::shared_ptr<BlockOperation> make(Block block) { return std::make_shared<BlockOperation>(std::move(block)); }

 protected:
  void main() override;

 private:
  Block block_;
};

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
 public:
  static constexpr int kDefaultMaxConcurrentOperationCount = -1;   // no limit

  static std::shared_ptr<OperationQueue> make(std::string name = {});
  ~OperationQueue();

  const std::string& name() const { return name_; }
  void setMaxConcurrentOperationCount(int count);
  int maxConcurrentOperationCount() const;
  // A suspended queue starts no new operation; running ones go on.
  void setSuspended(bool suspended);
  bool isSuspended() const;

  // Adds an operation; adding one that is already in a queue or finished throws
  // std::invalid_argument.
  void addOperation(std::shared_ptr<Operation> operation);
  void addOperation(Block block);
  // Cancels every operation in the queue.
  void cancelAllOperations();
  // Operations added and not yet finished, in the order added.
  std::vector<std::shared_ptr<Operation>> operations() const;
  std::size_t operationCount() const;
  // Blocks until every operation added so far has finished.
  void waitUntilAllOperationsAreFinished() const;

 private:
  explicit OperationQueue(std::string name);
  void startReady();                       // takes mutex_
  void finished(const std::shared_ptr<Operation>& op);

  std::string name_;
  mutable std::mutex mutex_;
  mutable std::condition_variable idle_;
  std::deque<std::shared_ptr<Operation>> waiting_;
  std::vector<std::shared_ptr<Operation>> running_;
  int maxConcurrent_ = kDefaultMaxConcurrentOperationCount;
  bool suspended_ = false;
};

}  // namespace platform
