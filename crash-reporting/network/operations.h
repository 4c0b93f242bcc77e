// Operation bases of crash reporting: operations whose work finishes after main() returns.
//
// `CRAsyncOperation` is an asynchronous platform operation: main() starts the work and the
// work calls markDone() when it has ended, from any thread. `CRBaseAsyncOperation` adds the
// `asyncCompletion` that whoever runs the operation sets: finishWithError() calls it with the
// outcome and then marks the operation finished. An operation cancelled before it starts
// finishes without running main() and without calling `asyncCompletion`.
//
// `CRCompoundOperation` runs a list of such operations on a queue of its own and finishes
// once every one of them has reported, with no error when all succeeded and otherwise with
// one error that carries theirs. It finishes exactly once, however its sub-operations race.
//
// Operations are held by std::shared_ptr (make them with std::make_shared). Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/error.h"

class CRAsyncOperation : public platform::Operation {
 public:
  CRAsyncOperation() : CRAsyncOperation(std::string("dod.uzeruzaravi.async-operation-lock")) {}

  bool isAsynchronous() const override { return true; }
  bool isConcurrent() const { return true; }

  // The recursive lock of this operation, and its name.
  void lock(const std::function<void()>& block);
  const std::string& lockName() const { return lockName_; }

  // When the operation was cancelled: marks it done and answers true.
  bool checkForCancellation();
  // Ends the operation: no longer executing, finished. Only the first call counts.
  void markDone() { finish(); }

 protected:
  explicit CRAsyncOperation(std::string lockName) : lockName_(std::move(lockName)) {}

 private:
  const std::string lockName_;
  std::recursive_mutex lock_;
};

using CRAsyncCompletion = std::function<void(const std::optional<platform::Error>& error)>;

class CRBaseAsyncOperation : public CRAsyncOperation {
 public:
  // `className` names the lock: "raz.ovevar.uvivarud.ezivezireze.<class>-lock".
  explicit CRBaseAsyncOperation(std::string_view className = "CRBaseAsyncOperation");

  CRAsyncCompletion asyncCompletion();
  void setAsyncCompletion(CRAsyncCompletion completion);

  // Calls `asyncCompletion` (when set) with the outcome, then marks the operation done. Only
  // the first call of an operation has an effect, and none once it has finished.
  void finishWithError(std::optional<platform::Error> error);

 private:
  CRAsyncCompletion asyncCompletion_;
  bool reported_ = false;
};

inline constexpr const char* CRCompoundOperationErrorDomain =
    "raz.ovevar.uvivarud.ezivezireze.CRCompoundOperation.error";
inline constexpr const char* CRCompoundOperationErrorUserInfoKeyUnderlyingErrors =
    "raz.ovevar.uvivarud.ezivezireze.CRCompoundOperation.error.user-info-key.underlying-errors";
// The 32-bit codes, as positive 64-bit values.
inline constexpr long CRCompoundOperationErrorCodeCancelled = 0xFFFFFFFEL;
inline constexpr long CRCompoundOperationErrorCodeSuboperationFailed = 0xFFFFFFFDL;

class CRCompoundOperation : public CRBaseAsyncOperation {
 public:
  explicit CRCompoundOperation(std::vector<std::shared_ptr<CRBaseAsyncOperation>> operations,
                               std::string name = "CRCompoundOperation");

  const std::vector<std::shared_ptr<CRBaseAsyncOperation>>& operations() const { return operations_; }
  const std::shared_ptr<platform::OperationQueue>& compoundQueue() const { return compoundQueue_; }
  const std::string& name() const { return name_; }
  // Read on the counting queue.
  uint64_t completedOperations() const;
  std::vector<platform::Error> errors() const;

  void cancel() override;

  // An error's fields as a property-list dictionary ("domain", "code", "userInfo"), the form
  // in which the aggregated error carries the sub-operations' errors.
  static platform::PlistValue encodeError(const platform::Error& error);

 protected:
  void main() override;

 private:
  void injectCompoundAsyncCompletionInOperation(const std::shared_ptr<CRBaseAsyncOperation>& operation);
  void injectCompoundSyncCompletionInOperation(const std::shared_ptr<CRBaseAsyncOperation>& operation);
  void updateCompletionCountsWithError(const std::optional<platform::Error>& error);
  // Runs on the counting queue.
  void attemptCompoundCompletion();
  std::weak_ptr<CRCompoundOperation> weakSelf();
  // Runs the block on the counting queue and waits for it (at once when already there).
  static void onCountingQueue(const std::shared_ptr<platform::DispatchQueue>& queue, const platform::Block& block);

  const std::vector<std::shared_ptr<CRBaseAsyncOperation>> operations_;
  const std::shared_ptr<platform::OperationQueue> compoundQueue_;
  const std::shared_ptr<platform::DispatchQueue> countingQueue_;
  const std::string name_;
  // Touched on the counting queue only.
  uint64_t completedOperations_ = 0;
  std::vector<platform::Error> errors_;
  // Whether main() has handed the sub-operations to the compound queue.
  std::mutex ranMutex_;
  bool ran_ = false;
};
